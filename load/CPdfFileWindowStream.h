#pragma once

#include <memory>

#include "load/CFileSource.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"

// A window of the input file: [start, start + length), or from start to the
// end of the file when length is 0. Reads come straight out of the shared
// file's cached blocks.
class CPdfFileWindowStream : public CPdfStream {
public:
    CPdfFileWindowStream(std::shared_ptr<CFileSource> file, int64_t start, int64_t length, const CPdfObject& dict);

    void rewind() override;
    CPdfDict* streamDict() override;
    int64_t tellPos() override;
    int64_t seekPos(int64_t offset, int whence) override;
    int64_t windowStart() override { return m_start; }
    void shiftStart(int64_t delta) override;
    int64_t windowLength() override { return m_length; }
    CPdfStream* openWindow(int64_t start, int64_t length, const CPdfObject& dict) override;
    CPdfStream* openStreamData(int64_t start, int64_t length, const CPdfObject& dict) override;

protected:
    ~CPdfFileWindowStream() override;
    // Makes the bytes at the current position available; false at the window's end.
    bool refill() override;

private:
    void moveTo(int64_t position);

    CPdfObject m_dict;
    std::shared_ptr<CFileSource> m_file;
    int64_t m_start;
    int64_t m_length;
    int64_t m_bufPos = 0;                        // file offset of m_bufBegin
    const uint8_t* m_bufBegin = nullptr;
    std::shared_ptr<const CFileSource::Block> m_block; // keeps the bytes we point into alive
};
