#include "stamp/COutputFile.h"

#include <algorithm>
#include <cstring>

#include "load/CFileSource.h"
#include "load/Platform.h"
#include "pdf/CPdfException.h"

COutputFile::~COutputFile() { discard(); }

CPdfException COutputFile::replaceError(const std::string& path)
{
    return CPdfException::formatted(platform::heldByAnotherProgram(path) ? kHeldMessage
                                                                         : "\nOutput file write error: '%s'\n",
                                    path);
}

void COutputFile::create(const std::string& path)
{
    discard();
    // Writing through a link replaces the file it names, as writing in place would.
    m_path = platform::resolveLinks(path);
    platform::FileIdentity existing = platform::identify(m_path);
    if (existing.isDirectory)
        throw CPdfException::formatted("\nOutput file create error: '%s'\n", path);
    // Said before the work rather than after it.
    if (existing.exists && platform::heldByAnotherProgram(m_path))
        throw CPdfException::formatted(kHeldMessage, path);
    m_fd = platform::createTempBeside(m_path, m_tempPath);
    if (m_fd < 0)
        throw CPdfException::formatted("\nOutput file create error: '%s'\n", path);
    platform::setNewFileMode(m_fd, existing.exists ? existing.mode : 0);
    m_buffer.clear();
    m_buffer.reserve(kBufferSize);
    m_position = 0;
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
    if (m_buffer.size() + count <= kBufferSize) {
        const char* bytes = static_cast<const char*>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + count);
        return;
    }
    flush();
    if (count >= kBufferSize) {
        if (!platform::writeAll(m_fd, data, count))
            fail();
        return;
    }
    const char* bytes = static_cast<const char*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
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
    // file inside the system.
    if (length >= static_cast<int64_t>(kBufferSize) / 16) {
        flush();
        int64_t copied = platform::copyRange(source.descriptor(), start, m_fd, length);
        if (copied >= 0) {
            if (copied < length)
                throw CPdfException::formatted("\nInput file read error: '%s'\n", source.path());
            return;
        }
    }
    int64_t done = 0;
    while (done < length) {
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
    if (m_buffer.empty())
        return;
    if (!platform::writeAll(m_fd, m_buffer.data(), m_buffer.size()))
        fail();
    m_buffer.clear();
}

void COutputFile::fail()
{
    std::string path = m_path;
    discard();
    throw CPdfException::formatted("\nOutput file write error: '%s'\n", path);
}

void COutputFile::commit()
{
    if (m_fd < 0)
        return;
    flushRun();
    flush();
    bool closed = platform::closeFile(m_fd);
    m_fd = -1;
    if (!closed || !platform::replaceFile(m_tempPath, m_path)) {
        platform::removeFile(m_tempPath);
        m_tempPath.clear();
        throw replaceError(m_path);
    }
    m_tempPath.clear();
}

void COutputFile::discard()
{
    if (m_fd >= 0) {
        platform::closeFile(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        platform::removeFile(m_tempPath);
        m_tempPath.clear();
    }
    m_buffer.clear();
    m_runSource = nullptr;
    m_runLength = 0;
}
