#include "load/CPdfInflateStream.h"

#include <algorithm>

CPdfInflateStream::CPdfInflateStream(CPdfStream* source, int predictor, int columns, int colors,
                                     int bitsPerComponent)
    : m_source(CPdfRefPtr<CPdfStream>::adopt(source))
{
    if (predictor != 1)
        m_predictor = std::make_unique<CPdfRowPredictor>(this, predictor, columns, colors, bitsPerComponent);
}

CPdfInflateStream::~CPdfInflateStream()
{
    if (m_zlibReady)
        inflateEnd(&m_zs);
}

void CPdfInflateStream::start()
{
    m_started = true;
    m_output.resize(16384);
    // A Length larger than what follows in the file must not size an
    // allocation: read in pieces and keep only the bytes that exist.
    const int64_t wanted = m_source->windowLength();
    const size_t piece = 64 * 1024;
    while (static_cast<int64_t>(m_compressed.size()) < wanted) {
        size_t before = m_compressed.size();
        size_t step = static_cast<size_t>(std::min<int64_t>(piece, wanted - static_cast<int64_t>(before)));
        m_compressed.resize(before + step);
        size_t got = m_source->readBytes(m_compressed.data() + before, step);
        m_compressed.resize(before + got);
        if (got < step)
            break;
    }
    m_zs.next_in = m_compressed.data();
    m_zs.avail_in = static_cast<uInt>(m_compressed.size());
    m_zlibReady = inflateInit(&m_zs) == Z_OK;
    if (!m_zlibReady)
        m_finished = true;
}

bool CPdfInflateStream::refill()
{
    if (!m_started)
        start();
    m_rawNext = m_rawEnd = m_output.data();
    while (!m_finished) {
        m_zs.next_out = m_output.data();
        m_zs.avail_out = static_cast<uInt>(m_output.size());
        int result = inflate(&m_zs, Z_NO_FLUSH);
        size_t produced = m_output.size() - m_zs.avail_out;
        // The end of the Flate data, corrupt data, or input used up with
        // nothing more to give: whatever was produced is still delivered.
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR) ||
            (result == Z_BUF_ERROR && produced == 0))
            m_finished = true;
        if (produced > 0) {
            m_rawEnd = m_output.data() + produced;
            return true;
        }
    }
    return false;
}

bool CPdfInflateStream::fillView()
{
    if (m_predictor) {
        if (!m_predictor->fillRow())
            return false;
        m_next = m_predictor->rowBegin();
        m_end = m_predictor->rowEnd();
        return m_next < m_end;
    }
    if (m_rawNext >= m_rawEnd && !refill())
        return false;
    m_next = m_rawNext;
    m_end = m_rawEnd;
    m_rawNext = m_rawEnd; // the view now owns these bytes
    return true;
}

int CPdfInflateStream::readCharSlow()
{
    if (!fillView())
        return -1;
    return *m_next++;
}

int CPdfInflateStream::peekCharSlow()
{
    if (!fillView())
        return -1;
    return *m_next;
}
