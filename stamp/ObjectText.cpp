#include "stamp/ObjectText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "load/CFileSource.h"
#include "load/CPdfMemoryStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"

namespace {

// Where the data of the stream object at `start` ends, by its /Length (which
// may be a reference), or -1 when the object does not read as a stream whose
// data is followed by "endstream". Reads tokens only: no object is built.
int64_t readStreamDataEnd(int64_t start, CXrefTable& xref)
{
    CPdfLexer lexer(xref.mainStream()->openWindow(start, 0, CPdfObject()));
    CPdfObject token;
    auto next = [&]() -> const CPdfObject& {
        lexer.readToken(token);
        return token;
    };
    if (next().type() != PDF_INT || next().type() != PDF_INT || !next().isKeyword("obj") || !next().isKeyword("<<"))
        return -1;

    // The top-level dictionary, key by key; the first /Length counts.
    CPdfObject length, pending;
    bool havePending = false;
    auto take = [&]() -> const CPdfObject& {
        if (havePending) {
            havePending = false;
            token = std::move(pending);
            return token;
        }
        return next();
    };
    for (;;) {
        const CPdfObject& key = take();
        if (key.isKeyword(">>"))
            break;
        if (key.type() == PDF_EOF)
            return -1;
        if (key.type() != PDF_NAME)
            continue;
        const bool isLength = key.textString() == "Length" && length.type() == PDF_NONE;
        const CPdfObject& value = take();
        if (value.isKeyword("<<") || value.isKeyword("[")) {
            if (!lexer.skipOpenContainers(1))
                return -1;
            continue;
        }
        if (value.type() == PDF_INT) {
            // "N G R" is one value: a reference.
            int num = value.intValue();
            CPdfObject generation = next();
            if (generation.type() == PDF_INT) {
                CPdfObject r = next();
                if (r.isKeyword("R")) {
                    if (isLength)
                        length.setRef(num, generation.intValue());
                    continue;
                }
                pending = std::move(r);
                havePending = true;
            } else {
                pending = std::move(generation);
                havePending = true;
            }
            if (isLength)
                length.setInt(num);
            continue;
        }
        if (isLength)
            length.assign(value);
    }
    if (!next().isKeyword("stream"))
        return -1;
    lexer.skipToLineEnd();
    const int64_t data = lexer.stream()->tellPos();

    if (length.type() == PDF_REF) {
        CPdfObject resolved;
        xref.fetchObject(length.refNum(), length.refGen(), resolved);
        length = std::move(resolved);
    }
    if (length.type() != PDF_INT || length.intValue() < 0)
        return -1;
    const int64_t dataEnd = data + length.intValue();
    lexer.stream()->seekPos(dataEnd, SEEK_SET);
    return next().isKeyword("endstream") ? dataEnd : -1;
}

// Whether `text` holds a byte that starts a string, comment, array or
// procedure: one pass over the text with a table.
bool hasNestedSyntax(std::string_view text)
{
    struct Table {
        bool set[256] = {};
        constexpr Table()
        {
            for (char c : {'(', '%', '[', '{'})
                set[static_cast<unsigned char>(c)] = true;
        }
    };
    static constexpr Table kTable;
    for (char c : text)
        if (kTable.set[static_cast<unsigned char>(c)])
            return true;
    return false;
}

bool isPdfSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

// Bytes of the input at `position`: from `head` (the object's first bytes,
// which start at `headStart`) when it holds them, else read.
size_t bytesAt(CFileSource& input, std::string_view head, int64_t headStart, int64_t position, char* target,
               size_t count)
{
    if (position >= headStart && position - headStart + static_cast<int64_t>(count) <= static_cast<int64_t>(head.size())) {
        std::memcpy(target, head.data() + (position - headStart), count);
        return count;
    }
    return input.read(position, target, count);
}

// The same answer as readStreamDataEnd for the common simple dictionary
// ("<< /Length 123 /Filter /FlateDecode >>": one direct /Length, no nested
// dictionary, string or comment), read straight from the bytes: `dict` runs
// from the object's start to its "stream" keyword. -2 when the dictionary is
// not that simple.
int64_t simpleStreamDataEnd(CFileSource& input, std::string_view head, int64_t start, std::string_view dict)
{
    const int64_t streamKeyword = start + static_cast<int64_t>(dict.size());
    const size_t open = dict.find("<<");
    const size_t close = dict.rfind(">>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
        dict.substr(0, open).find("obj") == std::string_view::npos ||
        hasNestedSyntax(dict.substr(open)) || dict.find("<<", open + 2) < close ||
        dict.find(">>", open + 2) != close)
        return -2;
    for (size_t p = close + 2; p < dict.size(); ++p)
        if (!isPdfSpace(dict[p]))
            return -2; // something between the dictionary and "stream"
    // Exactly one /Length key (not /Length1 and the like), followed by a plain number.
    int64_t length = -1;
    for (size_t at = dict.find("/Length", open); at < close; at = dict.find("/Length", at + 1)) {
        size_t p = at + 7;
        if (p < dict.size() && !isPdfSpace(dict[p]) && dict[p] != '/' && dict[p] != '>' && dict[p] != '<')
            continue;
        if (length >= 0)
            return -2;
        while (p < close && isPdfSpace(dict[p]))
            ++p;
        length = 0;
        size_t digits = 0;
        for (; p < close && dict[p] >= '0' && dict[p] <= '9' && digits < 10; ++p, ++digits)
            length = length * 10 + (dict[p] - '0');
        while (p < close && isPdfSpace(dict[p]))
            ++p;
        // A reference ("12 0 R") or anything unusual is left to the token reader.
        if (digits == 0 || (p < close && dict[p] != '/' && dict[p] != '>'))
            return -2;
    }
    if (length < 0)
        return -2;
    // After "stream": one line end, as the parser skips it.
    char after[2] = {0, 0};
    bytesAt(input, head, start, streamKeyword + 6, after, 2);
    int64_t data = streamKeyword + 6;
    if (after[0] == '\r')
        data += after[1] == '\n' ? 2 : 1;
    else if (after[0] == '\n')
        data += 1;
    else
        return -2; // other bytes before the line end: the token reader's rules apply
    const int64_t dataEnd = data + length;
    char tail[64];
    size_t got = bytesAt(input, head, start, dataEnd, tail, sizeof tail);
    if (got < sizeof tail)
        got = input.read(dataEnd, tail, sizeof tail);
    size_t p = 0;
    while (p < got && isPdfSpace(tail[p]))
        ++p;
    if (p + 9 > got || std::string_view(tail + p, 9) != "endstream")
        return -2;
    if (p + 9 < got && !isPdfSpace(tail[p + 9]) && !CPdfLexer::isDelimiter(static_cast<unsigned char>(tail[p + 9])))
        return -2;
    return dataEnd;
}

int64_t streamDataEnd(CFileSource& input, std::string_view head, int64_t start, int64_t streamKeyword,
                      CXrefTable& xref)
{
    int64_t simple = -2;
    if (streamKeyword - start <= static_cast<int64_t>(head.size()))
        simple = simpleStreamDataEnd(input, head, start, head.substr(0, static_cast<size_t>(streamKeyword - start)));
    if (simple != -2)
        return simple;
    try {
        return readStreamDataEnd(start, xref);
    } catch (const CPdfException&) {
        return -1; // a /Length that cannot be fetched: fall back to the first "endobj"
    }
}

// The number an object's text starts with (after white space), or -1.
int64_t leadingNumber(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && CPdfLexer::isWhitespace(static_cast<unsigned char>(text[i])))
        ++i;
    int64_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 12; ++i, ++digits)
        value = value * 10 + (text[i] - '0');
    return digits > 0 ? value : -1;
}

