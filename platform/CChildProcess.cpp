#include "platform/CChildProcess.h"

#include <chrono>
#include <cstdio>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>

#include <psapi.h> // after windows.h, which it needs

#include "platform/WindowsFiles.h"
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;
#endif

#ifdef _WIN32

namespace {

// Each pipe's buffer. Writes block once it is full: with the default (4 KB)
// a file's frame to a worker with long paths waits for the worker, while the
// worker waits for us to read its result. Frames in flight to one worker
// (the greeting and two files, each path at most 32 K wide characters) stay
// well below this.
constexpr DWORD kPipeBytes = 1 << 20;

// One argument as the C runtime of the child splits its command line.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    return text + L"\"";
}

void closeHandle(void*& handle)
{
    if (handle)
        CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
}

// The job that every child is put in. The system closes our handle to it
// when we end, however we end, and closing it ends the children; null when
// there is none.
HANDLE childrenJob()
{
    static const HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made && !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    return job;
}

} // namespace

std::unique_ptr<CChildProcess> CChildProcess::start(const std::string& program,
                                                    const std::vector<std::string>& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr, toChild = nullptr, fromChild = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toChild, &inherit, kPipeBytes))
        return nullptr;
    if (!CreatePipe(&fromChild, &childOut, &inherit, kPipeBytes)) {
        CloseHandle(childIn);
        CloseHandle(toChild);
        return nullptr;
    }
    // Only the child's ends are handed down.
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = quoted(platform::windows::widen(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quoted(platform::windows::widen(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const std::wstring path = platform::windows::widen(program);
    // Suspended until it is in the job: none of it runs outside.
    const BOOL started = CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!started) {
        CloseHandle(toChild);
        CloseHandle(fromChild);
        return nullptr;
    }
    // Where it cannot join the job (Windows before 8, when we are in a job
    // ourselves), it runs outside it.
    if (childrenJob())
        (void)AssignProcessToJobObject(childrenJob(), info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    std::unique_ptr<CChildProcess> child(new CChildProcess());
    child->m_process = info.hProcess;
    child->m_toChild = toChild;
    child->m_fromChild = fromChild;
    return child;
}

CChildProcess::~CChildProcess()
{
    if (!m_ended) {
        kill();
        (void)waitForEnd();
    }
    closeHandle(m_toChild);
    closeHandle(m_fromChild);
    closeHandle(m_process);
}

bool CChildProcess::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!m_toChild || !WriteFile(static_cast<HANDLE>(m_toChild), bytes.data() + done,
                                     static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            return false;
        done += written;
    }
    return true;
}

bool CChildProcess::readAvailable(std::string& into)
{
    for (;;) {
        DWORD available = 0;
        if (!m_fromChild || !PeekNamedPipe(static_cast<HANDLE>(m_fromChild), nullptr, 0, nullptr, &available, nullptr))
            return false; // broken: the child's end is closed
        if (available == 0)
            return true;
        const size_t old = into.size();
        into.resize(old + available);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(m_fromChild), &into[old], available, &got, nullptr)) {
            into.resize(old);
            return false;
        }
        into.resize(old + got);
    }
}

// The notes come with the output: one channel.
void CChildProcess::readNotes(std::string&) {}

void CChildProcess::letOutputGather() {}

void CChildProcess::waitForOutput(const std::vector<CChildProcess*>& children, int milliseconds)
{
    // Anonymous pipes cannot be waited on: look at each now and then.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        for (CChildProcess* child : children) {
            DWORD available = 0;
            if (!PeekNamedPipe(static_cast<HANDLE>(child->m_fromChild), nullptr, 0, nullptr, &available, nullptr) ||
                available > 0)
                return;
        }
        Sleep(1);
    } while (std::chrono::steady_clock::now() < end);
}

int64_t CChildProcess::residentBytes() const
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!K32GetProcessMemoryInfo(static_cast<HANDLE>(m_process), &counters, sizeof counters))
        return 0;
    return static_cast<int64_t>(counters.WorkingSetSize);
}

