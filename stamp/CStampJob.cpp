#include "stamp/CStampJob.h"

#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "crypt/CSecurityHandler.h"
#include "document/CDocumentProfile.h"
#include "document/CPageLabels.h"
#include "document/CPageStamps.h"
#include "document/CPageTreeWalker.h"
#include "document/CPdfPageStamp.h"
#include "document/CSignatureCheck.h"
#include "document/CStampRemoval.h"
#include "image/OpenStampImage.h"
#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CLayerGroup.h"
#include "page/CPageStamper.h"
#include "page/CReporter.h"
#include "page/CStampPainter.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CIncrementalWriter.h"
#include "stamp/CPassMemory.h"
#include "stamp/CRewriteWriter.h"
#include "stamp/CWritePlan.h"
#include "text/BatesNumber.h"
#include "text/CTextStamp.h"
#include "write/CWrittenObjects.h"

namespace {

// Stamping changes the document: bit 4 of /P must allow that.
void refuseUnmodifiable(const CPdfFile& input)
{
    const CSecurityHandler* security = input.xref().securityHandler();
    if (security && !security->allowsModifying())
        throw CPdfException(CPdfException::EKind::Permissions,
                            "PDF file is encrypted, and its permissions do not allow changing it");
}

// Whether page `index` of the walk's `pages` is one a run stamps: selected, and met for the first time.
bool stamps(const CStampSettings& settings, const std::vector<CPageRecord>& pages, size_t index)
{
    return pages[index].firstOccurrence && settings.selectsPage(static_cast<int>(index));
}

// Said rather than left to an empty-looking output: a page range past the end, or backwards.
const char* const kNoPageSelected = "no page was selected, so nothing was stamped (see -s, -e, -n and -useend)";

// Whether object `num` of the input is a stamp stream that the previous mark
// pass wrote, as `previous` says.
std::function<bool(int)> earlierStamp(const CWrittenObjects& previous, const CXrefTable& xref)
{
    return [&previous, &xref](int num) {
        const std::vector<CXrefRecord>& records = xref.records();
        return num >= 0 && num < static_cast<int>(records.size()) &&
               records[static_cast<size_t>(num)].type == XREF_IN_FILE &&
               previous.isStamp(num, xref.baseOffset() + records[static_cast<size_t>(num)].offset);
    };
}

// What the stamps' marks call their kind: a page of a PDF, or what the settings say.
CStampMark::EKind markKind(const CStampSettings& settings, const CStampImage& image)
{
    return image.isPdfPage() ? CStampMark::EKind::Pdf : settings.stampKind();
}

// Draws the run's resource names, and writes the objects every stamped page names.
CPageStamper::CNewObjects writeSharedObjects(const CStampSettings& settings, COutputWriter& writer, CPassMemory& memory,
                                             const CStampImage& image, const CStampImage* verticalImage,
                                             int64_t firstNumber)
{
    CPageStamper::CNewObjects objects;
    objects.names = memory.drawResourceNames(firstNumber);
    // Text that changes from page to page is drawn by each page, in the font the pages name.
    objects.imageIsFont = image.drawnPerPage();
    if (objects.imageIsFont)
        objects.names.image = objects.names.font;
    if (verticalImage)
        objects.verticalImage = memory.drawResourceNames(firstNumber).image;
    objects.kind = markKind(settings, image);
    objects.numbers = writer.writeSharedObjects(settings.opacity, settings.blend, image, verticalImage);
    return objects;
}

// A layer in a PDF/A file: part 1 forbids optional content, parts 2 and 3
// the automatic states that show a layer on paper or on screen alone.
void refuseLayerIn(const CStampSettings& settings, int pdfaPart)
{
    if (settings.layer.empty() || pdfaPart == 0 ||
        (pdfaPart > 1 && settings.layerUse == CStampSettings::ELayerUse::Always))
        return;
    throw CPdfException::formatted(CPdfException::EKind::Permissions,
                                   pdfaPart == 1
                                       ? "\nPDF file claims PDF/A-1, which forbids layers (optional content): '%s'\n"
                                       : "\nPDF file claims PDF/A, which forbids showing a layer on paper or on "
                                         "screen alone (automatic states): '%s'\n",
                                   settings.inputPath);
}

// How the image is drawn: turned as its file says, and marked as an artifact in a tagged file.
CStampDraw drawOf(const CStampSettings& settings, const CStampImage& image, const CDocumentProfile& profile)
{
    CStampDraw draw;
    draw.orientation = image.orientation();
    if (profile.tagged())
        draw.artifact = settings.marks()                             ? EArtifact::PRINTER_MARK
                        : image.drawnPerPage() && !settings.diagonal ? EArtifact::PAGINATION
                                                                     : EArtifact::WATERMARK;
    return draw;
}

} // namespace

