#include "filters/CPdfInflateStream.h"

#include <algorithm>

CPdfInflateStream::~CPdfInflateStream()
{
    if (m_zlibReady)
        inflateEnd(&m_zs);
}

void CPdfInflateStream::start()
{
    m_started = true;
    // A Length larger than what follows in the file must not size an
    // allocation: read in pieces and keep only the bytes that exist.
    const int64_t wanted = source().windowLength();
    const size_t piece = 64 * 1024;
    while (static_cast<int64_t>(m_compressed.size()) < wanted) {
        size_t before = m_compressed.size();
        size_t step = static_cast<size_t>(std::min<int64_t>(piece, wanted - static_cast<int64_t>(before)));
        m_compressed.resize(before + step);
        size_t got = source().readBytes(m_compressed.data() + before, step);
        m_compressed.resize(before + got);
        if (got < step)
            break;
    }
    m_zs.next_in = m_compressed.data();
    m_zs.avail_in = static_cast<uInt>(m_compressed.size());
    m_zlibReady = inflateInit(&m_zs) == Z_OK;
    if (!m_zlibReady) {
        m_finished = true;
        return;
    }
    // A wrong checksum ends the data where it ends anyway, and every byte
    // before it is delivered: computing it changes nothing we read.
    inflateValidate(&m_zs, 0);
}

size_t CPdfInflateStream::decodePiece(uint8_t* out, size_t capacity)
{
    if (!m_started)
        start();
    while (!m_finished) {
        m_zs.next_out = out;
        m_zs.avail_out = static_cast<uInt>(capacity);
        // All the input is there: a stream that ends within this piece
        // needs no window kept for the next one.
        int result = inflate(&m_zs, Z_FINISH);
        size_t produced = capacity - m_zs.avail_out;
        // The end of the Flate data, corrupt data, or input used up with
        // nothing more to give: whatever was produced is still delivered.
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR) ||
            (result == Z_BUF_ERROR && produced == 0))
            m_finished = true;
        if (produced > 0)
            return produced;
    }
    return 0;
}
