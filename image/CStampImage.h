#pragma once

#include <memory>
#include <string>

class CFileSource;
class CNewObjectWriter;

// What a PDF/A check needs to know of the image objects a stamp writes.
struct CImageTraits {
    enum EDeviceSpace { NO_DEVICE_SPACE, DEVICE_GREY, DEVICE_RGB, DEVICE_CMYK };
    EDeviceSpace deviceSpace = NO_DEVICE_SPACE; // the colour space, when it is a device one (not ICC-based)
    bool softMask = false;                      // an /SMask: transparency
    bool sixteenBit = false;                    // 16 bits a sample
    bool fontNotEmbedded = false;               // text in a font the viewer supplies...
    std::string fontName = "Helvetica";         // ...this one
    bool blendMode = false;                     // a blend mode other than Normal
    bool transparencyGroup = false;             // a transparency group
};

// The image a run draws, read and checked (openStampImage) before any output
// is begun. Each kind (JPEG, PNG) writes its own image XObject; the painter
// needs only the size as displayed and the turn or mirror that shows it so.
class CStampImage {
public:
    virtual ~CStampImage();
    CStampImage(const CStampImage&) = delete;
    CStampImage& operator=(const CStampImage&) = delete;

    // The size in pixels as displayed: after the orientation's turn.
    // A page of a PDF has its size in points, not always whole.
    double width() const { return m_width; }
    double height() const { return m_height; }
    // An EXIF orientation, 1 (as stored) to 8.
    int orientation() const { return m_orientation; }
    const CImageTraits& traits() const { return m_traits; }
    // The file it is read from; null for a stamp made of no file (a text).
    const CFileSource* file() const { return m_file.get(); }

    // Writes the image XObject (and the objects it names) as new objects of
    // `writer`; returns the image's number.
    virtual int write(CNewObjectWriter& writer) const = 0;

    // A stamp that differs from page to page (a text with page numbers) is
    // no XObject drawn on every page: each page draws its own content, and
    // what write() wrote is the font that content names, under /Font.
    virtual bool drawnPerPage() const { return false; }
    // A stamp of several variants (the pages of a PDF, one for each page of
    // the input): write() writes variant v as object write() + v. Page i
    // of the input takes variant i, the last for the pages past it.
    virtual int variantCount() const { return 1; }
    virtual double variantWidth(int /*variant*/) const { return m_width; }
    virtual double variantHeight(int /*variant*/) const { return m_height; }
    // A page of a PDF, drawn as a form, rather than an image.
    virtual bool isPdfPage() const { return false; }
    // That content for page `pageIndex` (0-based), in the unit square the
    // painter places, naming the font `fontName`.
    virtual std::string pageContent(int /*pageIndex*/, const std::string& /*fontName*/) const { return {}; }

protected:
    CStampImage(const std::string& path, std::shared_ptr<CFileSource> file);

    std::string m_path;
    std::shared_ptr<CFileSource> m_file;
    double m_width = 0;
    double m_height = 0;
    int m_orientation = 1;
    CImageTraits m_traits;
};
