#pragma once

#include <memory>
#include <string>

class CFileSource;
class COutputWriter;
class CSecurityHandler;

// What a PDF/A check needs to know of the image objects a stamp writes.
struct CImageTraits {
    enum EDeviceSpace { NO_DEVICE_SPACE, DEVICE_GREY, DEVICE_RGB, DEVICE_CMYK };
    EDeviceSpace deviceSpace = NO_DEVICE_SPACE; // the colour space, when it is a device one (not ICC-based)
    bool softMask = false;                      // an /SMask: transparency
    bool sixteenBit = false;                    // 16 bits a sample
};

// The image a run draws, read and checked before any output is begun. Each
// kind (JPEG, PNG) writes its own image XObject; the painter needs only the
// size as displayed and the turn or mirror that shows it so.
class CStampImage {
public:
    // Opens the image at `path`, a PNG or a JPEG by its first bytes; throws
    // CPdfException naming it (as `shownAs`, when given) when it cannot be
    // read, is too large, is neither or is damaged.
    static std::unique_ptr<CStampImage> open(const std::string& path, const std::string& shownAs = std::string());
    virtual ~CStampImage();
    CStampImage(const CStampImage&) = delete;
    CStampImage& operator=(const CStampImage&) = delete;

    // The size in pixels as displayed: after the orientation's turn.
    int width() const { return m_width; }
    int height() const { return m_height; }
    // An EXIF orientation, 1 (as stored) to 8.
    int orientation() const { return m_orientation; }
    const CImageTraits& traits() const { return m_traits; }
    const CFileSource& file() const { return *m_file; }

    // Writes the image XObject (and the objects it names) as new objects of
    // `writer`, encrypted for their numbers when `security` is given;
    // returns the image's number.
    virtual int write(COutputWriter& writer, const CSecurityHandler* security) const = 0;

protected:
    CStampImage(const std::string& path, std::shared_ptr<CFileSource> file);

    std::string m_path;
    std::shared_ptr<CFileSource> m_file;
    int m_width = 0;
    int m_height = 0;
    int m_orientation = 1;
    CImageTraits m_traits;
};
