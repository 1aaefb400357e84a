#pragma once

#include "image/CStampImage.h"
#include "image/JpegHeader.h"

// A JPEG stamp: its bytes go into the output unchanged, as a /DCTDecode
// image XObject; an EXIF orientation turns or mirrors it in the placement.
class CJpegStampImage : public CStampImage {
public:
    // Throws CPdfException naming `path` when the file is no JPEG or is cut off.
    CJpegStampImage(const std::string& path, std::shared_ptr<CFileSource> file);

    int write(CNewObjectWriter& writer) const override;

private:
    JpegInfo m_jpeg;
};
