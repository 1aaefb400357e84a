#include "pdf/PdfFormat.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

std::string formatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return text;
}

void appendInteger(std::string& text, long long value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, static_cast<size_t>(end - digits));
}

void appendFixed(std::string& text, double value, int precision)
{
    // Whole numbers (matrix entries, most positions and sizes) need no rounding.
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        if (std::signbit(value))
            text += '-';
        appendInteger(text, static_cast<long long>(std::fabs(value)));
        if (precision > 0) {
            text += '.';
            text.append(static_cast<size_t>(precision), '0');
        }
        return;
    }
    char digits[400]; // room for the largest double written in full
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    text.append(digits, static_cast<size_t>(result.ptr - digits));
}

std::string referenceText(const char* before, long long num, const char* after)
{
    std::string text = before;
    appendInteger(text, num);
    text += after;
    return text;
}

std::string hexString(const std::string& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "<";
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text + ">";
}

std::string nameText(const std::string& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "/";
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7F && !std::strchr("()<>[]{}/%#", c)) {
            text += static_cast<char>(c);
        } else {
            text += '#';
            text += kDigits[c >> 4];
            text += kDigits[c & 15];
        }
    }
    return text;
}
