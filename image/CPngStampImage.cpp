#include "image/CPngStampImage.h"

#include <zlib.h>

#include "filters/Deflate.h"
#include "image/CNewObjectWriter.h"
#include "image/CPngDecoder.h"
#include "load/CFileSource.h"
#include "pdf/CPdfException.h"
#include "pdf/PdfFormat.h"

namespace {

std::string deflate(const uint8_t* data, size_t size)
{
    return deflateBytes(std::string_view(reinterpret_cast<const char*>(data), size), Z_DEFAULT_COMPRESSION,
                        "the image");
}

// Writes a new stream object of `data` whose dictionary holds `entries`
// and /Length; returns its number.
int writeStream(CNewObjectWriter& writer, const std::string& entries, const std::string& data)
{
    return writer.writeNewStream(" 0 obj<<" + entries + "/Length ", ">>stream\n", data);
}

// Pixel `x` of a row of palette indices `depth` bits each.
int paletteIndex(const uint8_t* row, uint32_t x, int depth)
{
    const size_t bit = size_t(x) * size_t(depth);
    const int shift = 8 - depth - static_cast<int>(bit % 8);
    return (row[bit / 8] >> shift) & ((1 << depth) - 1);
}

uint32_t keyValue(const std::string& trns, size_t index, int depth)
{
    const uint32_t value = (uint32_t(uint8_t(trns[index * 2])) << 8) | uint8_t(trns[index * 2 + 1]);
    return value & ((uint32_t(1) << depth) - 1);
}

} // namespace

CPngStampImage::CPngStampImage(const std::string& path, std::shared_ptr<CFileSource> file)
    : CStampImage(path, std::move(file))
{
    std::string problem;
    if (!readPngChunks(*m_file, m_png, problem))
        throw CPdfException(CPdfException::EKind::ImageError,
                            "\nInput image file error (" + problem + "): '" + path + "'\n");
    m_width = static_cast<int>(m_png.width);
    m_height = static_cast<int>(m_png.height);

    // tRNS: one colour key for grey and RGB images; for a palette an alpha
    // per entry, a key too when each entry is either clear or opaque.
    const std::string& trns = m_png.transparency;
    if (m_png.hasAlphaChannel()) {
        m_mask = SOFT_MASK;
    } else if (m_png.colourType == PngInfo::PALETTE && !trns.empty()) {
        m_mask = KEY_RANGES;
        for (char alpha : trns)
            if (uint8_t(alpha) != 0 && uint8_t(alpha) != 255)
                m_mask = SOFT_MASK;
    } else if (trns.size() >= 2 * static_cast<size_t>(m_png.channels())) {
        m_mask = KEY_RANGES;
    }
    // Viewers disagree on colour keys of 16-bit samples and of palettes of
    // fewer than 8 bits (poppler and MuPDF each miss one): those get a
    // stencil mask of the clear pixels instead, which every viewer draws.
    if (m_mask == KEY_RANGES && (m_png.bitDepth == 16 || (m_png.colourType == PngInfo::PALETTE && m_png.bitDepth < 8)))
        m_mask = STENCIL;
    if (m_mask == KEY_RANGES) {
        m_colourKey = colourKey();
        if (m_colourKey.empty()) // a palette whose tRNS clears no entry
            m_mask = NO_MASK;
    }
    m_predicted = m_mask != SOFT_MASK && !m_png.interlaced;

    std::string bytes(static_cast<size_t>(m_file->size()), '\0');
    if (m_file->read(0, &bytes[0], bytes.size()) != bytes.size())
        throw CPdfException::formatted(CPdfException::EKind::ImageError, "\nInput image file error: '%s'\n", path);
    const bool keepRows = !m_predicted || m_mask == STENCIL;
    const CPngDecoder decoded(bytes, m_png, keepRows);
    if (!decoded.ok())
        throw CPdfException(CPdfException::EKind::ImageError,
                            "\nInput image file error (" + decoded.problem() + "): '" + path + "'\n");
    if (m_predicted)
        m_colour = std::move(m_png.idat);
    if (keepRows)
        splitSamples(decoded);
    m_png.idat = std::string();

    // A profile of another colour model than the image's would be misread.
    const std::string& profile = decoded.iccProfile();
    if (profile.size() > 20 && profile.compare(16, 4, grey() ? "GRAY" : "RGB ") == 0)
        m_icc = deflate(reinterpret_cast<const uint8_t*>(profile.data()), profile.size());

    m_traits.softMask = m_mask == SOFT_MASK;
    m_traits.sixteenBit = m_png.bitDepth == 16;
    if (m_icc.empty())
        m_traits.deviceSpace = grey() ? CImageTraits::DEVICE_GREY : CImageTraits::DEVICE_RGB;
}

