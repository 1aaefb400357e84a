#pragma once

#include <string>

#include "image/CStampImage.h"
#include "image/PngChunks.h"

class CPngDecoder;

// A PNG stamp. An opaque image that is not interlaced keeps its compressed
// data: the IDAT data becomes a /FlateDecode stream with PNG predictors, as
// a JPEG's bytes are kept. Any other is decoded, and its colour and its
// alpha written as an image and its /SMask. A tRNS colour key (or a palette
// whose entries are either clear or opaque) becomes a /Mask: the key's
// ranges, or a stencil of the clear pixels; an iCCP profile an /ICCBased
// colour space.
class CPngStampImage : public CStampImage {
public:
    // Decodes the file once to check it; throws CPdfException naming `path`
    // when it is damaged or cut off.
    CPngStampImage(const std::string& path, std::shared_ptr<CFileSource> file);

    int write(CNewObjectWriter& writer) const override;

private:
    enum EMask { NO_MASK, KEY_RANGES, STENCIL, SOFT_MASK };

    bool grey() const;
    // The /Mask array's items for the tRNS key.
    std::string colourKey() const;
    // Whether pixel `x` of a decoded row is the tRNS key (clear).
    bool clearPixel(const uint8_t* row, uint32_t x) const;
    // Reads the samples libpng decoded into the colour data (unless the
    // file's own is kept) and the mask data.
    void splitSamples(const CPngDecoder& decoded);
    // The colour space as image `num` writes it, the profile being object
    // `iccNum` (0: none).
    std::string colourSpace(int iccNum, int num, const CNewObjectWriter& writer) const;

    PngInfo m_png;
    EMask m_mask = NO_MASK;
    bool m_predicted = false; // m_colour is the file's own IDAT data
    std::string m_colour;     // Flate data of the colour samples (or palette indices)
    std::string m_alpha;      // Flate data of the soft mask or stencil; empty without one
    int m_alphaDepth = 8;
    std::string m_colourKey; // the /Mask array's items
    std::string m_icc;       // Flate data of the ICC profile; empty without one
};
