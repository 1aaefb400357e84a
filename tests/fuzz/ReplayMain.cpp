// Replays saved inputs through one fuzz target's LLVMFuzzerTestOneInput, as
// libFuzzer does with a file it is given: every file under the folders named
// on the command line. A crash, a sanitizer report or a target's abort fails
// the run; the input's name is printed before it runs, to say which one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], error))
            if (entry.is_regular_file())
                inputs.push_back(entry.path().string());
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (inputs.empty()) { // no folder named, or none holds a file
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const std::string& input : inputs) {
        std::printf("%s\n", input.c_str());
        std::fflush(stdout);
        // A buffer of exactly the input's size, so reading past it is caught.
        const std::string bytes = vtest::readFile(input);
        std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
