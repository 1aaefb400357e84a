#pragma once

#include <string>
#include <vector>

#include "platform/FileIdentity.h"

// What the Windows build adds under the platform layer: the program keeps
// UTF-8 inside and talks to Windows in wide characters. Built on Windows only.
namespace platform {
namespace windows {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

// `utf8` as the wide-character calls take it. A path too long for the classic
// 260-character limit is made absolute and given the \\?\ prefix, which lifts
// the limit; shorter ones are left as they are, so device names still work.
std::wstring systemPath(const std::string& utf8);

// The command line as UTF-8, from wmain's wide arguments.
std::vector<std::string> utf8Arguments(int argumentCount, wchar_t** arguments);

// Standard output in binary mode, so "\n" stays one byte and "\r\n" two, as on
// other systems; a console shows the UTF-8 names (its code page is restored at exit).
void prepareConsole();

// A list file's bytes as UTF-8 text. A UTF-8 byte-order mark is dropped; text
// that is valid UTF-8 is kept; anything else is read in the ANSI code page.
std::string listText(const std::string& bytes);

// The identity of an open handle (a HANDLE): volume serial number and file index.
FileIdentity identifyHandle(void* handle);
FileIdentity identify(const std::string& path);

// C runtime descriptors over files opened with the wide-character calls.
// Readers share everything, so a file being read can still be replaced or removed.
int openForReading(const std::string& path);
// A new file named `name`, written by us alone; -1 on failure, with `taken`
// set when the name already exists.
int createNew(const std::string& name, bool& taken);

// The running program's file, and the folder holding it (without a trailing separator).
std::string programPath();
std::string programFolder();
// The system's folder for temporary files (GetTempPath), without its last separator.
std::string tempFolder();

// Whether another program holds `path` open so that it cannot be replaced.
bool heldByAnotherProgram(const std::string& path);

// The folders fonts are installed in: the system's (%WINDIR%\Fonts), then
// the user's own (%LOCALAPPDATA%\Microsoft\Windows\Fonts).
std::vector<std::string> fontFolders();
// The names of the files in `folder` that end in one of `extensions` (in any
// case), sorted by name, ignoring the case of ASCII letters; at most `limit`
// of them, of those listed first.
std::vector<std::string> filesIn(const std::string& folder, const std::vector<std::string>& extensions, size_t limit);
// Whether two UTF-8 names are one but for case, as Windows compares file names.
bool sameIgnoringCase(const std::string& a, const std::string& b);
// The file mapped read-only into memory, so that only the parts read are
// read from the disk; false when it cannot be. An empty file gives nullptr.
// The view stays valid until unmapFile, the file may be closed before.
bool mapFile(const std::string& path, const char*& view, size_t& size);
void unmapFile(const char* view);

} // namespace windows
} // namespace platform
