#include "stamp/CPassMemory.h"

#include <cstdlib>

#include "page/StampObjects.h"
#include "platform/Platform.h"

namespace {

// A number from the clock: the generator is seeded from it once a process.
int64_t drawFromClock()
{
    static const bool seeded = [] {
        const platform::ClockReading clock = platform::readClock();
        std::srand(static_cast<unsigned>(clock.seconds + clock.milliseconds));
        return true;
    }();
    (void)seeded;
    return static_cast<int64_t>(std::rand()) + platform::readClock().milliseconds % 1000000;
}

} // namespace

CResourceNames CPassMemory::drawResourceNames(std::optional<int> fixedNumber)
{
    if (!fixedNumber && !m_drawn)
        m_drawn = drawFromClock();
    int64_t n = fixedNumber ? *fixedNumber : *m_drawn;
    // The names of an earlier pass are still in the pages' resources: a
    // repeat would make duplicate keys.
    while (!m_usedNumbers.insert(n).second)
        ++n;
    CResourceNames names;
    names.state = formatText("GS%lld", static_cast<long long>(n));
    names.image = formatText("Im%lld", static_cast<long long>(n));
    names.font = formatText("Fn%lld", static_cast<long long>(n));
    names.layer = formatText("OC%lld", static_cast<long long>(n));
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
