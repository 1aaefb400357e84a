#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A program we started, with a two-way byte channel to it: what we write
// is its standard input, what it writes to standard output we read. Its
// standard error is ours. Ended (killed if need be) and waited for when the
// object goes. On Windows it is ended when we end, however we end (a job
// object); elsewhere the program asks for that itself (platform::endWithParent).
class CChildProcess {
public:
    // Starts `program` with `arguments` (without the program's name); null
    // when it cannot be started.
    static std::unique_ptr<CChildProcess> start(const std::string& program, const std::vector<std::string>& arguments);
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Writes all of `bytes` to its input; false when it is gone.
    bool write(const std::string& bytes);
    // Appends what it has written and we have not read yet, without waiting;
    // false once its output has ended (it exited or died) and all was read.
    bool readAvailable(std::string& into);
    // Appends what it has written to its notes channel (see
    // platform::Channel), without waiting. Read after its output, all notes
    // written before that output are here.
    void readNotes(std::string& into);
    // Waits up to `milliseconds` until one of `children` has output to read
    // or has ended.
    static void waitForOutput(const std::vector<CChildProcess*>& children, int milliseconds);
    // Lets output gather for a moment (0.5 ms) before the next wait, so that
    // one wait finds several writes rather than each write waking us: where
    // waits poll now and then (Windows), they gather it already.
    static void letOutputGather();

    // Its resident memory in bytes; 0 when it cannot be told.
    int64_t residentBytes() const;
    // Ends it at once.
    void kill();
    // Waits for it to end and says how it did ("exit status 3", "signal 11").
    std::string waitForEnd();

private:
    CChildProcess() = default;

#ifdef _WIN32
    void* m_process = nullptr; // HANDLE
    void* m_toChild = nullptr;
    void* m_fromChild = nullptr;
#else
    long m_pid = -1;
    int m_channel = -1; // one socket, both ways
    int m_notes = -1;   // what it says of its temporary files
#endif
    bool m_ended = false;
    std::string m_how;
};
