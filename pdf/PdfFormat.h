#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// Numbers, references and other text as the program writes them into PDF.

#if defined(__GNUC__)
#define VELLICO_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define VELLICO_PRINTF_FORMAT
#endif

// printf-style text; the program never changes the C locale, so numbers
// are written the same way on every machine.
std::string formatText(const char* format, ...) VELLICO_PRINTF_FORMAT;

// Appends numbers as printf's "%lld" and "%.<precision>f" write them (both
// give the exactly rounded decimal), without printf's cost on hot paths.
void appendInteger(std::string& text, long long value);
// Writes `value` as `width` decimal digits, zeros in front, ending before
// `end`: a field of a cross-reference table's entry, as printf's "%0<width>u"
// writes it. Inline: a table writes two for every object.
inline void writeZeroPadded(char* end, uint32_t value, int width)
{
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                     "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                     "8081828384858687888990919293949596979899";
    for (; width >= 2; width -= 2, value /= 100) {
        end -= 2;
        std::memcpy(end, kPairs + 2 * (value % 100), 2);
    }
    if (width == 1)
        *--end = static_cast<char>('0' + value % 10);
}
void appendFixed(std::string& text, double value, int precision);
// `bytes` as a hexadecimal string: "<4F4B>".
std::string hexString(const std::string& bytes);
// `bytes` as a name: "/" and each byte, those that are delimiters, blanks,
// "#" or outside the printable ASCII range as #XX.
std::string nameText(const std::string& bytes);
// " N 0 R " and the like: `before`, the number, then `after`.
std::string referenceText(const char* before, long long num, const char* after);
