#include "stamp/CPageStamper.h"

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "stamp/CInputDocument.h"
#include "stamp/COutputFile.h"
#include "stamp/COutputWriter.h"
#include "stamp/CReporter.h"
#include "stamp/CStampPainter.h"
#include "stamp/CStampSettings.h"

CPageStamper::CPageStamper(const CStampSettings& settings, std::vector<CPageRecord>& pages, CInputDocument& input,
                           COutputWriter& writer, CReporter& reporter, const CStampPainter& painter,
                           const CNewObjects& objects, std::function<bool(int)> earlierStamp)
    : m_settings(settings), m_pages(pages), m_input(input), m_writer(writer), m_reporter(reporter),
      m_painter(painter),
      m_contents(input.reader(), CContentReader::budgetFor(input.file().size()), std::move(earlierStamp)),
      m_rewriter(CPageRewriter::CContext{input.reader(), input.xref(), writer, objects.names.image, objects.imageNum,
                                         objects.names.state, objects.stateNum})
{
}

bool CPageStamper::selects(int pageIndex) const { return m_settings.selectsPage(pageIndex); }

void CPageStamper::pageMet() { m_reporter.pageWritten(++m_pagesMet); }

void CPageStamper::stamp(int pageIndex, const std::string& pageText)
{
    const CPageRecord& page = m_pages[static_cast<size_t>(pageIndex)];
    // The streams around the content close what it leaves open.
    const CStampFrame frame = m_contents.frameFor(pageText, page);
    const CSecurityHandler* security = m_input.xref().securityHandler();
    COutputFile& output = m_writer.output();
    const int prefix = m_writer.beginNewObject();
    if (security)
        output.write(formatStreamObject(security->encryptStream(prefix, 0, m_painter.prefixContent(frame))));
    else
        output.write(m_painter.prefixStream(frame));
    m_writer.endNewObject(prefix);
    const int stamp = m_writer.beginNewObject();
    if (security)
        output.write(formatStreamObject(security->encryptStream(stamp, 0, m_painter.stampContent(page, frame))));
    else
        output.write(m_painter.stampStream(page, frame));
    m_writer.endNewObject(stamp, true);
    m_rewriter.rewrite(pageText, page.objectNumber, page, prefix, stamp);
    ++m_stamped;
}
