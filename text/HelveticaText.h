#pragma once

#include <string>

// The standard Helvetica font, which every viewer has and which is written
// without embedding it: its encoding (WinAnsiEncoding) and its widths.

// Helvetica's ascender and descender, in thousandths of the font size.
constexpr int kHelveticaAscent = 718;
constexpr int kHelveticaDescent = -207;

// Reads the UTF-8 `text` into WinAnsiEncoding codes. False when it cannot:
// `missing` is then the first character the encoding lacks, or U+FFFD when
// `text` is not UTF-8.
bool toWinAnsi(const std::string& text, std::string& codes, char32_t& missing);

// The advance of WinAnsi code `code` in thousandths of the font size.
int helveticaWidth(unsigned char code);
