#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// PDF text strings (page labels, outline titles, metadata): UTF-16BE after
// its byte order mark, UTF-8 after its mark (PDF 2.0), else PDFDocEncoding.

// The code point PDFDocEncoding gives `code`; 0 where it defines none.
uint32_t pdfDocCodePoint(unsigned char code);

// Appends `point` to `text` as UTF-8.
void appendUtf8(std::string& text, uint32_t point);

// The text string `bytes` as UTF-8; what cannot be read (an undefined code,
// a lone surrogate, an odd byte) becomes U+FFFD.
std::string textStringToUtf8(const std::string& bytes);

// The characters of the UTF-8 `text`; U+FFFD for each byte sequence that is
// no character (cut off, overlong, a surrogate), and then `wellFormed`, when
// given, is set false.
std::u32string utf8CodePoints(std::string_view text, bool* wellFormed = nullptr);

// The UTF-8 `text` as a text string: as it is when it is printable ASCII,
// else UTF-16BE after its byte order mark.
std::string utf8ToTextString(std::string_view text);
