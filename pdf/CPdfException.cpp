#include "pdf/CPdfException.h"

#include <cstdio>
#include <vector>

CPdfException::CPdfException(const char* message) : m_message(message ? message : "") {}

CPdfException::CPdfException(std::string message) : m_message(std::move(message)) {}

CPdfException::~CPdfException() = default;

const char* CPdfException::message() const { return m_message.c_str(); }

CPdfException CPdfException::formatted(const char* format, const std::string& argument)
{
    // Sized to the argument: long paths are reported in full.
    int needed = std::snprintf(nullptr, 0, format, argument.c_str());
    if (needed < 0)
        return CPdfException(format);
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), format, argument.c_str());
    return CPdfException(std::string(text.data(), static_cast<size_t>(needed)));
}
