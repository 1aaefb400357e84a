#include "filters/CPdfLzwStream.h"

CPdfLzwStream::CPdfLzwStream(CPdfStream* source, int earlyChange)
    : CPdfDecodeStream(source), m_earlyChange(earlyChange == 0 ? 0 : 1)
{
    for (int code = 0; code < 256; ++code) {
        m_last[code] = m_first[code] = static_cast<uint8_t>(code);
        m_prefix[code] = 0;
        m_length[code] = 1;
    }
    resetTable();
}

void CPdfLzwStream::resetTable()
{
    m_codeBits = 9;
    m_nextCode = kEnd + 1;
    m_previous = -1;
}

int CPdfLzwStream::readCode()
{
    while (m_bitCount < m_codeBits) {
        const int c = source().readChar();
        if (c < 0)
            return -1;
        m_bits = (m_bits << 8) | static_cast<uint32_t>(c);
        m_bitCount += 8;
    }
    m_bitCount -= m_codeBits;
    return static_cast<int>((m_bits >> m_bitCount) & ((1u << m_codeBits) - 1));
}

size_t CPdfLzwStream::decodePiece(uint8_t* out, size_t capacity)
{
    size_t produced = 0;
    // One code gives at most kMaxCodes bytes: stop while there is room for them.
    while (!m_done && produced + kMaxCodes <= capacity) {
        const int code = readCode();
        if (code < 0 || code == kEnd) {
            m_done = true;
            break;
        }
        if (code == kClear) {
            resetTable();
            continue;
        }
        int string = code;
        if (m_previous < 0) {
            if (code >= 256) { // a first code must be a byte: damaged data
                m_done = true;
                break;
            }
        } else if (code > m_nextCode || (code == m_nextCode && m_nextCode >= kMaxCodes)) {
            m_done = true;
            break;
        } else if (m_nextCode < kMaxCodes) {
            // The new entry is the previous string and the first byte of this
            // one; when this code is that very entry, its first byte is the previous's.
            const uint8_t first = code == m_nextCode ? m_first[m_previous] : m_first[code];
            m_prefix[m_nextCode] = static_cast<uint16_t>(m_previous);
            m_last[m_nextCode] = first;
            m_first[m_nextCode] = m_first[m_previous];
            m_length[m_nextCode] = static_cast<uint16_t>(m_length[m_previous] + 1);
            ++m_nextCode;
            if (m_nextCode + m_earlyChange >= (1 << m_codeBits) && m_codeBits < 12)
                ++m_codeBits;
        }
        const size_t length = m_length[string];
        for (size_t i = length; i-- > 0;) {
            out[produced + i] = m_last[string];
            string = m_prefix[string];
        }
        produced += length;
        m_previous = code;
    }
    return produced;
}
