#include "pdf/CPdfLexer.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"

namespace {

using pdfsyntax::kCharClasses;
using pdfsyntax::REGULAR;

// Regular bytes end names and keywords; '#' starts an escape in a name.
bool isPlainNameByte(uint8_t c) { return kCharClasses.classes[c] == REGULAR && c != '#'; }
bool isKeywordByte(uint8_t c) { return kCharClasses.classes[c] == REGULAR; }
bool isNumberByte(uint8_t c) { return (c >= '0' && c <= '9') || c == '.'; }

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// atoi of "[+-]?digits", saturated to the 32-bit range instead of overflowing.
int parseInteger(std::string_view text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && isDigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1)
            value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// strtod's longest valid prefix of "[+-]?digits.digits"; 0.0 when there is none.
double parseReal(std::string_view text)
{
    double value = 0.0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin < end && *begin == '+')
        ++begin; // from_chars takes no plus sign
    auto result = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large (a non-zero digit before the point) or too small to hold.
        bool negative = begin < end && *begin == '-';
        for (const char* p = begin; p < end && *p != '.'; ++p)
            if (*p >= '1' && *p <= '9')
                return negative ? -1e308 : 1e308;
        return 0.0;
    }
    if (result.ec != std::errc())
        return 0.0;
    return value;
}

} // namespace

CPdfLexer::CPdfLexer(CPdfStream* stream) : m_stream(stream) {}

CPdfLexer::~CPdfLexer()
{
    if (m_stream)
        m_stream->release();
}

int CPdfLexer::integerValue(std::string_view text) { return parseInteger(text); }
double CPdfLexer::realValue(std::string_view text) { return parseReal(text); }

int CPdfLexer::readChar() { return m_stream->readChar(); }

void CPdfLexer::readToken(CPdfObject& out)
{
    readTokenValue(out);
    m_tokenEnd = m_stream->tellPos();
}

void CPdfLexer::readTokenValue(CPdfObject& out)
{
    int c;
    for (;;) {
        c = m_stream->readChar();
        if (c < 0) {
            m_tokenBegin = m_stream->tellPos();
            out.setEof();
            return;
        }
        if (c == '%') {
            skipComment();
            continue;
        }
        if (!isWhitespace(c))
            break;
    }
    m_tokenBegin = m_stream->tellPos() - 1;

    switch (c) {
    case '(':
        readLiteralString(out);
        return;
    case ')':
    case '{':
    case '}':
        out.setError();
        return;
    case '/':
        readName(out);
        return;
    case '<':
        if (m_stream->peekChar() == '<') {
            m_stream->readChar();
            out.setText(PDF_CMD, "<<", 2);
        } else {
            readHexString(out);
        }
        return;
    case '>':
        if (m_stream->peekChar() == '>') {
            m_stream->readChar();
            out.setText(PDF_CMD, ">>", 2);
        } else {
            out.setError();
        }
        return;
    case '[':
        out.setText(PDF_CMD, "[", 1);
        return;
    case ']':
        out.setText(PDF_CMD, "]", 1);
        return;
    default:
        break;
    }
    if (c == '-' || c == '+' || c == '.' || isDigit(c))
        readNumber(c, out);
    else
        readKeyword(c, out);
}

void CPdfLexer::skipComment()
{
    int c;
    do {
        c = m_stream->readChar();
    } while (c >= 0 && c != '\r' && c != '\n');
}