// What a run reads, opened before anything is written.
struct CStampJob::COpened {
    std::shared_ptr<CPdfFile> input;
    CSignatureFindings signatures; // read when the run decides
    std::unique_ptr<CStampImage> image;
    std::unique_ptr<CStampImage> verticalImage; // a marks update's second image
};

CStampJob::CStampJob(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs)
    : m_settings(settings), m_reporter(reporter), m_repairs(repairs)
{
}

CStampJob::~CStampJob() = default;

CStampResult CStampJob::stampFile()
{
    CPassMemory memory;
    return write(ERun::File, memory, nullptr);
}

CStampResult CStampJob::planFile() { return plan(ERun::File); }

CStampResult CStampJob::removeStamps(bool intermediate, bool& removedAny)
{
    try {
        const COpened opened = open(intermediate ? ERun::Marks : ERun::File);
        CPdfFile& input = *opened.input;
        std::set<std::string> ids;
        if (!m_settings.removeAll) {
            std::istringstream words(m_settings.removeIds);
            for (std::string id; words >> id;)
                ids.insert(id);
        }
        std::vector<CPageRecord> pages;
        CStampResult result;
        result.pageCount = CPageTreeWalker(input.reader()).walkDocument(pages);
        result.encrypted = input.xref().securityHandler() != nullptr;
        const CStampRemoval removal(input, pages, ids);
        // Told after the output line; a first --replace has nothing to replace.
        std::vector<std::string> warnings;
        if (!intermediate)
            for (const std::string& id : removal.idsNotFound())
                warnings.push_back("no stamp carries the id '" + id + "': nothing of it to remove");
        warnings.insert(warnings.end(), removal.warnings().begin(), removal.warnings().end());
        const auto tell = [&]() {
            for (const std::string& warning : warnings)
                m_reporter.warning(warning);
            warnings.clear();
        };
        removedAny = removal.any();
        if (intermediate && !removedAny) {
            tell();
            return result;
        }
        const CSignatureFindings& found = opened.signatures;
        const bool update = m_settings.incremental || found.isSigned() || found.certification > 0 || found.appendOnly;
        const int64_t base = removal.lastUpdateBase();
        if (base < 0 && removal.contentStamps() > 0 && (found.isSigned() || found.certification > 0))
            throw CPdfException::formatted(CPdfException::EKind::Permissions,
                                           "\nThe stamps to remove are page content of a signed file that its last "
                                           "update did not add: taking them off would break its signatures: '%s'\n",
                                           m_settings.inputPath);
        if (base < 0 && removedAny && (found.certification == 1 || found.certification == 2))
            (void)CWritePlan::decide(m_settings, found, input.xref().rebuilt(), m_settings.inputPath);
        if (base < 0 && removedAny && update && input.xref().rebuilt())
            throw CPdfException::formatted(CPdfException::EKind::Damaged,
                                           "\nPDF file's cross-reference data is damaged and was rebuilt, so it "
                                           "cannot be updated incrementally: '%s'\n",
                                           m_settings.inputPath);
        if (platform::sameFile(m_settings.outputPath, m_settings.inputPath))
            throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nOutput file is the input file: '%s'\n",
                                           m_settings.outputPath);
        if (intermediate)
            m_output.createIntermediate(m_settings.outputPath);
        else
            m_output.create(m_settings.outputPath);
        if (!intermediate)
            m_reporter.outputBegun(m_settings.stampShown(), m_settings.outputPath);
        tell();
        CFileSource& file = input.file();
        if (!removedAny || base > 0) {
            // Nothing to take off: the input as it is. Exactly the last update: the file before it.
            m_output.copyFrom(file, 0, removedAny ? base : file.size());
            result.updated = removedAny;
        } else {
            std::unique_ptr<COutputWriter> writer;
            if (update) {
                writer = std::make_unique<CIncrementalWriter>(m_output, input);
            } else {
                auto rewrite = std::make_unique<CRewriteWriter>(m_output, input, nullptr, nullptr);
                rewrite->leaveOut(removal);
                writer = std::move(rewrite);
            }
            writer->begin();
            for (const auto& [num, text] : removal.objectEdits()) {
                writer->writeChangedObject(num, input.xref().records()[static_cast<size_t>(num)].objectGen(), text);
                if (num == input.xref().rootNum())
                    writer->catalogRewritten(text);
            }
            const CStampPainter painter(m_settings, 1, 1, CResourceNames());
            CPageStamper stamper(m_settings, pages, input, *writer, m_reporter, painter, CPageStamper::CNewObjects(),
                                 [](int) { return false; });
            stamper.removeInstead(removal);
            writer->writeObjects(stamper);
            writer->finish();
            result.updated = update;
            if (!stamper.notRemoved().empty())
                m_reporter.warning("page " + pageList(stamper.notRemoved()) +
                                   ": its /Contents or /Annots could not be edited, so its stamps stay");
        }
        result.outputBytes = m_output.position();
        m_output.commit();
        for (size_t index = 0; index < pages.size(); ++index)
            result.pagesStamped += !removal.onPage(index).empty();
        return result;
    } catch (...) {
        m_output.discard();
        throw;
    }
}

