#ifdef _WIN32
#define _CRT_RAND_S // rand_s: the system's cryptographic random source
#endif
#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/WindowsFiles.h"
#else
#include <fcntl.h>
#include <sched.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

namespace platform {

char pathSeparator()
{
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

namespace {

// What ends a folder's name in a path: either slash on Windows.
const char* pathSeparators() { return pathSeparator() == '/' ? "/" : "/\\"; }

} // namespace

std::string fileName(const std::string& path) { return path.substr(path.find_last_of(pathSeparators()) + 1); }

void makeDirectory(const std::string& path)
{
#ifdef _WIN32
    (void)CreateDirectoryW(windows::systemPath(path).c_str(), nullptr);
#else
    (void)::mkdir(path.c_str(), 0777);
#endif
}

bool makeDirectories(const std::string& path)
{
    // Each parent in turn: an existing one, or one we cannot create (a drive
    // root), is left to the last check.
    const char* separators = pathSeparators();
    for (size_t at = path.find_first_of(separators, 1); at != std::string::npos;
         at = path.find_first_of(separators, at + 1))
        makeDirectory(path.substr(0, at));
    makeDirectory(path);
    return identify(path).isDirectory;
}

bool isTerminal(FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

bool readStandardInput(std::string& bytes)
{
#ifdef _WIN32
    (void)_setmode(0, _O_BINARY);
#endif
    char buffer[65536];
    for (;;) {
        const int64_t got = readSome(0, buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

int coreCount()
{
#ifdef _WIN32
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1)
            ++count;
    return count > 0 ? count : 1;
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
#endif
}

std::string ownExecutable()
{
#ifdef _WIN32
    return windows::programPath();
#else
    std::vector<char> name(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", name.data(), name.size() - 1);
    return length > 0 ? std::string(name.data(), static_cast<size_t>(length)) : std::string();
#endif
}

Channel takeStandardChannel()
{
    Channel channel;
#ifdef _WIN32
    (void)_setmode(0, _O_BINARY);
    (void)_setmode(1, _O_BINARY);
    channel.in = 0;
    channel.out = _dup(1);
    (void)_dup2(2, 1);
#else
    channel.in = STDIN_FILENO;
    struct stat notes;
    if (::fstat(kNotesDescriptor, &notes) == 0 && S_ISSOCK(notes.st_mode)) {
        (void)::fcntl(kNotesDescriptor, F_SETFD, FD_CLOEXEC);
        channel.notes = kNotesDescriptor;
    }
    channel.out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    (void)::dup2(STDERR_FILENO, STDOUT_FILENO);
#endif
    if (channel.notes < 0)
        channel.notes = channel.out;
    return channel;
}

void endWithParent(int channel)
{
#if defined(__linux__)
    (void)::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent made the socket pair, so it is the channel's peer. When it
    // died before the signal was asked for, we have another parent already.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(channel, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && ::getppid() != peer.pid)
        (void)::raise(SIGTERM);
#else
    (void)channel;
#endif
}

int64_t readSome(int fd, void* target, size_t count)
{
    for (;;) {
#ifdef _WIN32
        const int got = _read(fd, target, static_cast<unsigned>(count > 0x40000000 ? 0x40000000 : count));
#else
        const ssize_t got = ::read(fd, target, count);
#endif
        if (got < 0 && errno == EINTR)
            continue;
        return got;
    }
}

int64_t readWhatIsThere(int fd, void* target, size_t count)
{
#ifdef _WIN32
    DWORD available = 0;
    if (!PeekNamedPipe(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), nullptr, 0, nullptr, &available, nullptr))
        return -1;
    if (available == 0)
        return 0;
    return readSome(fd, target, available < count ? available : count);
#else
    for (;;) {
        const ssize_t got = ::recv(fd, target, count, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return got > 0 ? got : -1;
    }
#endif
}

namespace {

template <class Info>
FileIdentity identityOf(const Info& info)
{
    FileIdentity identity;
    identity.exists = true;
#ifdef _WIN32
    identity.isDirectory = (info.st_mode & _S_IFDIR) != 0;
    identity.isRegular = (info.st_mode & _S_IFREG) != 0;
#else
    identity.isDirectory = S_ISDIR(info.st_mode);
    identity.isRegular = S_ISREG(info.st_mode);
#endif
    identity.device = static_cast<uint64_t>(info.st_dev);
    identity.inode = static_cast<uint64_t>(info.st_ino);
    identity.mode = static_cast<unsigned>(info.st_mode) & 07777u;
    identity.size = static_cast<int64_t>(info.st_size);
#if defined(__APPLE__)
    identity.modified = static_cast<int64_t>(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
#elif !defined(_WIN32)
    identity.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
    return identity;
}

} // namespace

FileIdentity identify(const std::string& path)
{
#ifdef _WIN32
    return windows::identify(path);
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return FileIdentity();
    return identityOf(info);
#endif
}

FileIdentity identifyOpen(int fd)
{
#ifdef _WIN32
    return windows::identifyHandle(reinterpret_cast<void*>(_get_osfhandle(fd)));
#else
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return FileIdentity();
    return identityOf(info);
#endif
}

bool sameFile(const std::string& a, const std::string& b) { return identify(a).sameFileAs(identify(b)); }

std::string copyOfStream(const std::string& path, int64_t limit, std::string& error)
{
    const FileIdentity identity = identify(path);
    if (!identity.exists || identity.isRegular || identity.isDirectory)
        return std::string();
#ifdef _WIN32
    const std::string folder = windows::tempFolder();
#else
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
#endif
    const int in = openForReading(path);
    std::string copy;
    const int out = in < 0 ? -1 : createTempBeside(folder + pathSeparator() + "vellico-stream", copy);
    bool copied = in >= 0 && out >= 0;
    int64_t total = 0;
    char buffer[65536];
    while (copied) {
        const int64_t got = readSome(in, buffer, sizeof buffer);
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        total += got;
        copied = total <= limit && writeAll(out, buffer, static_cast<size_t>(got));
    }
    if (in >= 0)
        closeFile(in);
    copied = out >= 0 && closeFile(out) && copied;
    if (!copied) {
        error = total > limit ? "more than " + std::to_string(limit) + " bytes" : lastErrorText();
        if (!copy.empty())
            removeTemp(copy);
        return std::string();
    }
    return copy;
}

std::string lastErrorText()
{
    const int error = errno;
    return error ? std::strerror(error) : "reason unknown";
}

std::string openFailureText(const std::string& path)
{
    if (identify(path).isDirectory)
        return "it is a folder";
    errno = 0;
    const int fd = openForReading(path);
    const std::string why = lastErrorText();
    if (fd >= 0)
        closeFile(fd);
    return fd >= 0 ? std::string("reason unknown") : why;
}

bool namesOneFile(const std::string& a, const std::string& b)
{
    const FileIdentity first = identify(a), second = identify(b);
    if (first.exists || second.exists)
        return first.sameFileAs(second);
    auto split = [](const std::string& path, std::string& name) {
        size_t end = path.size();
        while (end > 0 && path[end - 1] != '/' && path[end - 1] != pathSeparator())
            --end;
        name = path.substr(end);
#ifdef _WIN32
        for (char& c : name) // the file system ignores the case of names
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
#endif
        return end == 0 ? std::string(".") : path.substr(0, end);
    };
    std::string nameA, nameB;
    const std::string folderA = split(a, nameA), folderB = split(b, nameB);
    return !nameA.empty() && nameA == nameB && sameFile(folderA, folderB);
}

int openForReading(const std::string& path)
{
#ifdef _WIN32
    return windows::openForReading(path);
#else
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

int64_t readAt(int fd, void* target, size_t count, int64_t offset)
{
    for (;;) {
#ifdef _WIN32
        if (_lseeki64(fd, offset, SEEK_SET) < 0)
            return -1;
        int got = _read(fd, target, static_cast<unsigned>(count > 0x40000000 ? 0x40000000 : count));
#else
        ssize_t got = ::pread(fd, target, count, static_cast<off_t>(offset));
#endif
        if (got < 0 && errno == EINTR)
            continue;
        return got;
    }
}

bool writeAll(int fd, const void* data, size_t count)
{
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
#ifdef _WIN32
        int done = _write(fd, bytes, static_cast<unsigned>(count > 0x40000000 ? 0x40000000 : count));
#else
        ssize_t done = ::write(fd, bytes, count);
#endif
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

int64_t copyRange(int inFd, int64_t inOffset, int outFd, int64_t count)
{
#if defined(__linux__)
    int64_t done = 0;
    while (done < count) {
        loff_t from = static_cast<loff_t>(inOffset + done);
        ssize_t copied = ::copy_file_range(inFd, &from, outFd, nullptr, static_cast<size_t>(count - done), 0);
        if (copied < 0 && errno == EINTR)
            continue;
        // An error here does not say which file caused it: the caller's own
        // copy of the rest finds out.
        if (copied <= 0)
            break;
        done += copied;
    }
    return done;
#else
    (void)inFd;
    (void)inOffset;
    (void)outFd;
    (void)count;
    return 0;
#endif
}

bool syncFile(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    while (::fsync(fd) != 0)
        if (errno != EINTR)
            return false;
    return true;
#endif
}

bool syncFolderOf(const std::string& path)
{
#ifdef _WIN32
    (void)path; // MoveFileEx with MOVEFILE_WRITE_THROUGH has done it
    return true;
#else
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = syncFile(fd);
    ::close(fd);
    return synced;
#endif
}

bool closeFile(int fd)
{
#ifdef _WIN32
    return _close(fd) == 0;
#else
    return ::close(fd) == 0;
#endif
}

namespace {

// The temporary files a signal handler must remove. Fixed slots filled before
// the file exists and cleared after it is gone, so the handler only reads
// memory that is complete: a slot is marked used after its path is written.
// A run has at most an intermediate file and an output being written.
constexpr int kTempSlots = 8;
struct TempSlot {
    volatile sig_atomic_t used = 0;
    char path[PATH_MAX] = {};
};
TempSlot g_temps[kTempSlots];

const char kTempSuffix[] = ".vellico-XXXXXX";

// The temporary name for `path`: beside it, its own name shortened as far as
// needed for the suffix to fit the folder's limit on name length.
std::string tempPattern(const std::string& path)
{
    const size_t suffix = sizeof kTempSuffix - 1;
    size_t slash = path.find_last_of(pathSeparators());
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t limit = 255;
#ifndef _WIN32
    std::string folder = nameStart == 0 ? "." : path.substr(0, nameStart);
    long reported = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (reported > 0)
        limit = static_cast<size_t>(reported);
#endif
    std::string name = path.substr(nameStart);
    if (limit > suffix && name.size() + suffix > limit)
        name.resize(limit - suffix);
    return path.substr(0, nameStart) + name + kTempSuffix;
}

TempListener g_tempListener = nullptr;

void tellListener(TempEvent event, const std::string& path)
{
    if (g_tempListener)
        g_tempListener(event, path);
}

// The children a signal passes on to: 0 marks a free slot.
volatile sig_atomic_t g_children[kChildSlots] = {};

void recordTemp(const char* path)
{
    size_t length = std::strlen(path);
    if (length >= PATH_MAX)
        return;
    for (TempSlot& slot : g_temps) {
        if (slot.used)
            continue;
        std::memcpy(slot.path, path, length + 1);
        // The signal handler reads the path once the slot is used: the
        // compiler must not move the copy after the mark.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        slot.used = 1;
        return;
    }
}

#ifndef _WIN32
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void removeTempsAndRaise(int signal)
{
    for (TempSlot& slot : g_temps)
        if (slot.used)
            (void)::unlink(slot.path);
    // Workers remove their own files when told to end.
    for (volatile sig_atomic_t& child : g_children)
        if (child > 0)
            (void)::kill(static_cast<pid_t>(child), SIGTERM);
    // The handler was reset on entry: the signal now ends the program as it would have.
    (void)::raise(signal);
}
#endif

} // namespace

int createTempBeside(const std::string& path, std::string& tempPath)
{
    const std::string pattern = tempPattern(path);
    const size_t stem = pattern.size() - 6; // the X's
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (!fillRandom(random, sizeof random))
            return -1;
        std::string name = pattern;
        for (size_t i = 0; i < sizeof random; ++i)
            name[stem + i] = kLetters[random[i] % (sizeof kLetters - 1)];
        // Said before the file exists: a worker stopped right after creating
        // it must not leave it behind.
        tellListener(TempEvent::CREATING, name);
        bool taken = false;
#ifdef _WIN32
        const int fd = windows::createNew(name, taken);
        if (fd >= 0)
            recordTemp(name.c_str());
#else
        // A signal between creating the file and recording it would leave it behind.
        sigset_t blocked, previous;
        sigemptyset(&blocked);
        for (int signal : kCleanupSignals)
            sigaddset(&blocked, signal);
        ::sigprocmask(SIG_BLOCK, &blocked, &previous);
        // O_EXCL: an existing name, a link included, is never opened.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        taken = fd < 0 && errno == EEXIST;
        if (fd >= 0)
            recordTemp(name.c_str());
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
#endif
        if (fd >= 0) {
            tempPath = name;
            return fd;
        }
        // The name is another program's, or nothing was made.
        tellListener(TempEvent::NOT_CREATED, name);
        if (!taken)
            return -1;
    }
    return -1;
}

void forgetTemp(const std::string& tempPath)
{
    for (TempSlot& slot : g_temps)
        if (slot.used && tempPath == slot.path)
            slot.used = 0;
    tellListener(TempEvent::FORGOTTEN, tempPath);
}

void setTempListener(TempListener listener) { g_tempListener = listener; }

void recordChild(long pid)
{
    for (volatile sig_atomic_t& slot : g_children) {
        if (slot == 0) {
            slot = static_cast<sig_atomic_t>(pid);
            return;
        }
    }
}

void forgetChild(long pid)
{
    for (volatile sig_atomic_t& slot : g_children)
        if (slot == pid)
            slot = 0;
}

void removeTemp(const std::string& tempPath)
{
    (void)removeFile(tempPath);
    forgetTemp(tempPath);
}

void installSignalCleanup()
{
#ifndef _WIN32
    for (int signal : kCleanupSignals) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup, a shell's trap '') stays ignored.
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removeTempsAndRaise;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        (void)::sigaction(signal, &action, nullptr);
    }
    (void)::signal(SIGXFSZ, SIG_IGN);
#endif
}

void setNewFileMode(int fd, unsigned mode)
{
#ifdef _WIN32
    (void)fd;
    (void)mode;
#else
    if (mode == 0) {
        // What fopen(..., "wb") would have given a new file.
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666u & ~static_cast<unsigned>(mask);
    }
    (void)::fchmod(fd, static_cast<mode_t>(mode));
#endif
}

bool replaceFile(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExW(windows::systemPath(from).c_str(), windows::systemPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool removeFile(const std::string& path)
{
#ifdef _WIN32
    return DeleteFileW(windows::systemPath(path).c_str()) != 0;
#else
    return std::remove(path.c_str()) == 0;
#endif
}

bool fillRandom(void* target, size_t count)
{
#ifdef _WIN32
    auto* bytes = static_cast<unsigned char*>(target);
    for (size_t i = 0; i < count; ++i) {
        unsigned int value = 0;
        if (rand_s(&value) != 0)
            return false;
        bytes[i] = static_cast<unsigned char>(value);
    }
    return true;
#else
    auto* bytes = static_cast<unsigned char*>(target);
    while (count > 0) {
        const ssize_t got = ::getrandom(bytes, count, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += got;
        count -= static_cast<size_t>(got);
    }
    return true;
#endif
}

std::string resolveLinks(const std::string& path)
{
#ifdef _WIN32
    return path;
#else
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path; // a dangling link: replace the link itself
    std::string target(resolved);
    std::free(resolved);
    return target;
#endif
}

bool heldByAnotherProgram(const std::string& path)
{
#ifdef _WIN32
    return windows::heldByAnotherProgram(path);
#else
    (void)path; // files are not locked against replacement here
    return false;
#endif
}

std::string installedFolder(const std::string& builtIn)
{
#ifdef _WIN32
    (void)builtIn;
    return windows::programFolder();
#else
    return builtIn;
#endif
}

} // namespace platform
