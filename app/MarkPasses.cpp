#include "app/MarkPasses.h"

#include <cstdio>
#include <string>

#include "app/CommandLine.h"
#include "platform/Platform.h"
#include "pdf/CPdfException.h"
#include "stamp/COutputFile.h"
#include "stamp/CStampJob.h"

namespace {

constexpr const char* kHorizontalMark = "CropmarkHorizontal.jpg";
constexpr const char* kVerticalMark = "CropmarkVertical.jpg";

struct CMarkPass {
    bool CStampJob::*trimFlag;
    bool CStampJob::*cropFlag;
    const char* image;
};

// Pass order: the four horizontal marks, then the four vertical ones.
const CMarkPass kPasses[8] = {
    {&CStampJob::trimBlh, &CStampJob::cropBlh, kHorizontalMark},
    {&CStampJob::trimBrh, &CStampJob::cropBrh, kHorizontalMark},
    {&CStampJob::trimTlh, &CStampJob::cropTlh, kHorizontalMark},
    {&CStampJob::trimTrh, &CStampJob::cropTrh, kHorizontalMark},
    {&CStampJob::trimBlv, &CStampJob::cropBlv, kVerticalMark},
    {&CStampJob::trimBrv, &CStampJob::cropBrv, kVerticalMark},
    {&CStampJob::trimTlv, &CStampJob::cropTlv, kVerticalMark},
    {&CStampJob::trimTrv, &CStampJob::cropTrv, kVerticalMark},
};

// The mark image to read: the current folder's copy, which a user may have
// drawn otherwise, else the installed one. Empty when there is neither.
std::string findMarkImage(const char* name)
{
    if (platform::identify(name).exists)
        return name;
    const std::string installed = platform::installedFolder(VELLICO_DATA_DIR) + platform::pathSeparator() + name;
    return platform::identify(installed).exists ? installed : std::string();
}

bool sameFile(const std::string& a, const std::string& b)
{
    platform::FileIdentity first = platform::identify(a);
    platform::FileIdentity second = platform::identify(b);
    return first.exists && second.exists && first.device == second.device && first.inode == second.inode;
}

void runMarkPasses(CStampJob& job, bool trim)
{
    const std::string firstInput = job.inputPath;
    const std::string finalOutput = job.outputPath;
    std::printf("Input file: '%s'", firstInput.c_str());

    // Checked before the first pass: the output must be none of the files
    // the passes read, and replaceable.
    for (const std::string& input : {firstInput, job.imagePath.value_or(std::string()),
                                     findMarkImage(kHorizontalMark), findMarkImage(kVerticalMark)})
        if (sameFile(finalOutput, input))
            throw CPdfException::formatted("\nOutput file is the input file: '%s'\n", finalOutput);
    COutputFile::checkReplaceable(finalOutput);

    // Each pass but the last writes a new private file beside the output,
    // which the next pass reads and then removes; the last writes the output.
    std::string intermediate; // ours to remove
    try {
        for (int pass = 0; pass < 8; ++pass) {
            for (const CMarkPass& each : kPasses)
                job.*(trim ? each.trimFlag : each.cropFlag) = false;
            if (pass > 0)
                job.inputPath = intermediate;
            job.outputPath = finalOutput;
            job.intermediateOutput = pass < 7;
            job.*(trim ? kPasses[pass].trimFlag : kPasses[pass].cropFlag) = true;
            const char* mark = kPasses[pass].image;
            const std::string found = findMarkImage(mark);
            job.imagePath = found.empty() ? std::string(mark) : found;
            try {
                job.stampFile();
            } catch (const CPdfException& error) {
                // The pass fails on the missing image where it always did (after
                // the input is read), naming only the name it was given.
                const std::string missing =
                    CPdfException::formatted("\nInput image file error: '%s'\n", mark).message();
                if (!found.empty() || error.message() != missing)
                    throw;
                throw CPdfException("\nInput image file error: '" + std::string(mark) +
                                    "' is neither in the current folder nor in '" +
                                    platform::installedFolder(VELLICO_DATA_DIR) + "'\n");
            }
            if (!intermediate.empty())
                platform::removeTemp(intermediate);
            intermediate = pass < 7 ? job.writtenPath() : std::string();
        }
    } catch (...) {
        job.intermediateOutput = false;
        if (!intermediate.empty())
            platform::removeTemp(intermediate);
        throw;
    }
    job.intermediateOutput = false;
    std::printf(", output file: '%s'\n", finalOutput.c_str());
}

} // namespace

namespace {

// One line per kind of repair made to the input, each on a line of its own.
void printRepairs(CStampJob& job)
{
    for (const std::string& line : job.repairs().lines())
        std::printf("\nWarning: %s", line.c_str());
    job.clearRepairs();
}

} // namespace

void processFile(CStampJob& job, int argumentCount, const char* const* arguments)
{
    parseArguments(job, argumentCount, arguments);
    try {
        if (job.trimMarks)
            runMarkPasses(job, true);
        else if (job.cropMarks)
            runMarkPasses(job, false);
        else
            job.stampFile();
    } catch (...) {
        // What was repaired before the failure is still worth knowing.
        const bool any = !job.repairs().empty();
        printRepairs(job);
        if (any)
            std::printf("\n");
        throw;
    }
    printRepairs(job);
}
