#pragma once

#include "app/CFileOutcome.h"
#include "stamp/CReporter.h"

// Passes everything a file's run reports on to the console and keeps what
// the report needs of it: the warnings and, in a dry run, where each stamp
// would go.
class CFileRecorder : public CReporter {
public:
    CFileRecorder(CReporter& console, CFileOutcome& outcome) : m_console(console), m_outcome(outcome) {}

    void optionWarning(const std::string& text) override { m_console.optionWarning(text); }
    void countingPages(const std::string& input) override { m_console.countingPages(input); }
    void inputOpened(const std::string& input) override { m_console.inputOpened(input); }
    void inputEncryption(bool encrypted) override
    {
        m_outcome.encrypted = encrypted;
        m_inputRead = true;
    }
    // Whether the input was read as a PDF, so that its encryption is known.
    bool inputRead() const { return m_inputRead; }
    void outputBegun(const std::string& image, const std::string& output) override;
    void planBegun(const std::string& image, const std::string& output) override;
    void pagePlaced(int pageNumber, const CStampRect& rect) override;
    void pageWritten(int pagesSoFar) override { m_console.pageWritten(pagesSoFar); }
    void marksWritten(const std::string& output) override { m_console.marksWritten(output); }
    void warning(const std::string& text) override;
    void fileDone() override { m_console.fileDone(); }
    void failed(const CPdfException& error) override { m_console.failed(error); }

private:
    CReporter& m_console;
    CFileOutcome& m_outcome;
    bool m_inputRead = false;
};
