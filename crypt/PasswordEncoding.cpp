#include "crypt/PasswordEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <stringprep.h>

#include "pdf/PdfTextString.h"

namespace {

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

// The PDFDocEncoding code of `point`; -1 when it has none.
int pdfDocCode(uint32_t point)
{
    for (int code = 1; code < 256; ++code)
        if (pdfDocCodePoint(static_cast<unsigned char>(code)) == point)
            return code;
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
