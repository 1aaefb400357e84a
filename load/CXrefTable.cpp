#include "load/CXrefTable.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "load/CPdfObjStmReader.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

namespace {

bool isStartxrefSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// atoi with a leading sign, saturated to the 32-bit range.
int64_t parseSignedDecimal(const char* text)
{
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = std::min<int64_t>(value * 10 + (*text - '0'), 0x80000000LL);
    return negative ? -value : std::min<int64_t>(value, 0x7FFFFFFF);
}

// A section's /Prev: an offset, or (oddly, but accepted) a reference's number.
bool previousOffset(CPdfDict* dict, int64_t& offset)
{
    CPdfObject prev;
    dict->getValueUnresolved("Prev", prev);
    if (prev.type() == PDF_INT) {
        offset = prev.intValue();
        return true;
    }
    if (prev.type() == PDF_REF) {
        offset = prev.refNum();
        return true;
    }
    return false;
}

// After an object number: its generation, "obj" and a stream object.
void readStreamObjectAfterNumber(CPdfParser& parser, CPdfObject& stream)
{
    CPdfObject generation, keyword;
    parser.parseObject(generation);
    parser.parseObject(keyword);
    if (generation.type() != PDF_INT || !keyword.isKeyword("obj"))
        throw CPdfException("Couldn't parse an xref stream");
    parser.parseObject(stream);
    if (stream.type() != PDF_STREAM)
        throw CPdfException("Couldn't parse an xref stream");
}

// Pops the fetch stack however the fetch ends.
class CFetchScope {
public:
    CFetchScope(std::vector<int>& stack, int num) : m_stack(stack) { m_stack.push_back(num); }
    ~CFetchScope() { m_stack.pop_back(); }
    CFetchScope(const CFetchScope&) = delete;
    CFetchScope& operator=(const CFetchScope&) = delete;

private:
    std::vector<int>& m_stack;
};

} // namespace

CXrefTable::CXrefTable() = default;

CXrefTable::~CXrefTable() = default;

void CXrefTable::load(CPdfStream* mainStream, bool tablesByTokens)
{
    m_stream = mainStream;
    m_tablesByTokens = tablesByTokens;
    m_baseOffset = mainStream->windowStart();
    m_fileSize = std::max<int64_t>(mainStream->seekPos(0, SEEK_END), 0);
    int64_t offset = locateStartxref();
    if (offset == 0)
        throw CPdfException("PDF file was damaged");

    // A /Prev chain that comes back to a section already read ends there.
    std::set<int64_t> visited;
    while (visited.insert(offset).second && readSectionAt(offset)) {
    }

    CPdfDict* trailer = m_trailer.type() == PDF_DICT ? m_trailer.dictValue() : nullptr;
    if (!trailer)
        throw CPdfException("PDF file was damaged");
    CPdfObject value;
    trailer->getValueUnresolved("Root", value);
    if (value.type() != PDF_REF)
        throw CPdfException("PDF file was damaged");
    m_rootNum = value.refNum();
    m_rootGen = value.refGen();
    trailer->getValueUnresolved("Info", value);
    if (value.type() == PDF_REF) {
        m_infoNum = value.refNum();
        m_infoGen = value.refGen();
    }
    // An encryption dictionary written inline encrypts the file just the same.
    trailer->getValueUnresolved("Encrypt", value);
    if (value.type() == PDF_REF || value.type() == PDF_DICT)
        throw CPdfException("PDF file is encrypted");
    trailer->setTable(this);
}

int64_t CXrefTable::locateStartxref()
{
    // The last 1023 bytes, or the whole file when it is shorter.
    int64_t size = m_stream->seekPos(0, SEEK_END);
    m_stream->seekPos(std::max<int64_t>(size - 1023, 0), SEEK_SET);
    char tail[1024];
    int n = 0;
    while (n < 1023) {
        int c = m_stream->readChar();
        if (c < 0)
            break;
        tail[n++] = c == 0 ? ' ' : static_cast<char>(c);
    }
    tail[n] = '\0';
    for (int i = n - 9; i >= 0; --i) {
        if (std::string_view(tail + i, 9) == "startxref") {
            const char* p = tail + i + 9;
            while (isStartxrefSpace(*p))
                ++p;
            return parseSignedDecimal(p);
        }
    }
    return 0;
}