CStampResult CStampJob::planPass(bool first) { return plan(first ? ERun::Marks : ERun::Pass); }

CStampResult CStampJob::stampPass(CPassMemory& memory, bool intermediate)
{
    return write(intermediate ? ERun::Pass : ERun::LastPass, memory, nullptr);
}

CStampResult CStampJob::stampMarksUpdate(const std::string& verticalImage)
{
    CPassMemory memory;
    return write(ERun::Marks, memory, &verticalImage);
}

int CStampJob::countPages(CPdfFile& input) { return CPageTreeWalker(input.reader()).countDocument(); }

std::unique_ptr<CStampImage> CStampJob::openStamp(const CStampSettings& settings)
{
    const std::string& name = settings.imageName();
    std::shared_ptr<CFileSource> file = CFileSource::open(*settings.imagePath);
    // Told apart by their first bytes: a name says nothing of what a file holds.
    if (file && CPdfPageStamp::isPdf(*file))
        return std::make_unique<CPdfPageStamp>(name, std::move(file), settings.stampPage);
    if (settings.stampPage != 1)
        throw CPdfException::formatted(CPdfException::EKind::UsageError,
                                       "\n--stamp-page needs a PDF stamp file, and this is none: '%s'\n", name);
    return openStampImage(*settings.imagePath, settings.imageShownAs);
}

std::shared_ptr<CPdfFile> CStampJob::openInput(const CStampSettings& settings, CRepairLog& repairs,
                                               const std::function<void(bool)>& opened, bool toChange)
{
    const std::string& path = settings.inputPath;
    const platform::FileIdentity identity = platform::identify(path);
    // A FIFO would wait for a writer; a pipe or a device has no end to read a PDF back from.
    std::shared_ptr<CFileSource> file = identity.isRegular || !identity.exists ? CFileSource::open(path) : nullptr;
    opened(file != nullptr);
    if (identity.exists && !identity.isRegular && !identity.isDirectory)
        throw CPdfException::formatted(CPdfException::EKind::Unsupported, "\nInput file is not a regular file: '%s'\n", path);
    if (!file)
        throw CPdfException(CPdfException::EKind::InputError,
                            "\nInput file open error: '" + path + "' (" + platform::openFailureText(path) + ")\n");
    try {
        auto input = std::make_shared<CPdfFile>(std::move(file), repairs, settings.password);
        if (toChange)
            refuseUnmodifiable(*input);
        return input;
    } catch (const CPdfException& error) {
        if (error.kind() == CPdfException::EKind::NotPdf)
            throw CPdfException::formatted(CPdfException::EKind::NotPdf, "\nInput file is not a PDF file: '%s'\n", path);
        throw;
    }
}

