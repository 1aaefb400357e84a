#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "page/CResourceNames.h"
#include "write/CWrittenObjects.h"

class CFileSource;

// What the runs over one file remember from one to the next. The mark passes
// are eight runs, each reading the previous one's output: the names an
// earlier pass drew are still in the pages' resources, and the objects it
// made need not be looked for again. The pass loop owns it and hands it to
// each run; a single run uses one of its own.
class CPassMemory {
public:
    // Names of a number drawn from the clock once (or `fixedNumber`), never
    // the same number as an earlier run's: the next free one after it.
    CResourceNames drawResourceNames(std::optional<int> fixedNumber);

    // The objects the previous run made, when `input` is the file it wrote
    // (else none); taken, so that each run's are used once.
    CWrittenObjects takePreviousRun(const CFileSource& input);
    // Keeps the objects this run made in the file it wrote at `path`.
    void keepRun(CWrittenObjects written, const std::string& path);

private:
    std::optional<int64_t> m_drawn;
    std::set<int64_t> m_usedNumbers;
    CWrittenObjects m_lastRun;
};
