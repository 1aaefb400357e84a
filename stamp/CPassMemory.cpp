#include "stamp/CPassMemory.h"

#include <cstdlib>

#include "platform/Platform.h"
#include "stamp/StampObjects.h"

CResourceNames CPassMemory::drawResourceNames(std::optional<int> fixedNumber)
{
    int64_t n;
    if (fixedNumber) {
        n = *fixedNumber;
    } else {
        platform::ClockReading clock = platform::readClock();
        std::srand(static_cast<unsigned>(clock.seconds + clock.milliseconds));
        n = static_cast<int64_t>(std::rand()) + clock.milliseconds % 1000000;
    }
    // Passes of one job (the marks) follow each other within a millisecond
    // and would draw the same number: the names of an earlier pass are still
    // in the pages' resources, so a repeat would make duplicate keys.
    while (!m_usedNumbers.insert(n).second)
        ++n;
    CResourceNames names;
    names.state = formatText("GS%lld", static_cast<long long>(n));
    names.image = formatText("Im%lld", static_cast<long long>(n));
    return names;
}

CWrittenObjects CPassMemory::takePreviousRun(const CFileSource& input)
{
    CWrittenObjects previous;
    if (m_lastRun.matches(input))
        previous = std::move(m_lastRun);
    m_lastRun = CWrittenObjects();
    return previous;
}

void CPassMemory::keepRun(CWrittenObjects written, const std::string& path)
{
    m_lastRun = std::move(written);
    m_lastRun.identify(path);
}
