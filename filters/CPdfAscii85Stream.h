#pragma once

#include "filters/CPdfDecodeStream.h"

// ASCII85-decoded data: groups of five characters "!" to "u" for four bytes,
// "z" for four zero bytes, white space ignored, ended by "~>"; a last group
// of two to four characters gives one to three bytes.
class CPdfAscii85Stream : public CPdfDecodeStream {
public:
    explicit CPdfAscii85Stream(CPdfStream* source) : CPdfDecodeStream(source) {}

protected:
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    bool m_done = false;
};
