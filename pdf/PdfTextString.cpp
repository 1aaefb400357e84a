#include "pdf/PdfTextString.h"

namespace {

// The code points PDFDocEncoding gives to 0x18-0x1F and 0x80-0xA0, where it
// differs from Latin-1; 0 where it defines none.
constexpr uint32_t kLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr uint32_t kHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC,
};

constexpr uint32_t kReplacement = 0xFFFD;

} // namespace

uint32_t pdfDocCodePoint(unsigned char code)
{
    if (code == 0x09 || code == 0x0A || code == 0x0D || (code >= 0x20 && code < 0x7F) || (code >= 0xA1 && code != 0xAD))
        return code;
    if (code >= 0x18 && code < 0x20)
        return kLow[code - 0x18];
    if (code >= 0x80 && code <= 0xA0)
        return kHigh[code - 0x80];
    return 0;
}

void appendUtf8(std::string& text, uint32_t point)
{
    if (point < 0x80) {
        text += static_cast<char>(point);
        return;
    }
    static const unsigned char kLead[4] = {0, 0xC0, 0xE0, 0xF0};
    const int extra = point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
    text += static_cast<char>(kLead[extra] | (point >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
        text += static_cast<char>(0x80 | ((point >> shift) & 0x3F));
}

std::string textStringToUtf8(const std::string& bytes)
{
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
    std::string text;
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        return bytes.substr(3);
    if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        for (size_t at = 2; at < bytes.size(); at += 2) {
            if (at + 1 >= bytes.size()) {
                appendUtf8(text, kReplacement);
                break;
            }
            uint32_t unit = static_cast<uint32_t>(byte(at) << 8 | byte(at + 1));
            if (unit >= 0xD800 && unit < 0xDC00 && at + 3 < bytes.size()) {
                const uint32_t low = static_cast<uint32_t>(byte(at + 2) << 8 | byte(at + 3));
                if (low >= 0xDC00 && low < 0xE000) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    at += 2;
                }
            }
            appendUtf8(text, unit >= 0xD800 && unit < 0xE000 ? kReplacement : unit);
        }
        return text;
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        const uint32_t point = pdfDocCodePoint(byte(at));
        appendUtf8(text, point ? point : kReplacement);
    }
    return text;
}

std::u32string utf8CodePoints(std::string_view text, bool* wellFormed)
{
    if (wellFormed)
        *wellFormed = true;
    std::u32string points;
    points.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at++]);
        if (lead < 0x80) {
            points += static_cast<char32_t>(lead);
            continue;
        }
        const int more = lead >= 0xF5 ? -1 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
        char32_t point = more < 0 ? 0 : lead & (0x3F >> more);
        int read = 0;
        for (; more > 0 && read < more && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
             ++read, ++at)
            point = point << 6 | (static_cast<unsigned char>(text[at]) & 0x3F);
        static const char32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        const bool whole = more > 0 && read == more && point >= kLeast[more] && point <= 0x10FFFF &&
                           (point < 0xD800 || point >= 0xE000);
        points += whole ? point : kReplacement;
        if (!whole && wellFormed)
            *wellFormed = false;
    }
    return points;
}

std::string utf8ToTextString(std::string_view text)
{
    bool ascii = true;
    for (unsigned char c : text)
        ascii = ascii && c >= 0x20 && c < 0x7F;
    if (ascii)
        return std::string(text);
    std::string bytes = "\xFE\xFF";
    const auto unit = [&](uint32_t value) {
        bytes += static_cast<char>(value >> 8);
        bytes += static_cast<char>(value & 0xFF);
    };
    for (char32_t point : utf8CodePoints(text)) {
        if (point >= 0x10000) {
            unit(0xD800 + ((point - 0x10000) >> 10));
            unit(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            unit(point);
        }
    }
    return bytes;
}