void CChildProcess::kill()
{
    if (!m_ended)
        TerminateProcess(static_cast<HANDLE>(m_process), 1);
}

std::string CChildProcess::waitForEnd()
{
    if (m_ended)
        return m_how;
    closeHandle(m_toChild);
    WaitForSingleObject(static_cast<HANDLE>(m_process), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(static_cast<HANDLE>(m_process), &code);
    char text[48];
    std::snprintf(text, sizeof text, "exit status 0x%lX", static_cast<unsigned long>(code));
    m_how = text;
    m_ended = true;
    return m_how;
}

#else

std::unique_ptr<CChildProcess> CChildProcess::start(const std::string& program,
                                                    const std::vector<std::string>& arguments)
{
    // A socket rather than pipes: writing to a worker that died is an
    // error to handle, not a SIGPIPE that ends us.
    int ends[2], notes[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, notes) != 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, notes[1], platform::kNotesDescriptor);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    ::close(notes[1]);
    if (failed != 0) {
        ::close(ends[0]);
        ::close(notes[0]);
        return nullptr;
    }
    (void)::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    (void)::fcntl(notes[0], F_SETFL, ::fcntl(notes[0], F_GETFL) | O_NONBLOCK);
    std::unique_ptr<CChildProcess> child(new CChildProcess());
    child->m_pid = pid;
    child->m_channel = ends[0];
    child->m_notes = notes[0];
    platform::recordChild(pid);
    return child;
}

CChildProcess::~CChildProcess()
{
    if (!m_ended) {
        kill();
        (void)waitForEnd();
    }
    if (m_channel >= 0)
        ::close(m_channel);
    if (m_notes >= 0)
        ::close(m_notes);
}

bool CChildProcess::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(m_channel, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent >= 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd writable{m_channel, POLLOUT, 0};
            (void)::poll(&writable, 1, 100);
            continue;
        }
        if (errno != EINTR)
            return false;
    }
    return true;
}

namespace {

// Appends what `fd` holds, without waiting; false once it has ended.
bool readWithoutWaiting(int fd, std::string& into)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<size_t>(got));
            // Less than asked for: all there was (more wakes the next wait).
            if (static_cast<size_t>(got) < sizeof buffer)
                return true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

} // namespace

bool CChildProcess::readAvailable(std::string& into) { return readWithoutWaiting(m_channel, into); }

void CChildProcess::readNotes(std::string& into) { (void)readWithoutWaiting(m_notes, into); }

void CChildProcess::letOutputGather() { std::this_thread::sleep_for(std::chrono::microseconds(500)); }

void CChildProcess::waitForOutput(const std::vector<CChildProcess*>& children, int milliseconds)
{
    std::vector<pollfd> watched;
    for (const CChildProcess* child : children)
        watched.push_back(pollfd{child->m_channel, POLLIN, 0});
    (void)::poll(watched.data(), watched.size(), milliseconds);
}

int64_t CChildProcess::residentBytes() const
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/statm", m_pid);
    FILE* file = std::fopen(path, "r");
    if (!file)
        return 0;
    long long size = 0, resident = 0;
    const bool read = std::fscanf(file, "%lld %lld", &size, &resident) == 2;
    std::fclose(file);
    return read ? resident * ::sysconf(_SC_PAGESIZE) : 0;
}

void CChildProcess::kill()
{
    if (!m_ended)
        (void)::kill(static_cast<pid_t>(m_pid), SIGKILL);
}

std::string CChildProcess::waitForEnd()
{
    if (m_ended)
        return m_how;
    (void)::shutdown(m_channel, SHUT_WR); // an idle worker ends at the end of its input
    int status = 0;
    while (::waitpid(static_cast<pid_t>(m_pid), &status, 0) < 0 && errno == EINTR) {
    }
    platform::forgetChild(m_pid);
    m_how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : "exit status " + std::to_string(WEXITSTATUS(status));
    m_ended = true;
    return m_how;
}

#endif
