#pragma once

#include <string>
#include <utility>
#include <vector>

#include "write/COutputWriter.h"

// An update appended to the input: the input's bytes as they are, then the
// new objects and the objects the stamp changes, then one cross-reference
// section of the input's own kind whose /Prev leads to the input's newest.
// Bytes a signature covers stay where they were, so it stays valid for the
// revision it signs.
class CIncrementalWriter : public COutputWriter {
public:
    CIncrementalWriter(COutputFile& output, CPdfFile& input);

    void begin() override;
    void writeObjects(CPageStamper& stamper) override;
    void finish() override;

private:
    void writeTable(int64_t startxref);
    int64_t m_inputLength = 0; // where the update begins, before any line end it adds
    void writeStream(int64_t startxref);
    // The trailer entries an update repeats, then its /Prev; each ends in a line end.
    std::string updateEntries() const;
    // The numbers of the objects the update writes, as runs of consecutive ones: first and count.
    std::vector<std::pair<int, int>> writtenRuns() const;
};
