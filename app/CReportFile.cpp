#include "app/CReportFile.h"

#include "app/CFileOutcome.h"
#include "pdf/CPdfException.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

CReportFile::~CReportFile()
{
    if (m_owned && m_file)
        std::fclose(m_file);
}

void CReportFile::open(const std::string& path)
{
    m_path = path;
    if (path == "-") {
        m_file = stdout;
        return;
    }
#ifdef _WIN32
    // "N": not handed down to the workers.
    m_file = _wfopen(platform::windows::systemPath(path).c_str(), L"wbN");
#else
    m_file = std::fopen(path.c_str(), "we");
#endif
    if (!m_file)
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "Report file create error: '%s'\n", path);
    m_owned = true;
}

void CReportFile::add(const CFileOutcome& outcome)
{
    if (!m_file)
        return;
    const std::string line = outcome.jsonLine();
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size() || std::fflush(m_file) != 0)
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "Report file write error: '%s'\n", m_path == "-" ? "standard output" : m_path);
}
