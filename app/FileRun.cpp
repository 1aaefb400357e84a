#include "app/FileRun.h"

#include <chrono>
#include <new>

#include "app/CConsoleReporter.h"
#include "load/CRepairLog.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CStampJob.h"
#include "stamp/MarkPasses.h"

namespace {

// Whether the input of a run that failed with `error` before it was read as
// a PDF is encrypted: it was refused for its encryption, or (a refusal for
// its permissions before it was read) for what the encryption allows.
bool refusedForEncryption(const CPdfException& error)
{
    return error.kind() == CPdfException::EKind::Encrypted || error.kind() == CPdfException::EKind::Permissions;
}

} // namespace

CFileOutcome runFile(const CStampSettings& settings, EFileRun kind, CConsoleReporter& console)
{
    const bool dryRun = kind == EFileRun::DryRun;
    const auto start = std::chrono::steady_clock::now();
    CFileOutcome outcome;
    outcome.input = settings.inputPath;
    outcome.output = settings.outputPath;
    outcome.dryRun = dryRun;
    outcome.listed = kind == EFileRun::List;
    const platform::FileIdentity input = platform::identify(settings.inputPath);
    if (input.exists && input.isRegular)
        outcome.inputBytes = input.size;
    console.recordInto(&outcome);
    size_t repairs = 0;
    try {
        CRepairLog listRepairs;
        const CStampResult result = kind == EFileRun::List ? CStampJob::listStamps(settings, console, listRepairs)
                                                           : processFile(settings, console, dryRun, repairs);
        for (const std::string& line : listRepairs.lines()) {
            console.warning(line);
            ++repairs;
        }
        outcome.pages = result.pageCount;
        outcome.pagesStamped = result.pagesStamped;
        outcome.encrypted = result.encrypted;
        outcome.outputBytes = dryRun ? 0 : result.outputBytes;
        console.fileDone();
    } catch (const CPdfException& error) {
        outcome.fail(error);
        if (!console.inputRead())
            outcome.encrypted = refusedForEncryption(error);
        console.failed(error);
    } catch (const std::bad_alloc&) {
        const CPdfException error(CPdfException::EKind::SystemError, "Out of memory");
        outcome.fail(error);
        console.failed(error);
    } catch (...) {
        const CPdfException error(CPdfException::EKind::Internal, "Unexpected exception");
        outcome.fail(error);
        console.failed(error);
    }
    console.recordInto(nullptr);
    // Other warnings say what the stamp changes (a signature, a PDF/A claim).
    outcome.repaired = repairs > 0;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

CFileOutcome countFile(const CStampSettings& settings)
{
    CFileOutcome outcome;
    outcome.input = settings.inputPath;
    try {
        outcome.pagesStamped = CStampJob::countStampedPages(settings, &outcome.pages, &outcome.encrypted);
    } catch (const CPdfException& error) {
        outcome.fail(error);
    } catch (const std::bad_alloc&) {
        outcome.fail(CPdfException(CPdfException::EKind::SystemError, "Out of memory"));
    } catch (...) {
        outcome.fail(CPdfException(CPdfException::EKind::Internal, "Unexpected exception"));
    }
    return outcome;
}

CFileOutcome skipFile(const std::string& input, const std::string& output, CConsoleReporter& console)
{
    CFileOutcome outcome;
    outcome.input = input;
    outcome.output = output;
    outcome.status = CFileOutcome::SKIPPED;
    const platform::FileIdentity identity = platform::identify(input);
    if (identity.exists && identity.isRegular)
        outcome.inputBytes = identity.size;
    console.inputOpened(input);
    console.print(", output file: '" + output + "' is there already: skipped\n");
    return outcome;
}

CFileOutcome refuseFile(const std::string& input, const std::string& output, const CPdfException& error,
                        CConsoleReporter& console)
{
    CFileOutcome outcome;
    outcome.input = input;
    outcome.output = output;
    const platform::FileIdentity identity = platform::identify(input);
    if (identity.exists && identity.isRegular)
        outcome.inputBytes = identity.size;
    outcome.fail(error);
    console.inputOpened(input);
    console.failed(error);
    return outcome;
}
