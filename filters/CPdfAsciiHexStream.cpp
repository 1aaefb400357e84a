#include "filters/CPdfAsciiHexStream.h"

#include "pdf/CPdfLexer.h"

size_t CPdfAsciiHexStream::decodePiece(uint8_t* out, size_t capacity)
{
    size_t produced = 0;
    int high = -1;
    while (!m_done && produced < capacity) {
        const int c = source().readChar();
        if (CPdfLexer::isWhitespace(c))
            continue;
        const int value = CPdfLexer::hexDigitValue(c);
        if (value < 0) { // ">", the end of the data, or damage
            m_done = true;
            break;
        }
        if (high < 0) {
            high = value;
            continue;
        }
        out[produced++] = static_cast<uint8_t>(high << 4 | value);
        high = -1;
    }
    if (high >= 0)
        out[produced++] = static_cast<uint8_t>(high << 4);
    return produced;
}
