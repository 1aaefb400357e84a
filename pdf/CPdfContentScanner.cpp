#include "pdf/CPdfContentScanner.h"

#include <algorithm>
#include <cstring>

#include "pdf/CPdfLexer.h"

CContentEffect CContentEffect::then(const CContentEffect& next) const
{
    CContentEffect both;
    both.lowest = std::min(lowest, depth + next.lowest);
    both.depth = depth + next.depth;
    both.text = next.text == TEXT_AS_BEFORE ? text : next.text;
    return both;
}

namespace {

// Whether one of the eight bytes at `p` is a backslash or a parenthesis:
// each is compared in place, a word at a time.
bool holdsStringSyntax(const uint8_t* p)
{
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    auto holds = [word](uint8_t byte) {
        const uint64_t x = word ^ (kOnes * byte);
        return (x - kOnes) & ~x & kHighs; // a byte of x is zero
    };
    return (holds('\\') | holds('(') | holds(')')) != 0;
}

} // namespace

void CPdfContentScanner::endToken()
{
    m_state = NORMAL;
    const size_t length = m_tokenLength;
    m_tokenLength = 0;
    if (length > 2)
        return;
    const char a = m_token[0], b = length == 2 ? m_token[1] : '\0';
    if (length == 1 && a == 'q') {
        ++m_effect.depth;
    } else if (length == 1 && a == 'Q') {
        --m_effect.depth;
        m_effect.lowest = std::min(m_effect.lowest, m_effect.depth);
    } else if (a == 'B' && b == 'T') {
        m_effect.text = CContentEffect::TEXT_OPEN;
    } else if (a == 'E' && b == 'T') {
        m_effect.text = CContentEffect::TEXT_CLOSED;
    } else if (a == 'B' && b == 'I') {
        m_inImageDictionary = true;
    } else if (a == 'I' && b == 'D' && m_inImageDictionary) {
        m_inImageDictionary = false;
        m_state = IMAGE_SPACE;
    }
}

void CPdfContentScanner::endTokenAt(const uint8_t*& p)
{
    endToken();
    // The byte that ended it: the one white-space byte after ID belongs to
    // the image, anything else is read again.
    if (m_state == IMAGE_SPACE && CPdfLexer::isWhitespace(*p)) {
        m_state = IMAGE_DATA;
        m_imageMatch = 1;
        ++p;
    } else if (m_state == IMAGE_SPACE) {
        m_state = IMAGE_DATA;
        m_imageMatch = 0;
    }
}

void CPdfContentScanner::scan(const uint8_t* bytes, size_t count)
{
    const uint8_t* p = bytes;
    const uint8_t* const end = bytes + count;
    while (p < end) {
        const uint8_t c = *p;
        switch (m_state) {
        case NORMAL:
            if (CPdfLexer::isWhitespace(c)) {
                ++p;
                break;
            }
            if (CPdfLexer::isRegular(c)) {
                // Most content is numbers and short operators between blanks:
                // whole tokens are read here, and only one cut by the end of
                // the piece goes on in TOKEN.
                const uint8_t* start = p;
                do
                    ++p;
                while (p < end && CPdfLexer::isRegular(*p));
                const size_t length = static_cast<size_t>(p - start);
                for (size_t i = 0; i < length && i < kTokenKeep; ++i)
                    m_token[i] = static_cast<char>(start[i]);
                m_tokenLength = length;
                m_state = TOKEN;
                if (p < end && length <= 2) {
                    endTokenAt(p);
                } else if (p < end) {
                    m_state = NORMAL;
                    m_tokenLength = 0;
                }
                break;
            }
            if (c == '/') {
                m_state = NAME;
            } else if (c == '%') {
                m_state = COMMENT;
            } else if (c == '(') {
                m_state = STRING;
                m_nesting = 1;
            } else if (c == '<') {
                m_state = LESS;
            }
            ++p;
            break;
        case TOKEN:
            // Most tokens are numbers and names of operators: run to their end.
            while (p < end && CPdfLexer::isRegular(*p)) {
                if (m_tokenLength < kTokenKeep)
                    m_token[m_tokenLength] = static_cast<char>(*p);
                ++m_tokenLength;
                ++p;
            }
            if (p < end)
                endTokenAt(p);
            break;
        case NAME:
            while (p < end && CPdfLexer::isRegular(*p))
                ++p;
            if (p < end)
                m_state = NORMAL;
            break;
        case COMMENT: {
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
            if (p < end)
                m_state = NORMAL;
            break;
        }
        case STRING:
            // Text strings are most of a text page: run to the next byte that
            // matters, eight bytes at a time where none of them does.
            while (end - p >= 8 && !holdsStringSyntax(p))
                p += 8;
            while (p < end && *p != '\\' && *p != '(' && *p != ')')
                ++p;
            if (p == end)
                break;
            if (*p == '\\')
                m_state = STRING_ESCAPE;
            else if (*p == '(')
                ++m_nesting;
            else if (--m_nesting == 0)
                m_state = NORMAL;
            ++p;
            break;
        case STRING_ESCAPE:
            m_state = STRING;
            ++p;
            break;
        case LESS:
            m_state = c == '<' ? NORMAL : HEX;
            if (c == '<')
                ++p;
            break;
        case HEX: {
            const void* close = std::memchr(p, '>', static_cast<size_t>(end - p));
            if (!close) {
                p = end;
            } else {
                p = static_cast<const uint8_t*>(close) + 1;
                m_state = NORMAL;
            }
            break;
        }
        case IMAGE_SPACE:
            m_state = IMAGE_DATA;
            m_imageMatch = CPdfLexer::isWhitespace(c) ? 1 : 0;
            ++p;
            break;
        case IMAGE_DATA:
            // The data ends at white space, "EI", and a byte that ends a token.
            if (m_imageMatch == 3) {
                if (CPdfLexer::isWhitespace(c) || CPdfLexer::isDelimiter(c)) {
                    m_state = NORMAL;
                    break; // the byte is read again as content
                }
                m_imageMatch = 0;
            }
            if (m_imageMatch == 1 && c == 'E')
                m_imageMatch = 2;
            else if (m_imageMatch == 2 && c == 'I')
                m_imageMatch = 3;
            else
                m_imageMatch = CPdfLexer::isWhitespace(c) ? 1 : 0;
            ++p;
            break;
        }
    }
}

CContentEffect CPdfContentScanner::finish()
{
    if (m_state == TOKEN)
        endToken();
    m_state = NORMAL;
    m_tokenLength = 0;
    m_inImageDictionary = false;
    const CContentEffect effect = m_effect;
    m_effect = CContentEffect();
    return effect;
}
