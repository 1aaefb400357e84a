#ifdef _WIN32
#define _CRT_RAND_S // rand_s: the system's cryptographic random source
#endif
#include "load/Platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
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

void makeDirectory(const std::string& path)
{
#ifdef _WIN32
    (void)_mkdir(path.c_str());
#else
    (void)::mkdir(path.c_str(), 0777);
#endif
}

bool stdoutIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

ClockReading readClock()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    ClockReading reading;
    reading.seconds = millis / 1000;
    reading.milliseconds = static_cast<int>(millis % 1000);
    return reading;
}

namespace {

template <class Info>
FileIdentity identityOf(const Info& info)
{
    FileIdentity identity;
    identity.exists = true;
#ifdef _WIN32
    identity.isDirectory = (info.st_mode & _S_IFDIR) != 0;
#else
    identity.isDirectory = S_ISDIR(info.st_mode);
#endif
    identity.device = static_cast<uint64_t>(info.st_dev);
    identity.inode = static_cast<uint64_t>(info.st_ino);
    identity.mode = static_cast<unsigned>(info.st_mode) & 07777u;
    identity.size = static_cast<int64_t>(info.st_size);
    return identity;
}

} // namespace

FileIdentity identify(const std::string& path)
{
#ifdef _WIN32
    struct _stat64 info {};
    if (_stat64(path.c_str(), &info) != 0)
        return FileIdentity();
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return FileIdentity();
#endif
    return identityOf(info);
}

FileIdentity identifyOpen(int fd)
{
#ifdef _WIN32
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0)
        return FileIdentity();
#else
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return FileIdentity();
#endif
    return identityOf(info);
}

int openForReading(const std::string& path)
{
#ifdef _WIN32
    return _open(path.c_str(), _O_RDONLY | _O_BINARY);
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
        if (copied < 0) {
            if (errno == EINTR)
                continue;
            return done == 0 ? -1 : done;
        }
        if (copied == 0)
            break; // the input ends early
        done += copied;
    }
    return done;
#else
    (void)inFd;
    (void)inOffset;
    (void)outFd;
    (void)count;
    return -1;
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

int createTempBeside(const std::string& path, std::string& tempPath)
{
    std::string pattern = path + ".vellico-XXXXXX";
#ifdef _WIN32
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (_mktemp_s(name.data(), name.size()) != 0)
        return -1;
    int fd = _open(name.data(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0)
        tempPath = name.data();
    return fd;
#else
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd >= 0)
        tempPath = name.data();
    return fd;
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
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    // A rename over an existing file makes ext4 allocate and start writing
    // the new file's blocks at once, which can cost as much as writing the
    // file. Exchanging the two names (atomic too: the path always names a
    // complete file) and removing the old one avoids that. Without an
    // existing file, or where exchanges are not supported, a rename it is.
    if (!identify(to).isDirectory &&
        ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        std::remove(from.c_str());
        return true;
    }
#endif
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

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

} // namespace platform
