#pragma once

#include <memory>

#include "pdf/CPdfStream.h"

// Bytes already in memory (decoded object-stream data, object text), read as
// a stream. `owner` keeps the bytes alive for as long as the stream lives.
// Positions count from the first byte; there is no file underneath, so it
// opens no windows and ignores seeks, like the other decoded kinds.
class CPdfMemoryStream : public CPdfStream {
public:
    CPdfMemoryStream(std::shared_ptr<const void> owner, const uint8_t* data, size_t size);

    void rewind() override { m_next = m_begin; }
    CPdfDict* streamDict() override { return nullptr; }
    int64_t tellPos() override { return m_next - m_begin; }
    int64_t seekPos(int64_t, int) override { return tellPos(); }
    int64_t windowStart() override { return 0; }
    void shiftStart(int64_t) override {}
    int64_t windowLength() override { return m_end - m_begin; }

protected:
    ~CPdfMemoryStream() override = default;
    bool refill() override { return false; }

private:
    std::shared_ptr<const void> m_owner;
    const uint8_t* m_begin;
};
