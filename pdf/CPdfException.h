#pragma once

#include <string>

// The one exception type of the program. Its message is printed verbatim by
// the entry point, so every message carries its own line breaks.
class CPdfException {
public:
    explicit CPdfException(const char* message);
    explicit CPdfException(std::string message);
    CPdfException(const CPdfException&) = default;
    CPdfException& operator=(const CPdfException&) = default;
    virtual ~CPdfException();

    // The message text; empty when there is none.
    virtual const char* message() const;

    // Builds an exception from a printf-style format, e.g. a message naming a path.
    static CPdfException formatted(const char* format, const std::string& argument);

private:
    std::string m_message;
};
