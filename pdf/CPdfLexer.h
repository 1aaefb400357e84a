#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CPdfObject;
class CPdfStream;

namespace pdfsyntax {

enum ECharClass : uint8_t { REGULAR = 0, WHITESPACE = 1, DELIMITER = 2 };

// Our own table, so classification never depends on the C locale.
struct CCharClassTable {
    uint8_t classes[256] = {};
    // The bytes that matter when skipping containers: comment, string and bracket starts.
    bool containerSyntax[256] = {};
    constexpr CCharClassTable()
    {
        for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20})
            classes[c] = WHITESPACE;
        for (char c : {'%', '(', ')', '/', '<', '>', '[', ']', '{', '}'})
            classes[static_cast<uint8_t>(c)] = DELIMITER;
        for (char c : {'%', '(', '<', '>', '[', ']'})
            containerSyntax[static_cast<uint8_t>(c)] = true;
    }
};
inline constexpr CCharClassTable kCharClasses;

} // namespace pdfsyntax

// Turns the bytes of one stream into tokens: booleans, numbers, strings,
// names, null, keywords and delimiters, error tokens and end of input.
class CPdfLexer {
public:
    // Takes over the caller's reference to `stream`.
    explicit CPdfLexer(CPdfStream* stream);
    ~CPdfLexer();
    CPdfLexer(const CPdfLexer&) = delete;
    CPdfLexer& operator=(const CPdfLexer&) = delete;

    // Strings keep their NUL bytes (CPdfObject::setStringBytes) from the next
    // token on: for binary values such as an encryption dictionary's keys.
    void setKeepStringBytes(bool keep) { m_keepStringBytes = keep; }

    int readChar();
    void readToken(CPdfObject& out);
    // Where the last token read stands: the stream positions of its first
    // byte and of the byte after it (both the position of the end of the
    // input for PDF_EOF).
    int64_t tokenBegin() const { return m_tokenBegin; }
    int64_t tokenEnd() const { return m_tokenEnd; }
    // Consumes bytes until `depth` open arrays and dictionaries are closed,
    // by the token rules (strings, hex strings and comments hide their
    // brackets) but without making tokens. False when the input ends first.
    bool skipOpenContainers(int depth);
    CPdfStream* stream() const { return m_stream; }

    // The values number tokens have: a sign may lead, integers saturate to
    // 32 bits, and a real is the longest valid prefix of its text.
    static int integerValue(std::string_view text);
    static double realValue(std::string_view text);

    // -1 (the end of the input) is in no class.
    static constexpr bool isWhitespace(int c) { return c >= 0 && pdfsyntax::kCharClasses.classes[c] == pdfsyntax::WHITESPACE; }
    static constexpr bool isDelimiter(int c) { return c >= 0 && pdfsyntax::kCharClasses.classes[c] == pdfsyntax::DELIMITER; }
    static constexpr bool isRegular(int c) { return c >= 0 && pdfsyntax::kCharClasses.classes[c] == pdfsyntax::REGULAR; }
    // The value of a hex digit of either case, or -1 for any other byte.
    static constexpr int hexDigitValue(int c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    }

private:
    void readTokenValue(CPdfObject& out);
    // Consumes a comment's bytes after its '%', up to the line end.
    void skipComment();
    void readLiteralString(CPdfObject& out);
    void readNumber(int first, CPdfObject& out);
    void readName(CPdfObject& out);
    void readHexString(CPdfObject& out);
    void readKeyword(int first, CPdfObject& out);
    // Appends to m_buffer and consumes the buffered bytes `accept` takes, up
    // to the first it refuses or the end of the buffer.
    template <class Accept>
    void scanBuffered(Accept accept);

    CPdfStream* m_stream;
    std::string m_buffer; // reused for every token's text
    int64_t m_tokenBegin = 0;
    int64_t m_tokenEnd = 0;
    bool m_keepStringBytes = false;
};
