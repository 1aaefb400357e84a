#pragma once

#include <memory>
#include <optional>
#include <string>

#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

class CRepairLog;
class CXrefTable;

// An input PDF opened for reading: the file, the main stream over it (which
// starts at the "%PDF-" header), the loaded cross-reference table and the
// reader of its objects' text.
class CPdfFile {
public:
    // Record offsets are 32-bit; larger files are refused rather than misread.
    static constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

    CPdfFile();
    // Opened over `file`, repairs of a damaged file going to `repairs`;
    // `password`, when given, opens an encrypted file that needs one. Throws
    // CPdfException, "Input file open error" when `file` is null (it could not be opened).
    CPdfFile(std::shared_ptr<CFileSource> file, CRepairLog& repairs,
             const std::optional<std::string>& password = std::nullopt);
    ~CPdfFile();
    CPdfFile(const CPdfFile&) = delete;
    CPdfFile& operator=(const CPdfFile&) = delete;

    // Opens and loads the document; throws CPdfException (and stays closed) on failure.
    void open(const std::string& path);
    // The same, over a file the caller already opened. Repairs of a damaged
    // file are recorded in `log` when one is given.
    void open(std::shared_ptr<CFileSource> file, CRepairLog* log = nullptr);
    void close();
    bool isOpen() const { return m_isOpen; }

    // Once open:
    CXrefTable& xref() const { return *m_xref; }
    CObjectReader& reader() const { return *m_reader; }
    CFileSource& file() const { return *m_file; }
    const std::shared_ptr<CFileSource>& sharedFile() const { return m_file; }
    CPdfStream* mainStream() const { return m_mainStream.get(); }

    // The password (UTF-8) that opens an encrypted file; by default the empty one.
    void setPassword(std::string password) { m_password = std::move(password); }
    // Whether damaged cross-reference data is rebuilt (the default) or refused.
    void setRepair(bool repair) { m_repair = repair; }

    // Starts the main stream at the "%PDF-" header; false when the first 1 KB has none.
    bool locateHeader();
    void buildXref(CRepairLog* log = nullptr);

private:
    bool m_isOpen = false;
    bool m_repair = true;
    std::optional<std::string> m_password;
    std::shared_ptr<CFileSource> m_file;
    CPdfRefPtr<CPdfStream> m_mainStream;
    std::unique_ptr<CXrefTable> m_xref;
    std::unique_ptr<CObjectReader> m_reader;
};
