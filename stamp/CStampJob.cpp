#include "stamp/CStampJob.h"

#include <memory>
#include <set>
#include <vector>

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CInputDocument.h"
#include "stamp/CPageStamper.h"
#include "stamp/CPageTreeWalker.h"
#include "stamp/CPassMemory.h"
#include "stamp/CReporter.h"
#include "stamp/CRewriteWriter.h"
#include "stamp/CStampImage.h"
#include "stamp/CStampPainter.h"
#include "stamp/CStampSettings.h"
#include "stamp/CWrittenObjects.h"
#include "stamp/StampObjects.h"

CStampJob::CStampJob(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs)
    : m_settings(settings), m_reporter(reporter), m_repairs(repairs)
{
}

CStampJob::~CStampJob() = default;

CStampResult CStampJob::stampFile()
{
    CPassMemory memory;
    return run(memory, false, false);
}

CStampResult CStampJob::stampPass(CPassMemory& memory, bool intermediate) { return run(memory, true, intermediate); }

int CStampJob::countPages(const std::string& path, CReporter& reporter, CRepairLog& repairs)
{
    std::shared_ptr<CFileSource> file = CFileSource::open(path);
    if (!file)
        throw CPdfException("Can't open file");
    reporter.countingPages(path);
    CInputDocument input(std::move(file), repairs);
    std::vector<CPageRecord> pages;
    return CPageTreeWalker(input.reader()).walkDocument(pages);
}

CStampResult CStampJob::planFile(bool pass)
{
    std::shared_ptr<CFileSource> file = CFileSource::open(m_settings.inputPath);
    if (!pass)
        m_reporter.inputOpened(m_settings.inputPath);
    CInputDocument input(std::move(file), m_repairs);
    if (!m_settings.imagePath)
        throw CPdfException("-j parameter missing");
    const CStampImage image(*m_settings.imagePath);
    if (!pass)
        m_reporter.planBegun(*m_settings.imagePath, m_settings.outputPath);
    std::vector<CPageRecord> pages;
    CStampResult result;
    result.pageCount = CPageTreeWalker(input.reader()).walkDocument(pages);
    result.encrypted = input.xref().securityHandler() != nullptr;
    const CStampPainter painter(m_settings, image.width(), image.height(), CResourceNames());
    // A page the tree names twice is written, and stamped, once.
    std::set<int> seen;
    for (size_t index = 0; index < pages.size(); ++index) {
        if (!seen.insert(pages[index].objectNumber).second || !m_settings.selectsPage(static_cast<int>(index)))
            continue;
        m_reporter.pagePlaced(static_cast<int>(index) + 1, painter.displayedRect(pages[index]));
        ++result.pagesStamped;
    }
    return result;
}

CStampResult CStampJob::run(CPassMemory& memory, bool pass, bool intermediate)
{
    try {
        std::shared_ptr<CFileSource> file = CFileSource::open(m_settings.inputPath);
        // A pass reads what the one before it wrote: the passes report the file as a whole.
        if (!pass)
            m_reporter.inputOpened(m_settings.inputPath);
        CInputDocument input(std::move(file), m_repairs);
        // A mark pass reading the previous pass's output already knows where
        // the objects that pass made stand.
        const CWrittenObjects previous = pass ? memory.takePreviousRun(input.file()) : CWrittenObjects();
        const std::vector<CXrefRecord>& records = input.xref().records();
        const int64_t base = input.xref().baseOffset();
        auto earlierStamp = [&previous, &records, base](int num) {
            return num >= 0 && num < static_cast<int>(records.size()) &&
                   records[static_cast<size_t>(num)].type == XREF_IN_FILE &&
                   previous.isStamp(num, base + records[static_cast<size_t>(num)].offset);
        };

        if (!m_settings.imagePath)
            throw CPdfException("-j parameter missing");
        const CStampImage image(*m_settings.imagePath);
        if (intermediate) {
            m_output.createIntermediate(m_settings.outputPath); // a new file: it cannot be an input
        } else {
            // Writing over an input while reading it would destroy it.
            const platform::FileIdentity target = platform::identify(m_settings.outputPath);
            for (const CFileSource* read : {static_cast<const CFileSource*>(&input.file()), &image.file()})
                if (target.exists && target.device == read->device() && target.inode == read->inode())
                    throw CPdfException::formatted("\nOutput file is the input file: '%s'\n", m_settings.outputPath);
            m_output.create(m_settings.outputPath);
        }
        if (!pass)
            m_reporter.outputBegun(*m_settings.imagePath, m_settings.outputPath);

        CWrittenObjects written;
        CRewriteWriter writer(m_output, input, pass ? &previous : nullptr, pass ? &written : nullptr);
        writer.begin();
        std::vector<CPageRecord> pages;
        CStampResult result;
        result.pageCount = CPageTreeWalker(input.reader()).walkDocument(pages);
        const CResourceNames names = memory.drawResourceNames(m_settings.resourceNumber);

        const CSecurityHandler* security = input.xref().securityHandler();
        const int stateNum = writer.beginNewObject();
        m_output.write(formatGraphicsStateObject(static_cast<float>(m_settings.opacity)));
        writer.endNewObject(stateNum);
        const int imageNum = image.write(writer, security);

        const CStampPainter painter(m_settings, image.width(), image.height(), names);
        CPageStamper stamper(m_settings, pages, input, writer, m_reporter, painter, {names, imageNum, stateNum},
                             earlierStamp);
        writer.writeObjects(stamper);
        writer.finish();
        result.outputBytes = m_output.position();
        m_output.commit();
        if (pass)
            memory.keepRun(std::move(written), m_output.writtenPath());
        result.pagesStamped = stamper.stampedCount();
        result.encrypted = security != nullptr;
        return result;
    } catch (...) {
        m_output.discard();
        throw;
    }
}
