#pragma once

#include <string>

#include "stamp/COutputFile.h"

class CInputDocument;
class CPassMemory;
class CRepairLog;
class CReporter;
struct CStampSettings;
struct CWritePlan;

// What a run did, for the reporter.
struct CStampResult {
    int pageCount = 0;    // the document's pages
    int pagesStamped = 0;
    bool encrypted = false;
    bool updated = false; // appended to the input as an incremental update
    int64_t outputBytes = 0;
    // What of the stamp breaks the PDF/A part the input claims; empty when nothing.
    std::string pdfaWarning;
};

// Stamps one input PDF with one image into one new output PDF: a driver
// over the parts that do the work. It opens the input (CInputDocument) and
// the image (CStampImage), reads what the input says about its signatures
// (CSignatureCheck), walks the page tree (CPageTreeWalker), and has a
// writer put the new objects and every page that CPageStamper stamps into
// the output: a full rewrite (CRewriteWriter), or an update appended to the
// input's bytes (CIncrementalWriter) when asked for or when the input is
// signed. Progress and warnings go to the reporter; what was repaired in
// the input, to the repair log.
class CStampJob {
public:
    CStampJob(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs);
    ~CStampJob();
    CStampJob(const CStampJob&) = delete;
    CStampJob& operator=(const CStampJob&) = delete;

    // Writes the settings' output from their input and image; throws
    // CPdfException, and then leaves nothing behind.
    CStampResult stampFile();
    // A dry run: reads the input and the image, refuses what a run would
    // refuse, and places the stamp on the pages a run would stamp, telling
    // the reporter each; writes nothing.
    CStampResult planFile();
    // The dry run of one of a marks run's passes, which report the file as a
    // whole. The first decides, as the marks run does before its passes,
    // whether the file may be stamped.
    CStampResult planPass(bool first);
    // One of the runs a marks run chains over a file: `memory` is what the
    // chain's runs share. With `intermediate`, the output is a new private
    // file beside the settings' output, which writtenPath() names.
    CStampResult stampPass(CPassMemory& memory, bool intermediate);
    // A marks run in one update, when the input is to be updated: the eight
    // marks of the settings' box on every selected page, the horizontal
    // lines drawn with the settings' image and the vertical ones with
    // `verticalImage`; tells the reporter the marks are written. Writes
    // nothing, and returns a result that is not `updated`, when the input is
    // to be rewritten instead (by the passes).
    CStampResult stampMarksUpdate(const std::string& verticalImage);
    // The file the last run wrote.
    const std::string& writtenPath() const { return m_output.writtenPath(); }

    // The page count of the PDF at `path`: its root's /Count, else the pages found.
    static int countPages(const std::string& path, CReporter& reporter, CRepairLog& repairs,
                          const CStampSettings& settings);

private:
    // How the run writes, from the settings and what the input says of its
    // signatures; a refusal for what the file allows is explained by the
    // doubts of the signature check first.
    CWritePlan plan(CInputDocument& input) const;
    CStampResult planRun(bool pass, bool decides);
    CStampResult run(CPassMemory& memory, bool pass, bool intermediate, const std::string* verticalImage);

    const CStampSettings& m_settings;
    CReporter& m_reporter;
    CRepairLog& m_repairs;
    COutputFile m_output;
};
