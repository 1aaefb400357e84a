#include "crypt/PasswordEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <stringprep.h>

namespace {

// The code points PDFDocEncoding gives to 0x18-0x1F and 0x80-0xA0, where it
// differs from Latin-1; 0 where it defines none.
constexpr uint32_t kLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr uint32_t kHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC,
};

// The code points of `utf8`; nothing when it is not well-formed.
std::optional<std::vector<uint32_t>> decodeUtf8(std::string_view utf8)
{
    std::vector<uint32_t> points;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80                   ? 0
                          : lead >= 0xC2 && lead < 0xE0 ? 1
                          : lead >= 0xE0 && lead < 0xF0 ? 2
                          : lead >= 0xF0 && lead < 0xF5 ? 3
                                                        : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size())
            return std::nullopt;
        uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            point = point << 6 | (next & 0x3F);
        }
        // Overlong forms and surrogates are no UTF-8.
        static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (point < kMinimum[extra] || (point >= 0xD800 && point < 0xE000) || point > 0x10FFFF)
            return std::nullopt;
        points.push_back(point);
        i += static_cast<size_t>(extra) + 1;
    }
    return points;
}

int pdfDocCode(uint32_t point)
{
    if (point == 0x09 || point == 0x0A || point == 0x0D || (point >= 0x20 && point < 0x7F) ||
        (point >= 0xA1 && point <= 0xFF && point != 0xAD))
        return static_cast<int>(point);
    for (int i = 0; i < 8; ++i)
        if (kLow[i] == point)
            return 0x18 + i;
    for (int i = 0; i < 33; ++i)
        if (kHigh[i] != 0 && kHigh[i] == point)
            return 0x80 + i;
    return -1;
}

struct CFreeDeleter {
    void operator()(char* text) const { std::free(text); }
};

// Passwords of revisions 5 and 6 count at most this many bytes.
constexpr size_t kMaxAesPasswordBytes = 127;

} // namespace

namespace password {

std::optional<std::string> toPdfDocEncoding(std::string_view utf8)
{
    const std::optional<std::vector<uint32_t>> points = decodeUtf8(utf8);
    if (!points)
        return std::nullopt;
    std::string bytes;
    for (uint32_t point : *points) {
        const int code = pdfDocCode(point);
        if (code < 0)
            return std::nullopt;
        bytes += static_cast<char>(code);
    }
    return bytes;
}

std::optional<std::string> toSaslPrep(std::string_view utf8)
{
    if (!decodeUtf8(utf8))
        return std::nullopt;
    const std::string text(utf8);
    char* prepared = nullptr;
    if (stringprep_profile(text.c_str(), &prepared, "SASLprep", STRINGPREP_NO_UNASSIGNED) != STRINGPREP_OK) {
        std::free(prepared);
        return std::nullopt;
    }
    const std::unique_ptr<char, CFreeDeleter> owned(prepared);
    std::string result(owned.get());
    // Cut by bytes, as other writers cut it, even inside a character.
    if (result.size() > kMaxAesPasswordBytes)
        result.resize(kMaxAesPasswordBytes);
    return result;
}

} // namespace password