bool CPngStampImage::grey() const
{
    return m_png.colourType == PngInfo::GREY || m_png.colourType == PngInfo::GREY_ALPHA;
}

std::string CPngStampImage::colourKey() const
{
    std::string key;
    const std::string& trns = m_png.transparency;
    if (m_png.colourType == PngInfo::PALETTE) {
        // Runs of clear entries, as ranges of indices.
        for (size_t index = 0; index < trns.size(); ++index) {
            if (trns[index] != 0)
                continue;
            size_t last = index;
            while (last + 1 < trns.size() && trns[last + 1] == 0)
                ++last;
            if (!key.empty())
                key += ' ';
            appendInteger(key, static_cast<long long>(index));
            key += ' ';
            appendInteger(key, static_cast<long long>(last));
            index = last;
        }
        return key;
    }
    for (int channel = 0; channel < m_png.channels(); ++channel) {
        const uint32_t value = keyValue(trns, static_cast<size_t>(channel), m_png.bitDepth);
        for (int twice = 0; twice < 2; ++twice) {
            if (!key.empty())
                key += ' ';
            appendInteger(key, value);
        }
    }
    return key;
}

bool CPngStampImage::clearPixel(const uint8_t* row, uint32_t x) const
{
    const std::string& trns = m_png.transparency;
    if (m_png.colourType == PngInfo::PALETTE) {
        const size_t index = static_cast<size_t>(paletteIndex(row, x, m_png.bitDepth));
        return index < trns.size() && trns[index] == 0;
    }
    // Grey and RGB keys of 16-bit samples: two bytes each, as tRNS writes them.
    const size_t channels = static_cast<size_t>(m_png.channels());
    return trns.compare(0, 2 * channels, reinterpret_cast<const char*>(row) + 2 * channels * x, 2 * channels) == 0;
}

void CPngStampImage::splitSamples(const CPngDecoder& decoded)
{
    const size_t rowBytes = decoded.rowBytes();
    std::vector<uint8_t> colour, alpha;
    if (m_mask == STENCIL) {
        // One bit a pixel, set where the pixel is clear: a set bit masks out.
        const size_t maskRow = (size_t(m_png.width) + 7) / 8;
        alpha.assign(maskRow * m_png.height, 0);
        for (uint32_t y = 0; y < m_png.height; ++y)
            for (uint32_t x = 0; x < m_png.width; ++x)
                if (clearPixel(decoded.row(y), x))
                    alpha[y * maskRow + x / 8] |= uint8_t(0x80 >> (x % 8));
    } else if (m_mask == SOFT_MASK && m_png.colourType == PngInfo::PALETTE) {
        // The indices stay; each entry's alpha becomes an 8-bit mask sample.
        m_alphaDepth = 8;
        alpha.reserve(size_t(m_png.width) * m_png.height);
        for (uint32_t y = 0; y < m_png.height; ++y) {
            const uint8_t* row = decoded.row(y);
            for (uint32_t x = 0; x < m_png.width; ++x) {
                const size_t index = static_cast<size_t>(paletteIndex(row, x, m_png.bitDepth));
                alpha.push_back(index < m_png.transparency.size() ? uint8_t(m_png.transparency[index]) : 255);
            }
        }
    } else if (m_mask == SOFT_MASK) {
        // Grey or RGB samples, then alpha, in each pixel: 1 or 2 bytes a sample.
        m_alphaDepth = m_png.bitDepth;
        const size_t sample = static_cast<size_t>(m_png.bitDepth / 8);
        const size_t colourBytes = static_cast<size_t>(m_png.channels() - 1) * sample;
        const size_t pixels = size_t(m_png.width) * m_png.height;
        colour.reserve(pixels * colourBytes);
        alpha.reserve(pixels * sample);
        for (uint32_t y = 0; y < m_png.height; ++y) {
            const uint8_t* pixel = decoded.row(y);
            for (uint32_t x = 0; x < m_png.width; ++x, pixel += colourBytes + sample) {
                colour.insert(colour.end(), pixel, pixel + colourBytes);
                alpha.insert(alpha.end(), pixel + colourBytes, pixel + colourBytes + sample);
            }
        }
    }
    if (!alpha.empty())
        m_alpha = deflate(alpha.data(), alpha.size());
    if (m_predicted)
        return;
    if (colour.empty()) // the rows as they are: no alpha samples among them
        for (uint32_t y = 0; y < m_png.height; ++y)
            colour.insert(colour.end(), decoded.row(y), decoded.row(y) + rowBytes);
    m_colour = deflate(colour.data(), colour.size());
}

