#include "stamp/CStampJob.h"

#include <memory>
#include <vector>

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CDocumentProfile.h"
#include "stamp/CIncrementalWriter.h"
#include "stamp/CInputDocument.h"
#include "stamp/CPageStamper.h"
#include "stamp/CPageTreeWalker.h"
#include "stamp/CPassMemory.h"
#include "stamp/CReporter.h"
#include "stamp/CRewriteWriter.h"
#include "stamp/CSignatureCheck.h"
#include "stamp/CStampImage.h"
#include "stamp/CStampPainter.h"
#include "stamp/CStampSettings.h"
#include "stamp/CWritePlan.h"
#include "stamp/CWrittenObjects.h"
#include "stamp/StampObjects.h"

namespace {

std::string pageList(const std::vector<int>& pages)
{
    std::string text;
    for (int page : pages)
        text += (text.empty() ? "" : ", ") + std::to_string(page);
    return text;
}

} // namespace

CStampJob::CStampJob(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs)
    : m_settings(settings), m_reporter(reporter), m_repairs(repairs)
{
}

CStampJob::~CStampJob() = default;

CStampResult CStampJob::stampFile()
{
    CPassMemory memory;
    return run(memory, false, false, nullptr);
}

CStampResult CStampJob::stampPass(CPassMemory& memory, bool intermediate)
{
    return run(memory, true, intermediate, nullptr);
}

CStampResult CStampJob::stampMarksUpdate(const std::string& verticalImage)
{
    CPassMemory memory;
    return run(memory, false, false, &verticalImage);
}

int CStampJob::countPages(const std::string& path, CReporter& reporter, CRepairLog& repairs,
                          const CStampSettings& settings)
{
    std::shared_ptr<CFileSource> file = CFileSource::open(path);
    if (!file)
        throw CPdfException(CPdfException::EKind::InputError, "Can't open file");
    reporter.countingPages(path);
    CInputDocument input(std::move(file), repairs, settings.password);
    return CPageTreeWalker(input.reader()).countDocument();
}

CWritePlan CStampJob::plan(CInputDocument& input) const
{
    const CSignatureFindings found = CSignatureCheck(input.xref(), input.file().size()).inspect();
    try {
        return CWritePlan::decide(m_settings, found, input.xref().rebuilt(), m_settings.inputPath);
    } catch (const CPdfException& refusal) {
        // What was read the careful way explains a refusal for what the file allows.
        if (refusal.kind() == CPdfException::EKind::Permissions)
            for (const std::string& doubt : found.doubts)
                m_reporter.warning(doubt);
        throw;
    }
}

CStampResult CStampJob::planFile() { return planRun(false, true); }

CStampResult CStampJob::planPass(bool first) { return planRun(true, first); }

CStampResult CStampJob::planRun(bool pass, bool decides)
{
    std::shared_ptr<CFileSource> file = CFileSource::open(m_settings.inputPath);
    if (!pass)
        m_reporter.inputOpened(m_settings.inputPath);
    CInputDocument input(std::move(file), m_repairs, m_settings.password);
    // Refused for real, refused in a dry run too.
    const CWritePlan plan = decides ? this->plan(input) : CWritePlan();
    if (!m_settings.imagePath)
        throw CPdfException(CPdfException::EKind::UsageError, "-j parameter missing");
    const std::unique_ptr<CStampImage> image = CStampImage::open(*m_settings.imagePath);
    if (!pass)
        m_reporter.planBegun(*m_settings.imagePath, m_settings.outputPath);
    std::vector<CPageRecord> pages;
    CStampResult result;
    result.pageCount = CPageTreeWalker(input.reader()).walkDocument(pages);
    result.encrypted = input.xref().securityHandler() != nullptr;
    CStampDraw draw;
    draw.orientation = image->orientation();
    const CStampPainter painter(m_settings, image->width(), image->height(), CResourceNames(), draw);
    for (size_t index = 0; index < pages.size(); ++index) {
        if (!pages[index].firstOccurrence || !m_settings.selectsPage(static_cast<int>(index)))
            continue;
        m_reporter.pagePlaced(static_cast<int>(index) + 1, painter.displayedRect(pages[index]));
        ++result.pagesStamped;
    }
    for (const std::string& warning : plan.warnings)
        m_reporter.warning(warning);
    return result;
}