bool CPdfLexer::skipOpenContainers(int depth)
{
    while (depth > 0) {
        // Bytes that open or close nothing are passed over in place.
        const uint8_t* p = m_stream->bufferedBegin();
        const uint8_t* end = m_stream->bufferedEnd();
        while (p < end && !kCharClasses.containerSyntax[*p])
            ++p;
        m_stream->skipBufferedTo(p);
        int c = m_stream->readChar();
        switch (c) {
        case -1:
            return false;
        case '%':
            skipComment();
            break;
        case '(':
            for (int nesting = 1; nesting > 0;) {
                c = m_stream->readChar();
                if (c < 0)
                    return false;
                if (c == '\\')
                    m_stream->readChar();
                else if (c == '(')
                    ++nesting;
                else if (c == ')')
                    --nesting;
            }
            break;
        case '<':
            if (m_stream->peekChar() == '<') {
                m_stream->readChar();
                ++depth;
            } else {
                do {
                    c = m_stream->readChar();
                } while (c >= 0 && c != '>');
            }
            break;
        case '>':
            if (m_stream->peekChar() == '>') {
                m_stream->readChar();
                --depth;
            }
            break;
        case '[':
            ++depth;
            break;
        case ']':
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

void CPdfLexer::readLiteralString(CPdfObject& out)
{
    m_buffer.clear();
    int depth = 1;
    for (;;) {
        int c = m_stream->readChar();
        if (c < 0)
            break;
        if (c == '(') {
            ++depth;
            m_buffer += '(';
        } else if (c == ')') {
            if (--depth == 0)
                break;
            m_buffer += ')';
        } else if (c == '\\') {
            c = m_stream->readChar();
            if (c < 0)
                break;
            switch (c) {
            case '\n':
                break; // line continuation
            case '\r':
                if (m_stream->peekChar() == '\n')
                    m_stream->readChar();
                break;
            case 'n':
                m_buffer += '\n';
                break;
            case 'r':
                m_buffer += '\r';
                break;
            case 't':
                m_buffer += '\t';
                break;
            case 'b':
                m_buffer += '\b';
                break;
            case 'f':
                m_buffer += '\f';
                break;
            default:
                if (c >= '0' && c <= '7') {
                    int value = c - '0';
                    for (int digits = 1; digits < 3; ++digits) {
                        int next = m_stream->peekChar();
                        if (next < '0' || next > '7')
                            break;
                        m_stream->readChar();
                        value = value * 8 + (next - '0');
                    }
                    m_buffer += static_cast<char>(value & 0xFF);
                } else {
                    m_buffer += static_cast<char>(c);
                }
                break;
            }
        } else {
            m_buffer += static_cast<char>(c);
        }
    }
    if (m_keepStringBytes)
        out.setStringBytes(m_buffer.data(), m_buffer.size());
    else
        out.setText(PDF_STRING, m_buffer.data(), m_buffer.size());
}

template <class Accept>
void CPdfLexer::scanBuffered(Accept accept)
{
    const uint8_t* begin = m_stream->bufferedBegin();
    const uint8_t* end = m_stream->bufferedEnd();
    const uint8_t* p = begin;
    while (p < end && accept(*p))
        ++p;
    m_buffer.append(reinterpret_cast<const char*>(begin), static_cast<size_t>(p - begin));
    m_stream->skipBufferedTo(p);
}

void CPdfLexer::readNumber(int first, CPdfObject& out)
{
    m_buffer.clear();
    m_buffer.push_back(static_cast<char>(first));
    scanBuffered(isNumberByte);
    for (;;) {
        int c = m_stream->peekChar();
        if (c != '.' && !isDigit(c))
            break;
        m_stream->readChar();
        m_buffer += static_cast<char>(c);
        scanBuffered(isNumberByte);
    }
    if (m_buffer.find('.') != std::string::npos)
        out.setReal(parseReal(m_buffer));
    else
        out.setInt(parseInteger(m_buffer));
}

void CPdfLexer::readName(CPdfObject& out)
{
    m_buffer.clear();
    for (;;) {
        scanBuffered(isPlainNameByte);
        int c = m_stream->peekChar();
        if (!isRegular(c))
            break;
        m_stream->readChar();
        if (c == '#' && hexDigitValue(m_stream->peekChar()) >= 0) {
            int high = hexDigitValue(m_stream->readChar());
            // The second byte is consumed whatever it is.
            int low = hexDigitValue(m_stream->readChar());
            m_buffer += static_cast<char>(high * 16 + (low >= 0 ? low : 0));
        } else {
            m_buffer += static_cast<char>(c);
        }
    }
    out.setText(PDF_NAME, m_buffer.data(), m_buffer.size());
}

void CPdfLexer::readHexString(CPdfObject& out)
{
    m_buffer.clear();
    int high = -1;
    for (;;) {
        int c = m_stream->readChar();
        if (c < 0 || c == '>')
            break;
        if (isWhitespace(c))
            continue;
        int digit = hexDigitValue(c);
        if (digit < 0)
            digit = 0;
        if (high < 0) {
            high = digit;
        } else {
            m_buffer += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0)
        m_buffer += static_cast<char>(high * 16);
    if (m_keepStringBytes)
        out.setStringBytes(m_buffer.data(), m_buffer.size());
    else
        out.setText(PDF_STRING, m_buffer.data(), m_buffer.size());
}

void CPdfLexer::readKeyword(int first, CPdfObject& out)
{
    m_buffer.clear();
    m_buffer.push_back(static_cast<char>(first));
    scanBuffered(isKeywordByte);
    for (;;) {
        int c = m_stream->peekChar();
        if (!isRegular(c))
            break;
        m_stream->readChar();
        m_buffer += static_cast<char>(c);
        scanBuffered(isKeywordByte);
    }
    // Most keywords are operators and short keywords: test the length first.
    const size_t length = m_buffer.size();
    if (length == 4 && std::memcmp(m_buffer.data(), "true", 4) == 0)
        out.setBool(true);
    else if (length == 5 && std::memcmp(m_buffer.data(), "false", 5) == 0)
        out.setBool(false);
    else if (length == 4 && std::memcmp(m_buffer.data(), "null", 4) == 0)
        out.setNull();
    else
        out.setText(PDF_CMD, m_buffer.data(), m_buffer.size());
}
