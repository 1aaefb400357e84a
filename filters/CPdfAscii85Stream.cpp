#include "filters/CPdfAscii85Stream.h"

#include "pdf/CPdfLexer.h"

size_t CPdfAscii85Stream::decodePiece(uint8_t* out, size_t capacity)
{
    size_t produced = 0;
    uint64_t group = 0;
    int count = 0;
    auto emit = [&](int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[produced++] = static_cast<uint8_t>(group >> (24 - 8 * i));
    };
    // Whole groups only, so a piece never ends inside one.
    while (!m_done && produced + 4 <= capacity) {
        const int c = source().readChar();
        if (CPdfLexer::isWhitespace(c))
            continue;
        if (c == 'z' && count == 0) {
            group = 0;
            emit(4);
            continue;
        }
        if (c < '!' || c > 'u') { // "~>", the end of the data, or damage
            m_done = true;
            break;
        }
        group = group * 85 + static_cast<uint64_t>(c - '!');
        if (++count == 5) {
            if (group > 0xFFFFFFFFu) { // no four bytes make it: damaged
                m_done = true;
                return produced;
            }
            emit(4);
            group = 0;
            count = 0;
        }
    }
    if (count >= 2) {
        for (int i = count; i < 5; ++i)
            group = group * 85 + 84;
        if (group <= 0xFFFFFFFFu)
            emit(count - 1);
    }
    return produced;
}
