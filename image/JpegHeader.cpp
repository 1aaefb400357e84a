#include "image/JpegHeader.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "load/CFileSource.h"
#include "pdf/PdfFormat.h"

namespace {

// Sequential bytes of the file; -1 at the end.
class CByteReader {
public:
    explicit CByteReader(CFileSource& file) : m_file(file) {}
    int next()
    {
        uint8_t byte = 0;
        if (m_file.read(m_position, &byte, 1) != 1)
            return -1;
        ++m_position;
        return byte;
    }
    bool take(std::string& out)
    {
        if (m_file.read(m_position, out.data(), out.size()) != out.size())
            return false;
        m_position += static_cast<int64_t>(out.size());
        return true;
    }
    void skip(int64_t count) { m_position += count; }
    bool atEnd() const { return m_position >= m_file.size(); }

private:
    CFileSource& m_file;
    int64_t m_position = 0;
};

bool isStartOfFrame(int code)
{
    return (code >= 0xC0 && code <= 0xC3) || (code >= 0xC5 && code <= 0xC7) || (code >= 0xC9 && code <= 0xCB) ||
           (code >= 0xCD && code <= 0xCF);
}

// The first 0xFF at or after `position` in the file, or -1.
int64_t findMarkerByte(CFileSource& file, int64_t position)
{
    while (const CFileSource::Block* block = file.peekBlock(position)) {
        size_t skip = static_cast<size_t>(position - block->offset);
        const void* found = std::memchr(block->data() + skip, 0xFF, block->size() - skip);
        if (found)
            return block->offset + (static_cast<const uint8_t*>(found) - block->data());
        position = block->offset + static_cast<int64_t>(block->size());
    }
    return -1;
}

int byteAt(CFileSource& file, int64_t position)
{
    uint8_t byte = 0;
    return file.read(position, &byte, 1) == 1 ? byte : -1;
}

uint32_t tiffNumber(const unsigned char* bytes, int size, bool bigEndian)
{
    uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= uint32_t(bytes[bigEndian ? i : size - 1 - i]) << (8 * (size - 1 - i));
    return value;
}

} // namespace

int exifOrientation(std::string_view app1)
{
    constexpr std::string_view kExif("Exif\0\0", 6);
    if (app1.substr(0, kExif.size()) != kExif)
        return 1;
    const std::string_view tiff = app1.substr(kExif.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(tiff.data());
    if (tiff.size() < 8 || !(tiff.substr(0, 2) == "II" || tiff.substr(0, 2) == "MM"))
        return 1;
    const bool bigEndian = tiff[0] == 'M';
    if (tiffNumber(bytes + 2, 2, bigEndian) != 42)
        return 1;
    // The first IFD (the main image's) holds the tag; offsets count from the TIFF header.
    const uint32_t ifd = tiffNumber(bytes + 4, 4, bigEndian);
    if (ifd > tiff.size() - 2)
        return 1;
    const uint32_t count = tiffNumber(bytes + ifd, 2, bigEndian);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = uint64_t(ifd) + 2 + 12 * uint64_t(i);
        if (entry + 12 > tiff.size())
            return 1;
        const unsigned char* field = bytes + entry;
        constexpr uint32_t kOrientationTag = 0x0112, kShortType = 3;
        if (tiffNumber(field, 2, bigEndian) != kOrientationTag)
            continue;
        if (tiffNumber(field + 2, 2, bigEndian) != kShortType || tiffNumber(field + 4, 4, bigEndian) != 1)
            return 1;
        const uint32_t value = tiffNumber(field + 8, 2, bigEndian);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

bool readJpegSize(CFileSource& jpeg, JpegInfo& info)
{
    CByteReader in(jpeg);
    if (in.next() != 0xFF || in.next() != 0xD8)
        return false;
    bool adobe = false;
    int orientation = 1;
    bool exifSeen = false;
    for (;;) {
        int c = in.next();
        int stray = 0;
        while (c >= 0 && c != 0xFF) {
            ++stray;
            c = in.next();
        }
        while (c == 0xFF)
            c = in.next();
        if (c < 0 || stray > 0)
            return false;
        int code = c;
        if (isStartOfFrame(code)) {
            int bytes[8];
            for (int& b : bytes) {
                b = in.next();
                if (b < 0)
                    return false;
            }
            // length (2), precision (1), height (2), width (2), component count (1)
            info.height = (bytes[3] << 8) | bytes[4];
            info.width = (bytes[5] << 8) | bytes[6];
            info.components = bytes[7];
            info.adobe = adobe;
            info.orientation = orientation;
            return true;
        }
        if (code == 0xD9 || code == 0xDA)
            return false;
        int high = in.next();
        int low = in.next();
        if (high < 0 || low < 0)
            return false;
        int length = (high << 8) | low;
        if (length < 2)
            return false;
        int remaining = length - 2;
        if (code == 0xEE && remaining >= 5) {
            char id[5];
            for (char& b : id) {
                int v = in.next();
                if (v < 0)
                    return false;
                b = static_cast<char>(v);
            }
            remaining -= 5;
            if (std::memcmp(id, "Adobe", 5) == 0)
                adobe = true;
        } else if (code == 0xE1 && !exifSeen) {
            // The first APP1 is the EXIF one; later ones hold XMP and the like.
            std::string app1(static_cast<size_t>(remaining), '\0');
            if (!in.take(app1))
                return false;
            remaining = 0;
            if (app1.compare(0, 6, std::string("Exif\0\0", 6)) == 0) {
                exifSeen = true;
                orientation = exifOrientation(app1);
            }
        }
        in.skip(remaining);
        if (in.atEnd())
            return false;
    }
}

bool jpegReachesEnd(CFileSource& jpeg)
{
    int64_t position = 2; // after the start-of-image marker
    for (;;) {
        if (byteAt(jpeg, position) != 0xFF)
            return false;
        int code = 0xFF;
        while (code == 0xFF) // fill bytes
            code = byteAt(jpeg, ++position);
        ++position;
        if (code < 0)
            return false;
        if (code == 0xD9)
            return true;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7))
            continue; // markers without a length
        int high = byteAt(jpeg, position), low = byteAt(jpeg, position + 1);
        if (high < 0 || low < 0 || ((high << 8) | low) < 2)
            return false;
        position += (high << 8) | low;
        if (code != 0xDA)
            continue;
        // Scan data: 0xFF 0x00 is a data byte and 0xFF 0xD0..0xD7 a restart
        // marker; any other marker ends the scan.
        for (;;) {
            position = findMarkerByte(jpeg, position);
            if (position < 0)
                return false;
            int next = byteAt(jpeg, position + 1);
            if (next < 0)
                return false;
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                position += 2;
                continue;
            }
            if (next == 0xFF) { // a fill byte before a marker
                ++position;
                continue;
            }
            break;
        }
    }
}

std::string formatImageObjectTail(const JpegInfo& jpeg)
{
    // The colour space follows the frame's component count; Adobe CMYK files
    // store their samples inverted, which /Decode undoes.
    const char* colorSpace = "/ColorSpace/DeviceRGB";
    if (jpeg.components == 1)
        colorSpace = "/ColorSpace/DeviceGray";
    else if (jpeg.components == 4)
        colorSpace = jpeg.adobe ? "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]" : "/ColorSpace/DeviceCMYK";
    return formatText("/Filter/DCTDecode/Name/X/BitsPerComponent 8%s/Width %d/Height %d/Type/XObject>>stream\n",
                      colorSpace, jpeg.width, jpeg.height);
}
