#include "load/CXrefTable.h"

#include <algorithm>
#include <optional>
#include <cstdio>
#include <set>

#include "crypt/CSecurityHandler.h"
#include "load/CFetchScope.h"
#include "load/CPdfObjStmReader.h"
#include "load/StreamFilters.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

namespace {

// Reads the encryption dictionary and the objects its values refer to as the
// file holds them: strings keep their bytes (keys are binary) and nothing is
// decrypted, since the key is made from them. Values read through it resolve
// their references through it too, so a crypt filter, or any entry, may be
// held in an object of its own, as the PDF rules allow for any value.
class CEncryptDictReader final : public CPdfResolver {
public:
    // A reference that leads to another reference is followed this far, and
    // fetches nest this deep (a stream's /Length read while its object is);
    // writers use one step, and a loop must end.
    static constexpr int kMaxChain = 32;

    explicit CEncryptDictReader(CXrefTable& xref);
    CEncryptDictReader(const CEncryptDictReader&) = delete;
    CEncryptDictReader& operator=(const CEncryptDictReader&) = delete;

    // Object `num` `gen` where the file holds it (or where the scan found
    // it), a chain of references followed; `layout` receives where a
    // dictionary's entries stand. False when it is not in the file.
    bool readObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout = nullptr);
    // The value written at main-stream position `at` (an inline dictionary).
    void readValueAt(int64_t at, CPdfObject& out, CPdfDictLayout& layout);
    // The text of `entry`'s value as written, or of the value its reference
    // leads to; empty when that is not in the file.
    std::string valueText(const CPdfEntryLayout& entry);

    // Null for an object that is not in the file or cannot be read.
    void fetchObject(int num, int gen, CPdfObject& out) override;
    // As the file stores it: nothing is decrypted here.
    CPdfRefPtr<CPdfStream> streamData(int num, int gen, const CPdfObject& object, int64_t maxStoredBytes) override;

private:
    // Parses object `num` `gen` at its record, once more where the scan
    // found it; the value's text range in `begin`, `end`. False when absent.
    bool parseObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout, int64_t& begin, int64_t& end);

    CXrefTable& m_xref;
    std::vector<int> m_fetching; // the numbers being fetched, innermost last
};

CEncryptDictReader::CEncryptDictReader(CXrefTable& xref) : m_xref(xref) {}

bool CEncryptDictReader::parseObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout, int64_t& begin,
                                     int64_t& end)
{
    // Only objects stored as they stand: one inside an object stream would
    // need the key to be read.
    if (num <= 0 || num >= m_xref.recordCount() || m_xref.records()[static_cast<size_t>(num)].type != XREF_IN_FILE)
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
        CPdfParser parser(this, m_xref.mainStream()->openWindow(m_xref.baseOffset() + record.offset, 0, CPdfObject()),
                          true);
        parser.setStreamEnds(&m_xref.streamEnds());
        int headerNum = 0, headerGen = 0;
        if (record.gen == gen && parser.parseObjectHeader(headerNum, headerGen) && headerNum == num &&
            headerGen == gen) {
            out.clear();
            parser.parseObject(out, layout);
            begin = parser.valueBegin();
            end = parser.valueEnd();
            return true;
        }
        if (attempt > 0 || !m_xref.relocate(num))
            break;
    }
    return false;
}

bool CEncryptDictReader::readObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout)
{
    int64_t begin = 0, end = 0;
    for (int step = 0; step < kMaxChain; ++step) {
        if (!parseObject(num, gen, out, layout, begin, end))
            return false;
        if (out.type() != PDF_REF)
            return true;
        num = out.refNum();
        gen = out.refGen();
    }
    return false;
}

void CEncryptDictReader::readValueAt(int64_t at, CPdfObject& out, CPdfDictLayout& layout)
{
    CPdfParser parser(this, m_xref.mainStream()->openWindow(at, 0, CPdfObject()), true);
    parser.setStreamEnds(&m_xref.streamEnds());
    parser.parseObject(out, &layout);
}

