#include "image/OpenStampImage.h"

#include "image/CJpegStampImage.h"
#include "image/CPngStampImage.h"
#include "image/PngChunks.h"
#include "load/CFileSource.h"
#include "pdf/CPdfException.h"

std::unique_ptr<CStampImage> openStampImage(const std::string& path, const std::string& shownAs)
{
    const std::string& name = shownAs.empty() ? path : shownAs;
    std::shared_ptr<CFileSource> file = CFileSource::open(path);
    if (!file)
        throw CPdfException::formatted(CPdfException::EKind::ImageError, "\nInput image file error: '%s'\n", name);
    if (file->size() > kMaxStampImageBytes)
        throw CPdfException::formatted(CPdfException::EKind::ImageError,
                                       "\nInput image file is larger than 2 GB: '%s'\n", name);
    // Told apart by the signature: a name says nothing of what a file holds.
    if (hasPngSignature(*file))
        return std::make_unique<CPngStampImage>(name, std::move(file));
    return std::make_unique<CJpegStampImage>(name, std::move(file));
}
