#pragma once

#include "filters/CPdfDecodeStream.h"

// RunLength-decoded data: a length byte 0 to 127 copies the next 1 to 128
// bytes, 129 to 255 repeats the next byte 257 - length times, 128 ends it.
class CPdfRunLengthStream : public CPdfDecodeStream {
public:
    explicit CPdfRunLengthStream(CPdfStream* source) : CPdfDecodeStream(source) {}

protected:
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    bool m_done = false;
};
