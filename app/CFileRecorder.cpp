#include "app/CFileRecorder.h"

void CFileRecorder::outputBegun(const std::string& image, const std::string& output)
{
    m_console.outputBegun(image, output);
}

void CFileRecorder::planBegun(const std::string& image, const std::string& output)
{
    m_outcome.dryRun = true;
    m_console.planBegun(image, output);
}

void CFileRecorder::pagePlaced(int pageNumber, const CStampRect& rect)
{
    m_outcome.stamps.push_back(CFileOutcome::CPlaced{pageNumber, rect});
    m_console.pagePlaced(pageNumber, rect);
}

void CFileRecorder::warning(const std::string& text)
{
    m_outcome.warnings.push_back(text);
    m_console.warning(text);
}
