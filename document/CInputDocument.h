#pragma once

#include <memory>
#include <optional>
#include <string>

#include "load/CObjectReader.h"
#include "load/CPdfFile.h"

class CFileSource;
class CRepairLog;
class CXrefTable;

// The input PDF of a run, opened and loaded: the file, its cross-reference
// table and the reader of its objects' text. Stamping changes the document,
// so a file whose permissions forbid that is refused here.
class CInputDocument {
public:
    // Loads the cross-reference data of `file`; repairs of a damaged file go
    // to `repairs`. Throws CPdfException, "Input file open error" when `file`
    // is null (it could not be opened).
    // `password`, when given, opens an encrypted file that needs one.
    CInputDocument(std::shared_ptr<CFileSource> file, CRepairLog& repairs,
                   const std::optional<std::string>& password = std::nullopt);
    ~CInputDocument();
    CInputDocument(const CInputDocument&) = delete;
    CInputDocument& operator=(const CInputDocument&) = delete;

    CFileSource& file() const { return *m_file; }
    CXrefTable& xref() const { return *m_document.xref(); }
    CObjectReader& reader() const { return *m_reader; }

private:
    std::shared_ptr<CFileSource> m_file;
    CPdfFile m_document;
    std::unique_ptr<CObjectReader> m_reader;
};
