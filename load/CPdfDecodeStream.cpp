#include "load/CPdfDecodeStream.h"

CPdfDecodeStream::CPdfDecodeStream(CPdfStream* source) : m_source(CPdfRefPtr<CPdfStream>::adopt(source)) {}

CPdfDecodeStream::~CPdfDecodeStream() = default;

bool CPdfDecodeStream::refill()
{
    if (m_finished)
        return false;
    m_piece.resize(kPieceSize);
    const size_t produced = decodePiece(m_piece.data(), m_piece.size());
    if (produced == 0) {
        m_finished = true;
        return false;
    }
    m_next = m_piece.data();
    m_end = m_piece.data() + produced;
    return true;
}
