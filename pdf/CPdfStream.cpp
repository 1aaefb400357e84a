#include "pdf/CPdfStream.h"

#include <cstring>

CPdfStream::~CPdfStream() = default;

size_t CPdfStream::readBytes(uint8_t* target, size_t count)
{
    size_t done = 0;
    while (done < count) {
        if (m_next < m_end) {
            size_t run = static_cast<size_t>(m_end - m_next);
            if (run > count - done)
                run = count - done;
            std::memcpy(target + done, m_next, run);
            m_next += run;
            done += run;
            continue;
        }
        if (!refill())
            break;
    }
    return done;
}

int CPdfStream::readCharSlow() { return refill() ? *m_next++ : -1; }

int CPdfStream::peekCharSlow() { return refill() ? *m_next : -1; }

CPdfStream* CPdfStream::openWindow(int64_t, int64_t, const CPdfObject&) { return nullptr; }

CPdfStream* CPdfStream::openStreamData(int64_t, int64_t, const CPdfObject&) { return nullptr; }