CStampJob::COpened CStampJob::open(ERun run) const
{
    COpened opened;
    // The passes read what the one before them wrote: the marks run reports the file.
    const auto reportOpened = [&](bool) {
        if (run == ERun::File)
            m_reporter.inputOpened(m_settings.inputShownAs.empty() ? m_settings.inputPath : m_settings.inputShownAs);
    };
    if (m_given) {
        reportOpened(true);
        opened.input = m_given;
    } else {
        opened.input = openInput(m_settings, m_repairs, reportOpened);
    }
    if (run == ERun::File || run == ERun::Marks) {
        m_reporter.inputEncryption(opened.input->xref().securityHandler() != nullptr);
        opened.signatures = CSignatureCheck(opened.input->xref(), opened.input->file().size()).inspect();
    }
    return opened;
}

CWritePlan CStampJob::decide(ERun run, const COpened& opened) const
{
    // The passes rewrite what the marks run decided to rewrite.
    if (run != ERun::File && run != ERun::Marks)
        return CWritePlan();
    try {
        return CWritePlan::decide(m_settings, opened.signatures, opened.input->xref().rebuilt(), m_settings.inputPath);
    } catch (const CPdfException& refusal) {
        // What was read the careful way explains a refusal for what the file allows.
        if (refusal.kind() == CPdfException::EKind::Permissions)
            for (const std::string& doubt : opened.signatures.doubts)
                m_reporter.warning(doubt);
        throw;
    }
}

void CStampJob::openImages(ERun run, const std::string* verticalImage, COpened& opened) const
{
    if (m_settings.text) {
        // Its fields are filled once the pages are counted (openText).
    } else if (!m_settings.imagePath) {
        throw CPdfException(CPdfException::EKind::UsageError, "-j parameter missing");
    } else {
        opened.image = openStamp(m_settings);
    }
    if (verticalImage)
        opened.verticalImage = openStampImage(*verticalImage);
    // Writing over a file while reading it would destroy it; a pass's
    // output is a new file, which none can be.
    if (run == ERun::Pass)
        return;
    const platform::FileIdentity target = platform::identify(m_settings.outputPath);
    std::vector<const CFileSource*> reads = {&opened.input->file()};
    for (const std::unique_ptr<CStampImage>* image : {&opened.image, &opened.verticalImage})
        if (*image && (*image)->file())
            reads.push_back((*image)->file());
    for (const CFileSource* read : reads)
        if (target.exists && target.device == read->device() && target.inode == read->inode())
            throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nOutput file is the input file: '%s'\n",
                                           m_settings.outputPath);
}

void CStampJob::openText(COpened& opened, int pageCount, const std::vector<CPageRecord>& pages, int pdfaPart) const
{
    if (!m_settings.text)
        return;
    CTextFields fields;
    fields.pages = pageCount;
    fields.date = m_settings.date;
    fields.file = platform::fileName(m_settings.inputPath);
    const CTextTemplate text(*m_settings.text);
    std::vector<CPageFields> stamped;
    if (text.variesByPage()) {
        std::optional<CPageLabels> labels;
        if (text.usesLabels())
            labels.emplace(*opened.input);
        for (size_t index = 0; index < pages.size(); ++index) {
            if (!stamps(m_settings, pages, index))
                continue;
            CPageFields page;
            page.page = static_cast<int>(index) + 1;
            if (labels)
                page.label = labels->label(static_cast<int>(index));
            if (text.usesBates())
                page.bates = batesNumber(m_settings, m_settings.batesStart + static_cast<int64_t>(stamped.size()));
            stamped.push_back(page);
        }
    }
    auto stamp = std::make_unique<CTextStamp>(m_settings, fields, stamped, pdfaPart);
    for (const std::string& warning : stamp->warnings())
        m_reporter.warning(warning);
    // Told once the text could be made: a file refused for its text gets no numbers.
    if (text.usesBates())
        reportBatesRange(static_cast<int>(stamped.size()));
    opened.image = std::move(stamp);
}

