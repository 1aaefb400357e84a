#include "load/CObjectReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "crypt/CSecurityHandler.h"
#include "crypt/StringEncryption.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStream.h"
#include "pdf/CPdfStreamEndRule.h"

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
    // The same bytes scan the same way.
    for (const CHeadMemo& memo : m_memos) {
        if (memo.start == start) {
            m_head = memo.head;
            return true;
        }
    }
    // A keyword that ends where the bytes do may go on past them.
    if (CPdfDictScanner::scanObjectHead(bytes.bytes, m_head) &&
        (bytes.complete || m_head.keywordEnd < static_cast<int64_t>(bytes.bytes.size()))) {
        CHeadMemo& memo = m_memos[m_nextMemo];
        m_nextMemo = (m_nextMemo + 1) % 2;
        memo.start = start;
        memo.head = m_head;
        return true;
    }
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
    m_xref.fetchObjectOrNull(out.refNum(), out.refGen(), resolved);
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
        CPdfStreamEnd stream;
        if (!m_xref.streamEnds().find(num, start + m_head.keywordEnd, streamLength(bytes), stream))
            return false;
        if (!stream.lengthRight) {
            // A copy carries the length the data really has.
            const std::string length = std::to_string(stream.dataEnd - stream.dataBegin);
            if (const CPdfEntryLayout* entry = m_head.dict.find("Length")) {
                span.lengthBegin = start + entry->valueBegin;
                span.lengthEnd = start + entry->valueEnd;
                span.lengthText = length;
            } else {
                span.lengthBegin = span.lengthEnd = start + m_head.dict.close;
                span.lengthText = " /Length " + length + " ";
            }
        }
        if (stream.endstreamMissing) {
            span.endstreamAt = stream.dataEnd;
            span.endstreamText =
                stream.dataEnd < stream.endobjBegin ? CObjectSpan::kEndstream : CObjectSpan::kEndstreamLine;
        }
        if (stream.endobjBegin < 0) {
            // The next object follows "endstream" at once.
            span.length = stream.endstreamEnd - start;
            span.endobjMissing = true;
            return true;
        }
        end = stream.endobjBegin;
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
        std::string text;
        text.reserve(bytes.size() + 32); // the value and the header and trailer made around it
        text += std::to_string(num);
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
    // Read whole, then repaired from the back (the span's forEachPiece in
    // place): most objects need no repair, and pages are read by the thousand.
    std::string text(static_cast<size_t>(where.length), '\0');
    text.resize(m_input.read(where.start, text.data(), text.size()));
    if (where.endstreamAt >= 0)
        text.insert(std::min(static_cast<size_t>(where.endstreamAt - where.start), text.size()), where.endstreamText);
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
