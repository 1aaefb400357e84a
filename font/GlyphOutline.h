#pragma once

#include <cstdint>
#include <string>

class CFontFace;

// The outline of `glyph` of `face` as PDF path operators (m, l, c and h),
// scaled by `scale` points to the font unit and set with its origin at
// (`x`, `y`); painting it is the caller's. Empty for a glyph with no outline
// (a space).
std::string glyphOutline(const CFontFace& face, uint32_t glyph, double scale, double x, double y);
