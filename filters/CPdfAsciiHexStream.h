#pragma once

#include "filters/CPdfDecodeStream.h"

// ASCIIHex-decoded data: pairs of hex digits, white space between them
// ignored, ended by ">" (a last lone digit counts as followed by 0).
class CPdfAsciiHexStream : public CPdfDecodeStream {
public:
    explicit CPdfAsciiHexStream(CPdfStream* source) : CPdfDecodeStream(source) {}

protected:
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    bool m_done = false;
};
