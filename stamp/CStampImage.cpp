#include "stamp/CStampImage.h"

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "pdf/CPdfException.h"
#include "stamp/COutputFile.h"
#include "stamp/COutputWriter.h"
#include "stamp/StampObjects.h"

namespace {

// JPEG lengths are written as /Length and copied whole; like PDF inputs, files
// past 2 GB are refused rather than written wrongly.
constexpr int64_t kMaxJpegSize = 0x7FFFFFFF;

} // namespace

CStampImage::CStampImage(const std::string& path) : m_path(path), m_file(CFileSource::open(path))
{
    if (!m_file)
        throw CPdfException::formatted("\nInput image file error: '%s'\n", path);
    if (m_file->size() > kMaxJpegSize)
        throw CPdfException::formatted("\nInput image file is larger than 2 GB: '%s'\n", path);
    if (!readJpegSize(*m_file, m_jpeg))
        throw CPdfException::formatted("\nInput image file is not a JPEG image (no frame header found): '%s'\n",
                                       path);
    // A cut-off image would be copied into the output as it is, and shown damaged.
    if (!jpegReachesEnd(*m_file))
        throw CPdfException::formatted(
            "\nInput image file error (the data ends before the end-of-image marker): '%s'\n", path);
}

CStampImage::~CStampImage() = default;

int CStampImage::write(COutputWriter& writer, const CSecurityHandler* security) const
{
    const int64_t length = m_file->size();
    const int num = writer.beginNewObject();
    COutputFile& output = writer.output();
    if (security) {
        std::string jpeg(static_cast<size_t>(length), '\0');
        if (m_file->read(0, jpeg.data(), jpeg.size()) != jpeg.size())
            throw CPdfException::formatted("\nInput image file error: '%s'\n", m_path);
        const std::string data = security->encryptStream(num, 0, jpeg);
        output.write(formatImageObjectHeader(static_cast<int64_t>(data.size()), m_jpeg));
        output.write(data);
    } else {
        output.write(formatImageObjectHeader(length, m_jpeg));
        output.copyFrom(*m_file, 0, length);
    }
    output.write("\nendstream\nendobj\n");
    writer.endNewObject(num);
    return num;
}
