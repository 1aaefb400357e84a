#include "app/CBatchRun.h"

#include <algorithm>
#include <new>

#include "app/CConsoleReporter.h"
#include "app/CPlanFile.h"
#include "app/CReportFile.h"
#include "app/CWorkerPool.h"
#include "app/FileRun.h"
#include "app/ListFile.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CStampJob.h"
#include "text/BatesNumber.h"
#include "text/CTextTemplate.h"

namespace {

// How long the run waits for workers before it looks at their time and memory again.
constexpr int kWatchMilliseconds = 50;

} // namespace

CBatchRun::CBatchRun(const CBatchSettings& batch, CConsoleReporter& console, FILE* consoleStream, CReportFile& report,
                     bool list)
    : m_batch(batch), m_console(console), m_report(report), m_list(list),
      m_progress(consoleStream, list && platform::isTerminal(consoleStream))
{
}

CBatchRun::~CBatchRun() = default;

void CBatchRun::startWorkers(const CStampSettings& settings, size_t files)
{
    if (!m_batch.usesWorkers())
        return;
    size_t count = static_cast<size_t>(m_batch.jobs.value_or(1));
    if (count == 0)
        count = static_cast<size_t>(platform::coreCount());
    count = std::min(count, std::max<size_t>(files, 1));
    m_pool = std::make_unique<CWorkerPool>(static_cast<int>(count), settings, m_batch, platform::ownExecutable());
}

int CBatchRun::run(std::vector<CBatchItem> items, const CStampSettings& settings)
{
    m_settings = &settings;
    m_numbered = settings.text && CTextTemplate(*settings.text).usesBates();
    if (m_plan)
        takeFromPlan(items);
    else if (m_numbered && m_list)
        shareOutBatesNumbers(items, settings);
    m_progress.setTotal(items.size());
    if (m_pool)
        runInWorkers(items);
    else
        runHere(items, settings);
    m_progress.clear();
    if (m_failures == 0)
        return 0;
    return m_batch.keepGoing ? 2 : 1;
}

std::vector<CFileOutcome> CBatchRun::countPages(std::vector<CBatchItem>& items, const CStampSettings& settings)
{
    m_progress.setTotal(items.size(), "Counting pages: ");
    std::vector<CFileOutcome> counts(items.size());
    size_t counted = 0;
    const auto take = [&](size_t index, const CFileOutcome& outcome) {
        counts[index] = outcome;
        m_progress.show(++counted);
    };
    if (m_pool) {
        // In the workers, so that --timeout and --memory-limit hold for the count too.
        CWorkerPool& pool = *m_pool;
        for (size_t next = 0;;) {
            for (; next < items.size() && pool.canTakeFile(); ++next) {
                if (items[next].refusal.empty())
                    pool.dispatch(next, items[next].input, items[next].output, 1, -1, true);
                else
                    take(next, CFileOutcome());
            }
            if (pool.filesInFlight() == 0 && next >= items.size())
                break;
            for (const CWorkerPool::CFinished& done : pool.collect(kWatchMilliseconds)) {
                if (done.stopped)
                    items[done.item].countStopped = done.outcome;
                take(done.item, done.outcome);
            }
        }
    } else {
        for (size_t index = 0; index < items.size(); ++index) {
            CStampSettings file = settings;
            file.inputPath = items[index].input;
            take(index, items[index].refusal.empty() ? countFile(file) : CFileOutcome());
        }
    }
    m_progress.clear();
    return counts;
}

void CBatchRun::shareOutBatesNumbers(std::vector<CBatchItem>& items, const CStampSettings& settings)
{
    const std::vector<CFileOutcome> counts = countPages(items, settings);
    int64_t next = settings.batesStart;
    for (size_t index = 0; index < items.size(); ++index) {
        CBatchItem& item = items[index];
        if (!item.refusal.empty())
            continue;
        if (counts[index].status != CFileOutcome::STAMPED) {
            // Its run fails as the count did, or, should it read the file now, refuses to number it.
            item.batesCount = CStampSettings::kBatesUncounted;
            continue;
        }
        item.batesCount = counts[index].pagesStamped;
        item.batesStart = next;
        next += item.batesCount;
    }
}

void CBatchRun::takeFromPlan(std::vector<CBatchItem>& items) const
{
    for (CBatchItem& item : items) {
        const CPlanFile::CFile& planned = m_plan->files.at(item.position.value_or(0));
        if (m_numbered) {
            item.batesCount = planned.pagesStamped >= 0 ? planned.pagesStamped : CStampSettings::kBatesUncounted;
            if (planned.pagesStamped >= 0)
                item.batesStart = planned.batesStart;
        }
        const platform::FileIdentity now = platform::identify(item.input);
        // A file that was missing and still is fails as it would have; one
        // changed leaves its numbers unused.
        if (now.exists ? now.size != planned.size || now.modified != planned.modified : planned.size >= 0)
            item.refusal = "The file changed since the plan was written: '" + item.input + "'\n";
    }
}

