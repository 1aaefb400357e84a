#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PngInfo;

// Decodes a PNG file held in memory with libpng, which checks every CRC and
// the compressed data to its end: PNG's checksums do not catch a damaged
// compressed stream. The samples stay as the file has them (depth, channel
// order, palette indices, 16-bit samples most significant byte first);
// interlaced images come out as plain rows.
class CPngDecoder {
public:
    // Images are capped, whether their rows are kept or only checked: a
    // stamp is small, and a few kilobytes of PNG can claim gigabytes of
    // pixels, every row of which would be decoded.
    static constexpr size_t kMaxImageBytes = 512 * 1024 * 1024;

    // `info` is what the chunk walker read of `file`. With `keepRows` the
    // rows are kept, else only checked one at a time.
    CPngDecoder(const std::string& file, const PngInfo& info, bool keepRows);

    // False when libpng refused the file; problem() says why.
    bool ok() const { return m_problem.empty(); }
    const std::string& problem() const { return m_problem; }

    size_t rowBytes() const { return m_rowBytes; }
    // Row y, when the rows were kept.
    const uint8_t* row(uint32_t y) const { return m_rows.data() + size_t(y) * m_rowBytes; }
    // The embedded ICC profile, decompressed; empty without one (or when
    // libpng found it unusable).
    const std::string& iccProfile() const { return m_icc; }

private:
    size_t m_rowBytes = 0;
    std::vector<uint8_t> m_rows;
    std::string m_icc;
    std::string m_problem;
};
