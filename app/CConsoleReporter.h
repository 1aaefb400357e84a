#pragma once

#include <cstdio>
#include <string>

#include "page/CReporter.h"

struct CFileOutcome;

// The console text of a run: the files as each is begun, a dot for every
// sixth page written, warnings, "Done." and the error that ends a file or
// the run. Printed to a stream (standard output, or standard error when the
// report goes there), flushed at each line's end, or kept in a string for a
// worker to hand over whole.
// Each message starts on a line of its own and ends with a line break.
// While a file runs, it also keeps what the report needs of it.
class CConsoleReporter : public CReporter {
public:
    explicit CConsoleReporter(FILE* stream);
    explicit CConsoleReporter(std::string& capture);

    void optionWarning(const std::string& text) override;
    void countingPages(const std::string& input) override;
    void inputOpened(const std::string& input) override;
    void inputEncryption(bool encrypted) override;
    void outputBegun(const std::string& stamp, const std::string& output) override;
    void planBegun(const std::string& stamp, const std::string& output) override;
    void pagePlaced(int pageNumber, const CStampMark& mark, bool annotation) override;
    void stampListed(int pageNumber, const CStampMark& mark, bool annotation) override;
    void pageWritten(int pagesSoFar) override;
    void batesNumbered(const std::string& first, const std::string& last) override;
    void marksWritten(const std::string& output) override;
    void warning(const std::string& text) override;
    void fileDone() override;
    void failed(const CPdfException& error) override;

    // From here on the warnings, whether the input is encrypted and, in a dry
    // run, where each stamp would go are kept in `outcome` too (null: no longer).
    void recordInto(CFileOutcome* outcome);
    // Whether the input of the file recorded was read as a PDF, so that its encryption is known.
    bool inputRead() const { return m_inputRead; }

    // Ends the last line, if open.
    void endLine();
    // Prints text kept by another reporter (a worker's), as it was.
    void print(const std::string& text);

private:
    // `text` on a line of its own, without the line breaks around it.
    void message(const std::string& text);

    FILE* m_stream = nullptr;
    std::string* m_capture = nullptr;
    bool m_watched = false;    // a terminal: progress is shown at once
    bool m_atLineStart = true; // nothing printed yet, or the last line is ended
    CFileOutcome* m_record = nullptr;
    bool m_inputRead = false;
};