void CStampJob::reportBatesRange(int stamped) const
{
    // Numbered from the start, a file the batch's count could not read
    // would repeat another file's numbers.
    if (m_settings.batesCount == CStampSettings::kBatesUncounted)
        throw CPdfException(CPdfException::EKind::InputError,
                            "\nThe file could not be read when the list's pages were counted, so it has no Bates "
                            "numbers: '" +
                                m_settings.inputPath + "'\n");
    // The numbers after this file's are the next file's: a file that changed
    // since a batch counted its pages would number pages twice.
    if (m_settings.batesCount >= 0 && stamped != m_settings.batesCount)
        throw CPdfException(CPdfException::EKind::InputError,
                            "\nThe file has " + std::to_string(stamped) + " pages to stamp where " +
                                std::to_string(m_settings.batesCount) +
                                " were counted before the run: it changed, and its Bates numbers would run into "
                                "the next file's: '" +
                                m_settings.inputPath + "'\n");
    if (stamped == 0)
        return;
    const int64_t last = m_settings.batesStart + stamped - 1;
    if (outgrowsBatesDigits(m_settings, last))
        m_reporter.warning("Bates number " + std::to_string(last) + " has more than " +
                           std::to_string(m_settings.batesDigits) + " digits (--bates-digits): written in full");
    m_reporter.batesNumbered(batesNumber(m_settings, m_settings.batesStart), batesNumber(m_settings, last));
}

int CStampJob::countStampedPages(CStampSettings settings, int* pageCount, bool* encrypted)
{
    CRepairLog repairs; // the run itself tells what it repairs
    const std::shared_ptr<CPdfFile> input = openInput(settings, repairs, [](bool) {});
    if (encrypted)
        *encrypted = input->xref().securityHandler() != nullptr;
    // As the run does: the range counted back from the last page first.
    if (settings.useEnd)
        settings.resolveRangeFromEnd(countPages(*input));
    std::vector<CPageRecord> pages;
    const int walked = CPageTreeWalker(input->reader()).walkDocument(pages);
    if (pageCount)
        *pageCount = walked;
    int stamped = 0;
    for (size_t index = 0; index < pages.size(); ++index)
        stamped += stamps(settings, pages, index);
    return stamped;
}

CStampResult CStampJob::listStamps(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs)
{
    const std::shared_ptr<CPdfFile> input = openInput(
        settings, repairs, [&](bool) { reporter.inputOpened(settings.inputPath); }, false);
    CStampResult result;
    result.encrypted = input->xref().securityHandler() != nullptr;
    reporter.inputEncryption(result.encrypted);
    std::vector<CPageRecord> pages;
    result.pageCount = CPageTreeWalker(input->reader()).walkDocument(pages);
    std::vector<int> damaged;
    for (size_t index = 0; index < pages.size(); ++index) {
        if (!pages[index].firstOccurrence)
            continue; // listed where the tree first names it
        const CPageStamps stamps(*input, pages[index]);
        for (const CPageStamps::CFound& found : stamps.found())
            reporter.stampListed(static_cast<int>(index) + 1, found.mark, found.annotation);
        result.pagesStamped += !stamps.found().empty();
        if (stamps.damaged() > 0)
            damaged.push_back(static_cast<int>(index) + 1);
    }
    if (!damaged.empty())
        reporter.warning(CPageStamps::damagedWarning(damaged));
    return result;
}

std::unique_ptr<COutputWriter> CStampJob::beginWriter(ERun run, const CWritePlan& plan, CPdfFile& input,
                                                      const CWrittenObjects* previous, CWrittenObjects* written)
{
    if (run == ERun::Pass)
        m_output.createIntermediate(m_settings.outputPath);
    else
        m_output.create(m_settings.outputPath);
    if (run == ERun::File)
        m_reporter.outputBegun(m_settings.stampShown(), m_settings.outputPath);
    std::unique_ptr<COutputWriter> writer;
    if (plan.update)
        writer = std::make_unique<CIncrementalWriter>(m_output, input);
    else
        writer = std::make_unique<CRewriteWriter>(m_output, input, previous, written);
    writer->begin();
    return writer;
}

