#include "filters/CPdfRunLengthStream.h"

size_t CPdfRunLengthStream::decodePiece(uint8_t* out, size_t capacity)
{
    size_t produced = 0;
    // A run gives at most 128 bytes: stop while there is room for one.
    while (!m_done && produced + 128 <= capacity) {
        const int length = source().readChar();
        if (length < 0 || length == 128) {
            m_done = true;
            break;
        }
        if (length < 128) {
            const size_t wanted = static_cast<size_t>(length) + 1;
            const size_t got = source().readBytes(out + produced, wanted);
            produced += got;
            if (got < wanted)
                m_done = true;
            continue;
        }
        const int byte = source().readChar();
        if (byte < 0) {
            m_done = true;
            break;
        }
        for (int i = 0; i < 257 - length; ++i)
            out[produced++] = static_cast<uint8_t>(byte);
    }
    return produced;
}
