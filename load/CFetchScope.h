#pragma once

#include <vector>

// Keeps object `num` on a stack of the fetches under way (innermost last)
// for as long as its fetch lasts, however it ends: a fetch that nests too
// deep, or comes back to an object being fetched, is cut short.
class CFetchScope {
public:
    CFetchScope(std::vector<int>& fetching, int num) : m_fetching(fetching) { m_fetching.push_back(num); }
    ~CFetchScope() { m_fetching.pop_back(); }
    CFetchScope(const CFetchScope&) = delete;
    CFetchScope& operator=(const CFetchScope&) = delete;

private:
    std::vector<int>& m_fetching;
};