void CStampJob::reportWritten(ERun run, const CWritePlan& plan, const CPageStamper& stamper, bool selectedNone)
{
    if (run == ERun::Marks)
        m_reporter.marksWritten(m_settings.outputPath);
    for (const std::string& warning : plan.warnings)
        m_reporter.warning(warning);
    if (!stamper.notAnnotated().empty())
        m_reporter.warning("page " + pageList(stamper.notAnnotated()) +
                           ": /Annots is no array, so no stamp annotation was added there");
    if (selectedNone && run != ERun::Pass)
        m_reporter.warning(kNoPageSelected);
}

bool CStampJob::noneSelected(const std::vector<CPageRecord>& pages) const
{
    for (size_t index = 0; index < pages.size(); ++index)
        if (stamps(m_settings, pages, index))
            return false;
    return !pages.empty(); // a file without pages is told so when its tree is read
}

void CStampJob::reportStampWarnings(const CStampImage& image) const
{
    if (image.isPdfPage())
        for (const std::string& warning : static_cast<const CPdfPageStamp&>(image).warnings())
            m_reporter.warning(warning);
}

std::vector<CStampPainter> CStampJob::pagePainters(const CStampImage& image, const CResourceNames& names,
                                                   const CStampDraw& draw) const
{
    std::vector<CStampPainter> painters;
    for (int variant = 0; variant < image.variantCount(); ++variant) {
        CResourceNames named = names;
        named.image = names.imageVariant(variant);
        painters.emplace_back(m_settings, image.variantWidth(variant), image.variantHeight(variant), named, draw);
    }
    return painters;
}

CStampResult CStampJob::plan(ERun run)
{
    COpened opened = open(run);
    const CWritePlan plan = decide(run, opened);
    openImages(run, nullptr, opened);
    refuseLayerIn(m_settings, CDocumentProfile(*opened.input).pdfaPart());
    if (run == ERun::File)
        m_reporter.planBegun(m_settings.stampShown(), m_settings.outputPath);
    std::vector<CPageRecord> pages;
    CStampResult result;
    result.pageCount = CPageTreeWalker(opened.input->reader()).walkDocument(pages);
    result.encrypted = opened.input->xref().securityHandler() != nullptr;
    openText(opened, result.pageCount, pages, m_settings.text ? CDocumentProfile(*opened.input).pdfaPart() : 0);
    reportStampWarnings(*opened.image);
    CStampDraw draw;
    draw.orientation = opened.image->orientation();
    const std::vector<CStampPainter> painters = pagePainters(*opened.image, CResourceNames(), draw);
    for (size_t index = 0; index < pages.size(); ++index) {
        if (!stamps(m_settings, pages, index))
            continue;
        const CStampRect seen = painters[std::min(index, painters.size() - 1)].displayedRect(pages[index]);
        CStampMark mark;
        mark.id = m_settings.stampId;
        mark.kind = markKind(m_settings, *opened.image);
        mark.x = seen.x, mark.y = seen.y, mark.width = seen.width, mark.height = seen.height;
        mark.layer = m_settings.layer;
        mark.underlay = m_settings.underlay;
        m_reporter.pagePlaced(static_cast<int>(index) + 1, mark, plan.annotation);
        ++result.pagesStamped;
    }
    for (const std::string& warning : plan.warnings)
        m_reporter.warning(warning);
    if (noneSelected(pages) && run != ERun::Pass)
        m_reporter.warning(kNoPageSelected);
    return result;
}

CStampResult CStampJob::write(ERun run, CPassMemory& memory, const std::string* verticalImage)
{
    // The names are new to every page but in the rarest case: a page whose
    // resources hold one already. The run is then written again under the
    // next names, which the memory has not given out.
    for (int attempt = 1;; ++attempt) {
        try {
            return writeOnce(run, memory, verticalImage);
        } catch (const CPageRewriter::CNameTaken& taken) {
            if (attempt == kMaxNameAttempts)
                throw CPdfException(CPdfException::EKind::Internal,
                                    "\nEvery resource name tried is taken by the pages: '" + m_settings.inputPath +
                                        "'\n");
            m_reporter.warning("a page's resources hold the name /" + taken.name +
                               " already: the output is written again under other names");
        }
    }
}

