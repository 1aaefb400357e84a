#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The share of a list that one of N runs stamps (--shard K/N): the names
// whose position in the list, counted from 0, is K - 1 modulo N. Every run
// must be given the same list, so that the shares add up to it.
class CShard {
public:
    // Looks a variable up: its value, or null when it is not set.
    using CEnvironment = std::function<const char*(const char*)>;

    // Reads "K/N" (1 <= K <= N), "auto" or "auto/N". "auto" takes the index
    // from the first array job scheduler whose variables `environment` has
    // (Slurm, Kubernetes, AWS Batch), and the count from the scheduler when it
    // gives one, else from "/N". Throws CPdfException (a usage error).
    static CShard parse(const std::string& value, const CEnvironment& environment);

    bool takes(size_t position) const { return position % m_count == m_index; }
    // "K/N", as the user counts.
    std::string shown() const { return std::to_string(m_index + 1) + "/" + std::to_string(m_count); }

private:
    CShard(size_t index, size_t count) : m_index(index), m_count(count) {}

    size_t m_index; // from 0
    size_t m_count;
};