// Whether the object at `start` holds a stream: its "stream" keyword comes
// before its first "endobj". Sets `endobj` to that first "endobj" (or -1)
// and `stream` to the keyword (or -1). Looks in growing slices, so a small
// object costs a small search and a stream's data is never scanned.
bool holdsStream(CFileSource& input, int64_t start, int64_t& endobj, int64_t& stream)
{
    for (int64_t span = 256;; span *= 4) {
        int64_t limit = start + span;
        stream = input.find(start, "stream", limit);
        endobj = input.find(start, "endobj", stream >= 0 ? stream : limit);
        if (endobj >= 0 || stream >= 0)
            return endobj < 0;
        if (limit >= input.size())
            return false;
    }
}

} // namespace

std::string readObjectText(CFileSource& input, int objNum, CXrefTable& xref)
{
    if (objNum < 0 || objNum >= xref.recordCount())
        return std::string();
    const CXrefRecord& record = xref.records()[static_cast<size_t>(objNum)];
    if (record.type == XREF_FREE)
        return std::string();

    if (record.type == XREF_IN_OBJSTM) {
        std::string_view bytes = xref.compressedObjectBytes(objNum, 0);
        if (bytes.empty())
            return std::string();
        std::string text = std::to_string(objNum);
        text += " 0 obj\r";
        text.append(bytes.data(), bytes.size());
        text += " endobj\r";
        return text;
    }

    CObjectSpan span;
    if (!objectTextSpan(input, objNum, xref, span))
        return std::string();
    std::string text(static_cast<size_t>(span.length), '\0');
    text.resize(input.read(span.start, text.data(), text.size()));
    return text;
}

