// A whole stamping run on a mutated PDF with a small JPEG.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz/FuzzInput.h"
#include "load/CRepairLog.h"
#include "page/CReporter.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "stamp/CStampJob.h"

namespace {

// A 16 x 8 grey baseline JPEG.
const uint8_t kJpeg[] = {
#include "fuzz/small_jpeg.inc"
};

void removeWorkFolder();

// In memory where the system has a place for it: on a disk, creating,
// renaming and removing the output for every input cost more than the run.
// Removed when the process ends normally; a crash leaves it, with its files.
std::string& workFolder()
{
    static std::string folder = [] {
        char inMemory[] = "/dev/shm/vellico-fuzz-XXXXXX";
        char onDisk[] = "/tmp/vellico-fuzz-XXXXXX";
        const char* made = mkdtemp(inMemory);
        if (!made)
            made = mkdtemp(onDisk);
        std::string path = made ? made : "/tmp";
        FILE* jpeg = std::fopen((path + "/image.jpg").c_str(), "wb");
        if (jpeg) {
            std::fwrite(kJpeg, 1, sizeof kJpeg, jpeg);
            std::fclose(jpeg);
        }
        return path;
    }();
    // Registered after the name is made, so that the name outlives the call at exit.
    static const bool cleanup = folder != "/tmp" && std::atexit(removeWorkFolder) == 0;
    (void)cleanup;
    return folder;
}

void removeWorkFolder()
{
    const std::string& folder = workFolder();
    std::remove((folder + "/out.pdf").c_str());
    std::remove((folder + "/image.jpg").c_str());
    rmdir(folder.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzFile input(data, size);
    if (!input.ok())
        return 0;
    CStampSettings settings;
    settings.inputPath = input.path();
    settings.outputPath = workFolder() + "/out.pdf";
    settings.imagePath = workFolder() + "/image.jpg";
    settings.resourceNumber = 7;
    // The last byte picks placement options, so those paths are fuzzed too.
    uint8_t options = size ? data[size - 1] : 0;
    settings.flipV = options & 1;
    settings.flipH = options & 2;
    settings.forcePortrait = !(options & 4);
    settings.everyNth = (options >> 3) & 3;
    if (options & 0x20)
        settings.align = "center";
    if (options & 0x40)
        settings.corners.set(CStampSettings::cropBlh);
    // A text of every page's own fields instead: the label tree, the per-page drawing.
    if (options & 0x80) {
        settings.imagePath.reset();
        settings.text = "{label} {page}/{pages} {bates}";
        settings.date = "2026-01-01";
    }
    CReporter reporter; // says nothing: the fuzzer's own output is what matters
    CRepairLog repairs;
    try {
        CStampJob(settings, reporter, repairs).stampFile();
    } catch (const CPdfException&) {
    }
    std::remove(settings.outputPath.c_str());
    return 0;
}
