#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"

#include <algorithm>
#include <string>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfLexer.h"

namespace {

enum ETokenKind : uint8_t { END, NAME, NUMBER, OPEN_DICT, CLOSE_DICT, OPEN_ARRAY, CLOSE_ARRAY, KEYWORD, UNSUPPORTED };

struct CToken {
    size_t begin = 0;     // first byte of the token
    size_t end = 0;       // just after it
    ETokenKind kind = END;
    bool integer = false; // a number without a point
    CToken() = default;
    CToken(ETokenKind k, size_t b, size_t e, bool i = false) : begin(b), end(e), kind(k), integer(i) {}
};

// Deeper nesting is left to the parser, which has its own limit.
constexpr int kMaxDepth = 64;

// The lexer's byte classes, and what the scan needs besides.
enum EByte : uint8_t { BLANK = 1, REGULAR_BYTE = 2, NUMBER_BYTE = 4, ESCAPE = 8, PLAIN_NAME_BYTE = 16 };
struct CByteTable {
    uint8_t flags[256] = {};
    constexpr CByteTable()
    {
        for (int c = 0; c < 256; ++c) {
            if (CPdfLexer::isWhitespace(c))
                flags[c] |= BLANK;
            if (CPdfLexer::isRegular(c))
                flags[c] |= REGULAR_BYTE | PLAIN_NAME_BYTE;
        }
        for (int c = '0'; c <= '9'; ++c)
            flags[c] |= NUMBER_BYTE;
        flags[static_cast<unsigned char>('.')] |= NUMBER_BYTE;
        flags[static_cast<unsigned char>('#')] |= ESCAPE;
        flags[static_cast<unsigned char>('#')] &= static_cast<uint8_t>(~PLAIN_NAME_BYTE);
    }
};
constexpr CByteTable kBytes;

bool has(unsigned char c, uint8_t flag) { return (kBytes.flags[c] & flag) != 0; }

// The token at `position`, by the lexer's rules for the syntax we accept.
// Inlined where tokens are read: it runs for every token of every head.
[[gnu::always_inline]] inline CToken nextToken(std::string_view text, size_t position)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    while (position < size && has(data[position], BLANK))
        ++position;
    if (position >= size)
        return {END, position, position};
    const unsigned char c = data[position];
    size_t end = position + 1;
    switch (c) {
    case '/':
        while (end < size && has(data[end], PLAIN_NAME_BYTE))
            ++end;
        if (end < size && has(data[end], ESCAPE))
            return {UNSUPPORTED, position, end}; // an escape: the lexer decodes it
        return {NAME, position, end};
    case '<':
    case '>':
        // "<" alone starts a hex string and ">" alone is an error.
        if (end < size && data[end] == c)
            return {c == '<' ? OPEN_DICT : CLOSE_DICT, position, end + 1};
        return {UNSUPPORTED, position, end};
    case '[':
        return {OPEN_ARRAY, position, end};
    case ']':
        return {CLOSE_ARRAY, position, end};
    default:
        break;
    }
    if (!has(c, REGULAR_BYTE))
        return {UNSUPPORTED, position, end}; // strings, comments, procedures
    if (c == '-' || c == '+' || has(c, NUMBER_BYTE)) {
        bool point = c == '.';
        for (; end < size && has(data[end], NUMBER_BYTE); ++end)
            point |= data[end] == '.';
        // "12R" lexes as a number and a keyword: rare enough to leave to the parser.
        if (end < size && has(data[end], REGULAR_BYTE))
            return {UNSUPPORTED, position, end};
        return {NUMBER, position, end, !point};
    }
    while (end < size && has(data[end], REGULAR_BYTE))
        ++end;
    return {KEYWORD, position, end};
}

std::string_view tokenText(std::string_view text, const CToken& token)
{
    return text.substr(token.begin, token.end - token.begin);
}