bool CXrefTable::readSectionAt(int64_t& offset)
{
    // Most tables are written in the standard layout, read faster as bytes.
    std::vector<int> freeInTable;
    int64_t trailerAt = 0;
    if (!m_tablesByTokens && readStandardTable(offset, trailerAt, freeInTable)) {
        CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + trailerAt, 0, CPdfObject()));
        CPdfObject keyword;
        parser.parseObject(keyword); // "trailer", checked by the byte reader
        return readTrailer(parser, freeInTable, offset);
    }

    CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + offset, 0, CPdfObject()));
    CPdfObject first;
    parser.parseObject(first);
    if (first.isKeyword("xref"))
        return readClassicSection(parser, offset);
    if (first.type() != PDF_INT)
        throw CPdfException("Couldn't parse an xref");
    CPdfObject stream;
    readStreamObjectAfterNumber(parser, stream);
    return readStreamSection(stream.streamValue(), offset);
}

void CXrefTable::growRecords(int64_t length)
{
    // Every object needs at least a byte of the file, so a count beyond the
    // file's size (or beyond any real document) is damaged data; refusing it
    // keeps a hostile number from sizing a huge allocation.
    if (length < 0 || length > kMaxObjects || length > m_fileSize + 1024)
        throw CPdfException("PDF file was damaged");
    if (length > static_cast<int64_t>(m_records.size()))
        m_records.resize(static_cast<size_t>(length));
}

void CXrefTable::storeRecord(int num, const CXrefRecord& record)
{
    CXrefRecord& slot = m_records[static_cast<size_t>(num)];
    if (slot.offset == -1) {
        slot = record;
        return;
    }
    // Hybrid files list their compressed objects as free in the table.
    size_t index = static_cast<size_t>(num);
    if (record.type != XREF_FREE && index < m_replaceable.size() && m_replaceable[index]) {
        slot = record;
        m_replaceable[index] = false;
    }
}

void CXrefTable::storeTableEntry(int num, const CXrefRecord& record, std::vector<int>& freeInTable)
{
    if (m_records[static_cast<size_t>(num)].offset == -1 && record.type == XREF_FREE)
        freeInTable.push_back(num);
    storeRecord(num, record);
}

bool CXrefTable::readClassicSection(CPdfParser& parser, int64_t& offset)
{
    std::vector<int> freeInTable;
    CPdfObject token, second, third;
    for (;;) {
        parser.parseObject(token);
        if (token.isKeyword("trailer"))
            break;
        parser.parseObject(second);
        if (token.type() != PDF_INT || second.type() != PDF_INT)
            throw CPdfException("Couldn't parse an xref table");
        int64_t first = token.intValue();
        int64_t count = second.intValue();
        if (first < 0 || count < 0)
            throw CPdfException("PDF file was damaged");
        growRecords(first + count);
        for (int64_t i = first; i < first + count; ++i) {
            parser.parseObject(token);
            parser.parseObject(second);
            parser.parseObject(third);
            if (token.type() != PDF_INT || second.type() != PDF_INT ||
                !(third.isKeyword("n") || third.isKeyword("f")))
                throw CPdfException("Couldn't parse an xref table");
            CXrefRecord record;
            record.offset = token.intValue();
            record.gen = second.intValue();
            record.type = third.isKeyword("n") ? XREF_IN_FILE : XREF_FREE;
            storeTableEntry(static_cast<int>(i), record, freeInTable);
        }
    }

    return readTrailer(parser, freeInTable, offset);
}