bool objectTextSpan(CFileSource& input, int objNum, CXrefTable& xref, CObjectSpan& span)
{
    span = CObjectSpan();
    if (objNum < 0 || objNum >= xref.recordCount())
        return false;
    const CXrefRecord& record = xref.records()[static_cast<size_t>(objNum)];
    if (record.type != XREF_IN_FILE)
        return false;
    // Offsets count from the "%PDF-" header, as the loader reads them.
    const int64_t start = xref.baseOffset() + record.offset;
    if (start < 0 || start >= input.size())
        return false;
    span.start = start;

    // The first bytes settle most objects: small ones end in them, and a
    // stream's dictionary stands in it. They are looked at in the cache
    // block that holds them, or copied when they straddle two blocks.
    constexpr size_t kHeadSize = 512;
    char buffer[kHeadSize];
    std::string_view head;
    std::shared_ptr<const CFileSource::Block> block = input.blockAt(start);
    const size_t inBlock = block ? static_cast<size_t>(start - block->offset) : 0;
    const bool lastBlock = block && block->offset + static_cast<int64_t>(block->size()) == input.size();
    if (block && (block->size() - inBlock >= kHeadSize || lastBlock))
        head = std::string_view(reinterpret_cast<const char*>(block->data()) + inBlock,
                                std::min(kHeadSize, block->size() - inBlock));
    else
        head = std::string_view(buffer, input.read(start, buffer, sizeof buffer));
    span.leadingNumber = leadingNumber(head);
    size_t stream = CFileSource::search(head, "stream");
    size_t endobj = CFileSource::search(head.substr(0, stream), "endobj");
    int64_t end = -1;
    if (endobj != std::string_view::npos) {
        end = start + static_cast<int64_t>(endobj);
    } else {
        int64_t streamAt = stream == std::string_view::npos ? -1 : start + static_cast<int64_t>(stream);
        if (streamAt < 0 && !holdsStream(input, start, end, streamAt))
            streamAt = -1;
        if (streamAt >= 0) {
            span.dictionaryEnd = streamAt;
            const std::string_view dictionary = head.substr(0, static_cast<size_t>(streamAt - start));
            span.mentionsObjStm = streamAt - start <= static_cast<int64_t>(head.size())
                                      ? CFileSource::search(dictionary, "ObjStm") != std::string_view::npos
                                      : input.find(start, "ObjStm", streamAt) >= 0;
            // The data may hold the bytes "endobj" (an embedded file, say): the
            // object ends at the first "endobj" after the data its /Length gives.
            int64_t dataEnd = streamDataEnd(input, head, start, streamAt, xref);
            int64_t afterData = -1;
            if (dataEnd >= start && dataEnd - start < static_cast<int64_t>(head.size())) {
                size_t hit = CFileSource::search(head, "endobj", static_cast<size_t>(dataEnd - start));
                afterData = hit != std::string_view::npos ? start + static_cast<int64_t>(hit) : -1;
            }
            if (afterData < 0 && dataEnd >= start)
                afterData = input.find(dataEnd, "endobj");
            end = afterData >= 0 ? afterData : input.find(start, "endobj");
        }
    }
    if (end < 0)
        return false;
    // Through "endobj" and the one byte after it (normally the line end).
    span.length = std::min(end + 7, input.size()) - start;
    return true;
}