// Finds the end of the container opening at `open` by its brackets alone,
// as the parser skips a container it does not keep. The brackets must pair
// up by kind, so that a parse of the contents ends at the same place, and
// nothing may hide a bracket: strings, hex strings and comments stop the scan.
bool skipContainer(std::string_view text, size_t open, int depth, size_t& end)
{
    struct Table {
        bool syntax[256] = {};
        constexpr Table()
        {
            for (char c : {'(', ')', '%', '{', '}', '<', '>', '[', ']'})
                syntax[static_cast<unsigned char>(c)] = true;
        }
    };
    static constexpr Table kTable;
    char closers[kMaxDepth]; // the kind of each open container, innermost last: ']' or '>'
    int openCount = 0;
    size_t p = open;
    const size_t size = text.size();
    do {
        while (p < size && !kTable.syntax[static_cast<unsigned char>(text[p])])
            ++p;
        if (p >= size)
            return false;
        const char c = text[p];
        if ((c == '<' || c == '>') && (p + 1 >= size || text[p + 1] != c))
            return false;
        if (c == '<' || c == '[') {
            if (depth + openCount >= kMaxDepth)
                return false;
            closers[openCount++] = c == '<' ? '>' : ']';
        } else if (c == '>' || c == ']') {
            if (closers[openCount - 1] != c)
                return false;
            --openCount;
        } else {
            return false;
        }
        p += c == '<' || c == '>' ? 2 : 1;
    } while (openCount > 0);
    end = p;
    return true;
}

bool isInteger(const CToken& token) { return token.kind == NUMBER && token.integer; }
bool isKeyword(std::string_view text, const CToken& token, std::string_view word)
{
    return token.kind == KEYWORD && tokenText(text, token) == word;
}
bool isR(std::string_view text, const CToken& token)
{
    return token.kind == KEYWORD && token.end == token.begin + 1 && text[token.begin] == 'R';
}

