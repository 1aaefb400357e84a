#include "load/CPdfFile.h"

#include <string_view>

#include "load/CObjectReader.h"
#include "load/CPdfFileWindowStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"

CPdfFile::CPdfFile() = default;

CPdfFile::CPdfFile(std::shared_ptr<CFileSource> file, CRepairLog& repairs, const std::optional<std::string>& password)
{
    if (!file)
        throw CPdfException(CPdfException::EKind::InputError, "Input file open error\n");
    m_password = password;
    open(std::move(file), &repairs);
}

CPdfFile::~CPdfFile() { close(); }

void CPdfFile::open(const std::string& path)
{
    std::shared_ptr<CFileSource> file = CFileSource::open(path);
    if (!file)
        throw CPdfException(CPdfException::EKind::InputError, "Can't open file");
    open(std::move(file));
}

void CPdfFile::open(std::shared_ptr<CFileSource> file, CRepairLog* log)
{
    close();
    if (file->size() > kMaxFileSize)
        throw CPdfException(CPdfException::EKind::Unsupported, "PDF file is larger than 2 GB, which is not supported");
    m_file = std::move(file);
    m_mainStream = CPdfRefPtr<CPdfStream>::adopt(new CPdfFileWindowStream(m_file, 0, 0, CPdfObject()));
    bool header = false;
    try {
        header = locateHeader();
        buildXref(log);
    } catch (const CPdfException& error) {
        close();
        // Without a header and without anything a document needs, it is no PDF.
        if (!header && error.kind() == CPdfException::EKind::Damaged)
            throw CPdfException(CPdfException::EKind::NotPdf, error.message(), error.object(), error.offset());
        throw;
    } catch (...) {
        close();
        throw;
    }
    m_reader = std::make_unique<CObjectReader>(*m_file, *m_xref);
    m_isOpen = true;
}

void CPdfFile::close()
{
    m_reader.reset();
    m_xref.reset();
    m_mainStream.reset();
    m_file.reset();
    m_isOpen = false;
}

bool CPdfFile::locateHeader()
{
    // The header may stand anywhere in the first 1 KB; bytes before it are not
    // part of the document, and every offset counts from the header.
    char head[1022];
    const size_t n = m_mainStream->readBytes(reinterpret_cast<uint8_t*>(head), sizeof head);
    const size_t at = std::string_view(head, n).find("%PDF-");
    if (at == std::string_view::npos) {
        m_mainStream->rewind();
        return false;
    }
    m_mainStream->shiftStart(static_cast<int64_t>(at));
    return true;
}

void CPdfFile::buildXref(CRepairLog* log)
{
    m_xref = std::make_unique<CXrefTable>();
    m_xref->setRepairLog(log);
    if (m_password)
        m_xref->setPassword(*m_password);
    m_xref->load(m_file, m_mainStream.get(), false, m_repair);
}
