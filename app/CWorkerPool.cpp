#include "app/CWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/CConsoleReporter.h"
#include "app/FileRun.h"
#include "app/WorkerChannel.h"
#include "pdf/CPdfException.h"
#include "platform/CChildProcess.h"
#include "platform/Platform.h"

namespace {

// Files handed to one worker at once: the one it works on and at least the
// next, at most kMaxQueueDepth, and as many as take about kQueuedSeconds.
constexpr size_t kMinQueueDepth = 2, kMaxQueueDepth = 8;
constexpr double kQueuedSeconds = 0.004;
// With this many files queued at every worker, results wait a little before
// they are read, several at a time: each read that waits for one costs the
// worker that sends it a wake-up of the run, about as much as a small file's
// work (25 µs).
constexpr size_t kGatherFrom = 4;
// Workers that end while idle, in a row, before the run gives up on them.
constexpr int kMaxIdleEnds = 8;

std::string shortNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Records a worker's note of a temporary file in `temps`; false when the
// frame is no such note.
bool takeTempNote(std::set<std::string>& temps, char type, const std::string& path)
{
    if (type == worker::CREATING)
        temps.insert(path);
    else if (type == worker::FORGOTTEN)
        temps.erase(path);
    else
        return false;
    return true;
}

} // namespace

CWorkerPool::CWorkerPool(int count, const CStampSettings& settings, const CBatchSettings& batch,
                         const std::string& program)
    : m_batch(batch), m_program(program)
{
    m_hello = {worker::kGreeting,
               batch.fileRun() == EFileRun::DryRun ? "dry-run"
               : batch.fileRun() == EFileRun::List ? "list"
                                                   : "stamp",
               batch.keepGoing ? "keep-going" : "stop"};
    const std::vector<std::string> settingStrings = worker::settingsStrings(settings);
    m_hello.insert(m_hello.end(), settingStrings.begin(), settingStrings.end());
    m_workers.resize(static_cast<size_t>(count));
    for (CWorker& worker : m_workers)
        startWorker(worker);
}

CWorkerPool::~CWorkerPool()
{
    // A run ended by an error: files in flight leave nothing behind.
    for (CWorker& worker : m_workers) {
        if (worker.jobs.empty() || !worker.process)
            continue;
        worker.process->kill();
        (void)worker.process->waitForEnd();
        try {
            std::vector<CFinished> ignored;
            (void)receive(worker, ignored);
        } catch (const CPdfException&) {
        }
        for (const std::string& temp : worker.temps)
            (void)platform::removeFile(temp);
    }
}

void CWorkerPool::startWorker(CWorker& worker)
{
    worker.process = CChildProcess::start(m_program, {worker::kArgument});
    worker.received.clear();
    worker.notes.clear();
    worker.temps.clear();
    if (!worker.process || !worker.process->write(worker::frame(worker::HELLO, worker::pack(m_hello))))
        throw CPdfException::formatted(CPdfException::EKind::SystemError, "Unable to start a worker process: '%s'\n", m_program);
}

bool CWorkerPool::send(CWorker& worker, const CJob& job)
{
    return worker.process->write(
        worker::frame(worker::STAMP, worker::pack({job.input, job.output, std::to_string(job.batesStart),
                                                   std::to_string(job.batesCount), job.countOnly ? "1" : "0"})));
}

size_t CWorkerPool::queueDepth() const
{
    if (m_fileSeconds <= 0)
        return kMinQueueDepth;
    const double files = std::ceil(kQueuedSeconds / m_fileSeconds);
    return files >= kMaxQueueDepth ? kMaxQueueDepth : std::max(kMinQueueDepth, static_cast<size_t>(files));
}

bool CWorkerPool::canTakeFile() const
{
    for (const CWorker& worker : m_workers)
        if (worker.jobs.size() < queueDepth())
            return true;
    return false;
}

size_t CWorkerPool::filesInFlight() const
{
    size_t files = 0;
    for (const CWorker& worker : m_workers)
        files += worker.jobs.size();
    return files;
}

void CWorkerPool::dispatch(size_t item, const std::string& input, const std::string& output, int64_t batesStart,
                           int batesCount, bool countOnly)
{
    CWorker* chosen = nullptr;
    for (CWorker& worker : m_workers)
        if (worker.jobs.size() < queueDepth() && (!chosen || worker.jobs.size() < chosen->jobs.size()))
            chosen = &worker;
    if (!chosen)
        throw CPdfException(CPdfException::EKind::Internal, "A file was handed to workers that had no room for it\n");
    const CJob job{item, input, output, batesStart, batesCount, countOnly};
    // One that ended while idle (killed from outside) is replaced at once.
    // One that ended with files is found by collect(), which hands its files,
    // this one too, to its replacement: the file is queued all the same.
    if (!send(*chosen, job) && chosen->jobs.empty()) {
        startWorker(*chosen);
        if (!send(*chosen, job))
            throw CPdfException::formatted(CPdfException::EKind::SystemError, "Unable to start a worker process: '%s'\n", m_program);
    }
    if (chosen->jobs.empty())
        chosen->started = std::chrono::steady_clock::now();
    chosen->jobs.push_back(job);
}

