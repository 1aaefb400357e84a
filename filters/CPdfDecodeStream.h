#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

// Decoded data of another stream, made a piece at a time by one stage of a
// stream's filters: the kinds below (Flate, LZW, ASCII85, ASCIIHex,
// RunLength, and the row predictor behind Flate or LZW) only say how to
// decode the next piece. A stage is read once from the start, allocates
// nothing until its first byte is asked for, and answers position questions
// for its source.
class CPdfDecodeStream : public CPdfStream {
public:
    void rewind() override {}
    CPdfDict* streamDict() override { return m_source->streamDict(); }
    int64_t tellPos() override { return m_source->tellPos(); }
    int64_t seekPos(int64_t, int) override { return tellPos(); }
    int64_t windowStart() override { return m_source->windowStart(); }
    void shiftStart(int64_t delta) override { m_source->shiftStart(delta); }
    int64_t windowLength() override { return m_source->windowLength(); }

protected:
    // Takes over the caller's reference to `source`.
    explicit CPdfDecodeStream(CPdfStream* source);
    ~CPdfDecodeStream() override;
    bool refill() override;

    // Decodes into [out, out + capacity) (capacity is kPieceSize); returns
    // how many bytes it wrote, 0 at the end of the data. Damaged data ends it.
    virtual size_t decodePiece(uint8_t* out, size_t capacity) = 0;
    static constexpr size_t kPieceSize = 16384;

    CPdfStream& source() { return *m_source.get(); }

private:
    CPdfRefPtr<CPdfStream> m_source;
    std::unique_ptr<uint8_t[]> m_piece; // kPieceSize bytes, made on the first refill and never cleared
    bool m_finished = false;
};
