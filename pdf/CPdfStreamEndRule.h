#pragma once

#include <cstdint>

// Where a stream object's data lies and what follows it. Positions are those
// of the input the "stream" keyword was read from.
struct CPdfStreamEnd {
    int64_t dataBegin = -1;
    int64_t dataEnd = -1;
    // The data ends where /Length says; when false, it ends before the line
    // end that precedes its "endstream", and a copy needs the real length.
    bool lengthRight = false;
    int64_t endstreamEnd = -1; // just after the "endstream" keyword
    int64_t endobjBegin = -1;  // the "endobj" after it; -1 when another token follows
    // No "endstream" stands before the object's "endobj" (missing or
    // misspelt): the data ends before the line end that precedes "endobj",
    // endstreamEnd is dataEnd, and a copy must write the keyword there.
    bool endstreamMissing = false;
};

// Decides where the data of a stream object ends, given its claimed /Length.
// The input layer has the one rule, which every reader of stream objects
// asks: the parser, the scan of a damaged file and the object copier.
class CPdfStreamEndRule {
public:
    // `keywordEnd` is just after the "stream" keyword; `claimedLength` is
    // the /Length, or -1 when it is missing or unusable. `num` names the
    // object for the repair log, or is -1. False when the data has no end
    // (neither "endstream" nor "endobj" after it); `end.dataBegin` then says
    // where it would start.
    virtual bool find(int num, int64_t keywordEnd, int64_t claimedLength, CPdfStreamEnd& end) = 0;

protected:
    ~CPdfStreamEndRule() = default;
};
