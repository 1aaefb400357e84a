#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "write/COutputFile.h"

class CPdfFile;
class COutputWriter;
struct CPageRecord;
class CPageStamper;
class CPassMemory;
class CRepairLog;
class CStampImage;
class CStampPainter;
struct CResourceNames;
struct CStampDraw;
class CReporter;
class CWrittenObjects;
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
// over the parts that do the work. It opens the input (CPdfFile) and
// the image (CStampImage), decides from what the input says of its
// signatures (CSignatureCheck) how to write (CWritePlan), walks the page tree
// (CPageTreeWalker), and has a writer put the new objects and every page
// that CPageStamper stamps into the output: a full rewrite (CRewriteWriter),
// or an update appended to the input's bytes (CIncrementalWriter). Progress
// and warnings go to the reporter; what was repaired in the input, to the
// repair log.
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
    // A marks run's first step, which decides how to write: when the input is
    // to be updated, the eight marks of the settings' box on every selected
    // page in one update, the horizontal lines drawn with the settings'
    // image and the vertical ones with `verticalImage`; tells the reporter
    // the marks are written. Writes nothing, and returns a result that is not
    // `updated`, when the input is to be rewritten instead (by the passes).
    CStampResult stampMarksUpdate(const std::string& verticalImage);
    // --remove, --remove-all and the first half of --replace: writes the
    // input without the stamps of the settings' ids (of every id with
    // removeAll). The file as it was before the last update, byte for byte,
    // when the stamps are exactly what that update added; a new update where
    // the input is signed and only annotations go; a refusal where content
    // stamps of a signed file are not the last update. With `intermediate`,
    // the output is a new private file (writtenPath()), and nothing is
    // written when no stamp is taken off (`removedAny` false).
    CStampResult removeStamps(bool intermediate, bool& removedAny);
    // The file the last run wrote.
    const std::string& writtenPath() const { return m_output.writtenPath(); }

    // Reads `input`, opened once for the file's whole run (by openInput), instead of opening it again.
    void readFrom(std::shared_ptr<CPdfFile> input) { m_given = std::move(input); }

    // The settings' input opened and loaded as a run reads it, `opened` told
    // whether the file could be opened before it is read; throws CPdfException with
    // the message a run gives (a file that is missing, not regular, not a PDF,
    // or encrypted against changes).
    // `toChange`: refuses a file whose encryption forbids changes.
    // The stamp the -j file holds: a page of a PDF, a PNG or a JPEG, told
    // apart by its first bytes; throws CPdfException when it cannot be used.
    static std::unique_ptr<CStampImage> openStamp(const CStampSettings& settings);
    static std::shared_ptr<CPdfFile> openInput(const CStampSettings& settings, CRepairLog& repairs,
                                               const std::function<void(bool)>& opened, bool toChange = true);
    // The page count of `input`: its root's /Count, else the pages found.
    static int countPages(CPdfFile& input);
    // How many pages of the settings' input a run stamps (a batch's Bates
    // numbers are shared out by it); throws CPdfException as a run would
    // when the input cannot be read. `pageCount` and `encrypted`, when
    // given, take the input's pages and whether it is encrypted (for a plan).
    static int countStampedPages(CStampSettings settings, int* pageCount = nullptr, bool* encrypted = nullptr);
    // --list: tells the reporter the stamps each page of the settings' input
    // carries; writes nothing. `pagesStamped` counts the pages with any.
    static CStampResult listStamps(const CStampSettings& settings, CReporter& reporter, CRepairLog& repairs);

private:
    // Where a run stands in the work on one file.
    enum class ERun {
        File,     // the only run: it reports the file, and decides how to write it
        Marks,    // a marks run's first: decides, and writes all marks when the file is to be updated
        Pass,     // a mark pass whose output, a new private file, the next pass reads
        LastPass, // the mark pass that writes the output
    };
    struct COpened;

    // Opens the input, and reads what it says of its signatures when the run decides.
    COpened open(ERun run) const;
    // How the run writes; a refusal for what the file allows is explained by
    // the doubts of the signature check first.
    CWritePlan decide(ERun run, const COpened& opened) const;
    // Opens the image (and a marks update's `verticalImage`) once the run is
    // decided, and refuses an output that is a file the run reads.
    void openImages(ERun run, const std::string* verticalImage, COpened& opened) const;
    // Makes the settings' text stamp, when they have one, for a document of
    // `pageCount` pages, `pages` as the walk found them, that claims PDF/A part `pdfaPart` (0: none).
    void openText(COpened& opened, int pageCount, const std::vector<CPageRecord>& pages, int pdfaPart) const;
    // Checks the Bates numbers of a file that stamps `stamped` pages, and tells the reporter which it gets.
    void reportBatesRange(int stamped) const;
    // Creates the output and the writer of `plan`, which has begun it.
    std::unique_ptr<COutputWriter> beginWriter(ERun run, const CWritePlan& plan, CPdfFile& input,
                                               const CWrittenObjects* previous, CWrittenObjects* written);
    // Tells the reporter what the run that wrote `stamper`'s pages has to say.
    void reportWritten(ERun run, const CWritePlan& plan, const CPageStamper& stamper, bool selectedNone);
    // Whether the page options select none of `pages` (the walk's, in order).
    bool noneSelected(const std::vector<CPageRecord>& pages) const;
    CStampResult plan(ERun run);
    // What reading a PDF stamp repaired or left out (told once the output is begun).
    void reportStampWarnings(const CStampImage& image) const;
    // A painter for each variant of `image` (one for most stamps), page i
    // of the input taking the i-th, the last for the pages past them.
    std::vector<CStampPainter> pagePainters(const CStampImage& image, const CResourceNames& names,
                                            const CStampDraw& draw) const;
    CStampResult write(ERun run, CPassMemory& memory, const std::string* verticalImage);
    // One attempt of write(); throws CPageRewriter::CNameTaken when a page holds one of its names.
    CStampResult writeOnce(ERun run, CPassMemory& memory, const std::string* verticalImage);
    static constexpr int kMaxNameAttempts = 64;

    const CStampSettings& m_settings;
    CReporter& m_reporter;
    CRepairLog& m_repairs;
    COutputFile m_output;
    std::shared_ptr<CPdfFile> m_given;
};
