#include "pdf/CPdfException.h"

#include <cstdio>
#include <vector>

CPdfException::CPdfException(const char* message) : m_message(message ? message : "") {}

CPdfException::CPdfException(std::string message) : m_message(std::move(message)) {}

CPdfException::CPdfException(EKind kind, std::string message, std::optional<int> object, std::optional<int64_t> offset)
    : m_kind(kind), m_message(std::move(message)), m_object(object), m_offset(offset)
{
}

CPdfException::~CPdfException() = default;

const char* CPdfException::message() const { return m_message.c_str(); }

CPdfException CPdfException::at(std::optional<int> object, std::optional<int64_t> offset) const
{
    CPdfException placed = *this;
    if (!placed.m_object)
        placed.m_object = object;
    if (!placed.m_offset)
        placed.m_offset = offset;
    return placed;
}

CPdfException CPdfException::formatted(const char* format, const std::string& argument)
{
    return formatted(EKind::InputError, format, argument);
}

CPdfException CPdfException::formatted(EKind kind, const char* format, const std::string& argument)
{
    // Sized to the argument: long paths are reported in full.
    int needed = std::snprintf(nullptr, 0, format, argument.c_str());
    if (needed < 0)
        return CPdfException(kind, format);
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), format, argument.c_str());
    return CPdfException(kind, std::string(text.data(), static_cast<size_t>(needed)));
}
