#include "image/CStampImage.h"

#include "load/CFileSource.h"

CStampImage::CStampImage(const std::string& path, std::shared_ptr<CFileSource> file)
    : m_path(path), m_file(std::move(file))
{
}

CStampImage::~CStampImage() = default;
