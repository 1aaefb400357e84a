#include "load/CObjectReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "load/CPdfMemoryStream.h"
#include "load/CSecurityHandler.h"
#include "load/StringEncryption.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStream.h"

namespace {

void shiftLayout(CPdfDictLayout& layout, int64_t delta)
{
    for (int64_t* position : {&layout.open, &layout.close, &layout.streamKeyword})
        if (*position >= 0)
            *position += delta;
    for (CPdfEntryLayout& entry : layout.entries) {
        entry.keyBegin += delta;
        entry.keyEnd += delta;
        entry.valueBegin += delta;
        entry.valueEnd += delta;
    }
}

void shiftHead(CPdfObjectHead& head, int64_t delta)
{
    head.valueBegin += delta;
    head.valueEnd += delta;
    head.keywordBegin += delta;
    head.keywordEnd += delta;
    shiftLayout(head.dict, delta);
}

CPdfStream* memoryStream(std::string_view text)
{
    return new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The bytes of the file at [position, position + count): in `head` (which
// starts at `headStart`) when it holds them, else copied into `buffer`.
std::string_view bytesAt(CFileSource& input, std::string_view head, int64_t headStart, int64_t position, char* buffer,
                         size_t count)
{
    if (position >= headStart && position - headStart <= static_cast<int64_t>(head.size())) {
        const size_t skip = static_cast<size_t>(position - headStart);
        if (head.size() - skip >= count)
            return head.substr(skip, count);
    }
    return std::string_view(buffer, input.read(position, buffer, count));
}

// Where a stream's data starts: after the line end that follows "stream"
// (and whatever stands before it on that line), as the parser reads it.
int64_t streamDataStart(CFileSource& input, CXrefTable& xref, std::string_view head, int64_t start,
                        int64_t afterKeyword)
{
    char buffer[64];
    const std::string_view bytes = bytesAt(input, head, start, afterKeyword, buffer, sizeof buffer);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            return afterKeyword + static_cast<int64_t>(i) + 1;
        if (bytes[i] == '\r' && i + 1 < bytes.size())
            return afterKeyword + static_cast<int64_t>(i) + (bytes[i + 1] == '\n' ? 2 : 1);
    }
    CPdfLexer lexer(xref.mainStream()->openWindow(afterKeyword, 0, CPdfObject()));
    lexer.skipToLineEnd();
    return lexer.stream()->tellPos();
}

enum class EStreamEnd {
    ENDOBJ,       // "endstream" and "endobj" follow the data
    NO_ENDOBJ,    // "endstream" follows, but no "endobj" after it
    NO_ENDSTREAM, // the data is not followed by "endstream": the length is wrong
};

// What follows the data that ends at `dataEnd`, as the lexer reads it; sets
// `endstream` to where that keyword ends and `endobj` to where the next starts.
EStreamEnd endAfterData(CFileSource& input, CXrefTable& xref, std::string_view head, int64_t start, int64_t dataEnd,
                        int64_t& endstream, int64_t& endobj)
{
    char buffer[64];
    const std::string_view bytes = bytesAt(input, head, start, dataEnd, buffer, sizeof buffer);
    const bool complete = dataEnd + static_cast<int64_t>(bytes.size()) >= input.size();
    size_t position = 0, begin = 0;
    std::string_view keyword;
    // Plain bytes are read in place; a token that may go on past them is not.
    auto next = [&]() {
        return CPdfDictScanner::scanKeyword(bytes, position, keyword, begin) && (complete || position < bytes.size());
    };
    if (next()) {
        if (keyword != "endstream")
            return EStreamEnd::NO_ENDSTREAM;
        endstream = dataEnd + static_cast<int64_t>(position);
        if (next()) {
            endobj = dataEnd + static_cast<int64_t>(begin);
            return keyword == "endobj" ? EStreamEnd::ENDOBJ : EStreamEnd::NO_ENDOBJ;
        }
    }
    CPdfLexer lexer(xref.mainStream()->openWindow(dataEnd, 0, CPdfObject()));
    CPdfObject token;
    lexer.readToken(token);
    if (!token.isKeyword("endstream"))
        return EStreamEnd::NO_ENDSTREAM;
    endstream = lexer.tokenEnd();
    lexer.readToken(token);
    endobj = lexer.tokenBegin();
    return token.isKeyword("endobj") ? EStreamEnd::ENDOBJ : EStreamEnd::NO_ENDOBJ;
}

} // namespace

CObjectReader::CObjectReader(CFileSource& input, CXrefTable& xref) : m_input(input), m_xref(xref) {}

bool CObjectReader::readHeadInFile(int num, CHeadBytes& bytes)
{
    if (num < 0 || num >= m_xref.recordCount())
        return false;
    const CXrefRecord* record = &m_xref.records()[static_cast<size_t>(num)];
    if (record->type != XREF_IN_FILE)
        return false;
    // Offsets count from the "%PDF-" header, as the loader reads them.
    const bool read = readHeadAt(m_xref.baseOffset() + record->offset, bytes);
    if (read && m_head.num == num && m_head.gen == record->gen)
        return true;
    // Not where the record says: where the scan of the file found it, if elsewhere.
    if (m_xref.relocate(num)) {
        record = &m_xref.records()[static_cast<size_t>(num)];
        return readHeadAt(m_xref.baseOffset() + record->offset, bytes) && m_head.num == num;
    }
    return read && m_head.num == num;
}

bool CObjectReader::readHeadAt(int64_t start, CHeadBytes& bytes)
{
    if (start < 0 || start >= m_input.size())
        return false;
    bytes.start = start;
    bytes.block = m_input.blockAt(start);
    const size_t inBlock = bytes.block ? static_cast<size_t>(start - bytes.block->offset) : 0;
    const bool lastBlock =
        bytes.block && bytes.block->offset + static_cast<int64_t>(bytes.block->size()) == m_input.size();
    if (bytes.block && (bytes.block->size() - inBlock >= CHeadBytes::kSize || lastBlock)) {
        bytes.bytes = std::string_view(reinterpret_cast<const char*>(bytes.block->data()) + inBlock,
                                       std::min(CHeadBytes::kSize, bytes.block->size() - inBlock));
    } else {
        bytes.block.reset();
        bytes.bytes = std::string_view(bytes.copy, m_input.read(start, bytes.copy, sizeof bytes.copy));
    }
    bytes.complete = start + static_cast<int64_t>(bytes.bytes.size()) >= m_input.size();

    m_parsed.clear();
    // A keyword that ends where the bytes do may go on past them.
    if (CPdfDictScanner::scanObjectHead(bytes.bytes, m_head) &&
        (bytes.complete || m_head.keywordEnd < static_cast<int64_t>(bytes.bytes.size())))
        return true;
    try {
        CPdfParser parser(nullptr, m_xref.mainStream()->openWindow(start, 0, CPdfObject()));
        if (!parser.parseObjectHead(m_head, &m_parsed))
            return false;
    } catch (const CPdfException&) {
        return false;
    }
    shiftHead(m_head, -start);
    return true;
}

void CObjectReader::headEntry(const CHeadBytes& bytes, const char* key, CPdfObject& out) const
{
    out.clear();
    if (m_parsed.type() == PDF_DICT) {
        m_parsed.dictValue()->getValueUnresolved(key, out);
        return;
    }
    const CPdfEntryLayout* entry = m_head.dict.find(key);
    if (!entry || !CPdfDictScanner::makeValue(bytes.bytes, *entry, false, nullptr, out)) {
        out.clear();
        out.setNull();
    }
}

void CObjectReader::resolvedHeadEntry(const CHeadBytes& bytes, const char* key, CPdfObject& out)
{
    headEntry(bytes, key, out);
    if (out.type() != PDF_REF)
        return;
    CPdfObject resolved;
    try {
        m_xref.fetchObject(out.refNum(), out.refGen(), resolved);
    } catch (const CPdfException&) {
        resolved.clear();
        resolved.setNull();
    }
    out = std::move(resolved);
}

int64_t CObjectReader::streamLength(const CHeadBytes& bytes)
{
    CPdfObject length;
    resolvedHeadEntry(bytes, "Length", length);
    return length.type() == PDF_INT && length.intValue() >= 0 ? length.intValue() : -1;
}

bool CObjectReader::namesObjectStream(const CHeadBytes& bytes)
{
    CPdfObject type;
    resolvedHeadEntry(bytes, "Type", type);
    return type.type() == PDF_NAME && type.textString() == "ObjStm";
}

bool CObjectReader::span(int num, CObjectSpan& span)
{
    span = CObjectSpan();
    CHeadBytes bytes;
    if (!readHeadInFile(num, bytes))
        return false;
    // A keyword or a rejected byte where the value should be: no object to copy.
    if (m_head.type == PDF_CMD || m_head.type == PDF_ERROR || m_head.type == PDF_EOF)
        return false;
    const int64_t start = bytes.start;
    span.start = start;
    span.num = m_head.num;
    span.gen = m_head.gen;
    span.type = m_head.isStream() ? PDF_STREAM : m_head.type;
    int64_t end = -1;
    if (m_head.endsAtEndobj()) {
        end = start + m_head.keywordBegin;
    } else if (m_head.isStream()) {
        span.isObjectStream = namesObjectStream(bytes);
        const int64_t length = streamLength(bytes);
        const int64_t data = streamDataStart(m_input, m_xref, bytes.bytes, start, start + m_head.keywordEnd);
        int64_t endstream = -1, endobj = -1;
        EStreamEnd after =
            length >= 0 ? endAfterData(m_input, m_xref, bytes.bytes, start, data + length, endstream, endobj)
                        : EStreamEnd::NO_ENDSTREAM;
        // Data written on the keyword's own line ("stream (x) Tj"): readers
        // that start it right after the keyword find its /Length right.
        const int64_t keywordEnd = start + m_head.keywordEnd;
        char afterKeyword = '\n';
        if (after == EStreamEnd::NO_ENDSTREAM && length >= 0 && m_input.read(keywordEnd, &afterKeyword, 1) == 1 &&
            afterKeyword != '\r' && afterKeyword != '\n')
            after = endAfterData(m_input, m_xref, bytes.bytes, start, keywordEnd + length, endstream, endobj);
        if (after == EStreamEnd::ENDOBJ) {
            end = endobj;
        } else if (after == EStreamEnd::NO_ENDOBJ) {
            // The next object follows "endstream" at once.
            span.length = endstream - start;
            span.endobjMissing = true;
            return true;
        } else {
            // A wrong or missing /Length: the data runs to its "endstream",
            // and a copy carries the length it really has.
            const int64_t dataEnd = dataEndBeforeEndstream(data);
            if (dataEnd < 0)
                return false;
            const EStreamEnd repaired = endAfterData(m_input, m_xref, bytes.bytes, start, dataEnd, endstream, endobj);
            if (repaired == EStreamEnd::NO_ENDSTREAM)
                return false;
            const std::string length = std::to_string(dataEnd - data);
            if (const CPdfEntryLayout* entry = m_head.dict.find("Length")) {
                span.lengthBegin = start + entry->valueBegin;
                span.lengthEnd = start + entry->valueEnd;
                span.lengthText = length;
            } else {
                span.lengthBegin = span.lengthEnd = start + m_head.dict.close;
                span.lengthText = " /Length " + length + " ";
            }
            m_xref.repairLog().wrongLength(num);
            if (repaired == EStreamEnd::NO_ENDOBJ) {
                span.length = endstream - start;
                span.endobjMissing = true;
                return true;
            }
            end = endobj;
        }
    } else if (valueIsComplete(bytes)) {
        // The next object (or the table) follows the value at once.
        span.length = m_head.valueEnd;
        span.endobjMissing = true;
        return true;
    }
    if (end < 0)
        return false;
    // Through "endobj" and the one byte after it (normally the line end).
    span.length = std::min(end + 7, m_input.size()) - start;
    return true;
}

bool CObjectReader::valueIsComplete(const CHeadBytes& bytes) const
{
    switch (m_head.type) {
    case PDF_DICT:
        return m_head.dict.close >= 0;
    case PDF_ARRAY: {
        char last = 0;
        return m_head.valueEnd > m_head.valueBegin && m_input.read(bytes.start + m_head.valueEnd - 1, &last, 1) == 1 &&
               last == ']';
    }
    case PDF_BOOL:
    case PDF_INT:
    case PDF_REAL:
    case PDF_STRING:
    case PDF_NAME:
    case PDF_NULL:
    case PDF_REF:
        return true;
    default:
        return false; // a keyword, an error, the end of the file
    }
}

int64_t CObjectReader::dataEndBeforeEndstream(int64_t data)
{
    // Searches already made answer later ones that start within what they
    // passed over: a file of many broken streams stays linear.
    int64_t found = -2;
    auto known = m_endstreamSearches.upper_bound(data);
    if (known != m_endstreamSearches.begin()) {
        --known;
        if (known->second < 0 || known->second >= data)
            found = known->second;
    }
    if (found == -2) {
        found = m_input.find(data, "endstream");
        m_endstreamSearches[data] = found;
    }
    if (found < 0)
        return -1;
    // The line end before the keyword is not part of the data.
    int64_t end = found;
    char before[2] = {};
    if (end - data >= 2 && m_input.read(end - 2, before, 2) == 2) {
        if (before[1] == '\n')
            end -= before[0] == '\r' ? 2 : 1;
        else if (before[1] == '\r')
            end -= 1;
    } else if (end - data == 1 && m_input.read(end - 1, before, 1) == 1 && (before[0] == '\n' || before[0] == '\r')) {
        end -= 1;
    }
    return end;
}

bool CObjectReader::head(int num, CPdfObjectHead& head)
{
    if (num < 0 || num >= m_xref.recordCount())
        return false;
    if (m_xref.records()[static_cast<size_t>(num)].type == XREF_IN_OBJSTM) {
        const std::string compressed = text(num);
        return !compressed.empty() && headOfText(compressed, head);
    }
    CHeadBytes bytes;
    if (!readHeadInFile(num, bytes))
        return false;
    std::swap(head, m_head);
    return true;
}

std::string CObjectReader::text(int num, CPdfObjectHead* head)
{
    if (num < 0 || num >= m_xref.recordCount())
        return std::string();
    const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
    if (record.type == XREF_FREE)
        return std::string();

    if (record.type == XREF_IN_OBJSTM) {
        std::string_view bytes = m_xref.compressedObjectBytes(num, 0);
        if (bytes.empty())
            return std::string();
        std::string text = std::to_string(num);
        text += " 0 obj\r";
        const size_t valueStart = text.size();
        // An encrypted document's strings were in the clear inside the
        // stream; as an object of its own, each is encrypted for `num`.
        const CSecurityHandler* security = m_xref.securityHandler();
        if (security && num != m_xref.encryptNum() && security->stringMethod() != CSecurityHandler::EMethod::Identity)
            text += encryptObjectStrings(bytes, *security, num);
        else
            text.append(bytes.data(), bytes.size());
        text += " endobj\r";
        CPdfObjectHead own;
        CPdfObjectHead& parsed = head ? *head : own;
        if (!headOfText(text, parsed)) {
            parsed.type = PDF_NONE;
            return text;
        }
        if (parsed.type == PDF_CMD || parsed.type == PDF_ERROR || parsed.type == PDF_EOF)
            return std::string();
        // Bytes an object stream holds between one object and the next that
        // are not part of the value (damaged data) stay behind.
        const size_t valueEnd = static_cast<size_t>(parsed.valueEnd);
        const size_t closing = text.size() - 8;
        if (valueEnd >= valueStart && valueEnd < closing) {
            bool blank = true;
            for (size_t i = valueEnd; i < closing && blank; ++i)
                blank = CPdfLexer::isWhitespace(static_cast<unsigned char>(text[i]));
            if (!blank)
                text.erase(valueEnd, closing - valueEnd);
        }
        return text;
    }

    CObjectSpan where;
    if (!span(num, where))
        return std::string();
    std::string text(static_cast<size_t>(where.length), '\0');
    text.resize(m_input.read(where.start, text.data(), text.size()));
    if (where.lengthCorrected()) {
        const size_t begin = static_cast<size_t>(where.lengthBegin - where.start);
        text.replace(begin, static_cast<size_t>(where.lengthEnd - where.lengthBegin), where.lengthText);
    }
    if (where.endobjMissing)
        text += CObjectSpan::kEndobj;
    if (head)
        std::swap(*head, m_head); // read from the same bytes: its positions are the text's
    return text;
}

bool CObjectReader::headOfText(std::string_view text, CPdfObjectHead& head)
{
    if (CPdfDictScanner::scanObjectHead(text, head))
        return true;
    try {
        CPdfParser parser(nullptr, memoryStream(text));
        return parser.parseObjectHead(head);
    } catch (const CPdfException&) {
        return false;
    }
}

bool CObjectReader::dictLayoutAt(std::string_view text, size_t position, CPdfDictLayout& layout)
{
    if (CPdfDictScanner::scanDictionary(text, position, layout))
        return true;
    if (position >= text.size())
        return false;
    try {
        CPdfParser parser(nullptr, memoryStream(text.substr(position)));
        parser.setShallow(true);
        parser.setStreamsUnread(true);
        CPdfObject value;
        parser.parseObject(value, &layout);
        if (value.type() != PDF_DICT)
            return false;
    } catch (const CPdfException&) {
        return false;
    }
    shiftLayout(layout, static_cast<int64_t>(position));
    return true;
}
