#include "stamp/MarkPasses.h"

#include <set>
#include <string>

#include "load/CPdfFile.h"
#include "load/CRepairLog.h"
#include "page/CReporter.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CPassMemory.h"
#include "stamp/CStampJob.h"
#include "write/COutputFile.h"

namespace {

constexpr const char* kHorizontalMark = "CropmarkHorizontal.jpg";
constexpr const char* kVerticalMark = "CropmarkVertical.jpg";

// Pass order: the four horizontal marks, then the four vertical ones.
const ECornerMark kPassOrder[8] = {MARK_BLH, MARK_BRH, MARK_TLH, MARK_TRH, MARK_BLV, MARK_BRV, MARK_TLV, MARK_TRV};

// The mark image to read: the current folder's copy, which a user may have
// drawn otherwise, else the installed one. Empty when there is neither.
std::string findMarkImage(const char* name)
{
    if (platform::identify(name).exists)
        return name;
    const std::string installed = platform::installedFolder(VELLICO_DATA_DIR) + platform::pathSeparator() + name;
    return platform::identify(installed).exists ? installed : std::string();
}

// What pass `pass` of a marks run over `box` draws: its own corner mark
// alone among those of the box (corner marks chosen otherwise give way to
// it), with the horizontal or the vertical mark image.
void preparePass(CStampSettings& settings, EMarkBox box, int pass, const std::string (&images)[2])
{
    for (size_t index = 0; index < kCornerMarkCount; ++index)
        if (kCornerMarks[index].box == box)
            settings.corners.reset(index);
    settings.corners.set(cornerMarkIndex(box, kPassOrder[pass]));
    settings.imagePath = images[pass < 4 ? 0 : 1];
}

// With -useend, the range counted back from the input's last page; the input
// opened to count it, for the run to read (null without -useend).
std::shared_ptr<CPdfFile> resolveRange(CStampSettings& settings, CReporter& reporter, CRepairLog& repairs)
{
    if (!settings.useEnd)
        return nullptr;
    std::shared_ptr<CPdfFile> input;
    try {
        input = CStampJob::openInput(settings, repairs, [&](bool open) {
            if (open)
                reporter.countingPages(settings.inputPath);
        });
        settings.resolveRangeFromEnd(CStampJob::countPages(*input));
    } catch (const CPdfException& error) {
        // The message is the range's; why the pages could not be counted is the file's.
        throw CPdfException(error.kind(), "\nProblem with -send or -eend parameters/processing.\n");
    } catch (...) {
        throw CPdfException(CPdfException::EKind::Internal, "\nProblem with -send or -eend parameters/processing.\n");
    }
    return input;
}

// Returns the last pass's result; adds what the passes' stamps break of
// the input's PDF/A claim to `pdfaWarnings`, each thing once.
CStampResult runMarkPasses(CStampSettings settings, CReporter& reporter, CRepairLog& repairs, EMarkBox box, bool dryRun,
                           std::set<std::string>& pdfaWarnings)
{
    const std::string firstInput = settings.inputPath;
    const std::string finalOutput = settings.outputPath;
    reporter.inputOpened(settings.inputShownAs.empty() ? firstInput : settings.inputShownAs);

    // Checked before the first pass: the output must be none of the files
    // the passes read, and replaceable; both mark images must be there.
    const std::string images[2] = {findMarkImage(kHorizontalMark), findMarkImage(kVerticalMark)};
    for (const std::string& input : {firstInput, settings.imagePath.value_or(std::string()), images[0], images[1]})
        if (platform::sameFile(finalOutput, input))
            throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nOutput file is the input file: '%s'\n",
                                           finalOutput);
    COutputFile::checkReplaceable(finalOutput);
    for (int which = 0; which < 2; ++which)
        if (images[which].empty())
            throw CPdfException(CPdfException::EKind::ImageError,
                                "\nInput image file error: '" + std::string(which ? kVerticalMark : kHorizontalMark) +
                                    "' is neither in the current folder nor in '" +
                                    platform::installedFolder(VELLICO_DATA_DIR) + "'\n");
    // Opened once: what decides how to write, a dry run's passes and the first pass read it.
    std::shared_ptr<CPdfFile> input = resolveRange(settings, reporter, repairs);
    if (dryRun)
        reporter.planBegun(std::string(), finalOutput); // said before the input is read
    if (!input)
        input = CStampJob::openInput(settings, repairs, [](bool) {});
    CStampResult result;
    if (dryRun) {
        // Every pass reads the input: where each mark would go.
        for (int pass = 0; pass < 8; ++pass) {
            preparePass(settings, box, pass, images);
            CStampJob job(settings, reporter, repairs);
            job.readFrom(input);
            result = job.planPass(pass == 0);
        }
        return result;
    }