std::string CEncryptDictReader::valueText(const CPdfEntryLayout& entry)
{
    int64_t begin = entry.valueBegin, end = entry.valueEnd;
    if (entry.type == PDF_REF) {
        CPdfObject value;
        int num = entry.num, gen = entry.gen;
        for (int step = 0;; ++step) {
            if (step == kMaxChain || !parseObject(num, gen, value, nullptr, begin, end))
                return std::string();
            if (value.type() != PDF_REF)
                break;
            num = value.refNum();
            gen = value.refGen();
        }
    }
    std::string text(static_cast<size_t>(end > begin ? end - begin : 0), '\0');
    CPdfRefPtr<CPdfStream> window =
        CPdfRefPtr<CPdfStream>::adopt(m_xref.mainStream()->openWindow(begin, end - begin, CPdfObject()));
    text.resize(window->readBytes(reinterpret_cast<uint8_t*>(text.data()), text.size()));
    return text;
}

void CEncryptDictReader::fetchObject(int num, int gen, CPdfObject& out)
{
    if (static_cast<int>(m_fetching.size()) < kMaxChain) {
        CFetchScope scope(m_fetching, num);
        try {
            if (readObject(num, gen, out))
                return;
        } catch (const CPdfException&) {
        }
    }
    out.clear();
    out.setNull();
}

CPdfRefPtr<CPdfStream> CEncryptDictReader::streamData(int, int, const CPdfObject& object, int64_t)
{
    return CPdfRefPtr<CPdfStream>::share(object.streamValue());
}

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

// Whether a stream object says it is a cross-reference stream.
bool isXrefStream(const CPdfObject& stream)
{
    CPdfDict* dict = stream.streamValue()->streamDict();
    CPdfObject type;
    if (dict)
        dict->getValueUnresolved("Type", type);
    return type.type() == PDF_NAME && type.textString() == "XRef";
}

} // namespace

CXrefTable::CXrefTable() = default;

CXrefTable::~CXrefTable() = default;

void CXrefTable::setRepairLog(CRepairLog* log)
{
    m_log = log ? log : &m_ownLog;
    if (m_streamEnds)
        m_streamEnds->setRepairLog(*m_log);
}

void CXrefTable::load(std::shared_ptr<CFileSource> file, CPdfStream* mainStream, bool tablesByTokens, bool repair)
{
    m_streamEnds = std::make_unique<CStreamEndFinder>(std::move(file), *m_log);
    m_stream = mainStream;
    m_tablesByTokens = tablesByTokens;
    m_repair = repair;
    m_baseOffset = mainStream->windowStart();
    m_fileSize = std::max<int64_t>(mainStream->seekPos(0, SEEK_END), 0);
    m_sectionsDamage.clear();
    std::optional<CPdfException> sectionsError;
    bool usable = false;
    bool sectionsRead = false;
    try {
        loadSections();
        sectionsRead = true;
    } catch (const CPdfException& error) {
        if (!repair)
            throw;
        sectionsError = error;
    }
    // Object streams decrypt with the key, so it comes before the catalog;
    // a refusal of the encryption stands, whatever a rebuild would find.
    if (sectionsRead) {
        setUpEncryption();
        try {
            // A catalog the sections cannot give is as good as no table.
            CPdfObject root;
            fetchObject(m_rootNum, m_rootGen, root);
            usable = root.type() == PDF_DICT;
        } catch (const CPdfException& error) {
            if (!repair)
                throw;
            sectionsError = error;
        }
        if (!usable)
            m_sectionsDamage = "the catalog, object " + std::to_string(m_rootNum) + ", cannot be read";
    }
    if (!usable && repair) {
        // When the scan gives no document either, what the sections said stands.
        std::vector<CXrefRecord> records = m_records;
        CPdfObject trailer;
        trailer.assign(m_trailer);
        const int rootNum = m_rootNum, rootGen = m_rootGen, infoNum = m_infoNum, infoGen = m_infoGen;
        std::unique_ptr<CSecurityHandler> security = std::move(m_security);
        const std::string encryptText = m_encryptEntryText, idText = m_idEntryText;
        const int encryptNum = m_encryptNum;
        try {
            reconstruct();
        } catch (const CPdfException&) {
            if (m_encryptedFound)
                throw;
            if (sectionsError)
                throw *sectionsError;
            m_records = std::move(records);
            m_trailer.assign(trailer);
            m_rootNum = rootNum;
            m_rootGen = rootGen;
            m_infoNum = infoNum;
            m_infoGen = infoGen;
            m_security = std::move(security);
            m_encryptEntryText = encryptText;
            m_idEntryText = idText;
            m_encryptNum = encryptNum;
            m_objStms.clear();
        }
    }
    if (m_trailer.type() != PDF_DICT)
        throw CPdfException("PDF file was damaged");
    m_trailer.dictValue()->setTable(this);
}