CStampResult CStampJob::run(CPassMemory& memory, bool pass, bool intermediate, const std::string* verticalImage)
{
    try {
        std::shared_ptr<CFileSource> file = CFileSource::open(m_settings.inputPath);
        // A pass reads what the one before it wrote: the passes report the file as a whole.
        if (!pass && !verticalImage)
            m_reporter.inputOpened(m_settings.inputPath);
        CInputDocument input(std::move(file), m_repairs, m_settings.password);
        // The passes rewrite what the first of them decided to rewrite.
        const CWritePlan plan = pass ? CWritePlan() : this->plan(input);
        if (verticalImage && !plan.update)
            return CStampResult();
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
            throw CPdfException(CPdfException::EKind::UsageError, "-j parameter missing");
        const std::unique_ptr<CStampImage> opened = CStampImage::open(*m_settings.imagePath);
        const CStampImage& image = *opened;
        std::unique_ptr<CStampImage> vertical;
        if (verticalImage)
            vertical = CStampImage::open(*verticalImage);
        const CDocumentProfile profile(input);
        if (intermediate) {
            m_output.createIntermediate(m_settings.outputPath); // a new file: it cannot be an input
        } else {
            // Writing over an input while reading it would destroy it.
            const platform::FileIdentity target = platform::identify(m_settings.outputPath);
            std::vector<const CFileSource*> reads = {&input.file(), &image.file()};
            if (vertical)
                reads.push_back(&vertical->file());
            for (const CFileSource* read : reads)
                if (target.exists && target.device == read->device() && target.inode == read->inode())
                    throw CPdfException::formatted(CPdfException::EKind::UsageError,
                                                   "\nOutput file is the input file: '%s'\n", m_settings.outputPath);
            m_output.create(m_settings.outputPath);
        }
        if (!pass && !verticalImage)
            m_reporter.outputBegun(*m_settings.imagePath, m_settings.outputPath);

        CWrittenObjects written;
        std::unique_ptr<COutputWriter> writer;
        if (plan.update)
            writer = std::make_unique<CIncrementalWriter>(m_output, input);
        else
            writer = std::make_unique<CRewriteWriter>(m_output, input, pass ? &previous : nullptr,
                                                      pass ? &written : nullptr);
        writer->begin();
        std::vector<CPageRecord> pages;
        CStampResult result;
        // An update writes only the selected pages: the walk ends at the last
        // of them, unless annotations must know every page that shares an /Annots array.
        const size_t stopAfter = plan.update && !plan.annotation && m_settings.endPage >= 0
                                     ? static_cast<size_t>(m_settings.endPage)
                                     : SIZE_MAX;
        result.pageCount = CPageTreeWalker(input.reader()).walkDocument(pages, stopAfter);
        const CResourceNames names = memory.drawResourceNames(m_settings.resourceNumber);
        const std::string verticalName = vertical ? memory.drawResourceNames(m_settings.resourceNumber).image : "";

        const CSecurityHandler* security = input.xref().securityHandler();
        const int stateNum = writer->beginNewObject();
        m_output.write(formatGraphicsStateObject(static_cast<float>(m_settings.opacity)));
        writer->endNewObject(stateNum);
        const int imageNum = image.write(*writer, security);
        const int verticalNum = vertical ? vertical->write(*writer, security) : 0;

        CStampDraw draw;
        draw.orientation = image.orientation();
        if (profile.tagged())
            draw.artifact = m_settings.marks ? EArtifact::PRINTER_MARK : EArtifact::WATERMARK;
        const CStampPainter painter(m_settings, image.width(), image.height(), names, draw, verticalName);
        const CPageStamper::EKind kind = plan.annotation ? CPageStamper::EKind::Annotation
                                         : vertical      ? CPageStamper::EKind::Marks
                                                         : CPageStamper::EKind::Content;
        CPageStamper stamper(m_settings, pages, input, *writer, m_reporter, painter,
                             {names, imageNum, stateNum, verticalName, verticalNum}, earlierStamp, kind);
        writer->writeObjects(stamper);
        writer->finish();
        result.outputBytes = m_output.position();
        m_output.commit();
        if (pass)
            memory.keepRun(std::move(written), m_output.writtenPath());
        result.pdfaWarning = profile.pdfaBreaches(image.traits(), m_settings.opacity);
        result.pagesStamped = stamper.stampedCount();
        result.encrypted = security != nullptr;
        result.updated = plan.update;
        if (verticalImage)
            m_reporter.marksWritten(m_settings.outputPath);
        for (const std::string& warning : plan.warnings)
            m_reporter.warning(warning);
        if (!stamper.notAnnotated().empty())
            m_reporter.warning("page " + pageList(stamper.notAnnotated()) +
                               ": /Annots is no array, so no stamp annotation was added there");
        return result;
    } catch (...) {
        m_output.discard();
        throw;
    }
}
