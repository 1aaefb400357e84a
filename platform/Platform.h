#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/FileIdentity.h"

// The few things the program needs from the operating system, in one place,
// so the rest of the code is the same on every system.
namespace platform {

// The separator for joining a folder and a file name: '/' here, '\\' on Windows.
char pathSeparator();
// The file's name in `path`, without its folder.
std::string fileName(const std::string& path);

// Creates the folder (only its last component); an existing folder is fine and
// failures are ignored: opening the output reports them.
void makeDirectory(const std::string& path);

// Creates the folder and any of its parents that are missing; true when it is a folder afterwards.
bool makeDirectories(const std::string& path);

// Whether `stream` is a terminal: someone watching the progress, or typing.
bool isTerminal(FILE* stream);
// All of standard input, read as bytes; false on a read error.
bool readStandardInput(std::string& bytes);

// The cores this process may run on (at least 1).
int coreCount();
// The running program's own file, to start more of itself.
std::string ownExecutable();

// A worker's channel to the program that started it: what were its standard
// input and output. Standard output then goes to standard error, so that
// nothing printed by mistake can break the channel.
//
// Where a worker says a temporary file is about to exist (`notes`) is a
// second channel where the system has one (POSIX: descriptor 3), which the
// parent reads along with results, so that those notes cost it no wake-up;
// else the channel's output.
struct Channel {
    int in = -1;
    int out = -1;
    int notes = -1;
};
// The worker's descriptor of the notes channel, on POSIX systems.
constexpr int kNotesDescriptor = 3;
Channel takeStandardChannel();
// Ends the worker with SIGTERM (which signal cleanup turns into removing its
// temporary files) when the program that started it ends, however it ended,
// `channel` being its socket to that program; Linux only. On Windows the
// parent's job object ends its workers (CChildProcess).
void endWithParent(int channel);
// Reads up to `count` bytes, waiting for some; 0 at the end, -1 on error.
int64_t readSome(int fd, void* target, size_t count);
// Reads up to `count` bytes of what a pipe or socket holds now, without
// waiting: 0 when it holds nothing, -1 at its end or on an error.
int64_t readWhatIsThere(int fd, void* target, size_t count);

// Follows links, so two names of one file give the same identity.
FileIdentity identify(const std::string& path);
FileIdentity identifyOpen(int fd);
// Whether both names lead to one existing file (through links, hard links or
// other spellings of the path).
bool sameFile(const std::string& a, const std::string& b);
// The same, or, when neither exists yet, the same name in the same folder:
// whether writing one would write the other.
bool namesOneFile(const std::string& a, const std::string& b);

// Why the last file call failed, in the system's words ("No space left on device").
std::string lastErrorText();
// Why `path` cannot be opened for reading, asked again of the system.
std::string openFailureText(const std::string& path);

// A raw file descriptor interface: -1 / negative results on failure.
int openForReading(const std::string& path);
// Reads at an absolute offset; returns the byte count, 0 at the end, -1 on error.
int64_t readAt(int fd, void* target, size_t count, int64_t offset);
// Writes everything or fails (false).
bool writeAll(int fd, const void* data, size_t count);
bool closeFile(int fd);
// Makes the file's data reach the disk before returning.
bool syncFile(int fd);
// The same for the folder holding `path`, so a rename into it lasts.
bool syncFolderOf(const std::string& path);
// Appends up to `count` bytes of `inFd` from `inOffset` to `outFd` inside the
// system, without passing them through our memory. Returns the bytes copied;
// it stops early at any error (a full disk, a read error, a system that cannot
// copy), and the caller copies the rest itself, so the error is seen on the
// side that caused it. Used on every file system alike: it is what cp uses,
// no slower than a read/write loop on ext4 and tmpfs, and file systems that
// share blocks or copy on their server do better still.
int64_t copyRange(int inFd, int64_t inOffset, int outFd, int64_t count);
// Told of each temporary file before it is created (CREATING), when the
// name turned out to be another program's or nothing was made (NOT_CREATED),
// and when it is no longer ours to remove (FORGOTTEN: renamed or removed), so
// that a worker's parent can remove exactly the files of a worker it had to
// stop. FORGOTTEN may reach the parent late: the file is gone by then.
enum class TempEvent { CREATING, NOT_CREATED, FORGOTTEN };
using TempListener = void (*)(TempEvent event, const std::string& path);
void setTempListener(TempListener listener);
// Creates a new, empty file beside `path` (same folder, a unique, unpredictable
// name that fits the folder's name length limit), exclusively and never
// through a link, readable by its owner alone. Returns its descriptor and sets
// `tempPath`, or -1. The file is recorded for removal by signal cleanup until
// forgetTemp(tempPath).
int createTempBeside(const std::string& path, std::string& tempPath);
// Ends the record made by createTempBeside, once the file is renamed.
void forgetTemp(const std::string& tempPath);
// Removes a file made by createTempBeside and ends its record.
void removeTemp(const std::string& tempPath);
// A private copy, in the system's folder for temporary files, of what `path`
// holds when it is a pipe, a FIFO or a device, which can be read only once:
// its name, to remove with removeTemp; empty when `path` is something else,
// and when it cannot be read or copied or holds more than `limit` bytes (then
// `error` says why).
std::string copyOfStream(const std::string& path, int64_t limit, std::string& error);
// Children (workers) that signal cleanup passes the signal on to, so that
// they remove their own temporary files too. At most kChildSlots at once.
constexpr int kChildSlots = 64;
void recordChild(long pid);
void forgetChild(long pid);
// SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the recorded temporary files
// (and end the recorded children with SIGTERM) before they end the program; SIGXFSZ is ignored, so a file size limit makes
// writes fail with an error instead of killing the program.
void installSignalCleanup();
// Gives the file the permission bits a new file would get (or `mode` when given).
void setNewFileMode(int fd, unsigned mode);
// Moves `from` over `to`, replacing an existing `to` in one step.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
// Fills `target` with bytes from the system's cryptographic random source
// (for encryption's initialisation vectors); false when it cannot.
bool fillRandom(void* target, size_t count);
// The target of a symbolic link chain, so output replaces the file a link names; `path` otherwise.
std::string resolveLinks(const std::string& path);
// Whether another program holds the file open so that it cannot be replaced
// (Windows locks such files); never so elsewhere.
bool heldByAnotherProgram(const std::string& path);
// The folder of the installed mark images: `builtIn`, fixed by the build; on
// Windows the program's own folder, where its zip puts them.
std::string installedFolder(const std::string& builtIn);

} // namespace platform
