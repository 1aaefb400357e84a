#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

// Fuzz input as a file the program can open by name, without touching the
// disk. One in-memory file serves every input of the process: making and
// closing one per input cost more system calls than the whole input did.
class CFuzzFile {
public:
    CFuzzFile(const uint8_t* data, size_t size)
    {
        static const int fd = memfd_create("fuzz-input", 0);
        if (fd < 0)
            return;
        size_t done = 0;
        while (done < size) {
            ssize_t wrote = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (wrote <= 0)
                return;
            done += static_cast<size_t>(wrote);
        }
        // What a longer input before left past the end goes.
        if (ftruncate(fd, static_cast<off_t>(size)) != 0)
            return;
        m_path = "/proc/self/fd/" + std::to_string(fd);
    }
    CFuzzFile(const CFuzzFile&) = delete;
    CFuzzFile& operator=(const CFuzzFile&) = delete;
    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