// The value of an integer token ("[+-]?digits", no point), as
// CPdfLexer::integerValue gives it: saturated to 32 bits.
int integerOf(std::string_view text, const CToken& token)
{
    size_t i = token.begin;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+')
        negative = text[i++] == '-';
    // Ten digits always fit; longer numbers take the lexer's saturating path.
    if (token.end - i > 9)
        return CPdfLexer::integerValue(tokenText(text, token));
    int value = 0;
    for (; i < token.end; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

// The tokens of a text in order, each read once however often it is looked
// at: "N G R" is told from a number by looking two tokens ahead.
class CTokens {
public:
    CTokens(std::string_view text, size_t position) : m_text(text), m_end(position), m_scanned(position) {}

    std::string_view text() const { return m_text; }
    // Just after the last token taken.
    size_t position() const { return m_end; }
    // The token `ahead` (0 or 1) places after the last one taken.
    const CToken& peek(int ahead)
    {
        while (m_count <= ahead) {
            m_ahead[m_count] = nextToken(m_text, m_scanned);
            m_scanned = m_ahead[m_count++].end;
        }
        return m_ahead[ahead];
    }
    CToken take()
    {
        const CToken token = peek(0);
        m_ahead[0] = m_ahead[1];
        --m_count;
        m_end = token.end;
        return token;
    }
    // Continues after `position` (the end of a container passed over).
    void moveTo(size_t position) { m_end = m_scanned = position, m_count = 0; }
    // Whether tokens after the last one taken were read already.
    bool readAhead() const { return m_count > 0; }

private:
    std::string_view m_text;
    size_t m_end;     // after the last token taken
    size_t m_scanned; // after the last token read
    CToken m_ahead[2];
    int m_count = 0;  // tokens read but not taken
};

enum class ERefTail { Ref, NoRef, Unknown };

// Whether " G R" follows an integer ending at `position`, read straight
// from the bytes in the usual layout (a generation of digits, then R); the
// token reader decides anything else (Unknown). `after` is set past the R.
ERefTail refTail(std::string_view text, size_t position, size_t& after)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t p = position;
    while (p < size && has(data[p], BLANK))
        ++p;
    if (p == size || !has(data[p], REGULAR_BYTE))
        return ERefTail::NoRef; // a delimiter or the end: no number follows
    if (data[p] < '0' || data[p] > '9')
        return data[p] == '+' || data[p] == '-' || data[p] == '.' ? ERefTail::Unknown : ERefTail::NoRef;
    while (p < size && data[p] >= '0' && data[p] <= '9')
        ++p;
    if (p < size && has(data[p], REGULAR_BYTE))
        return ERefTail::Unknown; // a real, or a token the reader refuses
    while (p < size && has(data[p], BLANK))
        ++p;
    if (p == size || data[p] != 'R')
        return p < size && has(data[p], REGULAR_BYTE) ? ERefTail::Unknown : ERefTail::NoRef;
    if (p + 1 < size && has(data[p + 1], REGULAR_BYTE))
        return ERefTail::Unknown; // a keyword that only starts with R
    after = p + 1;
    return ERefTail::Ref;
}

// Reads one value (after a key, or as a container's item): a name, a
// number, a reference, or a container whose contents are values in turn.
// Sets the value's kind and span in `value`; false for anything else.
bool scanValue(CTokens& tokens, int depth, CPdfEntryLayout& value)
{
    const CToken token = tokens.take();
    value.valueBegin = static_cast<int64_t>(token.begin);
    switch (token.kind) {
    case NAME:
        value.type = PDF_NAME;
        break;
    case NUMBER:
        if (!isInteger(token)) {
            value.type = PDF_REAL;
            break;
        }
        value.type = PDF_INT;
        // "N G R" is one value: a reference.
        if (!tokens.readAhead()) {
            size_t after = 0;
            const ERefTail tail = refTail(tokens.text(), token.end, after);
            if (tail == ERefTail::NoRef)
                break;
            if (tail == ERefTail::Ref) {
                // The generation is the digits between the number and R.
                CToken generation = nextToken(tokens.text(), token.end);
                tokens.moveTo(after);
                value.type = PDF_REF;
                value.num = integerOf(tokens.text(), token);
                value.gen = integerOf(tokens.text(), generation);
                break;
            }
        }
        if (isInteger(tokens.peek(0)) && isR(tokens.text(), tokens.peek(1))) {
            const CToken generation = tokens.take();
            tokens.take();
            value.type = PDF_REF;
            value.num = integerOf(tokens.text(), token);
            value.gen = integerOf(tokens.text(), generation);
        }
        break;
    case OPEN_ARRAY:
    case OPEN_DICT: {
        size_t end = 0;
        if (!skipContainer(tokens.text(), token.begin, depth, end))
            return false;
        value.type = token.kind == OPEN_ARRAY ? PDF_ARRAY : PDF_DICT;
        tokens.moveTo(end);
        break;
    }
    default:
        return false;
    }
    value.valueEnd = static_cast<int64_t>(tokens.position());
    return true;
}

// Scans the dictionary whose "<<" is the next token into `layout`; the
// tokens then stand just after its ">>".
bool scanDictionaryAt(CTokens& tokens, CPdfDictLayout& layout)
{
    layout.clear();
    const CToken open = tokens.take();
    if (open.kind != OPEN_DICT)
        return false;
    layout.open = static_cast<int64_t>(open.begin);
    // Room for most dictionaries' entries, in a block small enough for the
    // allocator's per-thread cache: most layouts are made afresh.
    layout.entries.reserve(8);
    for (;;) {
        const CToken key = tokens.take();
        if (key.kind == CLOSE_DICT) {
            layout.close = static_cast<int64_t>(key.begin);
            return true;
        }
        if (key.kind != NAME)
            return false;
        layout.entries.emplace_back();
        CPdfEntryLayout& entry = layout.entries.back();
        // Appended to the new, empty key: the library's assign takes its general path.
        entry.key.append(tokens.text().data() + key.begin + 1, key.end - key.begin - 1);
        entry.keyBegin = static_cast<int64_t>(key.begin);
        entry.keyEnd = static_cast<int64_t>(key.end);
        if (!scanValue(tokens, 1, entry))
            return false;
    }
}

// "N G obj" at the start of the tokens.
bool scanHeader(CTokens& tokens, int& num, int& gen)
{
    const CToken number = tokens.take();
    const CToken generation = tokens.take();
    const CToken obj = tokens.take();
    if (!isInteger(number) || !isInteger(generation) || !isKeyword(tokens.text(), obj, "obj"))
        return false;
    num = integerOf(tokens.text(), number);
    gen = integerOf(tokens.text(), generation);
    return true;
}

} // namespace

bool CPdfDictScanner::scanDictionary(std::string_view text, size_t position, CPdfDictLayout& layout)
{
    CTokens tokens(text, position);
    return scanDictionaryAt(tokens, layout);
}

