#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "load/CObjectScan.h"
#include "load/CRepairLog.h"
#include "load/CStreamEndFinder.h"
#include "load/CXrefRecord.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfResolver.h"

class CPdfObjStmReader;
class CPdfParser;
class CSecurityHandler;
class CPdfStream;

// The document's cross-reference data: one record per object number from all
// sections (newest first along the /Prev chain), the newest trailer, and the
// object-stream cache behind fetchObject.
class CXrefTable final : public CPdfResolver {
public:
    // A larger object count is damaged (or hostile) data, not a document.
    static constexpr int64_t kMaxObjects = 8388607;
    // Numbers any file may use, however small (12 bytes of records each).
    static constexpr int64_t kSparseObjects = 1 << 20;
    // Fetches nest when a stream's /Length or an object stream is itself
    // fetched; real files need two or three levels.
    static constexpr int kMaxFetchDepth = 32;
    // Recently used object streams stay decoded, within these bounds.
    static constexpr size_t kObjStmCacheEntries = 8;
    static constexpr size_t kObjStmCacheBytes = 16 * 1024 * 1024;
    // A rebuild decodes object streams up to this many bytes in all, so that
    // a file of many small bombs cannot keep it busy.
    static constexpr size_t kMaxRebuildDecodedBytes = 1024 * 1024 * 1024;

    CXrefTable();
    ~CXrefTable();
    CXrefTable(const CXrefTable&) = delete;
    CXrefTable& operator=(const CXrefTable&) = delete;

    // Reads every section; when they cannot be read (no startxref, one that
    // points elsewhere, a section that does not parse, a /Prev that leads
    // nowhere or loops back, no usable catalog) the table is rebuilt from a
    // scan of the file, and the repair log says why. Throws CPdfException
    // when neither gives a document. Classic tables in the standard layout
    // are read as bytes, their fast path, unless `tablesByTokens`: the
    // layout tests and the document fuzz target read each file both ways and
    // compare. With `repair` false, damage is refused with what the sections'
    // reader found. `mainStream` is a window on `file` from its "%PDF-" header.
    void load(std::shared_ptr<CFileSource> file, CPdfStream* mainStream, bool tablesByTokens = false,
              bool repair = true);
    // The password (UTF-8) an encrypted document is opened with, set before load().
    void setPassword(std::string password) { m_password = std::move(password); }
    // Where repairs are recorded; by default a log of the table's own.
    void setRepairLog(CRepairLog* log);
    CRepairLog& repairLog() const { return *m_log; }
    // Where the data of each stream object in the file ends, for every
    // reader of them; it records wrong lengths in the repair log.
    CPdfStreamEndRule& streamEnds() const { return *m_streamEnds; }
    // Points record `num` at where the scan found its header, when that is
    // elsewhere; false when the scan knows no better place.
    bool relocate(int num);
    // Records that in-use object `num` could not be used: missing from the
    // file, or there but unreadable.
    void reportUnusable(int num);
    // Whether the table was rebuilt from a scan.
    bool rebuilt() const { return m_rebuilt; }
    // The number after the last "startxref" in the file's tail, or 0.
    int64_t locateStartxref();
    // Each reads one section; true when it names a previous one, whose offset
    // replaces `offset`. An error leaves readSectionAt with the section's offset.
    bool readSectionAt(int64_t& offset);
    bool readClassicSection(CPdfParser& parser, int64_t& offset);
    bool readStreamSection(CPdfStream* stream, int64_t& offset);
    void readStreamSubsection(CPdfStream* stream, const int widths[3], int first, int count);

    const std::vector<CXrefRecord>& records() const { return m_records; }
    int recordCount() const { return static_cast<int>(m_records.size()); }
    int64_t baseOffset() const { return m_baseOffset; }
    int rootNum() const { return m_rootNum; }
    int rootGen() const { return m_rootGen; }
    int infoNum() const { return m_infoNum; }
    int infoGen() const { return m_infoGen; }
    const CPdfObject& trailer() const { return m_trailer; }

    // The kinds of the newest cross-reference section, which an update appends after.
    enum class ESectionKind {
        Classic, // a table and "trailer"
        Stream,  // a cross-reference stream
        Hybrid,  // a table whose trailer names a stream with /XRefStm
    };
    // Where startxref points (counted from the header), and what stands there;
    // meaningless once the table was rebuilt.
    int64_t newestSectionOffset() const { return m_newestSection; }
    ESectionKind newestSectionKind() const { return m_newestKind; }

    // The security handler of an encrypted document, opened with the empty
    // password; null for a document that is not encrypted. An encrypted
    // document that needs a password is refused by load().
    const CSecurityHandler* securityHandler() const { return m_security.get(); }
    // For a copy that keeps the protection: the trailer's /Encrypt and /ID
    // entries as the file writes them ("/Encrypt 7 0 R", "/ID [<..><..>]";
    // empty when absent), and the object /Encrypt refers to (0 when inline).
    const std::string& encryptEntryText() const { return m_encryptEntryText; }
    const std::string& idEntryText() const { return m_idEntryText; }
    int encryptNum() const { return m_encryptNum; }
    CPdfStream* mainStream() const { return m_stream; }

