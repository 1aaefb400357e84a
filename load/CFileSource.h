#pragma once

#include <cstddef>
#include <cstdint>
#include <climits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Random-access reader over one input file, shared by every window of the
// document and by the object-text tools. Reads go through a small cache of
// fixed-size blocks, so a sequential pass costs one system call per block and
// scattered reads (the page tree walk) stay cheap, while memory stays bounded
// whatever the file size.
class CFileSource {
public:
    struct Block {
        int64_t offset = 0; // file offset of data()[0]
        size_t length = 0;  // bytes held
        size_t capacity = 0;                // bytes storage has room for
        std::unique_ptr<uint8_t[]> storage; // read into without being cleared first
        const uint8_t* data() const { return storage.get(); }
        size_t size() const { return length; }
    };

    static constexpr size_t kBlockSize = 64 * 1024;
    // What a read that follows no held block loads: images-100 read each
    // page and each image's head and end this way, 13 MB in whole blocks for
    // a 100 MB file.
    static constexpr size_t kScatteredRead = 16 * 1024;
    static constexpr size_t kCachedBlocks = 32;

    // Opens `path` for reading; nullptr when it cannot be opened.
    static std::shared_ptr<CFileSource> open(const std::string& path);
    ~CFileSource();
    CFileSource(const CFileSource&) = delete;
    CFileSource& operator=(const CFileSource&) = delete;

    int64_t size() const { return m_size; }
    const std::string& path() const { return m_path; }
    // A cached block holding `position` (blocks start at multiples of
    // kScatteredRead and hold up to kBlockSize bytes); nullptr at or past the
    // end of the file.
    std::shared_ptr<const Block> blockAt(int64_t position);
    // The same block, borrowed: valid only until the next call that reads the
    // file. Cheaper for short uses (no reference is counted).
    const Block* peekBlock(int64_t position);
    // Copies up to `count` bytes from `position`; returns how many the file held.
    size_t read(int64_t position, void* target, size_t count);
    // Position of the first occurrence of `pattern` that starts in
    // [from, limit) (it may end past `limit`), or -1. The search runs over the
    // cached blocks in place.
    int64_t find(int64_t from, std::string_view pattern, int64_t limit = INT64_MAX);
    // Offset of the first `pattern` in `bytes` at or after `from`, or npos.
    // Anchors on the pattern's last byte: for keywords such as "endobj" and
    // "stream" that byte is rarer in PDF text than the first.
    static size_t search(std::string_view bytes, std::string_view pattern, size_t from = 0);
    // The file descriptor, for copies the system can make without our buffers.
    int descriptor() const { return m_fd; }

    // Identity of the open file, to recognise the same file under another name.
    uint64_t device() const { return m_device; }
    uint64_t inode() const { return m_inode; }

private:
    CFileSource(int fd, std::string path, int64_t size, uint64_t device, uint64_t inode);
    // Reads exactly what the file holds at [position, position + count); throws on an I/O error.
    size_t readDirect(int64_t position, uint8_t* target, size_t count);

    int m_fd;
    std::string m_path;
    int64_t m_size;
    uint64_t m_device;
    uint64_t m_inode;
    // Finds or loads the block; its index in m_cache, which is then 0, or -1.
    int loadBlock(int64_t position);

    std::vector<std::shared_ptr<Block>> m_cache; // most recently used first
};