bool CPdfDictScanner::scanObjectHead(std::string_view text, CPdfObjectHead& head)
{
    head.dict.clear();
    head.keyword.clear();
    head.plain = false;
    CTokens tokens(text, 0);
    if (!scanHeader(tokens, head.num, head.gen))
        return false;
    CPdfEntryLayout value;
    if (tokens.peek(0).kind == OPEN_DICT) {
        if (!scanDictionaryAt(tokens, head.dict))
            return false;
        value.type = PDF_DICT;
        value.valueBegin = head.dict.open;
        value.valueEnd = static_cast<int64_t>(tokens.position());
    } else if (!scanValue(tokens, 0, value)) {
        return false;
    }
    // The parser makes values of true, false and null, not keywords.
    const CToken after = tokens.take();
    const std::string_view keyword = tokenText(text, after);
    if (after.kind != KEYWORD || keyword == "true" || keyword == "false" || keyword == "null")
        return false;
    head.type = value.type;
    head.valueBegin = value.valueBegin;
    head.valueEnd = value.valueEnd;
    head.keyword.append(keyword.data(), keyword.size()); // cleared above
    head.keywordBegin = static_cast<int64_t>(after.begin);
    head.keywordEnd = static_cast<int64_t>(after.end);
    if (value.type == PDF_DICT && keyword == "stream")
        head.dict.streamKeyword = head.keywordBegin;
    head.plain = true;
    return true;
}

namespace {

// Calls visit(part, key) for each part of a value read whole: an array's
// items (the key empty) or a dictionary's entries; nothing for other
// values. False where they are not plain, as far as they were read.
template <class Visit>
bool visitParts(std::string_view text, const CPdfEntryLayout& entry, Visit visit)
{
    CTokens tokens(text, static_cast<size_t>(entry.valueBegin));
    CPdfEntryLayout part;
    if (entry.type == PDF_DICT) {
        if (tokens.take().kind != OPEN_DICT)
            return false;
        for (;;) {
            const CToken key = tokens.take();
            if (key.kind == CLOSE_DICT)
                return true;
            if (key.kind != NAME || !scanValue(tokens, 1, part))
                return false;
            visit(part, text.substr(key.begin + 1, key.end - key.begin - 1));
        }
    }
    if (entry.type == PDF_ARRAY) {
        tokens.take();
        while (tokens.peek(0).kind != CLOSE_ARRAY) {
            if (!scanValue(tokens, 1, part))
                return false;
            visit(part, std::string_view());
        }
    }
    return true;
}

} // namespace

bool CPdfDictScanner::makeValue(std::string_view text, const CPdfEntryLayout& entry, bool whole, CPdfResolver* table,
                                CPdfObject& out)
{
    const std::string_view value =
        text.substr(static_cast<size_t>(entry.valueBegin), static_cast<size_t>(entry.valueEnd - entry.valueBegin));
    switch (entry.type) {
    case PDF_INT:
        out.setInt(CPdfLexer::integerValue(value));
        return true;
    case PDF_REAL:
        out.setReal(CPdfLexer::realValue(value));
        return true;
    case PDF_NAME:
        out.setText(PDF_NAME, value.data() + 1, value.size() - 1);
        return true;
    case PDF_REF:
        out.setRef(entry.num, entry.gen);
        return true;
    case PDF_ARRAY: {
        // Made aside: a value that is not plain leaves `out` as it was.
        CPdfObject made;
        CPdfArray* array = made.setNewArray(table);
        if (whole && !visitParts(text, entry, [&](const CPdfEntryLayout& item, std::string_view) {
                CPdfObject one;
                makeValue(text, item, false, table, one);
                array->appendMoved(std::move(one));
            }))
            return false;
        out = std::move(made);
        return true;
    }
    case PDF_DICT: {
        CPdfObject made;
        CPdfDict* dict = made.setNewDict(table);
        if (whole && !visitParts(text, entry, [&](const CPdfEntryLayout& inner, std::string_view key) {
                CPdfObject one;
                makeValue(text, inner, false, table, one);
                dict->insertMoved(std::string(key), std::move(one));
            }))
            return false;
        out = std::move(made);
        return true;
    }
    default:
        return false;
    }
}

bool CPdfDictScanner::readsWhole(std::string_view text, const CPdfDictLayout& layout,
                                 const std::vector<std::string>& keys)
{
    for (const CPdfEntryLayout& entry : layout.entries)
        if (std::find(keys.begin(), keys.end(), entry.key) != keys.end() &&
            !visitParts(text, entry, [](const CPdfEntryLayout&, std::string_view) {}))
            return false;
    return true;
}

