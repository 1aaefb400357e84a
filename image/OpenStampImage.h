#pragma once

#include <memory>
#include <string>

#include "image/CStampImage.h"

// Opens the stamp image at `path`, a PNG or a JPEG by its first bytes;
// throws CPdfException naming it (as `shownAs`, when given) when it cannot be
// read, is too large, is neither or is damaged.
std::unique_ptr<CStampImage> openStampImage(const std::string& path, const std::string& shownAs = std::string());
