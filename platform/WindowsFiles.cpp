#include "platform/WindowsFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {
namespace windows {

namespace {

// Below this length every call takes a path as it is; the folder calls stop
// 12 characters short of MAX_PATH, so the prefix is added from there on.
constexpr size_t kLongPath = MAX_PATH - 12;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring fromCodePage(unsigned codePage, const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int size = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), size, &wide[0], needed);
    return wide;
}

bool isUtf8(const std::string& bytes)
{
    return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

UINT g_consoleCodePage = 0;

void restoreConsole() { SetConsoleOutputCP(g_consoleCodePage); }

} // namespace

std::wstring widen(const std::string& utf8) { return fromCodePage(CP_UTF8, utf8); }

std::string narrow(const std::wstring& wide)
{
    if (wide.empty())
        return std::string();
    int size = static_cast<int>(wide.size());
    int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &utf8[0], needed, nullptr, nullptr);
    return utf8;
}

std::wstring systemPath(const std::string& utf8)
{
    std::wstring wide = widen(utf8);
    if (wide.size() < kLongPath || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    // The prefix turns off the system's own clean-up of the name: the full
    // path has its slashes turned, "." and ".." resolved, the folder added.
    DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide;
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed)
        return wide;
    full.resize(length);
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    return L"\\\\?\\" + full;
}

std::vector<std::string> utf8Arguments(int argumentCount, wchar_t** arguments)
{
    std::vector<std::string> utf8;
    for (int i = 0; i < argumentCount; ++i)
        utf8.push_back(narrow(arguments[i]));
    return utf8;
}

void prepareConsole()
{
    (void)_setmode(_fileno(stdout), _O_BINARY);
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        g_consoleCodePage = GetConsoleOutputCP();
        if (g_consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
            std::atexit(restoreConsole);
    }
}

std::string listText(const std::string& bytes)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return bytes.substr(3);
    if (isUtf8(bytes))
        return bytes;
    return narrow(fromCodePage(CP_ACP, bytes));
}

FileIdentity identifyHandle(void* handle)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(static_cast<HANDLE>(handle), &info))
        return FileIdentity();
    FileIdentity identity;
    identity.exists = true;
    identity.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Devices (NUL, CON) and pipes are no files to replace.
    identity.isRegular = !identity.isDirectory && GetFileType(static_cast<HANDLE>(handle)) == FILE_TYPE_DISK;
    // The C runtime's st_ino is always 0 there: the file index is the identity.
    identity.device = info.dwVolumeSerialNumber;
    identity.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444u : 0666u;
    identity.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // 100-nanosecond steps since 1601.
    const uint64_t written =
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    identity.modified = (static_cast<int64_t>(written) - 116444736000000000LL) * 100;
    return identity;
}

FileIdentity identify(const std::string& path)
{
    // No access rights asked: works on files that others hold open without sharing.
    HANDLE handle = CreateFileW(systemPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FileIdentity();
    FileIdentity identity = identifyHandle(handle);
    CloseHandle(handle);
    return identity;
}

namespace {

// The system's error as errno, so that messages give the reason in the C library's words on every system.
void setErrnoFrom(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_WRITE_PROTECT: errno = EROFS; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    default: errno = EIO;
    }
}

} // namespace

int openForReading(const std::string& path)
{
    HANDLE handle = CreateFileW(systemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        setErrnoFrom(GetLastError());
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

int createNew(const std::string& name, bool& taken)
{
    taken = false;
    // Only this program writes it while it is being made.
    HANDLE handle = CreateFileW(systemPath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        setErrnoFrom(error);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(systemPath(name).c_str());
    }
    return fd;
}

std::string programPath()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (length == 0)
            return std::string();
        if (length < name.size()) {
            name.resize(length);
            return narrow(name);
        }
        name.resize(name.size() * 2); // cut short: a longer path
    }
}

std::string tempFolder()
{
    wchar_t name[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, name);
    if (length == 0 || length > MAX_PATH)
        return ".";
    std::string folder = narrow(std::wstring(name, length));
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

std::string programFolder()
{
    const std::string name = programPath();
    const size_t slash = name.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : name.substr(0, slash);
    // A path given the long-path prefix is shown without it.
    return folder.compare(0, 4, "\\\\?\\") == 0 ? folder.substr(4) : folder;
}

bool heldByAnotherProgram(const std::string& path)
{
    // Replacing needs the right to delete the old file; a program that opened
    // it without sharing that (most do) makes the open fail this way.
    HANDLE handle = CreateFileW(systemPath(path).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

std::vector<std::string> fontFolders()
{
    std::vector<std::string> folders;
    // Not GetWindowsDirectory: on a terminal server that may be the user's private copy.
    wchar_t system[MAX_PATH + 1];
    const UINT length = GetSystemWindowsDirectoryW(system, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        folders.push_back(narrow(std::wstring(system, length)) + "\\Fonts");
    // Where a user without administrator rights installs fonts (Windows 10 1809 and later).
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        folders.push_back(narrow(local) + "\\Microsoft\\Windows\\Fonts");
    return folders;
}

std::vector<std::string> filesIn(const std::string& folder, const std::vector<std::string>& extensions, size_t limit)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = limit ? FindFirstFileW(systemPath(folder + "\\*").c_str(), &found) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::string name = narrow(found.cFileName);
        for (const std::string& extension : extensions)
            if (name.size() > extension.size() &&
                sameIgnoringCase(name.substr(name.size() - extension.size()), extension)) {
                names.push_back(name);
                break;
            }
    } while (names.size() < limit && FindNextFileW(search, &found));
    FindClose(search);
    // As a listing shows them: "arial.ttf" before "BAHNSCHRIFT.TTF".
    const auto folded = [](std::string name) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; });
        return name;
    };
    std::sort(names.begin(), names.end(), [&folded](const std::string& a, const std::string& b) {
        const std::string foldedA = folded(a), foldedB = folded(b);
        return foldedA != foldedB ? foldedA < foldedB : a < b;
    });
    return names;
}

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    const std::wstring wideA = widen(a), wideB = widen(b);
    return CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

bool mapFile(const std::string& path, const char*& view, size_t& size)
{
    view = nullptr;
    size = 0;
    HANDLE file = CreateFileW(systemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        setErrnoFrom(GetLastError());
        return false;
    }
    LARGE_INTEGER length{};
    bool mapped = GetFileSizeEx(file, &length) && static_cast<uint64_t>(length.QuadPart) <= SIZE_MAX;
    if (mapped && length.QuadPart > 0) {
        // The view keeps the mapping, and the mapping the file: both handles may go.
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        view = mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
        mapped = view != nullptr;
        if (!mapped)
            setErrnoFrom(GetLastError());
        if (mapping)
            CloseHandle(mapping);
        size = mapped ? static_cast<size_t>(length.QuadPart) : 0;
    }
    CloseHandle(file);
    return mapped;
}

void unmapFile(const char* view)
{
    if (view)
        UnmapViewOfFile(view);
}

} // namespace windows
} // namespace platform