CStampResult CStampJob::writeOnce(ERun run, CPassMemory& memory, const std::string* verticalImage)
{
    CWrittenObjects previous;
    const bool pass = run == ERun::Pass || run == ERun::LastPass;
    try {
        COpened opened = open(run);
        const CWritePlan plan = decide(run, opened);
        if (run == ERun::Marks && !plan.update)
            return CStampResult(); // the passes rewrite it
        openImages(run, verticalImage, opened);
        CPdfFile& input = *opened.input;
        const CDocumentProfile profile(input);
        refuseLayerIn(m_settings, profile.pdfaPart());

        // A mark pass reading the previous pass's output knows where the
        // objects that pass made stand, and tells the next one of its own.
        if (pass)
            previous = memory.takePreviousRun(input.file());
        CWrittenObjects written;
        const std::unique_ptr<COutputWriter> writer =
            beginWriter(run, plan, input, pass ? &previous : nullptr, pass ? &written : nullptr);

        // An update writes only the selected pages: the walk ends at the last
        // of them, unless annotations must know every page that shares an /Annots array,
        // or a text shows the page count.
        const bool walkAll = !plan.update || plan.annotation || m_settings.endPage < 0 ||
                             (m_settings.text && CTextTemplate(*m_settings.text).usesPageCount());
        std::vector<CPageRecord> pages;
        CStampResult result;
        result.pageCount = CPageTreeWalker(input.reader())
                               .walkDocument(pages, walkAll ? SIZE_MAX : static_cast<size_t>(m_settings.endPage));
        openText(opened, result.pageCount, pages, profile.pdfaPart());
        const CStampImage& image = *opened.image;
        reportStampWarnings(image);

        CPageStamper::CNewObjects objects =
            writeSharedObjects(m_settings, *writer, memory, image, opened.verticalImage.get(),
                               CPassMemory::firstNumber(m_settings.resourceNumber, input, m_settings));
        CStampDraw draw = drawOf(m_settings, image, profile);
        if (!m_settings.layer.empty()) {
            objects.layer = CLayerGroup(input, *writer).groupFor(m_settings.layer, m_settings.layerUse);
            // An annotation is put in the group by its /OC.
            if (!plan.annotation)
                draw.layer = objects.names.layer;
        }
        const CStampPainter painter(m_settings, image.width(), image.height(), objects.names, draw,
                                    objects.verticalImage, image.drawnPerPage() ? &image : nullptr);
        const CPageStamper::EKind kind = plan.annotation        ? CPageStamper::EKind::Annotation
                                         : opened.verticalImage ? CPageStamper::EKind::Marks
                                                                : CPageStamper::EKind::Content;
        CPageStamper stamper(m_settings, pages, input, *writer, m_reporter, painter, objects,
                             earlierStamp(previous, input.xref()), kind);
        const std::vector<CStampPainter> painters = pagePainters(image, objects.names, draw);
        if (painters.size() > 1)
            stamper.usePagePainters(painters, objects);
        writer->writeObjects(stamper);

        writer->finish();
        result.outputBytes = m_output.position();
        m_output.commit();
        if (pass)
            memory.keepRun(std::move(written), m_output.writtenPath());
        result.pdfaWarning = profile.pdfaBreaches(image.traits(), m_settings.opacity, m_settings.blend);
        result.pagesStamped = stamper.stampedCount();
        result.encrypted = input.xref().securityHandler() != nullptr;
        result.updated = plan.update;
        // A walk that stopped at -e0 met no page, and selected none.
        reportWritten(run, plan, stamper, walkAll ? noneSelected(pages) : pages.empty() || noneSelected(pages));
        return result;
    } catch (const CPageRewriter::CNameTaken&) {
        m_output.discard();
        if (pass)
            memory.putBack(std::move(previous));
        throw;
    } catch (...) {
        m_output.discard();
        throw;
    }
}
