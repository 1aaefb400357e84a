#pragma once

#include <string>

class CPdfObject;
class CPdfStream;

// Turns the bytes of one stream into tokens: booleans, numbers, strings,
// names, null, keywords and delimiters, error tokens and end of input.
class CPdfLexer {
public:
    // Takes over the caller's reference to `stream`.
    explicit CPdfLexer(CPdfStream* stream);
    ~CPdfLexer();
    CPdfLexer(const CPdfLexer&) = delete;
    CPdfLexer& operator=(const CPdfLexer&) = delete;

    int readChar();
    int peekChar();
    // Consumes bytes up to and including the next CR, LF or CR LF.
    void skipToLineEnd();
    void readToken(CPdfObject& out);
    // Consumes bytes until `depth` open arrays and dictionaries are closed,
    // by the token rules (strings, hex strings and comments hide their
    // brackets) but without making tokens. False when the input ends first.
    bool skipOpenContainers(int depth);
    CPdfStream* stream() const { return m_stream; }

    static bool isWhitespace(int c);
    static bool isDelimiter(int c);
    static bool isRegular(int c);

private:
    // Consumes a comment's bytes after its '%', up to the line end.
    void skipComment();
    void readLiteralString(CPdfObject& out);
    void readNumber(int first, CPdfObject& out);
    void readName(CPdfObject& out);
    void readHexString(CPdfObject& out);
    void readKeyword(int first, CPdfObject& out);

    CPdfStream* m_stream;
    std::string m_buffer; // reused for every token's text
};