bool CXrefTable::readStandardTable(int64_t offset, int64_t& trailerAt, std::vector<int>& freeInTable)
{
    CPdfStream* in = m_stream;
    in->seekPos(m_baseOffset + offset, SEEK_SET);
    auto skipWhitespace = [in]() {
        while (CPdfLexer::isWhitespace(in->peekChar()))
            in->readChar();
    };
    auto expect = [in](const char* text) {
        for (; *text; ++text)
            if (in->readChar() != static_cast<unsigned char>(*text))
                return false;
        return true;
    };
    auto readNumber = [in](int maxDigits, int64_t& value) {
        int digits = 0;
        value = 0;
        while (in->peekChar() >= '0' && in->peekChar() <= '9' && digits < maxDigits) {
            value = value * 10 + (in->readChar() - '0');
            ++digits;
        }
        return digits > 0;
    };

    if (!expect("xref") || !CPdfLexer::isWhitespace(in->peekChar()))
        return false;
    struct CSubsection {
        int64_t first, count;
    };
    std::vector<CSubsection> subsections;
    std::vector<CXrefRecord> entries;
    for (;;) {
        skipWhitespace();
        if (in->peekChar() == 't') {
            trailerAt = in->tellPos() - m_baseOffset;
            // "trailer;" and the like are other keywords: the token reader decides.
            if (!expect("trailer") || CPdfLexer::isRegular(in->peekChar()))
                return false;
            break;
        }
        int64_t first = 0, count = 0;
        if (!readNumber(10, first) || in->readChar() != ' ' || !readNumber(10, count))
            return false;
        while (in->peekChar() == ' ')
            in->readChar();
        int end = in->readChar();
        if (end == '\r' && in->peekChar() == '\n')
            in->readChar();
        else if (end != '\n' && end != '\r')
            return false;
        // Entries of exactly 20 bytes: "oooooooooo ggggg n" and a two-byte line end.
        for (int64_t k = 0; k < count; ++k) {
            uint8_t line[20];
            if (in->readBytes(line, 20) != 20 || line[10] != ' ' || line[16] != ' ' ||
                (line[17] != 'n' && line[17] != 'f') ||
                !((line[18] == ' ' && (line[19] == '\n' || line[19] == '\r')) ||
                  (line[18] == '\r' && line[19] == '\n')))
                return false;
            int64_t entryOffset = 0, gen = 0;
            for (int i = 0; i < 16; ++i) {
                if (i == 10)
                    continue;
                if (line[i] < '0' || line[i] > '9')
                    return false;
                (i < 10 ? entryOffset : gen) = (i < 10 ? entryOffset : gen) * 10 + (line[i] - '0');
            }
            if (entryOffset > 0x7FFFFFFF)
                return false;
            CXrefRecord record;
            record.offset = static_cast<int32_t>(entryOffset);
            record.gen = static_cast<int32_t>(gen);
            record.type = line[17] == 'n' ? XREF_IN_FILE : XREF_FREE;
            entries.push_back(record);
        }
        subsections.push_back({first, count});
    }

    // The whole table read: store it as the token reader would.
    size_t next = 0;
    for (const CSubsection& subsection : subsections) {
        growRecords(subsection.first + subsection.count);
        for (int64_t i = subsection.first; i < subsection.first + subsection.count; ++i)
            storeTableEntry(static_cast<int>(i), entries[next++], freeInTable);
    }
    return true;
}

bool CXrefTable::readTrailer(CPdfParser& parser, const std::vector<int>& freeInTable, int64_t& offset)
{
    CPdfObject trailer;
    parser.parseObject(trailer);
    if (trailer.type() != PDF_DICT)
        throw CPdfException("Trailer dictionary is wrong type");
    if (m_trailer.type() == PDF_NONE)
        m_trailer.assign(trailer);

    CPdfObject hybrid;
    trailer.dictValue()->getValueUnresolved("XRefStm", hybrid);
    if (hybrid.type() == PDF_INT)
        readHybridStream(hybrid.intValue(), freeInTable);
    return previousOffset(trailer.dictValue(), offset);
}

void CXrefTable::readHybridStream(int64_t offset, const std::vector<int>& freeInTable)
{
    CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + offset, 0, CPdfObject()));
    CPdfObject number, stream;
    parser.parseObject(number);
    if (number.type() != PDF_INT)
        throw CPdfException("Couldn't parse an xref stream");
    readStreamObjectAfterNumber(parser, stream);

    m_replaceable.assign(m_records.size(), false);
    for (int num : freeInTable)
        m_replaceable[static_cast<size_t>(num)] = true;
    try {
        int64_t ignoredPrev = 0; // the table's own trailer names the previous section
        readStreamSection(stream.streamValue(), ignoredPrev);
    } catch (...) {
        m_replaceable.clear();
        throw;
    }
    m_replaceable.clear();
}

bool CXrefTable::readStreamSection(CPdfStream* stream, int64_t& offset)
{
    CPdfDict* dict = stream->streamDict();
    if (!dict)
        throw CPdfException("Couldn't parse an xref stream");
    CPdfObject size;
    dict->getValueUnresolved("Size", size);
    if (size.type() != PDF_INT)
        throw CPdfException("Size of xref Stream is wrong type");
    growRecords(size.intValue());

    CPdfObject w;
    dict->getValueUnresolved("W", w);
    if (w.type() != PDF_ARRAY)
        throw CPdfException("W item of xref Stream is wrong type");
    if (w.arrayValue()->count() < 3)
        throw CPdfException("W item of xref Stream is wrong length");
    int widths[3];
    for (int i = 0; i < 3; ++i) {
        CPdfObject item;
        w.arrayValue()->getItem(i, item);
        if (item.type() != PDF_INT)
            throw CPdfException("W item of xref Stream is wrong type");
        widths[i] = item.intValue();
        // Fields are at most 8 bytes wide in any real file; a huge width
        // would only make us read through a decompression bomb.
        if (widths[i] > 16)
            throw CPdfException("PDF file was damaged");
    }

    stream->rewind();
    CPdfObject index;
    dict->getValueUnresolved("Index", index);
    if (index.type() == PDF_ARRAY) {
        CPdfArray* pairs = index.arrayValue();
        for (int k = 0; k < pairs->count() - 1; k += 2) {
            CPdfObject first, count;
            pairs->getItem(k, first);
            pairs->getItem(k + 1, count);
            if (first.type() != PDF_INT || count.type() != PDF_INT)
                throw CPdfException("Index item of xref Stream is wrong type");
            readStreamSubsection(stream, widths, first.intValue(), count.intValue());
        }
    } else {
        readStreamSubsection(stream, widths, 0, size.intValue());
    }

    if (m_trailer.type() == PDF_NONE)
        m_trailer.setSharedDict(dict);
    return previousOffset(dict, offset);
}

