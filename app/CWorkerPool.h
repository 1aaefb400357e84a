#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CBatchSettings.h"
#include "app/CFileOutcome.h"

struct CStampSettings;

class CChildProcess;

// Long-lived worker processes (the program started again as a worker), each
// stamping one file at a time. A worker that crashes, or that we stop for
// taking too long or using too much memory, fails only its current file: its
// temporary files are removed and a new worker takes its place.
//
// Each worker is handed its next files before it finishes the current one,
// so that it never waits for us between files: as many as take about 4 ms
// (2 to 8), so that small files keep it busy while we read results in
// batches, and large ones do not wait behind another's. Without --keep-going
// a worker whose file failed starts none of the files it was handed after it,
// and stopQueuedFiles() tells the others to do the same.
class CWorkerPool {
public:
    // A file a worker finished, or that was stopped.
    struct CFinished {
        size_t item = 0;
        std::string console; // its console text, whole
        CFileOutcome outcome;
        bool stopped = false; // its worker was stopped (time, memory) or ended unexpectedly
    };

    // Starts `count` workers, each the program `program`, for the run's
    // `settings` (each file's input and output are handed over with it).
    // Throws CPdfException when a worker cannot be started.
    CWorkerPool(int count, const CStampSettings& settings, const CBatchSettings& batch, const std::string& program);
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // Whether a worker has room for another file.
    bool canTakeFile() const;
    // Files handed to workers and not finished.
    size_t filesInFlight() const;
    // Hands list item `item` to the worker with the fewest files; call it
    // only when canTakeFile(). The file is finished, or failed, by collect().
    // With `countOnly`, the worker only counts the pages it would stamp
    // (the finished outcome's pagesStamped), within the same limits.
    void dispatch(size_t item, const std::string& input, const std::string& output, int64_t batesStart = 1,
                  int batesCount = -1, bool countOnly = false);
    // A failure ends the run: each worker begins none of the files it was
    // handed and has not begun (they come back as neither finished nor failed).
    void stopQueuedFiles();
    // Waits up to `milliseconds` for workers to finish files, watching
    // their time and memory; returns the files finished meanwhile.
    std::vector<CFinished> collect(int milliseconds);
    // Lets the workers end and waits for them.
    void finish();

private:
    struct CJob {
        size_t item = 0;
        std::string input, output;
        int64_t batesStart = 1; // the first Bates number and pages the batch's count gave the file
        int batesCount = -1;
        bool countOnly = false;
    };
    struct CWorker {
        std::unique_ptr<CChildProcess> process;
        std::string received;
        std::string notes;                             // read from its notes channel
        std::deque<CJob> jobs;                         // the first is the file it works on
        std::chrono::steady_clock::time_point started; // of the first
        std::set<std::string> temps;                   // announced and not yet forgotten: ours to remove if it dies
    };

    void startWorker(CWorker& worker);
    bool send(CWorker& worker, const CJob& job);
    // Reads what `worker` sent; false when it has ended.
    bool receive(CWorker& worker, std::vector<CFinished>& finished);
    // Ends `worker` and fails its current file with `message` (empty: it
    // ended by itself); a new worker takes its place and the files it was
    // handed after that one.
    void stop(CWorker& worker, const std::string& message, std::vector<CFinished>& finished);

    std::vector<std::string> m_hello;
    CBatchSettings m_batch;
    std::string m_program;
    std::vector<CWorker> m_workers;
    int m_idleEnds = 0; // workers that ended while idle since a file last finished
    double m_fileSeconds = 0; // a file's time, averaged over the recent ones; 0 before the first
    bool m_stopped = false;   // stopQueuedFiles() was called

    // Files a worker may hold: its current one and those queued behind it.
    size_t queueDepth() const;
};
