#pragma once

#include "filters/CPdfDecodeStream.h"

// LZW-decoded data (codes of 9 to 12 bits, most significant bit first).
// `earlyChange` is the /EarlyChange parameter: 1 (the default) widens the
// codes one entry before the table needs it, as most writers do.
class CPdfLzwStream : public CPdfDecodeStream {
public:
    CPdfLzwStream(CPdfStream* source, int earlyChange);

protected:
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    static constexpr int kClear = 256;
    static constexpr int kEnd = 257;
    static constexpr int kMaxCodes = 4096;

    void resetTable();
    // The next code, or -1 when the data ends.
    int readCode();

    int m_earlyChange;
    int m_codeBits = 9;
    int m_nextCode = kEnd + 1;
    int m_previous = -1;
    bool m_done = false;
    uint32_t m_bits = 0;
    int m_bitCount = 0;
    // Each code's string: its last byte, the code of the rest, its first byte and length.
    uint8_t m_last[kMaxCodes];
    uint16_t m_prefix[kMaxCodes];
    uint8_t m_first[kMaxCodes];
    uint16_t m_length[kMaxCodes];
};
