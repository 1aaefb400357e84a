#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// Fuzz input as a file the program can open by name, without touching the disk.
class CFuzzFile {
public:
    CFuzzFile(const uint8_t* data, size_t size)
    {
        m_fd = memfd_create("fuzz-input", 0);
        if (m_fd >= 0) {
            size_t done = 0;
            while (done < size) {
                ssize_t wrote = write(m_fd, data + done, size - done);
                if (wrote <= 0)
                    break;
                done += static_cast<size_t>(wrote);
            }
            m_path = "/proc/self/fd/" + std::to_string(m_fd);
        }
    }
    ~CFuzzFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFuzzFile(const CFuzzFile&) = delete;
    CFuzzFile& operator=(const CFuzzFile&) = delete;
    bool ok() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};