void CXrefTable::setUpEncryption()
{
    // An encryption dictionary written inline encrypts the file just the same.
    CPdfObject value;
    m_trailer.dictValue()->getValueUnresolved("Encrypt", value);
    if (value.type() != PDF_REF && value.type() != PDF_DICT)
        return;
    if (m_trailerAt < 0)
        throw CPdfException(CPdfException::EKind::Encrypted, "PDF file is encrypted");
    readEncryption(m_trailerAt, m_trailerIsObject);
}

std::string CXrefTable::fileText(int64_t begin, int64_t end)
{
    std::string text;
    if (end <= begin)
        return text;
    text.resize(static_cast<size_t>(end - begin));
    CPdfRefPtr<CPdfStream> window = CPdfRefPtr<CPdfStream>::adopt(m_stream->openWindow(begin, end - begin, CPdfObject()));
    text.resize(window->readBytes(reinterpret_cast<uint8_t*>(&text[0]), text.size()));
    return text;
}

void CXrefTable::readEncryption(int64_t at, bool isObject)
{
    m_security.reset();
    m_encryptEntryText.clear();
    m_idEntryText.clear();
    m_encryptNum = 0;
    CPdfParser parser(nullptr, m_stream->openWindow(at, 0, CPdfObject()), true);
    parser.setStreamEnds(m_streamEnds.get());
    int num = 0, gen = 0;
    if (isObject) {
        if (!parser.parseObjectHeader(num, gen))
            throw CPdfException(CPdfException::EKind::Encrypted, "PDF file is encrypted, but its trailer is damaged",
                                std::nullopt, at);
        parser.setStreamsUnread(true);
    }
    CPdfObject trailer;
    CPdfDictLayout layout;
    parser.parseObject(trailer, &layout);
    const CPdfEntryLayout* encryptEntry = layout.find("Encrypt");
    if (trailer.type() != PDF_DICT || !encryptEntry)
        throw CPdfException(CPdfException::EKind::Encrypted, "PDF file is encrypted, but its trailer is damaged",
                            isObject ? std::optional<int>(num) : std::nullopt, at);

    // Its values resolve through `objects`, which must outlive it.
    CEncryptDictReader objects(*this);
    CPdfObject encrypt;
    CPdfDictLayout encryptLayout;
    if (encryptEntry->type == PDF_REF) {
        if (!objects.readObject(encryptEntry->num, encryptEntry->gen, encrypt, &encryptLayout))
            throw CPdfException(
                CPdfException::EKind::Encrypted,
                "PDF file is encrypted, but its encryption dictionary is damaged: it is not in the file",
                encryptEntry->num);
        m_encryptNum = encryptEntry->num;
        m_encryptEntryText =
            "/Encrypt " + std::to_string(encryptEntry->num) + " " + std::to_string(encryptEntry->gen) + " R";
    } else if (encryptEntry->type == PDF_DICT) {
        objects.readValueAt(encryptEntry->valueBegin, encrypt, encryptLayout);
        m_encryptEntryText = "/Encrypt " + fileText(encryptEntry->valueBegin, encryptEntry->valueEnd);
    } else {
        throw CPdfException(CPdfException::EKind::Encrypted,
                            "PDF file is encrypted, but its encryption dictionary is damaged: it is not a dictionary",
                            std::nullopt, encryptEntry->valueBegin);
    }
    // /P as written: writers also give it unsigned, past the parser's integers.
    std::string permissionsText;
    if (const CPdfEntryLayout* p = encryptLayout.find("P"))
        permissionsText = objects.valueText(*p);

    std::string firstId;
    if (const CPdfEntryLayout* idEntry = layout.find("ID")) {
        CPdfObject ids, first;
        trailer.dictValue()->getValueUnresolved("ID", ids);
        if (ids.type() == PDF_ARRAY && ids.arrayValue()->count() > 0) {
            ids.arrayValue()->getItem(0, first);
            if (first.type() == PDF_STRING)
                firstId = first.textString();
            m_idEntryText = "/ID " + fileText(idEntry->valueBegin, idEntry->valueEnd);
        }
    }
    m_security = std::make_unique<CSecurityHandler>(encrypt, firstId, permissionsText, m_password);
    if (m_security->state() != CSecurityHandler::EState::Open)
        throw CPdfException(CPdfException::EKind::Encrypted,
                            m_password ? "PDF file is encrypted, and the password given does not open it"
                                       : "PDF file is encrypted: it needs its password, given with --password or --password-file",
                            m_encryptNum > 0 ? std::optional<int>(m_encryptNum) : std::nullopt);
}

