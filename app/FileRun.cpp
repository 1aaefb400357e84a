#include "app/FileRun.h"

#include <chrono>
#include <new>

#include "app/CConsoleReporter.h"
#include "app/CFileRecorder.h"
#include "app/MarkPasses.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CStampSettings.h"

CFileOutcome runFile(const CStampSettings& settings, bool dryRun, CConsoleReporter& console)
{
    const auto start = std::chrono::steady_clock::now();
    CFileOutcome outcome;
    outcome.input = settings.inputPath;
    outcome.output = settings.outputPath;
    outcome.dryRun = dryRun;
    const platform::FileIdentity input = platform::identify(settings.inputPath);
    if (input.exists && input.isRegular)
        outcome.inputBytes = input.size;
    CFileRecorder recorder(console, outcome);
    try {
        const CStampResult result = processFile(settings, recorder, dryRun);
        outcome.pages = result.pageCount;
        outcome.pagesStamped = result.pagesStamped;
        outcome.encrypted = result.encrypted;
        outcome.outputBytes = dryRun ? 0 : result.outputBytes;
        recorder.fileDone();
    } catch (const CPdfException& error) {
        outcome.fail(error);
        console.failed(error);
    } catch (const std::bad_alloc&) {
        const CPdfException error("Out of memory");
        outcome.fail(error);
        console.failed(error);
    } catch (...) {
        const CPdfException error("Unexpected exception");
        outcome.fail(error);
        console.failed(error);
    }
    outcome.repaired = !outcome.warnings.empty();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
