#include "app/BatchDriver.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/CConsoleReporter.h"
#include "app/CommandLine.h"
#include "app/MarkPasses.h"
#include "platform/Platform.h"
#include "pdf/CPdfException.h"
#include "stamp/CStampSettings.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

namespace {

bool endsWith(const std::string& text, const char* suffix)
{
    size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

} // namespace

bool runList(const std::string& listPath, const char* secondArgument, int argumentCount,
             const char* const* arguments, CReporter& reporter)
{
    if (!endsWith(listPath, ".txt"))
        return false;
    if (!secondArgument || std::strncmp(secondArgument, "-f", 2) != 0)
        throw CPdfException("please specify -f for output folder, e.g. -fc:\\test\n");
    const std::string folder = secondArgument + 2;
    platform::makeDirectory(folder);

    // A folder opens for reading here but has no lines: refuse it like a missing list.
#ifdef _WIN32
    std::ifstream file(platform::windows::systemPath(listPath).c_str(), std::ios::binary);
#else
    std::ifstream file(listPath, std::ios::binary);
#endif
    if (!file || platform::identify(listPath).isDirectory)
        throw CPdfException::formatted("Unable to open file list: '%s'\r\n", listPath);
#ifdef _WIN32
    // Lists written by Windows programs come in UTF-8 or the ANSI code page.
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::istringstream list(platform::windows::listText(bytes.str()));
#else
    std::istream& list = file;
#endif

    // Every line is stamped with the same JPEG and options: arguments 1 and 2
    // are replaced, the rest are parsed again for each file.
    std::vector<std::string> owned(arguments, arguments + argumentCount);
    std::string line;
    while (std::getline(list, line)) {
        // The name ends at the first line-end byte (CR LF lists keep their CR here).
        size_t end = line.find_first_of("\r\n");
        if (end != std::string::npos)
            line.erase(end);
        owned[1] = "-i" + line;
        // An empty folder is the current one, not the root of the file system.
        owned[2] = folder.empty() ? "-o" + line : "-o" + folder + platform::pathSeparator() + line;
        std::vector<const char*> vector;
        for (const std::string& argument : owned)
            vector.push_back(argument.c_str());
        processFile(parseArguments(argumentCount, vector.data(), reporter), reporter);
        reporter.fileDone();
    }
    return true;
}

int runVellico(int argumentCount, const char* const* arguments)
{
    if (argumentCount <= 1) {
        printUsage();
        return 0;
    }
    // Only as the first argument: later, as before, an unknown option is ignored.
    const std::string firstArgument = arguments[1];
    if (firstArgument == "--help" || firstArgument == "-h") {
        printUsage();
        return 0;
    }
    if (firstArgument == "--version") {
        printVersion();
        return 0;
    }
    if (argumentCount >= 3) {
        const std::vector<std::string> words(arguments, arguments + argumentCount);
        for (int i = 1; i < argumentCount; ++i) {
            // A password may hold a '*'.
            if (std::strchr(arguments[i], '*') && !isPasswordWord(words, static_cast<size_t>(i))) {
                std::printf("\nError! Wildcards * are not permitted, if you want to process many files then do: dir "
                            "/B *.pdf > list.txt, then vellico -ilist.txt -fc:\\test\n\n");
                return 1;
            }
        }
    }
    // From here on every value is joined to its option, so list mode's
    // replacement of arguments 1 and 2 and the parser see one form.
    std::vector<std::string> joined;
    try {
        joined = readPasswordFiles(joinSeparatedValues(argumentCount, arguments));
    } catch (const CPdfException& error) {
        printBanner();
        std::fputs(error.message(), stdout);
        return 1;
    }
    std::vector<const char*> joinedVector;
    for (const std::string& argument : joined)
        joinedVector.push_back(argument.c_str());
    argumentCount = static_cast<int>(joinedVector.size());
    arguments = joinedVector.data();

    printBanner();
    CConsoleReporter reporter;
    // From here on files are written: a signal must not leave temporary ones behind.
    platform::installSignalCleanup();
    int status = 1;
    try {
        const char* first = arguments[1];
        std::string listPath = std::strlen(first) >= 2 ? std::string(first + 2) : std::string();
        if (!runList(listPath, argumentCount > 2 ? arguments[2] : nullptr, argumentCount, arguments, reporter)) {
            processFile(parseArguments(argumentCount, arguments, reporter), reporter);
            reporter.fileDone();
        }
        status = 0;
    } catch (const CPdfException& error) {
        reporter.failed(error);
        status = 1;
    } catch (...) {
        reporter.failed(CPdfException("Unexpected exception"));
        status = 1;
    }
    std::fflush(stdout);
    return status;
}