bool CWorkerPool::receive(CWorker& worker, std::vector<CFinished>& finished)
{
    const bool open = worker.process->readAvailable(worker.received);
    // Notes read after the output hold every note written before it.
    worker.process->readNotes(worker.notes);
    char type = 0;
    std::string payload;
    while (worker::takeFrame(worker.notes, type, payload))
        (void)takeTempNote(worker.temps, type, payload);
    while (worker::takeFrame(worker.received, type, payload)) {
        if (takeTempNote(worker.temps, type, payload))
            continue;
        if ((type == worker::RESULT || type == worker::SKIPPED) && !worker.jobs.empty()) {
            if (type == worker::RESULT) {
                CFinished done;
                done.item = worker.jobs.front().item;
                if (!worker::unpackResult(payload, done.console, done.outcome))
                    throw CPdfException(CPdfException::EKind::SystemError,
                                        "Worker channel error: a result that cannot be read\n");
                m_fileSeconds =
                    m_fileSeconds <= 0 ? done.outcome.seconds : 0.75 * m_fileSeconds + 0.25 * done.outcome.seconds;
                finished.push_back(std::move(done));
            }
            // A skipped file was never begun: it is not reported.
            worker.jobs.pop_front();
            worker.started = std::chrono::steady_clock::now();
            m_idleEnds = 0;
        }
    }
    return open;
}

void CWorkerPool::stop(CWorker& worker, const std::string& message, std::vector<CFinished>& finished)
{
    worker.process->kill();
    const std::string how = worker.process->waitForEnd();
    // What it said before it ended still counts: its last temporary files,
    // or the file's result when it finished just in time.
    const size_t handed = worker.jobs.size();
    (void)receive(worker, finished);
    for (const std::string& temp : worker.temps)
        (void)platform::removeFile(temp);
    // Its current file fails, unless it finished just in time: then the next
    // one had barely begun, and goes to the new worker with the rest.
    if (!worker.jobs.empty() && worker.jobs.size() == handed) {
        const CJob job = worker.jobs.front();
        worker.jobs.pop_front();
        CFinished done;
        done.item = job.item;
        CConsoleReporter console(done.console);
        const std::string why = message.empty()
                                    ? "Stopped: the worker " +
                                          std::string(job.countOnly ? "counting the pages of" : "stamping") +
                                          " the file ended unexpectedly (" + how + ")"
                                    : message;
        done.stopped = true;
        done.outcome = refuseFile(job.input, job.output, CPdfException(CPdfException::EKind::SystemError, why), console);
        done.outcome.dryRun = m_batch.dryRun;
        done.outcome.listed = m_batch.list;
        done.outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - worker.started).count();
        finished.push_back(std::move(done));
    }
    startWorker(worker);
    worker.started = std::chrono::steady_clock::now();
    for (const CJob& job : worker.jobs)
        if (!send(worker, job))
            throw CPdfException::formatted(CPdfException::EKind::SystemError, "Unable to start a worker process: '%s'\n", m_program);
    if (m_stopped && !worker.jobs.empty())
        (void)worker.process->write(worker::frame(worker::STOP, std::string()));
}

void CWorkerPool::stopQueuedFiles()
{
    m_stopped = true;
    // One that has ended is found by collect(), and its replacement told.
    for (CWorker& worker : m_workers)
        if (!worker.jobs.empty())
            (void)worker.process->write(worker::frame(worker::STOP, std::string()));
}

std::vector<CWorkerPool::CFinished> CWorkerPool::collect(int milliseconds)
{
    std::vector<CChildProcess*> watched;
    bool gather = true;
    for (CWorker& worker : m_workers) {
        watched.push_back(worker.process.get());
        gather = gather && worker.jobs.size() >= kGatherFrom;
    }
    if (gather)
        CChildProcess::letOutputGather();
    CChildProcess::waitForOutput(watched, milliseconds);

    std::vector<CFinished> finished;
    const auto now = std::chrono::steady_clock::now();
    for (CWorker& worker : m_workers) {
        if (!receive(worker, finished)) {
            // A worker that keeps ending before it is given a file will not start.
            if (worker.jobs.empty() && ++m_idleEnds > kMaxIdleEnds)
                throw CPdfException::formatted(CPdfException::EKind::SystemError, "Worker processes keep ending at once: '%s'\n", m_program);
            stop(worker, std::string(), finished);
            continue;
        }
        if (worker.jobs.empty())
            continue;
        const double seconds = std::chrono::duration<double>(now - worker.started).count();
        if (m_batch.timeoutSeconds > 0 && seconds > m_batch.timeoutSeconds)
            stop(worker,
                 "Stopped: the file took longer than the time limit of " + shortNumber(m_batch.timeoutSeconds) +
                     " seconds (--timeout)",
                 finished);
        else if (m_batch.memoryLimitMb > 0 && worker.process->residentBytes() > m_batch.memoryLimitMb * 1048576)
            stop(worker,
                 "Stopped: the file needed more memory than the limit of " + std::to_string(m_batch.memoryLimitMb) +
                     " MB (--memory-limit)",
                 finished);
    }
    return finished;
}

void CWorkerPool::finish()
{
    for (CWorker& worker : m_workers)
        if (worker.jobs.empty())
            (void)worker.process->waitForEnd();
}