void CXrefTable::refuseSections(std::string why, std::optional<int64_t> offset)
{
    m_sectionsDamage = std::move(why);
    throw CPdfException(CPdfException::EKind::Damaged, "PDF file was damaged", std::nullopt, offset);
}

void CXrefTable::loadSections()
{
    int64_t offset = locateStartxref();
    if (offset == 0)
        refuseSections("no startxref", std::nullopt);
    m_newestSection = offset;

    // A /Prev chain that comes back to a section already read ends there;
    // sections it should have led to may be missing, so a repairing load
    // rebuilds the table instead.
    std::set<int64_t> visited;
    bool more = true;
    while (more && visited.insert(offset).second) {
        try {
            more = readSectionAt(offset);
        } catch (const CPdfException& error) {
            // The section that failed, or the stream its /XRefStm names.
            const std::string at = std::to_string(error.offset().value_or(-1));
            m_sectionsDamage = m_sectionRecognized ? "the section at offset " + at + " does not parse"
                                                   : "no cross-reference section at offset " + at;
            throw;
        }
    }
    if (more && m_repair)
        refuseSections("the /Prev chain loops back to offset " + std::to_string(m_baseOffset + offset),
                       m_baseOffset + offset);

    CPdfDict* trailer = m_trailer.type() == PDF_DICT ? m_trailer.dictValue() : nullptr;
    if (!trailer)
        refuseSections("no trailer", std::nullopt);
    CPdfObject value;
    trailer->getValueUnresolved("Root", value);
    if (value.type() != PDF_REF)
        refuseSections("the trailer names no catalog",
                       m_trailerAt >= 0 ? std::optional<int64_t>(m_trailerAt) : std::nullopt);
    m_rootNum = value.refNum();
    m_rootGen = value.refGen();
    trailer->getValueUnresolved("XRefStm", value);
    m_newestKind = m_trailerIsObject          ? ESectionKind::Stream
                   : value.type() == PDF_INT ? ESectionKind::Hybrid
                                             : ESectionKind::Classic;
    trailer->getValueUnresolved("Info", value);
    if (value.type() == PDF_REF) {
        m_infoNum = value.refNum();
        m_infoGen = value.refGen();
    }
}

