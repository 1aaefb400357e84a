#include "app/CConsoleReporter.h"

#include <cstdio>

#include "app/CFileOutcome.h"
#include "page/StampPlacement.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"

CConsoleReporter::CConsoleReporter(FILE* stream) : m_stream(stream), m_watched(platform::isTerminal(stream)) {}

CConsoleReporter::CConsoleReporter(std::string& capture) : m_capture(&capture) {}

void CConsoleReporter::print(const std::string& text)
{
    if (text.empty())
        return;
    if (m_capture) {
        m_capture->append(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), m_stream);
        // Into a file too: a signal that ends the run loses what the stream holds.
        if (text.find('\n') != std::string::npos)
            std::fflush(m_stream);
    }
    m_atLineStart = text.back() == '\n';
}

void CConsoleReporter::endLine()
{
    if (!m_atLineStart)
        print("\n");
}

void CConsoleReporter::message(const std::string& text)
{
    // The words stay as they are; only where the lines break is ours.
    const size_t begin = text.find_first_not_of("\r\n");
    if (begin == std::string::npos)
        return;
    endLine();
    print(text.substr(begin));
    endLine();
}

void CConsoleReporter::optionWarning(const std::string& text) { message("Warning: " + text + "\n"); }

void CConsoleReporter::countingPages(const std::string& input) { message("Parsing file: " + input); }

void CConsoleReporter::inputOpened(const std::string& input)
{
    endLine();
    print("Input file: '" + input + "'");
}

void CConsoleReporter::outputBegun(const std::string& stamp, const std::string& output)
{
    print(", " + stamp + ", output file: '" + output + "'\nProcessing");
}

void CConsoleReporter::recordInto(CFileOutcome* outcome)
{
    m_record = outcome;
    m_inputRead = false;
}

void CConsoleReporter::inputEncryption(bool encrypted)
{
    if (m_record)
        m_record->encrypted = encrypted;
    m_inputRead = true;
}

void CConsoleReporter::planBegun(const std::string& stamp, const std::string& output)
{
    if (m_record)
        m_record->dryRun = true;
    // A marks run names no image (its images are the marks).
    print((stamp.empty() ? std::string() : ", " + stamp) + ", output file: '" + output +
          "'\nDry run: nothing is written");
}

namespace {

std::string placeText(const CStampMark& mark)
{
    return "x " + decimalText(mark.x, 2) + ", y " + decimalText(mark.y, 2) + ", width " + decimalText(mark.width, 2) +
           ", height " + decimalText(mark.height, 2);
}

} // namespace

void CConsoleReporter::pagePlaced(int pageNumber, const CStampMark& mark, bool annotation)
{
    if (m_record)
        m_record->stamps.push_back(CFileOutcome::CPlaced{pageNumber, mark, annotation});
    print("\nPage " + std::to_string(pageNumber) + ": " + placeText(mark));
}

void CConsoleReporter::stampListed(int pageNumber, const CStampMark& mark, bool annotation)
{
    if (m_record)
        m_record->stamps.push_back(CFileOutcome::CPlaced{pageNumber, mark, annotation});
    print("\nPage " + std::to_string(pageNumber) + ": " + mark.id + ", " + CStampMark::kindName(mark.kind) + ", " +
          CStampMark::placementName(annotation, mark.underlay) + ", " + placeText(mark) +
          (mark.layer.empty() ? "" : ", layer '" + mark.layer + "'"));
}

void CConsoleReporter::pageWritten(int pagesSoFar)
{
    if (pagesSoFar % 6 != 0)
        return;
    print(".");
    // Shown at once to someone watching.
    if (m_watched)
        std::fflush(m_stream);
}

void CConsoleReporter::batesNumbered(const std::string& first, const std::string& last)
{
    if (!m_record)
        return;
    m_record->batesFirst = first;
    m_record->batesLast = last;
    // A dry run shows each file's range; a run's report has it.
    if (m_record->dryRun)
        print("\nBates numbers: " + first + " to " + last);
}

void CConsoleReporter::marksWritten(const std::string& output) { print(", output file: '" + output + "'\n"); }

void CConsoleReporter::warning(const std::string& text)
{
    if (m_record)
        m_record->warnings.push_back(text);
    print("\nWarning: " + text);
}

void CConsoleReporter::fileDone() { print("\nDone.\n"); }

void CConsoleReporter::failed(const CPdfException& error) { message(error.message()); }