bool CPdfDictScanner::referenceList(std::string_view text, const CPdfEntryLayout& entry,
                                    std::vector<std::pair<int, int>>& refs)
{
    if (entry.type != PDF_ARRAY)
        return false;
    bool all = true;
    const bool plain = visitParts(text, entry, [&](const CPdfEntryLayout& item, std::string_view) {
        if (item.type == PDF_REF)
            refs.emplace_back(item.num, item.gen);
        else
            all = false;
    });
    return plain && all;
}

namespace {

// The items of the array at `begin` in `text` by the lexer's rules, for
// arrays the scanner leaves to the parser (strings, comments): each item's
// kind and where it stands, "N G R" one reference.
bool lexedArrayItems(std::string_view text, int64_t begin, std::vector<CPdfEntryLayout>& items)
{
    if (begin < 0 || static_cast<size_t>(begin) >= text.size())
        return false;
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()) + begin,
                                         text.size() - static_cast<size_t>(begin)));
    CPdfObject token;
    lexer.readToken(token);
    if (!token.isKeyword("["))
        return false;
    for (;;) {
        lexer.readToken(token);
        CPdfEntryLayout item;
        item.type = token.type();
        item.valueBegin = begin + lexer.tokenBegin();
        item.valueEnd = begin + lexer.tokenEnd();
        if (token.type() == PDF_EOF || token.type() == PDF_ERROR)
            return false;
        if (token.isKeyword("]"))
            return true;
        if (token.isKeyword("[") || token.isKeyword("<<")) {
            item.type = token.isKeyword("[") ? PDF_ARRAY : PDF_DICT;
            if (!lexer.skipOpenContainers(1))
                return false;
            item.valueEnd = begin + lexer.stream()->tellPos();
        } else if (token.isKeyword("R") && items.size() >= 2 && items[items.size() - 1].type == PDF_INT &&
                   items[items.size() - 2].type == PDF_INT) {
            CPdfEntryLayout& number = items[items.size() - 2];
            number.type = PDF_REF;
            number.gen = items.back().num;
            number.valueEnd = item.valueEnd;
            items.pop_back();
            continue;
        } else if (token.type() == PDF_CMD) {
            return false; // "]" alone above, ">>" or "}" out of place
        } else if (token.type() == PDF_INT) {
            item.num = token.intValue();
        }
        items.push_back(item);
    }
}

} // namespace

bool CPdfDictScanner::arrayItems(std::string_view text, const CPdfEntryLayout& entry,
                                 std::vector<CPdfEntryLayout>& items)
{
    if (entry.type != PDF_ARRAY)
        return false;
    if (visitParts(text, entry, [&](const CPdfEntryLayout& item, std::string_view) { items.push_back(item); }))
        return true;
    items.clear();
    try {
        return lexedArrayItems(text, entry.valueBegin, items);
    } catch (const CPdfException&) {
        return false;
    }
}

bool CPdfDictScanner::leadingNumbers(std::string_view text, const CPdfEntryLayout& entry, double* values, size_t count)
{
    if (entry.type != PDF_ARRAY)
        return false;
    size_t items = 0;
    bool numbers = true;
    const bool plain = visitParts(text, entry, [&](const CPdfEntryLayout& item, std::string_view) {
        if (items < count) {
            const std::string_view written =
                text.substr(static_cast<size_t>(item.valueBegin), static_cast<size_t>(item.valueEnd - item.valueBegin));
            if (item.type == PDF_INT)
                values[items] = CPdfLexer::integerValue(written);
            else if (item.type == PDF_REAL)
                values[items] = CPdfLexer::realValue(written);
            else
                numbers = false;
        }
        ++items;
    });
    return plain && numbers && items >= count;
}

bool CPdfDictScanner::references(std::string_view text, const CPdfEntryLayout& entry, std::vector<int>& nums)
{
    if (entry.type != PDF_ARRAY)
        return false;
    return visitParts(text, entry, [&](const CPdfEntryLayout& item, std::string_view) {
        if (item.type == PDF_REF)
            nums.push_back(item.num);
    });
}

bool CPdfDictScanner::scanKeyword(std::string_view text, size_t& position, std::string_view& keyword, size_t& begin)
{
    const CToken token = nextToken(text, position);
    if (token.kind == UNSUPPORTED)
        return false;
    keyword = token.kind == KEYWORD ? tokenText(text, token) : std::string_view();
    begin = token.begin;
    position = token.end;
    return true;
}