const CObjectScan& CXrefTable::scan()
{
    if (!m_scan) {
        m_scan = std::make_unique<CObjectScan>();
        m_scan->run(*m_stream, *m_streamEnds, m_baseOffset,
                    std::min(kMaxObjects, std::max(m_fileSize + 1024, kSparseObjects)) - 1);
    }
    return *m_scan;
}

bool CXrefTable::relocate(int num)
{
    if (!m_repair || num <= 0 || num >= recordCount())
        return false;
    CXrefRecord& record = m_records[static_cast<size_t>(num)];
    CObjectScan::CHeader header;
    if (record.type != XREF_IN_FILE || !scan().find(num, header) || header.offset == record.offset)
        return false;
    record.offset = static_cast<int32_t>(header.offset);
    record.gen = header.gen;
    m_log->foundByScan(num);
    return true;
}

void CXrefTable::reportUnusable(int num)
{
    CObjectScan::CHeader header;
    if (scan().find(num, header))
        m_log->unreadable(num);
    else
        m_log->missing(num);
}

void CXrefTable::reconstruct()
{
    m_records.clear();
    m_trailer.clear();
    m_objStms.clear();
    m_rootNum = m_rootGen = m_infoNum = m_infoGen = 0;
    m_security.reset();
    m_encryptEntryText.clear();
    m_idEntryText.clear();
    m_encryptNum = 0;
    const std::vector<CObjectScan::CHeader> headers = scan().headersInFileOrder();
    int64_t highest = 0;
    for (const CObjectScan::CHeader& header : headers)
        highest = std::max<int64_t>(highest, header.num);
    growRecords(highest + 1);
    // Where the version of each object in use stands: a later one wins.
    std::vector<int64_t> placedAt(m_records.size(), -1);
    for (const CObjectScan::CHeader& header : headers) {
        CXrefRecord& record = m_records[static_cast<size_t>(header.num)];
        record.type = XREF_IN_FILE;
        record.offset = static_cast<int32_t>(header.offset);
        record.gen = header.gen;
        placedAt[static_cast<size_t>(header.num)] = header.offset;
    }

    // Object streams give their objects; cross-reference streams and
    // "trailer" dictionaries give the catalog; a catalog is also known by its /Type.
    struct CTrailer {
        int64_t position;
        CPdfObject dict;
        bool isObject; // a cross-reference stream: position is its "N G obj"
    };
    std::vector<CTrailer> trailers;
    std::vector<CObjectScan::CHeader> objectStreams;
    int catalogNum = 0, catalogGen = 0;
    for (const CObjectScan::CHeader& header : headers) {
        CPdfObject object;
        try {
            fetchObject(header.num, header.gen, object);
        } catch (const CPdfException&) {
            continue;
        }
        const bool stream = object.type() == PDF_STREAM;
        CPdfDict* dict = object.type() == PDF_DICT ? object.dictValue() : stream ? object.streamValue()->streamDict() : nullptr;
        if (!dict)
            continue;
        CPdfObject type;
        dict->getValueUnresolved("Type", type);
        if (type.type() != PDF_NAME)
            continue;
        if (type.textString() == "Catalog") {
            catalogNum = header.num;
            catalogGen = header.gen;
        } else if (stream && type.textString() == "XRef") {
            CPdfObject copy;
            copy.setSharedDict(dict);
            trailers.push_back({header.offset, copy, true});
        } else if (stream && type.textString() == "ObjStm") {
            objectStreams.push_back(header);
        }
    }
    for (int64_t position : scan().trailers()) {
        try {
            CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + position, 0, CPdfObject()));
            parser.setStreamEnds(m_streamEnds.get());
            CPdfObject dict;
            parser.parseObject(dict);
            if (dict.type() == PDF_DICT)
                trailers.push_back({position, dict, false});
        } catch (const CPdfException&) {
        }
    }
    std::sort(trailers.begin(), trailers.end(),
              [](const CTrailer& a, const CTrailer& b) { return a.position < b.position; });

    // Object streams decrypt with the key of the newest trailer that has one.
    auto encrypts = [](const CTrailer& trailer) {
        CPdfObject encrypt;
        trailer.dict.dictValue()->getValueUnresolved("Encrypt", encrypt);
        return encrypt.type() == PDF_REF || encrypt.type() == PDF_DICT;
    };
    const CTrailer* encrypted = nullptr;
    for (auto it = trailers.rbegin(); it != trailers.rend() && !encrypted; ++it)
        if (encrypts(*it))
            encrypted = &*it;
    if (encrypted) {
        m_encryptedFound = true;
        readEncryption(m_baseOffset + encrypted->position, encrypted->isObject);
    }

    size_t decoded = 0;
    for (const CObjectScan::CHeader& header : objectStreams) {
        if (decoded >= kMaxRebuildDecodedBytes)
            break;
        CPdfObjStmReader members;
        try {
            members.build(*this, header.num);
        } catch (const CPdfException&) {
            continue;
        }
        decoded += members.dataSize();
        for (int index = 0; index < members.count(); ++index) {
            const int num = members.objectNumber(index);
            if (num <= 0 || num == header.num || num > highest + members.count())
                continue;
            if (num >= recordCount()) {
                growRecords(num + 1);
                placedAt.resize(m_records.size(), -1);
            }
            if (placedAt[static_cast<size_t>(num)] < header.offset) {
                CXrefRecord& record = m_records[static_cast<size_t>(num)];
                record.type = XREF_IN_OBJSTM;
                record.offset = header.num;
                record.gen = index;
                placedAt[static_cast<size_t>(num)] = header.offset;
            }
        }
    }

    // The newest trailer whose /Root names a catalog there is.
    auto inUse = [this](const CPdfObject& ref) {
        return ref.type() == PDF_REF && ref.refNum() > 0 && ref.refNum() < recordCount() &&
               m_records[static_cast<size_t>(ref.refNum())].type != XREF_FREE;
    };
    const CTrailer* chosen = nullptr;
    for (auto it = trailers.rbegin(); it != trailers.rend() && !chosen; ++it) {
        CPdfObject root;
        it->dict.dictValue()->getValueUnresolved("Root", root);
        if (!inUse(root))
            continue;
        CPdfObject catalog;
        fetchObject(root.refNum(), root.refGen(), catalog);
        if (catalog.type() != PDF_DICT)
            continue;
        chosen = &*it;
        m_rootNum = root.refNum();
        m_rootGen = root.refGen();
    }
    // The trailer chosen says how the document is encrypted, when it says so.
    if (chosen && chosen != encrypted && encrypts(*chosen)) {
        m_objStms.clear();
        readEncryption(m_baseOffset + chosen->position, chosen->isObject);
    }
    if (!chosen && catalogNum > 0) {
        m_rootNum = catalogNum;
        m_rootGen = catalogGen;
    }
    if (m_rootNum <= 0)
        throw CPdfException(CPdfException::EKind::Damaged, "PDF file was damaged (no catalog found)");
    for (auto it = trailers.rbegin(); it != trailers.rend(); ++it) {
        CPdfObject info;
        it->dict.dictValue()->getValueUnresolved("Info", info);
        if (inUse(info)) {
            m_infoNum = info.refNum();
            m_infoGen = info.refGen();
            break;
        }
    }

    // The trailer the rest of the program reads: the entries found.
    std::string text = "<< /Size " + std::to_string(recordCount()) + " /Root " + std::to_string(m_rootNum) + " " +
                       std::to_string(m_rootGen) + " R";
    if (m_infoNum > 0)
        text += " /Info " + std::to_string(m_infoNum) + " " + std::to_string(m_infoGen) + " R";
    text += " >>";
    CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    parser.parseObject(m_trailer);

    int found = 0;
    for (const CXrefRecord& record : m_records)
        found += record.type != XREF_FREE;
    m_rebuilt = true;
    m_log->tableRebuilt(found, m_sectionsDamage);
}

