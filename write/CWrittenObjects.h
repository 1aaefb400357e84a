#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CFileSource;
struct CObjectSpan;

// Where the objects a run made itself (graphics state, image, content
// streams) stand in its output. Their text is fixed, so the next mark pass,
// which reads that output, can copy them without looking for their ends again.
class CWrittenObjects {
public:
    // Whether `file` is that output, unchanged.
    bool matches(const CFileSource& file) const;
    // Notes which file the output is, once it is complete.
    void identify(const std::string& path);
    void reserve(size_t objects);
    // Object `num` stands at [start, end) of the output (a stamp stream when `stamp`).
    void add(int num, int64_t start, int64_t end, bool stamp = false);
    // Whether the run made a stamp stream `num` at `offset`.
    bool isStamp(int num, int64_t offset) const;
    // The span of object `num` when the run made it at `offset`.
    bool find(int num, int64_t offset, CObjectSpan& span) const;

private:
    uint64_t m_device = 0;
    uint64_t m_inode = 0;
    int64_t m_size = -1; // -1: no output to match
    // By object number (outputs past 4 GB are refused): kUnknown where the
    // run did not make the object.
    static constexpr uint32_t kUnknown = UINT32_MAX;
    std::vector<uint32_t> m_offsets;
    std::vector<uint32_t> m_lengths;
    std::vector<bool> m_stamps; // the object is a stamp stream
};
