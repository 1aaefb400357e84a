#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/CStampImage.h"

// Image lengths are written as /Length and copied whole; like PDF inputs,
// files past 2 GB are refused rather than written wrongly.
constexpr int64_t kMaxStampImageBytes = 0x7FFFFFFF;

// Opens the stamp image at `path`, a PNG or a JPEG by its first bytes;
// throws CPdfException naming it (as `shownAs`, when given) when it cannot be
// read, is too large, is neither or is damaged.
std::unique_ptr<CStampImage> openStampImage(const std::string& path, const std::string& shownAs = std::string());
