#include "image/PngChunks.h"

#include <cstring>

#include "load/CFileSource.h"

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// PNG caps chunk lengths at 2^31 - 1; the stamp's whole file is held in
// memory, so one chunk of more than this is refused as damage rather than read.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;

uint32_t bigEndian32(const unsigned char* bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

bool validDepth(int colourType, int depth)
{
    switch (colourType) {
    case PngInfo::GREY:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case PngInfo::PALETTE:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case PngInfo::RGB:
    case PngInfo::GREY_ALPHA:
    case PngInfo::RGB_ALPHA:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

} // namespace

int PngInfo::channels() const
{
    switch (colourType) {
    case RGB:
        return 3;
    case GREY_ALPHA:
        return 2;
    case RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

bool hasPngSignature(CFileSource& file)
{
    unsigned char bytes[8];
    return file.read(0, bytes, sizeof bytes) == sizeof bytes && std::memcmp(bytes, kSignature, sizeof bytes) == 0;
}

bool readPngChunks(CFileSource& file, PngInfo& info, std::string& problem)
{
    if (!hasPngSignature(file)) {
        problem = "not a PNG image";
        return false;
    }
    int64_t position = 8;
    bool header = false, ended = false, idatDone = false;
    while (!ended) {
        unsigned char head[8];
        if (file.read(position, head, sizeof head) != sizeof head) {
            problem = "the data ends before the IEND chunk";
            return false;
        }
        const uint32_t length = bigEndian32(head);
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > kMaxChunkLength || position + 12 + int64_t(length) > file.size()) {
            problem = "the data ends before the IEND chunk";
            return false;
        }
        if (!header && type != "IHDR") {
            problem = "no IHDR chunk first";
            return false;
        }
        const int64_t data = position + 8;
        auto readData = [&](std::string& out) {
            const size_t before = out.size();
            out.resize(before + length);
            return file.read(data, &out[before], length) == length;
        };
        if (type == "IHDR") {
            unsigned char ihdr[13];
            if (header || length != 13 || file.read(data, ihdr, sizeof ihdr) != sizeof ihdr) {
                problem = "a damaged IHDR chunk";
                return false;
            }
            info.width = bigEndian32(ihdr);
            info.height = bigEndian32(ihdr + 4);
            info.bitDepth = ihdr[8];
            info.colourType = ihdr[9];
            info.interlaced = ihdr[12] == 1;
            if (info.width == 0 || info.height == 0 || info.width > kMaxChunkLength || info.height > kMaxChunkLength ||
                !validDepth(info.colourType, info.bitDepth) || ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1) {
                problem = "a damaged IHDR chunk";
                return false;
            }
            header = true;
        } else if (type == "PLTE") {
            if (!info.palette.empty() || length % 3 != 0 || length == 0 || length > 256 * 3 ||
                !readData(info.palette)) {
                problem = "a damaged PLTE chunk";
                return false;
            }
        } else if (type == "tRNS") {
            if (!info.transparency.empty() || !readData(info.transparency)) {
                problem = "a damaged tRNS chunk";
                return false;
            }
        } else if (type == "IDAT") {
            // The image data is one run of IDAT chunks.
            if (idatDone || !readData(info.idat)) {
                problem = "a damaged IDAT chunk";
                return false;
            }
        } else if (type == "IEND") {
            ended = true;
        }
        if (type != "IDAT" && !info.idat.empty())
            idatDone = true;
        position = data + length + 4;
    }
    if (info.idat.empty()) {
        problem = "no image data";
        return false;
    }
    if (info.colourType == PngInfo::PALETTE && info.palette.empty()) {
        problem = "no palette";
        return false;
    }
    return true;
}
