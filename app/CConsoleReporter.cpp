#include "app/CConsoleReporter.h"

#include <cstdio>

#include "pdf/CPdfException.h"
#include "platform/Platform.h"

void CConsoleReporter::unknownOption(const std::string& argument)
{
    std::printf("Warning: unknown option '%s' ignored\n", argument.c_str());
}

void CConsoleReporter::countingPages(const std::string& input) { std::printf("Parsing file: %s", input.c_str()); }

void CConsoleReporter::inputOpened(const std::string& input) { std::printf("Input file: '%s'", input.c_str()); }

void CConsoleReporter::outputBegun(const std::string& image, const std::string& output)
{
    std::printf(", image file: '%s'", image.c_str());
    std::printf(", output file: '%s'\n", output.c_str());
    std::printf("Processing");
}

void CConsoleReporter::pageWritten(int pagesSoFar)
{
    if (pagesSoFar % 6 != 0)
        return;
    std::fputs(".", stdout);
    // Shown at once to someone watching.
    static const bool watched = platform::stdoutIsTerminal();
    if (watched)
        std::fflush(stdout);
}

void CConsoleReporter::marksWritten(const std::string& output) { std::printf(", output file: '%s'\n", output.c_str()); }

void CConsoleReporter::warning(const std::string& text)
{
    std::printf("\nWarning: %s", text.c_str());
    m_warned = true;
}

void CConsoleReporter::fileDone()
{
    std::printf("\nDone.\n");
    m_warned = false;
}

void CConsoleReporter::failed(const CPdfException& error)
{
    // The message starts on a line of its own after the warnings.
    if (m_warned)
        std::printf("\n");
    m_warned = false;
    std::fputs(error.message(), stdout);
}