int64_t CXrefTable::locateStartxref()
{
    // The last 1023 bytes, or the whole file when it is shorter.
    int64_t size = m_stream->seekPos(0, SEEK_END);
    m_stream->seekPos(std::max<int64_t>(size - 1023, 0), SEEK_SET);
    char tail[1024];
    const size_t n = m_stream->readBytes(reinterpret_cast<uint8_t*>(tail), 1023);
    std::replace(tail, tail + n, '\0', ' ');
    tail[n] = '\0';
    // The last one: earlier ones belong to updates the file has had since.
    const size_t keyword = std::string_view(tail, n).rfind("startxref");
    if (keyword == std::string_view::npos)
        return 0;
    const char* p = tail + keyword + 9;
    while (isStartxrefSpace(*p))
        ++p;
    return parseSignedDecimal(p);
}

bool CXrefTable::readSectionAt(int64_t& offset)
{
    const int64_t at = m_baseOffset + offset;
    try {
        return readSection(offset);
    } catch (const CPdfException& error) {
        throw error.at(std::nullopt, at);
    }
}

bool CXrefTable::readSection(int64_t& offset)
{
    // Most tables are written in the standard layout, read faster as bytes.
    std::vector<int> freeInTable;
    int64_t trailerAt = 0;
    m_sectionRecognized = false;
    if (!m_tablesByTokens && readStandardTable(offset, trailerAt, freeInTable)) {
        m_sectionRecognized = true;
        CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + trailerAt, 0, CPdfObject()));
        parser.setStreamEnds(m_streamEnds.get());
        CPdfObject keyword;
        parser.parseObject(keyword); // "trailer", checked by the byte reader
        return readTrailer(parser, freeInTable, offset);
    }

    CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + offset, 0, CPdfObject()));
    parser.setStreamEnds(m_streamEnds.get());
    CPdfObject first;
    parser.parseObject(first);
    m_sectionRecognized = first.isKeyword("xref");
    if (m_sectionRecognized)
        return readClassicSection(parser, offset);
    if (first.type() != PDF_INT)
        throw CPdfException("Couldn't parse an xref");
    CPdfObject stream;
    readStreamObjectAfterNumber(parser, stream);
    m_sectionRecognized = isXrefStream(stream);
    const bool newest = m_trailer.type() == PDF_NONE;
    const int64_t at = m_baseOffset + offset;
    const bool more = readStreamSection(stream.streamValue(), offset);
    if (newest) {
        m_trailerAt = at;
        m_trailerIsObject = true;
    }
    return more;
}

