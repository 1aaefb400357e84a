#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One object's text while it is edited: insertions at positions found by
// byte search. Positions count from the first byte.
class CObjectText {
public:
    CObjectText() = default;
    explicit CObjectText(std::string text) : m_bytes(std::move(text)) {}

    // Start of the first occurrence of `pattern` at or after `position`; end() when none.
    size_t findFrom(std::string_view pattern, size_t position) const;
    // Inserts before the byte at `position` (at most end()); later positions move back.
    void insertText(size_t position, std::string_view bytes);

    size_t end() const { return m_bytes.size(); }
    size_t length() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    char at(size_t position) const { return m_bytes[position]; }
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};
