#include "stamp/CPngStampImage.h"

#include <zlib.h>

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "pdf/CPdfException.h"
#include "stamp/COutputFile.h"
#include "stamp/COutputWriter.h"
#include "stamp/CPngDecoder.h"
#include "stamp/StampObjects.h"

namespace {

std::string deflate(const uint8_t* data, size_t size)
{
    uLongf length = compressBound(static_cast<uLong>(size));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length, data, static_cast<uLong>(size),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        throw CPdfException("\nOut of memory compressing the image\n");
    out.resize(length);
    return out;
}

// Writes a new stream object of `dictionary` (without /Length) and `data`;
// returns its number.
int writeStream(COutputWriter& writer, const CSecurityHandler* security, const std::string& dictionary,
                const std::string& data)
{
    const int num = writer.beginNewObject();
    const std::string encrypted = security ? security->encryptStream(num, 0, data) : std::string();
    const std::string& bytes = security ? encrypted : data;
    std::string text = " 0 obj<<" + dictionary + "/Length ";
    appendInteger(text, static_cast<long long>(bytes.size()));
    text += ">>stream\n";
    COutputFile& output = writer.output();
    output.write(text);
    output.write(bytes);
    output.write("\nendstream\nendobj\n");
    writer.endNewObject(num);
    return num;
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
        throw CPdfException("\nInput image file error (" + problem + "): '" + path + "'\n");
    m_width = static_cast<int>(m_png.width);
    m_height = static_cast<int>(m_png.height);

    // tRNS: one colour key for grey and RGB images; for a palette an alpha
    // per entry, a key too when each entry is either clear or opaque.
    const std::string& trns = m_png.transparency;
    bool paletteAlpha = false;
    if (!trns.empty() && !m_png.hasAlphaChannel()) {
        if (m_png.colourType == PngInfo::PALETTE) {
            for (char alpha : trns)
                paletteAlpha |= uint8_t(alpha) != 0 && uint8_t(alpha) != 255;
            for (size_t index = 0; index < trns.size() && !paletteAlpha; ++index) {
                if (trns[index] != 0)
                    continue;
                size_t last = index;
                while (last + 1 < trns.size() && trns[last + 1] == 0)
                    ++last;
                m_colourKey += formatText("%s%zu %zu", m_colourKey.empty() ? "" : " ", index, last);
                index = last;
            }
        } else if (trns.size() >= 2 * static_cast<size_t>(m_png.channels())) {
            for (int channel = 0; channel < m_png.channels(); ++channel) {
                const uint32_t value = keyValue(trns, static_cast<size_t>(channel), m_png.bitDepth);
                m_colourKey += formatText("%s%u %u", channel ? " " : "", value, value);
            }
        }
    }
    const bool softMask = m_png.hasAlphaChannel() || paletteAlpha;
    m_predicted = !softMask && !m_png.interlaced;

    std::string bytes(static_cast<size_t>(m_file->size()), '\0');
    if (m_file->read(0, &bytes[0], bytes.size()) != bytes.size())
        throw CPdfException::formatted("\nInput image file error: '%s'\n", path);
    const CPngDecoder decoded(bytes, m_png, !m_predicted);
    if (!decoded.ok())
        throw CPdfException("\nInput image file error (" + decoded.problem() + "): '" + path + "'\n");
    if (m_predicted)
        m_colour = std::move(m_png.idat);
    else
        splitSamples(decoded, paletteAlpha);
    m_png.idat = std::string();

    // A profile of another colour model than the image's would be misread.
    const std::string& profile = decoded.iccProfile();
    const bool grey = m_png.colourType == PngInfo::GREY || m_png.colourType == PngInfo::GREY_ALPHA;
    if (profile.size() > 20 && profile.compare(16, 4, grey ? "GRAY" : "RGB ") == 0)
        m_icc = deflate(reinterpret_cast<const uint8_t*>(profile.data()), profile.size());

    m_traits.softMask = softMask;
    m_traits.sixteenBit = m_png.bitDepth == 16;
    if (m_icc.empty())
        m_traits.deviceSpace = grey ? CImageTraits::DEVICE_GREY : CImageTraits::DEVICE_RGB;
}

void CPngStampImage::splitSamples(const CPngDecoder& decoded, bool paletteAlpha)
{
    const size_t rowBytes = decoded.rowBytes();
    if (!m_png.hasAlphaChannel() && !paletteAlpha) {
        std::string rows;
        rows.reserve(rowBytes * m_png.height);
        for (uint32_t y = 0; y < m_png.height; ++y)
            rows.append(reinterpret_cast<const char*>(decoded.row(y)), rowBytes);
        m_colour = deflate(reinterpret_cast<const uint8_t*>(rows.data()), rows.size());
        return;
    }
    std::vector<uint8_t> colour, alpha;
    if (paletteAlpha) {
        // The indices stay; each entry's alpha becomes an 8-bit mask sample.
        m_alphaDepth = 8;
        colour.reserve(rowBytes * m_png.height);
        alpha.reserve(size_t(m_png.width) * m_png.height);
        for (uint32_t y = 0; y < m_png.height; ++y) {
            const uint8_t* row = decoded.row(y);
            colour.insert(colour.end(), row, row + rowBytes);
            for (uint32_t x = 0; x < m_png.width; ++x) {
                const size_t index = static_cast<size_t>(paletteIndex(row, x, m_png.bitDepth));
                alpha.push_back(index < m_png.transparency.size() ? uint8_t(m_png.transparency[index]) : 255);
            }
        }
    } else {
        // Grey or RGB samples, then alpha, in each pixel: 1 or 2 bytes a sample.
        m_alphaDepth = m_png.bitDepth;
        const size_t sample = static_cast<size_t>(m_png.bitDepth / 8);
        const size_t colourSamples = static_cast<size_t>(m_png.channels() - 1);
        const size_t pixels = size_t(m_png.width) * m_png.height;
        colour.reserve(pixels * colourSamples * sample);
        alpha.reserve(pixels * sample);
        for (uint32_t y = 0; y < m_png.height; ++y) {
            const uint8_t* pixel = decoded.row(y);
            for (uint32_t x = 0; x < m_png.width; ++x) {
                colour.insert(colour.end(), pixel, pixel + colourSamples * sample);
                pixel += colourSamples * sample;
                alpha.insert(alpha.end(), pixel, pixel + sample);
                pixel += sample;
            }
        }
    }
    m_colour = deflate(colour.data(), colour.size());
    m_alpha = deflate(alpha.data(), alpha.size());
}

std::string CPngStampImage::colourSpace(int iccNum) const
{
    const bool grey = m_png.colourType == PngInfo::GREY || m_png.colourType == PngInfo::GREY_ALPHA;
    std::string base = grey ? "/DeviceGray" : "/DeviceRGB";
    if (iccNum > 0)
        base = referenceText("[/ICCBased ", iccNum, " 0 R]");
    if (m_png.colourType != PngInfo::PALETTE)
        return base;
    std::string space = "[/Indexed " + base + " ";
    appendInteger(space, static_cast<long long>(m_png.palette.size() / 3 - 1));
    space += " <";
    static const char kHex[] = "0123456789ABCDEF";
    for (char byte : m_png.palette) {
        space += kHex[uint8_t(byte) >> 4];
        space += kHex[uint8_t(byte) & 15];
    }
    return space + ">]";
}

int CPngStampImage::write(COutputWriter& writer, const CSecurityHandler* security) const
{
    const bool grey = m_png.colourType == PngInfo::GREY || m_png.colourType == PngInfo::GREY_ALPHA;
    const int iccNum =
        m_icc.empty() ? 0
                      : writeStream(writer, security,
                                    formatText("/N %d/Alternate%s/Filter/FlateDecode", grey ? 1 : 3,
                                               grey ? "/DeviceGray" : "/DeviceRGB"),
                                    m_icc);
    const std::string size = formatText("/Width %u/Height %u", m_png.width, m_png.height);
    const int maskNum = m_alpha.empty() ? 0
                                        : writeStream(writer, security,
                                                      "/Type/XObject/Subtype/Image" + size +
                                                          formatText("/ColorSpace/DeviceGray/BitsPerComponent %d",
                                                                     m_alphaDepth) +
                                                          "/Filter/FlateDecode",
                                                      m_alpha);
    std::string dictionary = "/Type/XObject/Subtype/Image" + size + "/ColorSpace" + colourSpace(iccNum) +
                             formatText("/BitsPerComponent %d/Filter/FlateDecode", m_png.bitDepth);
    if (m_predicted) {
        const int colours = m_png.colourType == PngInfo::RGB ? 3 : 1;
        dictionary += formatText("/DecodeParms<</Predictor 15/Colors %d/BitsPerComponent %d/Columns %u>>", colours,
                                 m_png.bitDepth, m_png.width);
    }
    if (maskNum > 0)
        dictionary += referenceText("/SMask ", maskNum, " 0 R");
    else if (!m_colourKey.empty())
        dictionary += "/Mask [" + m_colourKey + "]";
    return writeStream(writer, security, dictionary, m_colour);
}
