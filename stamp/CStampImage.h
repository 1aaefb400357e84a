#pragma once

#include <memory>
#include <string>

#include "stamp/JpegHeader.h"

class CFileSource;
class COutputWriter;
class CSecurityHandler;

// The image a run draws, read and checked before any output is begun. A
// JPEG goes into the output unchanged, as a /DCTDecode image XObject.
class CStampImage {
public:
    // Opens the image at `path`; throws CPdfException naming it when it
    // cannot be read, is too large, is no JPEG or is cut off.
    explicit CStampImage(const std::string& path);
    ~CStampImage();
    CStampImage(const CStampImage&) = delete;
    CStampImage& operator=(const CStampImage&) = delete;

    int width() const { return m_jpeg.width; }
    int height() const { return m_jpeg.height; }
    const CFileSource& file() const { return *m_file; }

    // Writes the image XObject as a new object of `writer`, encrypted for
    // its number when `security` is given; returns its number.
    int write(COutputWriter& writer, const CSecurityHandler* security) const;

private:
    std::string m_path;
    std::shared_ptr<CFileSource> m_file;
    JpegInfo m_jpeg;
};
