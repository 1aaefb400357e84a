#pragma once

#include <cstdio>
#include <string>

struct CFileOutcome;

// The report of a run (--report): JSON Lines, one object per input file,
// each written and flushed as the file finishes, so that the report of an
// interrupted run holds every file finished before.
class CReportFile {
public:
    CReportFile() = default;
    ~CReportFile();
    CReportFile(const CReportFile&) = delete;
    CReportFile& operator=(const CReportFile&) = delete;

    // Creates (or empties) `path`; "-" is standard output. Throws CPdfException.
    void open(const std::string& path);
    // Adds the file's line; throws CPdfException when it cannot be written.
    void add(const CFileOutcome& outcome);

private:
    FILE* m_file = nullptr;
    bool m_owned = false;
    std::string m_path;
};
