// A whole stamping run on a mutated PDF with a small JPEG.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz/FuzzInput.h"
#include "pdf/CPdfException.h"
#include "stamp/CStampJob.h"

namespace {

// A 16 x 8 grey baseline JPEG.
const uint8_t kJpeg[] = {
#include "fuzz/small_jpeg.inc"
};

std::string& workFolder()
{
    static std::string folder = [] {
        char name[] = "/tmp/vellico-fuzz-XXXXXX";
        const char* made = mkdtemp(name);
        std::string path = made ? made : "/tmp";
        FILE* jpeg = std::fopen((path + "/image.jpg").c_str(), "wb");
        if (jpeg) {
            std::fwrite(kJpeg, 1, sizeof kJpeg, jpeg);
            std::fclose(jpeg);
        }
        return path;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzFile input(data, size);
    if (!input.ok())
        return 0;
    std::FILE* devNull = std::freopen("/dev/null", "w", stdout);
    (void)devNull;
    CStampJob job;
    job.inputPath = input.path();
    job.outputPath = workFolder() + "/out.pdf";
    job.imagePath = workFolder() + "/image.jpg";
    job.setResourceNumber(7);
    // The last byte picks placement options, so those paths are fuzzed too.
    uint8_t options = size ? data[size - 1] : 0;
    job.flipV = options & 1;
    job.flipH = options & 2;
    job.forcePortrait = !(options & 4);
    job.everyNth = (options >> 3) & 3;
    if (options & 0x20)
        job.align = "center";
    if (options & 0x40)
        job.cropBlh = true;
    try {
        job.stampFile();
    } catch (const CPdfException&) {
    }
    std::remove(job.outputPath.c_str());
    return 0;
}
