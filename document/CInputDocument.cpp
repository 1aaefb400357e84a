#include "document/CInputDocument.h"

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"

CInputDocument::CInputDocument(std::shared_ptr<CFileSource> file, CRepairLog& repairs,
                               const std::optional<std::string>& password)
    : m_file(std::move(file))
{
    if (!m_file)
        throw CPdfException(CPdfException::EKind::InputError, "Input file open error\n");
    if (password)
        m_document.setPassword(*password);
    m_document.open(m_file, &repairs);
    // Stamping changes the document: bit 4 of /P must allow that.
    const CSecurityHandler* security = m_document.xref()->securityHandler();
    if (security && !security->allowsModifying())
        throw CPdfException(CPdfException::EKind::Permissions,
                            "PDF file is encrypted, and its permissions do not allow changing it");
    m_reader = std::make_unique<CObjectReader>(*m_file, *m_document.xref());
}

CInputDocument::~CInputDocument() = default;
