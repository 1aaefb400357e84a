#pragma once

#include "stamp/CReporter.h"

// The console text of a run, on standard output: the files as each is
// begun, a dot for every sixth page written, warnings, "Done." and the
// error that ends a run.
class CConsoleReporter : public CReporter {
public:
    void unknownOption(const std::string& argument) override;
    void countingPages(const std::string& input) override;
    void inputOpened(const std::string& input) override;
    void outputBegun(const std::string& image, const std::string& output) override;
    void pageWritten(int pagesSoFar) override;
    void marksWritten(const std::string& output) override;
    void warning(const std::string& text) override;
    void fileDone() override;
    void failed(const CPdfException& error) override;

private:
    bool m_warned = false; // warnings were printed since the last file was done
};
