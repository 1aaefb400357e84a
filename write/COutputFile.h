#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"

class CFileSource;
class CPdfException;

// The output PDF while it is written. Bytes go to a temporary file beside the
// output path, which replaces the output only when commit() succeeds: a
// failure never leaves a partial file, nor destroys an existing one.
class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Throws CPdfException "\nOutput file create error: '%s'\n" on failure.
    void create(const std::string& path);
    // Like create, but the file stays where it is written: a new private file
    // beside `path` (an intermediate of the mark passes), whose name
    // writtenPath() gives once committed. Messages name `path`.
    void createIntermediate(const std::string& path);
    // Throws what create would for an existing `path` that cannot be replaced:
    // a folder, or anything else that is not a regular file (a FIFO, a device).
    static void checkReplaceable(const std::string& path);
    bool isOpen() const { return m_fd >= 0; }
    void write(const void* data, size_t count);
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
    // `value` in decimal, as an object number is written.
    void writeNumber(int32_t value);
    // Appends `length` bytes of `source` from `start`. Consecutive pieces of
    // the source are gathered into one run, and large runs are copied by the
    // system (platform::copyRange). Throws when the source ends early.
    void copyFrom(CFileSource& source, int64_t start, int64_t length);
    // The output as the user named it, for messages.
    const std::string& name() const { return m_name; }
    // Bytes written so far.
    int64_t position() const { return m_position; }
    // Finishes the file and moves it over the output path; throws on failure.
    // Replacing an existing file, the new one reaches the disk first, so a
    // crash leaves one of the two whole.
    void commit();
    // Drops everything written; the output path is left as it was.
    void discard();
    // Where the last committed file is: the output path, or the intermediate's
    // name, which the caller then owns (platform::removeTemp when done).
    const std::string& writtenPath() const { return m_writtenPath; }

    // Why moving a finished file over `path` failed: "\nOutput file is open in
    // another program: '%s'\n" where the system locks it (Windows), else
    // "\nOutput file write error: '%s' (the system's reason)\n".
    static CPdfException replaceError(const std::string& path);
    // "\nOutput file <what> error: '<path>' (the system's reason for the last failed call)\n".
    static CPdfException failure(const char* what, const std::string& path);
    static constexpr const char* kHeldMessage = "\nOutput file is open in another program: '%s'\n";

private:
    void open(const std::string& besidePath, unsigned mode);
    void flush();
    void fail();
    // Writes out the gathered run of source bytes.
    void flushRun();
    // Copies [start + done, start + length) of `source` through the buffer.
    void copyBuffered(CFileSource& source, int64_t start, int64_t done, int64_t length);
    // Buffers bytes already counted in m_position.
    void append(const void* data, size_t count);
    // A kBufferSize buffer: the one the last output left, or a new one.
    static std::unique_ptr<char[]> takeSpareBuffer();

    static constexpr size_t kBufferSize = 1 << 20;
    // Runs from this long are left to the system's range copy where that is
    // cheap; shorter ones cost more in calls than they save.
    static constexpr int64_t kInKernelRun = kBufferSize / 16;
    int m_fd = -1;
    std::string m_name;     // the output as the user gave it, for messages
    std::string m_path;     // where the finished file goes; empty for an intermediate
    std::string m_tempPath; // where it is written meanwhile
    std::string m_writtenPath;
    std::unique_ptr<char[]> m_buffer; // kBufferSize bytes
    size_t m_used = 0;                // of m_buffer
    int64_t m_position = 0;
    CFileSource* m_runSource = nullptr; // the gathered run not yet written
    int64_t m_runStart = 0;
    int64_t m_runLength = 0;
};