    // A file to update (asked for, or signed) gets the eight marks in one
    // revision: eight rewrites would be eight revisions.
    settings.imagePath = images[0];
    CStampJob updater(settings, reporter, repairs);
    updater.readFrom(input);
    const CStampResult update = updater.stampMarksUpdate(images[1]);
    if (update.updated) {
        if (!update.pdfaWarning.empty())
            pdfaWarnings.insert(update.pdfaWarning);
        return update;
    }

    // Each pass but the last writes a new private file beside the output,
    // which the next pass reads and then removes; the last writes the output.
    CPassMemory memory;
    std::string intermediate; // ours to remove
    try {
        for (int pass = 0; pass < 8; ++pass) {
            preparePass(settings, box, pass, images);
            settings.inputPath = pass > 0 ? intermediate : firstInput;
            CStampJob job(settings, reporter, repairs);
            if (pass == 0)
                job.readFrom(std::move(input));
            result = job.stampPass(memory, pass < 7);
            if (!result.pdfaWarning.empty())
                pdfaWarnings.insert(result.pdfaWarning);
            if (!intermediate.empty())
                platform::removeTemp(intermediate);
            intermediate = pass < 7 ? job.writtenPath() : std::string();
        }
    } catch (...) {
        if (!intermediate.empty())
            platform::removeTemp(intermediate);
        throw;
    }
    reporter.marksWritten(finalOutput);
    return result;
}

void reportRepairs(CRepairLog& repairs, CReporter& reporter, size_t& reported)
{
    for (const std::string& line : repairs.lines()) {
        reporter.warning(line);
        ++reported;
    }
    repairs.clear();
}

} // namespace

std::vector<std::string> markImages() { return {findMarkImage(kHorizontalMark), findMarkImage(kVerticalMark)}; }

CStampResult processFile(const CStampSettings& settings, CReporter& reporter, bool dryRun, size_t& repairsReported)
{
    CRepairLog repairs;
    CStampResult result;
    std::set<std::string> pdfaWarnings;
    std::string withoutOldStamps; // --replace: the input with the run id's stamps taken off, ours to remove
    try {
        if (settings.removes() && !settings.replace) {
            CStampJob job(settings, reporter, repairs);
            bool removedAny = false;
            result = job.removeStamps(false, removedAny);
            reportRepairs(repairs, reporter, repairsReported);
            return result;
        }
        CStampSettings stamped = settings;
        if (settings.replace && !dryRun) {
            CStampSettings removal = settings;
            removal.removeIds = settings.stampId + " ";
            removal.removeAll = false;
            CStampJob remover(removal, reporter, repairs);
            bool removedAny = false;
            remover.removeStamps(true, removedAny);
            if (removedAny) {
                withoutOldStamps = remover.writtenPath();
                stamped.inputShownAs = settings.inputPath;
                stamped.inputPath = withoutOldStamps;
            }
        }
        if (stamped.marks()) {
            result = runMarkPasses(stamped, reporter, repairs, *stamped.marks(), dryRun, pdfaWarnings);
        } else {
            CStampSettings resolved = stamped;
            std::shared_ptr<CPdfFile> input = resolveRange(resolved, reporter, repairs);
            CStampJob job(resolved, reporter, repairs);
            job.readFrom(std::move(input));
            result = dryRun ? job.planFile() : job.stampFile();
            if (!result.pdfaWarning.empty())
                pdfaWarnings.insert(result.pdfaWarning);
        }
    } catch (...) {
        if (!withoutOldStamps.empty())
            platform::removeTemp(withoutOldStamps);
        // What was repaired before the failure is still worth knowing.
        reportRepairs(repairs, reporter, repairsReported);
        throw;
    }
    if (!withoutOldStamps.empty())
        platform::removeTemp(withoutOldStamps);
    reportRepairs(repairs, reporter, repairsReported);
    for (const std::string& warning : pdfaWarnings)
        reporter.warning(warning);
    return result;
}
