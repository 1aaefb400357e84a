#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "filters/CPdfDecodeStream.h"

// Undoes the PNG (Predictor >= 10) or TIFF (Predictor 2) row prediction of
// the decoded data of another stage, Flate or LZW, one row at a time.
class CPdfRowPredictor : public CPdfDecodeStream {
public:
    // Rows above this size come only from absurd decode parameters.
    static constexpr int64_t kMaxRowBytes = 16 * 1024 * 1024;

    // The bytes of one row plus one pixel, or -1 when the parameters are unusable
    // (Columns or Colors below 1, BitsPerComponent not 1, 2, 4, 8 or 16, or a row
    // larger than kMaxRowBytes).
    static int64_t rowSizeFor(int columns, int colors, int bitsPerComponent);

    // Takes over the caller's reference to `source`. The parameters must have
    // been checked with rowSizeFor; any predictor other than 2 or 10 to 15
    // passes whole rows through unchanged.
    CPdfRowPredictor(CPdfStream* source, int predictor, int columns, int colors, int bitsPerComponent);

protected:
    // Whole rows only: a partial row at the end of the data is dropped.
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    // Decodes the next row into m_row; false at the end of the data.
    bool fillRow();
    void undoTiff();

    int m_predictor;
    int m_colors;
    int m_bitsPerComponent;
    int64_t m_valuesPerRow;
    size_t m_pixelBytes;
    std::vector<uint8_t> m_row;   // m_pixelBytes zero bytes, then the current row
    std::vector<uint8_t> m_prior; // the previous row's bytes, laid out like m_row
    size_t m_rowHandedOut;        // bytes of the current row already decoded into a piece
    bool m_ended = false;
};