void CXrefTable::readStreamSubsection(CPdfStream* stream, const int widths[3], int first, int count)
{
    if (first < 0 || count < 0)
        throw CPdfException("PDF file was damaged");
    growRecords(static_cast<int64_t>(first) + count);
    auto readField = [stream](int width, uint32_t& value) {
        value = 0;
        for (int i = 0; i < width; ++i) {
            int c = stream->readChar();
            if (c < 0)
                throw CPdfException("Unexpected EOF while reading xref stream section");
            value = (value << 8) | static_cast<uint32_t>(c);
        }
    };
    for (int64_t i = first; i < static_cast<int64_t>(first) + count; ++i) {
        uint32_t type = 1, field2 = 0, field3 = 0;
        if (widths[0] < 0)
            type = 0;
        else if (widths[0] > 0)
            readField(widths[0], type);
        readField(widths[1], field2);
        readField(widths[2], field3);
        if (type > 2)
            throw CPdfException("Wrong type of xref entry while reading xref stream section");
        CXrefRecord record;
        record.offset = static_cast<int32_t>(field2);
        record.gen = static_cast<int32_t>(field3);
        record.type = static_cast<EXrefType>(type);
        storeRecord(static_cast<int>(i), record);
    }
}

void CXrefTable::fetchObject(int num, int gen, CPdfObject& out)
{
    out.clear();
    // An object the table does not list is null, as the PDF rules have it.
    if (num < 0 || num >= recordCount()) {
        out.setNull();
        return;
    }
    // A stream whose /Length leads back to itself, or nesting without end,
    // is treated as a missing object.
    if (static_cast<int>(m_fetching.size()) >= kMaxFetchDepth ||
        std::find(m_fetching.begin(), m_fetching.end(), num) != m_fetching.end()) {
        out.setNull();
        return;
    }
    CFetchScope scope(m_fetching, num);
    const CXrefRecord record = m_records[static_cast<size_t>(num)];

    if (record.type == XREF_IN_FILE) {
        if (record.gen != gen) {
            out.setNull();
            return;
        }
        CPdfParser parser(this, m_stream->openWindow(m_baseOffset + record.offset, 0, CPdfObject()));
        int headerNum = 0, headerGen = 0;
        if (parser.parseObjectHeader(headerNum, headerGen) && headerNum == num && headerGen == gen)
            parser.parseObject(out);
        else
            out.setNull();
        return;
    }
    if (record.type == XREF_IN_OBJSTM) {
        std::shared_ptr<CPdfObjStmReader> reader = objectStream(record.offset);
        if (reader)
            reader->getObject(record.gen, num, out);
        else
            out.setNull();
        return;
    }
    out.setNull();
}

std::shared_ptr<CPdfObjStmReader> CXrefTable::objectStream(int num)
{
    if (num < 0 || num >= recordCount())
        return nullptr;
    for (size_t i = 0; i < m_objStms.size(); ++i) {
        if (m_objStms[i]->objStmNum() == num) {
            std::rotate(m_objStms.begin(), m_objStms.begin() + static_cast<std::ptrdiff_t>(i),
                        m_objStms.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return m_objStms.front();
        }
    }
    auto reader = std::make_shared<CPdfObjStmReader>();
    reader->build(*this, num);
    m_objStms.insert(m_objStms.begin(), reader);
    size_t bytes = 0, keep = 0;
    while (keep < m_objStms.size() && keep < kObjStmCacheEntries &&
           (keep == 0 || bytes + m_objStms[keep]->dataSize() <= kObjStmCacheBytes)) {
        bytes += m_objStms[keep]->dataSize();
        ++keep;
    }
    m_objStms.resize(keep);
    return reader;
}

std::string_view CXrefTable::compressedObjectBytes(int num, int gen)
{
    if (num < 0 || num >= recordCount() || gen != 0)
        return {};
    const CXrefRecord& record = m_records[static_cast<size_t>(num)];
    if (record.type != XREF_IN_OBJSTM)
        return {};
    std::shared_ptr<CPdfObjStmReader> reader = objectStream(record.offset);
    if (!reader)
        return {};
    return reader->getBytes(record.gen, num);
}
