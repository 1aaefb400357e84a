#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CBatchSettings.h"
#include "app/CFileOutcome.h"

class CChildProcess;

// Long-lived worker processes (the program started again as a worker), each
// stamping one file at a time. A worker that crashes, or that we stop for
// taking too long or using too much memory, fails only its current file: its
// temporary files are removed and a new worker takes its place.
class CWorkerPool {
public:
    // A file a worker finished, or that was stopped.
    struct CFinished {
        size_t item = 0;
        std::string console; // its console text, whole
        CFileOutcome outcome;
    };

    // Starts `count` workers for the run's `arguments` (with -i and -o left
    // empty). Throws CPdfException when a worker cannot be started.
    CWorkerPool(int count, const std::vector<std::string>& arguments, const CBatchSettings& batch);
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    bool hasIdleWorker() const;
    size_t busyCount() const;
    // Hands list item `item` to an idle worker.
    void dispatch(size_t item, const std::string& input, const std::string& output);
    // Waits up to `milliseconds` for workers to finish files, watching
    // their time and memory; returns the files finished meanwhile.
    std::vector<CFinished> collect(int milliseconds);
    // Lets the idle workers end and waits for them.
    void finish();

private:
    struct CWorker {
        std::unique_ptr<CChildProcess> process;
        std::string received;
        bool busy = false;
        size_t item = 0;
        std::string input, output;
        std::chrono::steady_clock::time_point started;
        std::set<std::string> temps; // announced and not yet forgotten: ours to remove if it dies
    };

    void startWorker(CWorker& worker);
    // Reads what `worker` sent; false when it has ended.
    bool receive(CWorker& worker, std::vector<CFinished>& finished);
    // Ends `worker` and fails its file with `message`; a new worker takes its place.
    void stop(CWorker& worker, const std::string& message, std::vector<CFinished>& finished);

    std::vector<std::string> m_hello;
    CBatchSettings m_batch;
    std::string m_program;
    std::vector<CWorker> m_workers;
    int m_idleEnds = 0; // workers that ended while idle since a file last finished
};
