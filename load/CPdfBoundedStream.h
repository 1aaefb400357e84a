#pragma once

#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"

// Passes on at most `count` bytes of another stream (or all of them when not
// limited) and then reports the end. It does not own its source.
class CPdfBoundedStream : public CPdfStream {
public:
    CPdfBoundedStream(CPdfStream* source, const CPdfObject& dict, bool limited, int64_t count);

    void rewind() override {}
    CPdfDict* streamDict() override;
    int64_t tellPos() override { return m_source->tellPos(); }
    int64_t seekPos(int64_t, int) override { return tellPos(); }
    int64_t windowStart() override { return 0; }
    void shiftStart(int64_t) override {}
    int64_t windowLength() override { return 0; }

protected:
    ~CPdfBoundedStream() override = default;
    int readCharSlow() override;
    int peekCharSlow() override;

private:
    CPdfObject m_dict;
    CPdfStream* m_source;
    bool m_limited;
    int64_t m_remaining;
};
