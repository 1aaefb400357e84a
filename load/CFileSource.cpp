#include "load/CFileSource.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "pdf/CPdfException.h"

std::shared_ptr<CFileSource> CFileSource::open(const std::string& path)
{
    int fd = platform::openForReading(path);
    if (fd < 0)
        return nullptr;
    platform::FileIdentity identity = platform::identifyOpen(fd);
    if (!identity.exists || identity.isDirectory) {
        platform::closeFile(fd);
        return nullptr;
    }
    return std::shared_ptr<CFileSource>(new CFileSource(fd, path, identity.size, identity.device, identity.inode));
}

CFileSource::CFileSource(int fd, std::string path, int64_t size, uint64_t device, uint64_t inode)
    : m_fd(fd), m_path(std::move(path)), m_size(size), m_device(device), m_inode(inode)
{
}

CFileSource::~CFileSource() { platform::closeFile(m_fd); }

size_t CFileSource::readDirect(int64_t position, uint8_t* target, size_t count)
{
    size_t done = 0;
    while (done < count) {
        int64_t got = platform::readAt(m_fd, target + done, count - done, position + static_cast<int64_t>(done));
        if (got < 0)
            throw CPdfException::formatted(CPdfException::EKind::InputError, "\nInput file read error: '%s'\n", m_path)
                .at(std::nullopt, position + static_cast<int64_t>(done));
        if (got == 0)
            break; // the file is shorter than it was (truncated while we read)
        done += static_cast<size_t>(got);
    }
    return done;
}

std::shared_ptr<const CFileSource::Block> CFileSource::blockAt(int64_t position)
{
    return loadBlock(position) < 0 ? nullptr : m_cache.front();
}

const CFileSource::Block* CFileSource::peekBlock(int64_t position)
{
    return loadBlock(position) < 0 ? nullptr : m_cache.front().get();
}

int CFileSource::loadBlock(int64_t position)
{
    if (position < 0 || position >= m_size)
        return -1;
    bool follows = false; // a held block ends where the new one would start
    const int64_t start = position - position % static_cast<int64_t>(kScatteredRead);
    for (size_t i = 0; i < m_cache.size(); ++i) {
        const Block& held = *m_cache[i];
        if (position >= held.offset && position - held.offset < static_cast<int64_t>(held.length)) {
            if (i != 0)
                std::rotate(m_cache.begin(), m_cache.begin() + static_cast<std::ptrdiff_t>(i),
                            m_cache.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return 0;
        }
        follows = follows || held.offset + static_cast<int64_t>(held.length) == start;
    }
    // The least recently used block makes room; its memory is reused unless
    // a reader still holds it.
    std::shared_ptr<Block> block;
    if (m_cache.size() >= kCachedBlocks) {
        if (m_cache.back().use_count() == 1)
            block = std::move(m_cache.back());
        m_cache.pop_back();
    }
    // Reading on from a held block reads a whole one; a lone read elsewhere
    // (a page, or the head of a stream far into the file) a quarter of one.
    const size_t size = follows ? kBlockSize : kScatteredRead;
    size_t wanted = static_cast<size_t>(std::min<int64_t>(size, m_size - start));
    if (!block)
        block = std::make_shared<Block>();
    if (block->capacity < wanted) {
        // No more than the file holds from here: a small file (a stamp
        // image, a list of small PDFs, a fuzz input) costs no whole block.
        block->capacity = static_cast<size_t>(std::min<int64_t>(kBlockSize, m_size - start));
        block->storage.reset(new uint8_t[block->capacity]);
    }
    block->offset = start;
    block->length = readDirect(start, block->storage.get(), wanted);
    if (block->length == 0 || position - start >= static_cast<int64_t>(block->length))
        return -1;
    m_cache.insert(m_cache.begin(), std::move(block));
    return 0;
}

size_t CFileSource::read(int64_t position, void* target, size_t count)
{
    if (position < 0 || position >= m_size || count == 0)
        return 0;
    auto* out = static_cast<uint8_t*>(target);
    // Large reads bypass the cache: they would only evict what scattered readers need.
    if (count >= kBlockSize)
        return readDirect(position, out, static_cast<size_t>(std::min<int64_t>(count, m_size - position)));
    size_t done = 0;
    while (done < count) {
        const Block* block = peekBlock(position + static_cast<int64_t>(done));
        if (!block)
            break;
        size_t skip = static_cast<size_t>(position + static_cast<int64_t>(done) - block->offset);
        size_t run = std::min(block->size() - skip, count - done);
        std::memcpy(out + done, block->data() + skip, run);
        done += run;
    }
    return done;
}

size_t CFileSource::search(std::string_view bytes, std::string_view pattern, size_t from)
{
    const size_t m = pattern.size();
    if (m == 0 || from > bytes.size() || bytes.size() - from < m)
        return m == 0 && from <= bytes.size() ? from : std::string_view::npos;
    if (bytes.size() - from >= 4096) {
#if defined(__GLIBC__)
        const void* hit = ::memmem(bytes.data() + from, bytes.size() - from, pattern.data(), m);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - bytes.data()) : std::string_view::npos;
#endif
    }
    const char last = pattern[m - 1];
    const char* data = bytes.data();
    const char* end = data + bytes.size();
    for (const char* p = data + from + m - 1; p < end;) {
        p = static_cast<const char*>(std::memchr(p, last, static_cast<size_t>(end - p)));
        if (!p)
            break;
        if (std::memcmp(p - (m - 1), pattern.data(), m - 1) == 0)
            return static_cast<size_t>(p - (m - 1) - data);
        ++p;
    }
    return std::string_view::npos;
}

int64_t CFileSource::find(int64_t from, std::string_view pattern, int64_t limit)
{
    if (pattern.empty() || from < 0 || limit <= from)
        return -1;
    const size_t m = pattern.size();
    std::string carry; // the last m - 1 bytes before `position`, for matches across blocks
    int64_t position = from;
    while (position < limit) {
        const Block* block = peekBlock(position);
        if (!block)
            return -1;
        size_t skip = static_cast<size_t>(position - block->offset);
        const char* data = reinterpret_cast<const char*>(block->data()) + skip;
        size_t available = block->size() - skip;
        if (!carry.empty()) {
            std::string joined = carry;
            joined.append(data, std::min(available, m - 1));
            size_t hit = search(joined, pattern);
            if (hit != std::string_view::npos) {
                int64_t found = position - static_cast<int64_t>(carry.size()) + static_cast<int64_t>(hit);
                return found < limit ? found : -1;
            }
        }
        // Only matches starting before `limit` count; they may run past it.
        size_t searchable = available;
        if (limit - position < static_cast<int64_t>(available))
            searchable = std::min(available, static_cast<size_t>(limit - position) + m - 1);
        size_t hit = search(std::string_view(data, searchable), pattern);
        if (hit != std::string_view::npos)
            return position + static_cast<int64_t>(hit) < limit ? position + static_cast<int64_t>(hit) : -1;
        if (searchable < available)
            return -1;
        if (available >= m - 1)
            carry.assign(data + available - (m - 1), m - 1);
        else
            carry.append(data, available).erase(0, carry.size() > m - 1 ? carry.size() - (m - 1) : 0);
        position += static_cast<int64_t>(available);
    }
    return -1;
}
