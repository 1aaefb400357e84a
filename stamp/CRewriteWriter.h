#pragma once

#include "write/COutputWriter.h"

// The full rewrite: a new, self-contained file. The input's header bytes,
// every object in number order copied as it stands (objects out of object
// streams written as plain objects, the object streams dropped), each
// stamped page preceded by its new streams and written with its new text,
// then one classic cross-reference table and the trailer.
class CStampRemoval;

class CRewriteWriter : public COutputWriter {
public:
    // `previousRun`, when given, says where the run that wrote the input (an
    // earlier mark pass) placed its own objects; `written` learns the same of this run.
    CRewriteWriter(COutputFile& output, CPdfFile& input, const CWrittenObjects* previousRun, CWrittenObjects* written);

    void begin() override;
    void writeObjects(CPageStamper& stamper) override;
    void finish() override;
    // The objects only the stamps `removal` takes off used are not written.
    void leaveOut(const CStampRemoval& removal) { m_removal = &removal; }

private:
    // The input's bytes before its first object: the header line and what stands with it.
    void copyHeader();
    void writeXrefTable();
    void writeTrailer(int64_t startxref);

    const CWrittenObjects* m_previousRun;
    const CStampRemoval* m_removal = nullptr;
};