    void fetchObject(int num, int gen, CPdfObject& out) override;
    // The same, with null for an object that cannot be parsed: for readers
    // that take what they cannot read for nothing.
    void fetchObjectOrNull(int num, int gen, CPdfObject& out);
    // Decrypted with the document's key where it encrypts the stream.
    CPdfRefPtr<CPdfStream> streamData(int num, int gen, const CPdfObject& object, int64_t maxStoredBytes) override;
    // The decoded bytes of compressed object `num` inside its object stream;
    // empty when there are none. Valid until the next call.
    std::string_view compressedObjectBytes(int num, int gen);

private:
    bool readSection(int64_t& offset);
    // Records why the sections cannot be used, for the rebuild's warning,
    // and throws what a load without repair refuses the file with.
    [[noreturn]] void refuseSections(std::string why, std::optional<int64_t> offset);
    // A classic table in the standard layout ("first count" lines and 20-byte
    // entries), read as bytes; false (nothing stored) for anything else.
    bool readStandardTable(int64_t offset, int64_t& trailerAt, std::vector<int>& freeInTable);
    // The trailer after a table (the parser stands after "trailer"), its
    // /XRefStm, and its /Prev.
    bool readTrailer(CPdfParser& parser, const std::vector<int>& freeInTable, int64_t& offset);
    void growRecords(int64_t length);
    // Fills record `num` unless a newer section filled it already.
    void storeRecord(int num, const CXrefRecord& record);
    // Stores an entry of a classic table; a free one that no newer section
    // filled goes on `freeInTable`, for the hybrid stream to replace.
    void storeTableEntry(int num, const CXrefRecord& record, std::vector<int>& freeInTable);
    // Reads the cross-reference stream a classic trailer names with /XRefStm.
    void readHybridStream(int64_t offset, const std::vector<int>& freeInTable);
    // Reads the sections from startxref along the /Prev chain, and the trailer's entries.
    void loadSections();
    // Rebuilds every record and the trailer from a scan of the file.
    void reconstruct();
    // The scan of the whole file, made the first time it is needed.
    const CObjectScan& scan();
    // Builds the security handler from the trailer dictionary at file
    // position `at` (an object's "N G obj" when `isObject`), reading its
    // strings with their bytes: keys and the /ID are binary.
    void readEncryption(int64_t at, bool isObject);
    // readEncryption for the newest trailer, when it has /Encrypt.
    void setUpEncryption();
    // The file's bytes [begin, end), positions of the main stream.
    std::string fileText(int64_t begin, int64_t end);
    // The decoded object stream `num`, from the cache or built now.
    std::shared_ptr<CPdfObjStmReader> objectStream(int num);

    CPdfStream* m_stream = nullptr; // the document's main stream; not owned
    std::unique_ptr<CStreamEndFinder> m_streamEnds;
    bool m_tablesByTokens = false;
    bool m_repair = true;
    int64_t m_baseOffset = 0;
    int64_t m_fileSize = 0;
    std::vector<CXrefRecord> m_records;
    int m_rootNum = 0;
    int m_rootGen = 0;
    int m_infoNum = 0;
    int m_infoGen = 0;
    CPdfObject m_trailer;
    // While a hybrid file's stream is read: numbers its table listed as free,
    // which an in-use entry of the stream may replace.
    std::vector<bool> m_replaceable;
    std::vector<int> m_fetching; // numbers being fetched, innermost last
    std::vector<std::shared_ptr<CPdfObjStmReader>> m_objStms; // most recently used first
    std::unique_ptr<CObjectScan> m_scan;
    bool m_rebuilt = false;
    // Why the sections could not be used: the first cause found, said in the rebuild's warning.
    std::string m_sectionsDamage;
    // Whether the section being read starts as one ("xref", or a stream of /Type /XRef).
    bool m_sectionRecognized = false;
    // Where the newest trailer stands (file position), for the encryption
    // entries that must be read again with their bytes.
    int64_t m_trailerAt = -1;
    bool m_trailerIsObject = false; // a cross-reference stream's "N G obj"
    int64_t m_newestSection = 0;
    ESectionKind m_newestKind = ESectionKind::Classic;
    std::unique_ptr<CSecurityHandler> m_security;
    std::optional<std::string> m_password;
    std::string m_encryptEntryText;
    std::string m_idEntryText;
    int m_encryptNum = 0;
    bool m_encryptedFound = false; // a rebuild met an /Encrypt entry: its refusal stands
    CRepairLog m_ownLog;
    CRepairLog* m_log = &m_ownLog; // not owned
};
