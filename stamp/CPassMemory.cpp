#include "stamp/CPassMemory.h"

#include <cstdint>
#include <string>

#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CStampSettings.h"
#include "page/StampObjects.h"

namespace {

CResourceNames namesOf(int64_t n)
{
    CResourceNames names;
    names.state = formatText("GS%lld", static_cast<long long>(n));
    names.image = formatText("Im%lld", static_cast<long long>(n));
    names.font = formatText("Fn%lld", static_cast<long long>(n));
    names.layer = formatText("OC%lld", static_cast<long long>(n));
    return names;
}

} // namespace

int64_t CPassMemory::firstNumber(std::optional<int> fixedNumber, const CPdfFile& input, const CStampSettings& settings)
{
    if (fixedNumber)
        return *fixedNumber;
    // FNV-1a over what tells this input and this stamp apart; paths are left
    // out, so that a file gives the same bytes from any folder or machine.
    const std::string key = std::to_string(input.file().size()) + "\n" + input.xref().idEntryText() + "\n" +
                            settings.stampId + "\n" + CStampMark::kindName(settings.stampKind());
    uint64_t hash = 14695981039346656037ULL;
    for (const char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return static_cast<int64_t>(hash % 999999) + 1;
}

CResourceNames CPassMemory::drawResourceNames(int64_t first)
{
    // The names of an earlier pass are still in the pages' resources: a
    // repeat would make duplicate keys.
    int64_t n = first;
    while (!m_usedNumbers.insert(n).second)
        ++n;
    return namesOf(n);
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
