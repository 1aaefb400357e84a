#include "filters/CPdfDecodeStream.h"

CPdfDecodeStream::CPdfDecodeStream(CPdfStream* source) : m_source(CPdfRefPtr<CPdfStream>::adopt(source)) {}

CPdfDecodeStream::~CPdfDecodeStream() = default;

bool CPdfDecodeStream::refill()
{
    if (m_finished)
        return false;
    if (!m_piece)
        m_piece.reset(new uint8_t[kPieceSize]);
    const size_t produced = decodePiece(m_piece.get(), kPieceSize);
    if (produced == 0) {
        m_finished = true;
        return false;
    }
    m_next = m_piece.get();
    m_end = m_piece.get() + produced;
    return true;
}
