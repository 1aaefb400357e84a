#include "crypt/PasswordEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <stringprep.h>

#include "pdf/PdfTextString.h"

namespace {

// The code points of `utf8`; nothing when it is not well-formed.
std::optional<std::u32string> decodeUtf8(std::string_view utf8)
{
    bool wellFormed = true;
    std::u32string points = utf8CodePoints(utf8, &wellFormed);
    return wellFormed ? std::optional<std::u32string>(std::move(points)) : std::nullopt;
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
    const std::optional<std::u32string> points = decodeUtf8(utf8);
    if (!points)
        return std::nullopt;
    std::string bytes;
    for (const char32_t point : *points) {
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
