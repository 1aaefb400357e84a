#pragma once

#include <string>
#include <vector>

// List files: the names in a list's bytes, and where each one's output goes.

// The names in `bytes`, one per line (LF or CR LF; a line ends at its first
// CR), or each ended by a NUL byte with `nullSeparated` (find -print0). A
// list with a UTF-16 byte-order mark (what Windows PowerShell writes) is read
// as UTF-16; a UTF-8 byte-order mark is dropped. On Windows a list that is
// not UTF-8 is read in the ANSI code page. Empty names, and names of only
// spaces and tabs, are skipped.
std::vector<std::string> listNames(const std::string& bytes, bool nullSeparated);

// UTF-16 text (after its byte-order mark) as UTF-8; a lone surrogate is kept
// as the three bytes it would have (as Windows names may hold one).
std::string utf16ToUtf8(const std::string& bytes, bool bigEndian);

// Where the output of list line `name` goes under `folder`: the same folders
// below it. An absolute name loses its root (/data/a.pdf and, on Windows,
// C:\data\a.pdf or \\server\share\a.pdf give data/a.pdf, C\data\a.pdf,
// server\share\a.pdf under the folder); "." parts are dropped and ".." goes up
// a part. False when ".." would lead outside the folder. An empty folder is
// the current one.
bool mirroredOutput(const std::string& folder, const std::string& name, std::string& output);

// The folder part of `path` (empty when it has none).
std::string parentFolder(const std::string& path);
