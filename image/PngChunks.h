#pragma once

#include <cstdint>
#include <string>

class CFileSource;

// The 8 bytes every PNG file starts with.
bool hasPngSignature(CFileSource& file);

// What the stamper needs of a PNG file's chunks, read without decoding the
// image: libpng checks the data, but does not hand out the compressed
// image data, which an opaque image keeps unchanged.
struct PngInfo {
    enum EColourType { GREY = 0, RGB = 2, PALETTE = 3, GREY_ALPHA = 4, RGB_ALPHA = 6 };
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 0;
    int colourType = 0;
    bool interlaced = false;
    std::string palette;      // PLTE: three bytes an entry
    std::string transparency; // tRNS as written: alphas of palette entries, or one colour key
    std::string idat;         // the IDAT chunks' data joined: one zlib stream

    int channels() const; // samples a pixel
    bool hasAlphaChannel() const { return colourType == GREY_ALPHA || colourType == RGB_ALPHA; }
};

// Walks the chunks from the signature to IEND. False, with `problem` set, for
// a file that is no PNG, ends before IEND (a cut-off copy), or has chunks no
// PNG may have (a bad IHDR, image data before the palette it needs, ...);
// CRCs are left to libpng.
bool readPngChunks(CFileSource& file, PngInfo& info, std::string& problem);
