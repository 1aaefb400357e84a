#include "load/CPdfFile.h"

#include <cstring>

#include "load/CPdfFileWindowStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"

CPdfFile::CPdfFile() = default;

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
    m_isOpen = true;
}

void CPdfFile::close()
{
    m_xref.reset();
    m_mainStream.reset();
    m_file.reset();
    m_isOpen = false;
}

bool CPdfFile::locateHeader()
{
    // The header may stand anywhere in the first 1 KB; bytes before it are not
    // part of the document, and every offset counts from the header.
    char head[1024];
    for (int i = 0; i < 1023; ++i) {
        int c = m_mainStream->readChar();
        head[i] = static_cast<char>(c < 0 ? 0xFF : c);
    }
    head[1023] = '\0';
    for (int i = 0; i <= 1017; ++i) {
        if (std::memcmp(head + i, "%PDF-", 5) == 0) {
            m_mainStream->shiftStart(i);
            return true;
        }
    }
    m_mainStream->rewind();
    return false;
}

void CPdfFile::buildXref(CRepairLog* log)
{
    m_xref = std::make_unique<CXrefTable>();
    m_xref->setRepairLog(log);
    if (m_password)
        m_xref->setPassword(*m_password);
    m_xref->load(m_file, m_mainStream.get(), false, m_repair);
}