std::string CPngStampImage::colourSpace(int iccNum, int num, const CNewObjectWriter& writer) const
{
    std::string base = grey() ? "/DeviceGray" : "/DeviceRGB";
    if (iccNum > 0)
        base = referenceText("[/ICCBased ", iccNum, " 0 R]");
    if (m_png.colourType != PngInfo::PALETTE)
        return base;
    // The lookup is a string of the image's object: encrypted with it.
    const std::string lookup = writer.stringFor(num, m_png.palette);
    std::string space = "[/Indexed " + base + " ";
    appendInteger(space, static_cast<long long>(m_png.palette.size() / 3 - 1));
    space += " <";
    static const char kHex[] = "0123456789ABCDEF";
    for (char byte : lookup) {
        space += kHex[uint8_t(byte) >> 4];
        space += kHex[uint8_t(byte) & 15];
    }
    return space + ">]";
}

int CPngStampImage::write(CNewObjectWriter& writer) const
{
    int iccNum = 0, maskNum = 0;
    if (!m_icc.empty()) {
        const std::string entries =
            grey() ? "/N 1/Alternate/DeviceGray/Filter/FlateDecode" : "/N 3/Alternate/DeviceRGB/Filter/FlateDecode";
        iccNum = writeStream(writer, entries, m_icc);
    }
    const std::string size = formatText("/Width %u/Height %u", m_png.width, m_png.height);
    if (!m_alpha.empty()) {
        const std::string entries =
            "/Type/XObject/Subtype/Image" + size +
            (m_mask == STENCIL ? std::string("/ImageMask true/BitsPerComponent 1")
                               : formatText("/ColorSpace/DeviceGray/BitsPerComponent %d", m_alphaDepth)) +
            "/Filter/FlateDecode";
        maskNum = writeStream(writer, entries, m_alpha);
    }
    auto dictionary = [&](int num) {
        std::string entries = "/Type/XObject/Subtype/Image" + size + "/ColorSpace" + colourSpace(iccNum, num, writer) +
                              formatText("/BitsPerComponent %d/Filter/FlateDecode", m_png.bitDepth);
        if (m_predicted)
            entries += formatText("/DecodeParms<</Predictor 15/Colors %d/BitsPerComponent %d/Columns %u>>",
                                  m_png.colourType == PngInfo::RGB ? 3 : 1, m_png.bitDepth, m_png.width);
        if (m_mask == SOFT_MASK)
            entries += referenceText("/SMask ", maskNum, " 0 R");
        else if (m_mask == STENCIL)
            entries += referenceText("/Mask ", maskNum, " 0 R");
        else if (m_mask == KEY_RANGES)
            entries += "/Mask [" + m_colourKey + "]";
        return entries;
    };
    // Its palette is encrypted with the number the image gets.
    return writeStream(writer, dictionary(writer.nextNumber()), m_colour);
}
