#include "pdf/CPdfDictScanner.h"

#include <algorithm>
#include <string>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfLexer.h"

namespace {

enum ETokenKind { END, NAME, NUMBER, OPEN_DICT, CLOSE_DICT, OPEN_ARRAY, CLOSE_ARRAY, KEYWORD, UNSUPPORTED };

struct CToken {
    ETokenKind kind = END;
    std::string_view text; // a name without its slash; a number or keyword as written
    size_t begin = 0;      // first byte of the token
    size_t end = 0;        // just after it
};

// Deeper nesting is left to the parser, which has its own limit.
constexpr int kMaxDepth = 64;

bool isRegularByte(std::string_view text, size_t at)
{
    return at < text.size() && CPdfLexer::isRegular(static_cast<unsigned char>(text[at]));
}

// The token at `position`, by the lexer's rules for the syntax we accept.
CToken nextToken(std::string_view text, size_t position)
{
    while (position < text.size() && CPdfLexer::isWhitespace(static_cast<unsigned char>(text[position])))
        ++position;
    CToken token;
    token.begin = position;
    if (position >= text.size()) {
        token.end = position;
        return token;
    }
    const char c = text[position];
    size_t end = position + 1;
    switch (c) {
    case '/':
        while (isRegularByte(text, end)) {
            if (text[end] == '#')
                return {UNSUPPORTED, {}, position, end}; // an escape: the lexer decodes it
            ++end;
        }
        return {NAME, text.substr(position + 1, end - position - 1), position, end};
    case '<':
    case '>':
        // "<" alone starts a hex string and ">" alone is an error.
        if (end < text.size() && text[end] == c)
            return {c == '<' ? OPEN_DICT : CLOSE_DICT, text.substr(position, 2), position, end + 1};
        return {UNSUPPORTED, {}, position, end};
    case '[':
        return {OPEN_ARRAY, text.substr(position, 1), position, end};
    case ']':
        return {CLOSE_ARRAY, text.substr(position, 1), position, end};
    default:
        break;
    }
    if (!CPdfLexer::isRegular(static_cast<unsigned char>(c)))
        return {UNSUPPORTED, {}, position, end}; // strings, comments, procedures
    ETokenKind kind = KEYWORD;
    if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
        kind = NUMBER;
        while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'))
            ++end;
        // "12R" lexes as a number and a keyword: rare enough to leave to the parser.
        if (isRegularByte(text, end))
            return {UNSUPPORTED, {}, position, end};
    } else {
        while (isRegularByte(text, end))
            ++end;
    }
    return {kind, text.substr(position, end - position), position, end};
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
    std::string closers; // the kind of each open container, innermost last: ']' or '>'
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
            if (depth + static_cast<int>(closers.size()) >= kMaxDepth)
                return false;
            closers += c == '<' ? '>' : ']';
        } else if (c == '>' || c == ']') {
            if (closers.back() != c)
                return false;
            closers.pop_back();
        } else {
            return false;
        }
        p += c == '<' || c == '>' ? 2 : 1;
    } while (!closers.empty());
    end = p;
    return true;
}

bool isInteger(const CToken& token) { return token.kind == NUMBER && token.text.find('.') == std::string_view::npos; }
bool isKeyword(const CToken& token, std::string_view word) { return token.kind == KEYWORD && token.text == word; }

// Reads one value at `position` (after a key, or as a container's item):
// a name, a number, a reference, or a container whose contents are values
// in turn. Sets `value` (containers without their contents) and moves
// `position` past it; false for anything else.
bool scanValue(std::string_view text, size_t& position, int depth, CPdfDictScanner::CEntry& value)
{
    CToken token = nextToken(text, position);
    switch (token.kind) {
    case NAME:
        value.type = PDF_NAME;
        value.text = token.text;
        position = token.end;
        return true;
    case NUMBER: {
        value.text = token.text;
        position = token.end;
        if (!isInteger(token)) {
            value.type = PDF_REAL;
            return true;
        }
        value.type = PDF_INT;
        // "N G R" is one value: a reference.
        CToken generation = nextToken(text, position);
        if (!isInteger(generation))
            return true;
        CToken r = nextToken(text, generation.end);
        if (!isKeyword(r, "R"))
            return true;
        value.type = PDF_REF;
        value.num = CPdfLexer::integerValue(token.text);
        value.gen = CPdfLexer::integerValue(generation.text);
        position = r.end;
        return true;
    }
    case OPEN_ARRAY:
    case OPEN_DICT: {
        size_t end = 0;
        if (!skipContainer(text, token.begin, depth, end))
            return false;
        value.type = token.kind == OPEN_ARRAY ? PDF_ARRAY : PDF_DICT;
        value.text = text.substr(token.begin, end - token.begin);
        position = end;
        return true;
    }
    default:
        return false;
    }
}