void CXrefTable::growRecords(int64_t length)
{
    // Every object needs at least a byte of the file, so a count far beyond
    // the file's size (or beyond any real document) is damaged or hostile
    // data; refusing it keeps a number from sizing a huge allocation. Sparse
    // files number their objects past their size, so a floor of numbers is
    // allowed whatever the size.
    if (length < 0 || length > kMaxObjects || length > std::max(m_fileSize + 1024, kSparseObjects))
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
        // Room for them is made only as far as the file can hold them.
        if (count > 0 && count <= (m_fileSize - (in->tellPos() - m_baseOffset)) / 20)
            entries.reserve(entries.size() + static_cast<size_t>(count));
        for (int64_t k = 0; k < count; ++k) {
            uint8_t copy[20];
            const uint8_t* line = in->bufferedBegin();
            if (in->bufferedEnd() - line >= 20)
                in->skipBufferedTo(line + 20); // read in place
            else if (in->readBytes(copy, 20) == 20)
                line = copy;
            else
                return false;
            if (line[10] != ' ' || line[16] != ' ' || (line[17] != 'n' && line[17] != 'f') ||
                !((line[18] == ' ' && (line[19] == '\n' || line[19] == '\r')) ||
                  (line[18] == '\r' && line[19] == '\n')))
                return false;
            int64_t entryOffset = 0, gen = 0;
            bool digits = true;
            for (int i = 0; i < 10; ++i) {
                digits = digits && static_cast<unsigned>(line[i] - '0') <= 9;
                entryOffset = entryOffset * 10 + (line[i] - '0');
            }
            for (int i = 11; i < 16; ++i) {
                digits = digits && static_cast<unsigned>(line[i] - '0') <= 9;
                gen = gen * 10 + (line[i] - '0');
            }
            if (!digits)
                return false;
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
    if (m_trailer.type() == PDF_NONE) {
        m_trailer.assign(trailer);
        m_trailerAt = parser.valueBegin();
        m_trailerIsObject = false;
    }

    CPdfObject hybrid;
    trailer.dictValue()->getValueUnresolved("XRefStm", hybrid);
    if (hybrid.type() == PDF_INT)
        readHybridStream(hybrid.intValue(), freeInTable);
    return previousOffset(trailer.dictValue(), offset);
}

void CXrefTable::readHybridStream(int64_t offset, const std::vector<int>& freeInTable)
{
    m_replaceable.assign(m_records.size(), false);
    for (int num : freeInTable)
        m_replaceable[static_cast<size_t>(num)] = true;
    m_sectionRecognized = false;
    try {
        CPdfParser parser(nullptr, m_stream->openWindow(m_baseOffset + offset, 0, CPdfObject()));
        parser.setStreamEnds(m_streamEnds.get());
        CPdfObject number, stream;
        parser.parseObject(number);
        if (number.type() != PDF_INT)
            throw CPdfException("Couldn't parse an xref stream");
        readStreamObjectAfterNumber(parser, stream);
        m_sectionRecognized = isXrefStream(stream);
        int64_t ignoredPrev = 0; // the table's own trailer names the previous section
        readStreamSection(stream.streamValue(), ignoredPrev);
    } catch (const CPdfException& error) {
        m_replaceable.clear();
        throw error.at(std::nullopt, m_baseOffset + offset);
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

void CXrefTable::fetchObjectOrNull(int num, int gen, CPdfObject& out)
{
    try {
        fetchObject(num, gen, out);
    } catch (const CPdfException&) {
        out.clear();
        out.setNull();
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
        // An object not where its record says is looked for where the scan found it.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int64_t offset = m_records[static_cast<size_t>(num)].offset;
            CPdfParser parser(this, m_stream->openWindow(m_baseOffset + offset, 0, CPdfObject()));
            parser.setStreamEnds(m_streamEnds.get(), num);
            int headerNum = 0, headerGen = 0;
            if (parser.parseObjectHeader(headerNum, headerGen) && headerNum == num && headerGen == gen) {
                try {
                    parser.parseObject(out);
                } catch (const CPdfException& error) {
                    throw error.at(num, m_baseOffset + offset);
                }
                return;
            }
            if (attempt > 0 || !relocate(num) || m_records[static_cast<size_t>(num)].gen != gen)
                break;
        }
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

CPdfRefPtr<CPdfStream> CXrefTable::streamData(int num, int gen, const CPdfObject& object, int64_t maxStoredBytes)
{
    const CSecurityHandler::EMethod method =
        m_security ? m_security->streamMethodFor(object) : CSecurityHandler::EMethod::Identity;
    if (method != CSecurityHandler::EMethod::Identity)
        return decryptedStreamData(*m_stream, *m_security, method, num, gen, object, maxStoredBytes);
    return CPdfRefPtr<CPdfStream>::share(object.streamValue());
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
