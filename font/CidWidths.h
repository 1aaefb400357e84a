#pragma once

#include <cstdint>
#include <map>
#include <string>

// The /W array of a CID font for the widths (in thousandths of the em) of
// `widths`' CIDs: runs of three or more consecutive CIDs of one width as
// "first last width", other consecutive CIDs as "first [w1 w2 ...]".
std::string cidWidthsArray(const std::map<uint32_t, int>& widths);

// The width most of `widths`' CIDs have (the smallest of equals), for /DW:
// those CIDs can then be left out of /W.
int mostCommonWidth(const std::map<uint32_t, int>& widths);