size_t findBytes(const char* buffer, size_t from, size_t to, const char* pattern, size_t patternLength)
{
    if (patternLength == 0 || to <= from || to - from < patternLength)
        return 0;
    std::string_view haystack(buffer + from, to - from);
    size_t hit = haystack.find(std::string_view(pattern, patternLength));
    if (hit == std::string_view::npos)
        return 0;
    return from + hit + patternLength - 1;
}

size_t findBytes(std::string_view text, std::string_view pattern)
{
    return findBytes(text.data(), 0, text.size(), pattern.data(), pattern.size());
}

int64_t findInFile(CFileSource& file, int64_t offset, const char* pattern, size_t patternLength)
{
    int64_t hit = file.find(offset, std::string_view(pattern, patternLength));
    return hit < 0 ? 0 : hit + static_cast<int64_t>(patternLength) - 1;
}

uint32_t findNumberAfterKey(std::string_view text, const char* key, bool& isReference)
{
    isReference = false;
    size_t i = findBytes(text, key);
    if (i == 0)
        return 0;
    while (i < text.size() && (text[i] < '0' || text[i] > '9'))
        ++i;
    if (i >= text.size())
        return 0;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[i] - '0'), 0xFFFFFFFFu);
    isReference = text.substr(i, 4) == " 0 R";
    return static_cast<uint32_t>(value);
}

bool findDictEntryValue(const std::string& text, const char* key, size_t& begin, size_t& end)
{
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    CPdfObject token;
    auto position = [&lexer]() { return static_cast<size_t>(lexer.stream()->tellPos()); };
    // Skips the rest of one value whose first token is `first`; false at the end of the text.
    auto skipValue = [&](const CPdfObject& first) {
        if (first.isKeyword("<<") || first.isKeyword("["))
            return lexer.skipOpenContainers(1);
        return first.type() != PDF_EOF;
    };

    // The object's own dictionary is the first "<<".
    do {
        lexer.readToken(token);
        if (token.type() == PDF_EOF)
            return false;
    } while (!token.isKeyword("<<"));

    CPdfObject value, next;
    lexer.readToken(token);
    for (;;) {
        if (token.type() == PDF_EOF || token.isKeyword(">>"))
            return false;
        if (token.type() != PDF_NAME) {
            lexer.readToken(token);
            continue;
        }
        bool wanted = token.textString() == key;
        size_t valueStart = position();
        lexer.readToken(value);
        if (!skipValue(value))
            return false;
        size_t valueEnd = position();
        lexer.readToken(next);
        // "N G R" is one value: its number was read as the value above.
        if (value.type() == PDF_INT && next.type() == PDF_INT) {
            CPdfObject r;
            lexer.readToken(r);
            if (r.isKeyword("R")) {
                valueEnd = position();
                lexer.readToken(next);
            } else {
                token = std::move(r); // not a reference: resume at the token after the pair
                if (wanted)
                    break;
                continue;
            }
        }
        if (wanted) {
            while (valueStart < valueEnd && CPdfLexer::isWhitespace(static_cast<unsigned char>(text[valueStart])))
                ++valueStart;
            begin = valueStart;
            end = valueEnd;
            return true;
        }
        token = std::move(next);
    }
    begin = position();
    end = begin;
    return false;
}