int CBatchRun::writePlan(const std::vector<CBatchItem>& items, const CStampSettings& settings, const std::string& path)
{
    std::vector<CBatchItem> counted = items;
    const std::vector<CFileOutcome> counts = countPages(counted, settings);
    CPlanFile plan(settings);
    int64_t next = settings.batesStart, pages = 0;
    size_t unread = 0;
    for (size_t index = 0; index < items.size(); ++index) {
        const CFileOutcome& count = counts[index];
        CPlanFile::CFile file;
        file.input = items[index].input;
        const platform::FileIdentity identity = platform::identify(file.input);
        if (identity.exists) {
            file.size = identity.size;
            file.modified = identity.modified;
        }
        file.encrypted = count.encrypted;
        if (count.status == CFileOutcome::STAMPED && !counted[index].countStopped) {
            file.pages = count.pages;
            file.pagesStamped = count.pagesStamped;
            file.batesStart = next;
            next += count.pagesStamped;
            pages += count.pagesStamped;
        } else {
            file.message = count.message.empty() ? std::string("not read") : count.message;
            ++unread;
            m_console.warning("Unable to read '" + file.input + "': " + file.message);
            m_console.endLine();
        }
        plan.files.push_back(file);
    }
    plan.write(path);
    m_console.print("Plan of " + std::to_string(items.size()) + (items.size() == 1 ? " file" : " files") +
                    " written: " + std::to_string(pages) + " pages to stamp" +
                    (pages > 0 ? ", Bates numbers " + batesNumber(settings, settings.batesStart) + " to " +
                                     batesNumber(settings, next - 1)
                               : std::string()) +
                    (unread > 0 ? ", " + std::to_string(unread) + " files not read" : std::string()) + ": '" + path +
                    "'\n");
    return 0;
}

bool CBatchRun::outputKept(const CBatchItem& item) const
{
    // Outputs are only ever created whole: one that is there is done.
    return m_batch.skipExisting && item.refusal.empty() && !item.output.empty() &&
           platform::identify(item.output).exists;
}

std::optional<CPdfException> CBatchRun::prepare(const CBatchItem& item)
{
    if (!item.refusal.empty())
        return CPdfException(CPdfException::EKind::UsageError, item.refusal);

    if (!m_list)
        return std::nullopt;
    // Opening a FIFO would wait for a writer; a folder or a device is no PDF.
    const platform::FileIdentity input = platform::identify(item.input);
    if (input.exists && !input.isRegular)
        return CPdfException::formatted(CPdfException::EKind::Unsupported, "Input file is not a regular file: '%s'\n", item.input);
    const std::string folder = parentFolder(item.output);
    // Made once per run: thousands of files share a few folders.
    if (m_batch.fileRun() == EFileRun::Stamp && !folder.empty() && m_madeFolders.insert(folder).second)
        (void)platform::makeDirectories(folder); // a failure is the output's to report
    return std::nullopt;
}

void CBatchRun::runHere(const std::vector<CBatchItem>& items, CStampSettings settings)
{
    for (const CBatchItem& item : items) {
        if (m_stop)
            break;
        m_progress.clear();
        if (outputKept(item)) {
            finished(skipFile(item.input, item.output, m_console), nullptr, item);
            continue;
        }
        const std::optional<CPdfException> refusal = prepare(item);
        if (refusal) {
            finished(refuseFile(item.input, item.output, *refusal, m_console), nullptr, item);
            continue;
        }
        settings.inputPath = item.input;
        settings.outputPath = item.output;
        settings.batesStart = item.batesStart.value_or(m_settings->batesStart);
        settings.batesCount = item.batesCount;
        finished(runFile(settings, m_batch.fileRun(), m_console), nullptr, item);
    }
}

void CBatchRun::runInWorkers(const std::vector<CBatchItem>& items)
{
    CWorkerPool& pool = *m_pool;
    size_t next = 0;
    bool toldToStop = false;
    for (;;) {
        while (!m_stop && next < items.size() && pool.canTakeFile()) {
            const CBatchItem& item = items[next];
            const std::optional<CPdfException> refusal = prepare(item);
            if (outputKept(item)) {
                std::string text;
                CConsoleReporter console(text);
                finished(skipFile(item.input, item.output, console), &text, item);
            } else if (item.countStopped) {
                std::string text;
                CConsoleReporter console(text);
                console.inputOpened(item.input);
                console.failed(CPdfException(CPdfException::EKind::SystemError, item.countStopped->message));
                finished(*item.countStopped, &text, item);
            } else if (!refusal) {
                pool.dispatch(next, item.input, item.output, item.batesStart.value_or(m_settings->batesStart),
                              item.batesCount);
            } else {
                std::string text;
                CConsoleReporter console(text);
                const CFileOutcome outcome = refuseFile(item.input, item.output, *refusal, console);
                finished(outcome, &text, item);
            }
            ++next;
        }
        if (pool.filesInFlight() == 0 && (m_stop || next >= items.size()))
            break;
        if (m_stop && !toldToStop) {
            pool.stopQueuedFiles();
            toldToStop = true;
        }
        for (const CWorkerPool::CFinished& done : pool.collect(kWatchMilliseconds))
            finished(done.outcome, &done.console, items[done.item]);
    }
    pool.finish();
}

void CBatchRun::finished(CFileOutcome outcome, const std::string* console, const CBatchItem& item)
{
    m_progress.clear();
    if (console)
        m_console.print(*console);
    outcome.position = item.position;
    outcome.numbered = m_numbered;
    if (outcome.status != CFileOutcome::STAMPED)
        outcome.batesFirst.clear(), outcome.batesLast.clear(); // its pages got none
    if (m_numbered && !outcome.succeeded() && item.batesStart && item.batesCount > 0) {
        outcome.unusedFirst = batesNumber(*m_settings, *item.batesStart);
        outcome.unusedLast = batesNumber(*m_settings, *item.batesStart + item.batesCount - 1);
        m_console.warning("Bates numbers " + outcome.unusedFirst + " to " + outcome.unusedLast +
                          " were this file's, and are left unused");
        m_console.endLine();
    }
    m_report.add(outcome);
    ++m_done;
    if (!outcome.succeeded()) {
        ++m_failures;
        m_stop = !m_batch.keepGoing;
    }
    m_progress.show(m_done);
}
