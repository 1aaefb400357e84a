#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CPdfInflateStream;

// Undoes the PNG (Predictor >= 10) or TIFF (Predictor 2) row prediction of
// decoded Flate data, one row at a time.
class CPdfRowPredictor {
public:
    // Rows above this size come only from absurd decode parameters.
    static constexpr int64_t kMaxRowBytes = 16 * 1024 * 1024;

    // The bytes of one row plus one pixel, or -1 when the parameters are unusable
    // (Columns or Colors below 1, BitsPerComponent not 1, 2, 4, 8 or 16, or a row
    // larger than kMaxRowBytes).
    static int64_t rowSizeFor(int columns, int colors, int bitsPerComponent);

    // `source` owns this predictor; rows are read with its raw byte reader.
    CPdfRowPredictor(CPdfInflateStream* source, int predictor, int columns, int colors, int bitsPerComponent);

    // Decodes the next row; false at the end of the data (a partial row is dropped).
    bool fillRow();
    // The decoded bytes of the current row.
    const uint8_t* rowBegin() const { return m_row.data() + m_pixelBytes; }
    const uint8_t* rowEnd() const { return m_row.data() + m_row.size(); }

private:
    void undoTiff();

    CPdfInflateStream* m_source;
    int m_predictor;
    int m_colors;
    int m_bitsPerComponent;
    int64_t m_valuesPerRow;
    size_t m_pixelBytes;
    std::vector<uint8_t> m_row;   // m_pixelBytes zero bytes, then the current row
    std::vector<uint8_t> m_prior; // the previous row's bytes, laid out like m_row
};