// Whether the container `text` (from its opening to its closing bracket) is
// plain all the way down: then a full parse, which reads every level as
// tokens, ends each level where counting brackets does.
bool isPlainContainer(std::string_view text, int depth)
{
    const bool isArray = text.front() == '[';
    size_t position = isArray ? 1 : 2;
    for (;;) {
        CToken next = nextToken(text, position);
        if (next.kind == (isArray ? CLOSE_ARRAY : CLOSE_DICT))
            return next.end == text.size();
        if (!isArray) {
            if (next.kind != NAME)
                return false;
            position = next.end;
        }
        CPdfDictScanner::CEntry item;
        if (!scanValue(text, position, depth + 1, item))
            return false;
        if ((item.type == PDF_ARRAY || item.type == PDF_DICT) && !isPlainContainer(item.text, depth + 1))
            return false;
    }
}

} // namespace

bool CPdfDictScanner::scanDictionary(std::string_view text, size_t& position, std::vector<CEntry>& entries,
                                     bool deep)
{
    entries.clear();
    CToken open = nextToken(text, position);
    if (open.kind != OPEN_DICT)
        return false;
    position = open.end;
    for (;;) {
        CToken key = nextToken(text, position);
        if (key.kind == CLOSE_DICT) {
            position = key.end;
            return true;
        }
        if (key.kind != NAME)
            return false;
        position = key.end;
        CEntry entry;
        entry.key = key.text;
        if (!scanValue(text, position, 1, entry))
            return false;
        if (deep && (entry.type == PDF_ARRAY || entry.type == PDF_DICT) && !isPlainContainer(entry.text, 1))
            return false;
        entries.push_back(entry);
    }
}

bool CPdfDictScanner::scanObject(std::string_view text, int& num, int& gen, bool deep)
{
    CToken number = nextToken(text, 0);
    CToken generation = nextToken(text, number.end);
    CToken obj = nextToken(text, generation.end);
    if (!isInteger(number) || !isInteger(generation) || !isKeyword(obj, "obj"))
        return false;
    size_t position = obj.end;
    if (!scanDictionary(text, position, m_entries, deep))
        return false;
    // A dictionary followed by "stream" is a stream's; a comment could hide that.
    CToken after = nextToken(text, position);
    if (after.kind == UNSUPPORTED || isKeyword(after, "stream"))
        return false;
    num = CPdfLexer::integerValue(number.text);
    gen = CPdfLexer::integerValue(generation.text);
    return true;
}

const CPdfDictScanner::CEntry* CPdfDictScanner::find(std::string_view key) const
{
    for (const CEntry& entry : m_entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

bool CPdfDictScanner::scanWhole(const CEntry& entry, std::vector<CEntry>& parts)
{
    parts.clear();
    size_t position = 0;
    if (entry.type == PDF_DICT)
        return scanDictionary(entry.text, position, parts, false);
    if (entry.type == PDF_ARRAY) {
        position = 1;
        while (nextToken(entry.text, position).kind != CLOSE_ARRAY) {
            CEntry item;
            if (!scanValue(entry.text, position, 1, item))
                return false;
            parts.push_back(item);
        }
    }
    return true;
}

bool CPdfDictScanner::makeValue(const CEntry& entry, bool whole, CPdfResolver* table, CPdfObject& out) const
{
    std::vector<CEntry> parts;
    if (whole && !scanWhole(entry, parts))
        return false;
    switch (entry.type) {
    case PDF_INT:
        out.setInt(CPdfLexer::integerValue(entry.text));
        return true;
    case PDF_REAL:
        out.setReal(CPdfLexer::realValue(entry.text));
        return true;
    case PDF_NAME:
        out.setText(PDF_NAME, entry.text.data(), entry.text.size());
        return true;
    case PDF_REF:
        out.setRef(entry.num, entry.gen);
        return true;
    case PDF_ARRAY: {
        CPdfArray* array = out.setNewArray(table);
        for (const CEntry& item : parts) {
            CPdfObject value;
            makeValue(item, false, table, value);
            array->appendMoved(std::move(value));
        }
        return true;
    }
    case PDF_DICT: {
        CPdfDict* dict = out.setNewDict(table);
        for (const CEntry& inner : parts) {
            CPdfObject value;
            makeValue(inner, false, table, value);
            dict->insertMoved(std::string(inner.key), std::move(value));
        }
        return true;
    }
    default:
        return false;
    }
}

bool CPdfDictScanner::readsWhole(const std::vector<std::string>& keys) const
{
    std::vector<CEntry> parts;
    for (const CEntry& entry : m_entries)
        if (std::find(keys.begin(), keys.end(), entry.key) != keys.end() && !scanWhole(entry, parts))
            return false;
    return true;
}
