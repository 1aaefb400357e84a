#include "image/CJpegStampImage.h"

#include "image/CNewObjectWriter.h"
#include "load/CFileSource.h"
#include "pdf/CPdfException.h"
#include "pdf/PdfFormat.h"

CJpegStampImage::CJpegStampImage(const std::string& path, std::shared_ptr<CFileSource> file)
    : CStampImage(path, std::move(file))
{
    if (!readJpegSize(*m_file, m_jpeg))
        throw CPdfException::formatted(CPdfException::EKind::ImageError,
                                       "\nInput image file is not a JPEG image (no frame header found): '%s'\n", path);
    // A cut-off image would be copied into the output as it is, and shown damaged.
    if (!jpegReachesEnd(*m_file))
        throw CPdfException::formatted(
            CPdfException::EKind::ImageError,
            "\nInput image file error (the data ends before the end-of-image marker): '%s'\n", path);
    m_orientation = m_jpeg.orientation;
    const bool turned = m_orientation >= 5; // 5 to 8 turn it a quarter
    m_width = turned ? m_jpeg.height : m_jpeg.width;
    m_height = turned ? m_jpeg.width : m_jpeg.height;
    m_traits.deviceSpace = m_jpeg.components == 1   ? CImageTraits::DEVICE_GREY
                           : m_jpeg.components == 4 ? CImageTraits::DEVICE_CMYK
                                                    : CImageTraits::DEVICE_RGB;
}

int CJpegStampImage::write(CNewObjectWriter& writer) const
{
    const int num =
        writer.writeNewStream(" 0 obj<</Subtype/Image/Length ", formatImageObjectTail(m_jpeg), *m_file, m_file->size());
    if (num == 0)
        throw CPdfException::formatted(CPdfException::EKind::ImageError, "\nInput image file error: '%s'\n", m_path);
    return num;
}
