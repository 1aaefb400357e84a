#include "write/COutputFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "load/CFileSource.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"

namespace {

// The buffer a finished output leaves for the next one: a list of thousands
// of files, or a fuzz run of millions of inputs, allocates (and under the
// sanitizers poisons) one megabyte once rather than once a file.
thread_local std::unique_ptr<char[]> g_spareBuffer;

} // namespace

std::unique_ptr<char[]> COutputFile::takeSpareBuffer()
{
    return g_spareBuffer ? std::move(g_spareBuffer) : std::unique_ptr<char[]>(new char[kBufferSize]);
}

COutputFile::~COutputFile()
{
    discard();
    if (m_buffer)
        g_spareBuffer = std::move(m_buffer);
}

void COutputFile::checkReplaceable(const std::string& path)
{
    // Through links: what counts is the file that would be replaced.
    platform::FileIdentity existing = platform::identify(path);
    // Replacing a folder, a FIFO or a device with a regular file would break what uses it.
    if (existing.exists && !existing.isRegular)
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "\nOutput file is not a regular file: '%s'\n",
                                       path);
}

CPdfException COutputFile::failure(const char* what, const std::string& path)
{
    // Asked first: cleaning up may change it.
    const std::string why = platform::lastErrorText();
    return CPdfException(CPdfException::EKind::OutputError,
                         std::string("\nOutput file ") + what + " error: '" + path + "' (" + why + ")\n");
}

CPdfException COutputFile::replaceError(const std::string& path)
{
    if (platform::heldByAnotherProgram(path))
        return CPdfException::formatted(CPdfException::EKind::OutputError, kHeldMessage, path);
    return failure("write", path);
}

void COutputFile::create(const std::string& path)
{
    discard();
    m_name = path;
    checkReplaceable(path);
    // Writing through a link replaces the file it names, as writing in place would.
    m_path = platform::resolveLinks(path);
    platform::FileIdentity existing = platform::identify(m_path);
    // Said before the work rather than after it.
    if (existing.exists && platform::heldByAnotherProgram(m_path))
        throw CPdfException::formatted(CPdfException::EKind::OutputError, kHeldMessage, path);
    open(m_path, existing.exists ? existing.mode : 0);
}

void COutputFile::createIntermediate(const std::string& path)
{
    discard();
    m_name = path;
    m_path.clear();
    open(platform::resolveLinks(path), 0600);
}

void COutputFile::open(const std::string& besidePath, unsigned mode)
{
    m_fd = platform::createTempBeside(besidePath, m_tempPath);
    if (m_fd < 0)
        throw failure("create", m_name);
    platform::setNewFileMode(m_fd, mode);
    if (!m_buffer)
        m_buffer = takeSpareBuffer();
    m_used = 0;
    m_position = 0;
    m_writtenPath.clear();
}

void COutputFile::writeNumber(int32_t value)
{
    char digits[16];
    write(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
}

void COutputFile::write(const void* data, size_t count)
{
    if (m_fd < 0)
        return;
    flushRun();
    m_position += static_cast<int64_t>(count);
    append(data, count);
}

void COutputFile::append(const void* data, size_t count)
{
    if (count > kBufferSize - m_used) {
        flush();
        if (count >= kBufferSize) {
            if (!platform::writeAll(m_fd, data, count))
                fail();
            return;
        }
    }
    std::memcpy(m_buffer.get() + m_used, data, count);
    m_used += count;
}

void COutputFile::copyFrom(CFileSource& source, int64_t start, int64_t length)
{
    if (m_fd < 0 || length <= 0)
        return;
    m_position += length;
    if (m_runSource == &source && m_runStart + m_runLength == start) {
        m_runLength += length;
        return;
    }
    flushRun();
    m_runSource = &source;
    m_runStart = start;
    m_runLength = length;
}

void COutputFile::flushRun()
{
    if (!m_runSource)
        return;
    CFileSource& source = *m_runSource;
    const int64_t start = m_runStart, length = m_runLength;
    m_runSource = nullptr;
    m_runLength = 0;
    // Big runs (image data, long stretches of unchanged objects) go file to
    // file inside the system. What it does not copy (it failed, or cannot) is
    // copied below, which tells a read error from a write error.
    int64_t done = 0;
    if (length >= kInKernelRun) {
        flush();
        done = platform::copyRange(source.descriptor(), start, m_fd, length);
    }
    copyBuffered(source, start, done, length);
}

void COutputFile::copyBuffered(CFileSource& source, int64_t start, int64_t done, int64_t length)
{
    while (done < length) {
        // Long stretches are read straight into the buffer: through the
        // input's block cache they would be copied twice and evict what the
        // page walk reads again.
        if (length - done >= static_cast<int64_t>(CFileSource::kBlockSize)) {
            if (kBufferSize - m_used < CFileSource::kBlockSize)
                flush();
            const size_t wanted = static_cast<size_t>(std::min<int64_t>(kBufferSize - m_used, length - done));
            if (source.read(start + done, m_buffer.get() + m_used, wanted) != wanted)
                throw CPdfException::formatted("\nInput file read error: '%s'\n", source.path());
            m_used += wanted;
            done += static_cast<int64_t>(wanted);
            continue;
        }
        const CFileSource::Block* block = source.peekBlock(start + done);
        if (!block)
            throw CPdfException::formatted("\nInput file read error: '%s'\n", source.path());
        size_t skip = static_cast<size_t>(start + done - block->offset);
        size_t run = static_cast<size_t>(std::min<int64_t>(block->size() - skip, length - done));
        append(block->data() + skip, run);
        done += static_cast<int64_t>(run);
    }
}

void COutputFile::flush()
{
    if (m_used == 0)
        return;
    if (!platform::writeAll(m_fd, m_buffer.get(), m_used))
        fail();
    m_used = 0;
}

void COutputFile::fail()
{
    const CPdfException error = failure("write", m_name);
    discard();
    throw error;
}

void COutputFile::commit()
{
    if (m_fd < 0)
        return;
    flushRun();
    flush();
    const bool replacing = !m_path.empty() && platform::identify(m_path).exists;
    bool written = !replacing || platform::syncFile(m_fd);
    written = platform::closeFile(m_fd) && written;
    m_fd = -1;
    if (written && m_path.empty()) {
        m_writtenPath = m_tempPath; // the caller's now
        m_tempPath.clear();
        return;
    }
    if (!written) {
        const CPdfException error = failure("write", m_name);
        platform::removeTemp(m_tempPath);
        m_tempPath.clear();
        throw error;
    }
    if (!platform::replaceFile(m_tempPath, m_path)) {
        const CPdfException error = replaceError(m_name);
        platform::removeTemp(m_tempPath);
        m_tempPath.clear();
        throw error;
    }
    platform::forgetTemp(m_tempPath);
    m_tempPath.clear();
    // The rename lasts once the folder is on disk too; a file system that
    // cannot flush a folder has nothing more to do.
    if (replacing)
        (void)platform::syncFolderOf(m_path);
    m_writtenPath = m_path;
}

void COutputFile::discard()
{
    if (m_fd >= 0) {
        platform::closeFile(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        platform::removeTemp(m_tempPath);
        m_tempPath.clear();
    }
    m_used = 0;
    m_runSource = nullptr;
    m_runLength = 0;
}
