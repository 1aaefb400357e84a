#include "filters/CPdfRowPredictor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

int64_t CPdfRowPredictor::rowSizeFor(int columns, int colors, int bitsPerComponent)
{
    if (columns < 1 || colors < 1)
        return -1;
    if (bitsPerComponent != 1 && bitsPerComponent != 2 && bitsPerComponent != 4 && bitsPerComponent != 8 &&
        bitsPerComponent != 16)
        return -1;
    // Both factors are below 2^31, so the product fits; refuse before the
    // bits multiply it past the 64-bit range.
    int64_t values = static_cast<int64_t>(columns) * colors;
    if (values > kMaxRowBytes * 8)
        return -1;
    int64_t pixelBytes = (static_cast<int64_t>(colors) * bitsPerComponent + 7) >> 3;
    int64_t dataBytes = (values * bitsPerComponent + 7) >> 3;
    int64_t total = pixelBytes + dataBytes;
    return total > kMaxRowBytes ? -1 : total;
}

CPdfRowPredictor::CPdfRowPredictor(CPdfStream* source, int predictor, int columns, int colors, int bitsPerComponent)
    : CPdfDecodeStream(source), m_predictor(predictor), m_colors(colors), m_bitsPerComponent(bitsPerComponent),
      m_valuesPerRow(static_cast<int64_t>(columns) * colors),
      m_pixelBytes(static_cast<size_t>((static_cast<int64_t>(colors) * bitsPerComponent + 7) >> 3))
{
    size_t rowSize = static_cast<size_t>(rowSizeFor(columns, colors, bitsPerComponent));
    m_row.assign(rowSize, 0);
    m_prior.assign(rowSize, 0);
    m_rowHandedOut = rowSize - m_pixelBytes; // no row decoded yet
}

size_t CPdfRowPredictor::decodePiece(uint8_t* out, size_t capacity)
{
    const size_t rowBytes = m_row.size() - m_pixelBytes;
    size_t produced = 0;
    // A row may be larger than a piece: it is then handed out over several.
    while (produced < capacity) {
        if (m_rowHandedOut == rowBytes) {
            if (m_ended || !fillRow()) {
                m_ended = true;
                break;
            }
            m_rowHandedOut = 0;
        }
        const size_t run = std::min(rowBytes - m_rowHandedOut, capacity - produced);
        std::memcpy(out + produced, m_row.data() + m_pixelBytes + m_rowHandedOut, run);
        m_rowHandedOut += run;
        produced += run;
    }
    return produced;
}

bool CPdfRowPredictor::fillRow()
{
    int rowType = m_predictor;
    if (m_predictor >= 10) {
        int tag = source().readChar();
        if (tag < 0)
            return false;
        rowType = tag + 10;
    }
    m_prior.swap(m_row); // m_prior now holds the previous row; m_row is rebuilt in place
    uint8_t* row = m_row.data();
    const uint8_t* prior = m_prior.data();
    const size_t rowSize = m_row.size(), step = m_pixelBytes;
    for (size_t i = 0; i < step; ++i)
        row[i] = 0;
    if (source().readBytes(row + step, rowSize - step) != rowSize - step)
        return false;
    // Each byte is added to its predictor: the byte a pixel to the left
    // (already decoded), the one above, or both. Unknown tags pass their row.
    switch (rowType) {
    case 11:
        for (size_t i = step; i < rowSize; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
        break;
    case 12:
        for (size_t i = step; i < rowSize; ++i)
            row[i] = static_cast<uint8_t>(row[i] + prior[i]);
        break;
    case 13:
        for (size_t i = step; i < rowSize; ++i)
            row[i] = static_cast<uint8_t>(row[i] + ((row[i - step] + prior[i]) >> 1));
        break;
    case 14:
        for (size_t i = step; i < rowSize; ++i) {
            const int left = row[i - step], up = prior[i], upLeft = prior[i - step];
            const int p = left + up - upLeft;
            const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
            row[i] = static_cast<uint8_t>(row[i] + (pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft));
        }
        break;
    default:
        break;
    }
    if (m_predictor == 2)
        undoTiff();
    return true;
}

void CPdfRowPredictor::undoTiff()
{
    const size_t rowSize = m_row.size();
    if (m_bitsPerComponent == 8) {
        // One byte per sample and m_pixelBytes == m_colors: the zero prefix serves the first pixel.
        for (size_t i = m_pixelBytes; i < rowSize; ++i)
            m_row[i] = static_cast<uint8_t>(m_row[i] + m_row[i - static_cast<size_t>(m_colors)]);
        return;
    }
    if (m_bitsPerComponent == 16) {
        // Big-endian 16-bit samples, each added to the one a pixel earlier.
        const size_t stride = static_cast<size_t>(m_colors) * 2;
        for (size_t i = m_pixelBytes + stride; i + 1 < rowSize; i += 2) {
            unsigned sample = (m_row[i] << 8) | m_row[i + 1];
            unsigned before = (m_row[i - stride] << 8) | m_row[i - stride + 1];
            unsigned sum = (sample + before) & 0xFFFF;
            m_row[i] = static_cast<uint8_t>(sum >> 8);
            m_row[i + 1] = static_cast<uint8_t>(sum & 0xFF);
        }
        return;
    }
    // 1, 2 or 4 bits: unpack, add modulo 2^bits, repack most significant bits first.
    const int bits = m_bitsPerComponent;
    const unsigned mask = (1u << bits) - 1;
    std::vector<unsigned> samples(static_cast<size_t>(m_valuesPerRow));
    for (size_t k = 0; k < samples.size(); ++k) {
        size_t bit = k * static_cast<size_t>(bits);
        unsigned byte = m_row[m_pixelBytes + bit / 8];
        samples[k] = (byte >> (8 - bits - bit % 8)) & mask;
    }
    for (size_t k = static_cast<size_t>(m_colors); k < samples.size(); ++k)
        samples[k] = (samples[k] + samples[k - static_cast<size_t>(m_colors)]) & mask;
    for (size_t i = m_pixelBytes; i < rowSize; ++i)
        m_row[i] = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
        size_t bit = k * static_cast<size_t>(bits);
        m_row[m_pixelBytes + bit / 8] |= static_cast<uint8_t>(samples[k] << (8 - bits - bit % 8));
    }
}
