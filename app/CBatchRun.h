#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/CBatchSettings.h"
#include "app/CFileOutcome.h"
#include "app/CProgressLine.h"
#include "pdf/CPdfException.h"

class CConsoleReporter;
class CPlanFile;
class CWorkerPool;
class CReportFile;
struct CFileOutcome;
struct CStampSettings;

// One input file of a run and where its output goes; `refusal`, when not
// empty, says why it is not even begun (a list line leading outside the folder).
struct CBatchItem {
    std::optional<size_t> position; // its place in the list, from 0
    std::string input;
    std::string output;
    std::string refusal;
    // The first Bates number of its stamped pages, and how many a list's
    // counting pass found (-1: not counted); what the settings say otherwise.
    std::optional<int64_t> batesStart;
    int batesCount = -1; // CStampSettings::kBatesUncounted: the count could not read it
    // The count's worker was stopped on it (time, memory): the file's end, not begun again.
    std::optional<CFileOutcome> countStopped;
};

// Stamps a run's files, here or in workers, printing each file's console
// text whole and adding its line to the report as it finishes.
class CBatchRun {
public:
    // `list`: the files come from a list (their output folders are made as
    // needed, inputs that are not regular files refused, progress shown).
    CBatchRun(const CBatchSettings& batch, CConsoleReporter& console, FILE* consoleStream, CReportFile& report,
              bool list);
    ~CBatchRun();

    // Starts the workers, when the run has any, for at most `files` files
    // stamped as `settings` say. Throws CPdfException.
    void startWorkers(const CStampSettings& settings, size_t files);
    // Stamps `items` with `settings` (whose input and output each item
    // replaces), in the workers when started.
    // Returns the exit status: 0 when every file was stamped, 1 when a
    // failure ended the run, 2 when with --keep-going any file was not.
    int run(std::vector<CBatchItem> items, const CStampSettings& settings);
    // The run takes each file's Bates range from `plan`, made of the same
    // list; a file changed since fails alone.
    void usePlan(const CPlanFile& plan) { m_plan = &plan; }
    // Reads every one of the list's `items` once and writes the plan to
    // `path`, stamping nothing. Returns the exit status. Throws CPdfException.
    int writePlan(const std::vector<CBatchItem>& items, const CStampSettings& settings, const std::string& path);

private:
    // A list run with {bates}: each file's count of stamped pages read
    // first, and the numbers shared out in list order, so that the files
    // can be stamped in any order by any worker.
    void shareOutBatesNumbers(std::vector<CBatchItem>& items, const CStampSettings& settings);
    // Each item's count of stamped pages (and its pages), read with progress shown.
    std::vector<CFileOutcome> countPages(std::vector<CBatchItem>& items, const CStampSettings& settings);
    // Each item's range and count from the plan; a file changed since it is refused.
    void takeFromPlan(std::vector<CBatchItem>& items) const;
    // Why the file cannot be begun (none when it can); makes its output's folders.
    // --skip-existing: `item`'s output is there, and left alone.
    bool outputKept(const CBatchItem& item) const;
    std::optional<CPdfException> prepare(const CBatchItem& item);
    void runHere(const std::vector<CBatchItem>& items, CStampSettings settings);
    void runInWorkers(const std::vector<CBatchItem>& items);
    // A file (`item`) finished: `console` is its text when it was not printed as it went.
    void finished(CFileOutcome outcome, const std::string* console, const CBatchItem& item);

    CBatchSettings m_batch;
    CConsoleReporter& m_console;
    CReportFile& m_report;
    bool m_list;
    CProgressLine m_progress;
    std::unique_ptr<CWorkerPool> m_pool;
    size_t m_done = 0;
    size_t m_failures = 0;
    std::set<std::string> m_madeFolders;
    bool m_stop = false; // a failure without --keep-going: no file is begun any more
    bool m_numbered = false; // the text has {bates}
    const CStampSettings* m_settings = nullptr;
    const CPlanFile* m_plan = nullptr;
};
