#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "page/CResourceNames.h"
#include "write/CWrittenObjects.h"

class CFileSource;
class CPdfFile;
struct CStampSettings;

// What the runs over one file remember from one to the next. The mark passes
// are eight runs, each reading the previous one's output: the names an
// earlier pass drew are still in the pages' resources, and the objects it
// made need not be looked for again. The pass loop owns it and hands it to
// each run; a single run uses one of its own.
class CPassMemory {
public:
    // The number a run's names start from: `fixedNumber`, else one derived
    // from the input and the run alone, so that every run, machine and
    // worker writes the same bytes.
    static int64_t firstNumber(std::optional<int> fixedNumber, const CPdfFile& input, const CStampSettings& settings);
    // Names of the first number from `first` that no earlier run of this
    // memory took (a run whose names a page held draws again, past them).
    CResourceNames drawResourceNames(int64_t first);

    // The objects the previous run made, when `input` is the file it wrote
    // (else none); taken, so that each run's are used once.
    CWrittenObjects takePreviousRun(const CFileSource& input);
    // Keeps the objects this run made in the file it wrote at `path`.
    void keepRun(CWrittenObjects written, const std::string& path);
    // Gives back what takePreviousRun took, for a run written again.
    void putBack(CWrittenObjects previous) { m_lastRun = std::move(previous); }

private:
    std::set<int64_t> m_usedNumbers;
    CWrittenObjects m_lastRun;
};
