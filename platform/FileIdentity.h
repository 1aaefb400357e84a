#pragma once

#include <cstdint>

namespace platform {

// What the system says of a file: whether it exists, what it is, and what
// tells it from every other file (device and inode, or volume and index).
struct FileIdentity {
    bool exists = false;
    bool isDirectory = false;
    bool isRegular = false; // not a folder, FIFO, device or socket
    uint64_t device = 0;
    uint64_t inode = 0;
    unsigned mode = 0; // permission bits
    int64_t size = 0;
    int64_t modified = 0; // last written, in nanoseconds since 1970 (UTC)

    // Whether both exist and are one file (through links, hard links or other spellings of the path).
    bool sameFileAs(const FileIdentity& other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }
};

} // namespace platform
