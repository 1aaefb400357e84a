#include "load/CRepairLog.h"

namespace {

// "5, 6, 9", or the first few and "..." for long lists.
std::string numberList(const std::set<int>& numbers)
{
    constexpr size_t kShown = 10;
    std::string text;
    size_t shown = 0;
    for (int num : numbers) {
        if (shown == kShown) {
            text += ", ...";
            break;
        }
        if (shown++ > 0)
            text += ", ";
        text += std::to_string(num);
    }
    return text;
}

// "5, 6, 9", or the first few and how many more: objects the user may want
// to look at, so a count alone would not do.
std::string fewNumbers(const std::set<int>& numbers)
{
    constexpr size_t kShown = 5;
    std::string text;
    size_t shown = 0;
    for (int num : numbers) {
        if (shown == kShown)
            return text + " and " + std::to_string(numbers.size() - kShown) + " more";
        if (shown++ > 0)
            text += ", ";
        text += std::to_string(num);
    }
    return text;
}

} // namespace

std::vector<std::string> CRepairLog::lines() const
{
    std::vector<std::string> lines;
    if (m_rebuiltFrom >= 0)
        lines.push_back("cross-reference data damaged" +
                        (m_rebuildReason.empty() ? std::string() : " (" + m_rebuildReason + ")") + "; rebuilt from " +
                        std::to_string(m_rebuiltFrom) + (m_rebuiltFrom == 1 ? " object" : " objects") +
                        " found in the file");
    if (m_foundByScan.size() == 1)
        lines.push_back("object " + fewNumbers(m_foundByScan) +
                        " was not where the cross-reference data says; found by scanning");
    else if (!m_foundByScan.empty())
        lines.push_back(
            std::to_string(m_foundByScan.size()) +
            " objects were not where the cross-reference data says; found by scanning: " + fewNumbers(m_foundByScan));
    if (m_missing.size() == 1)
        lines.push_back("object " + numberList(m_missing) +
                        " is named in the cross-reference data but missing from the file");
    else if (!m_missing.empty())
        lines.push_back(std::to_string(m_missing.size()) +
                        " objects are named in the cross-reference data but missing from the file: " +
                        numberList(m_missing));
    if (m_unreadable.size() == 1)
        lines.push_back("object " + numberList(m_unreadable) + " could not be read; left out");
    else if (!m_unreadable.empty())
        lines.push_back(std::to_string(m_unreadable.size()) + " objects could not be read; left out: " +
                        numberList(m_unreadable));
    if (m_wrongLength.size() == 1)
        lines.push_back("stream " + numberList(m_wrongLength) +
                        (m_endstreamMissing.empty() ? " has a wrong /Length" : " has no endstream") + "; corrected");
    else if (!m_wrongLength.empty() && m_endstreamMissing.empty())
        lines.push_back(std::to_string(m_wrongLength.size()) + " streams have a wrong /Length; corrected: " +
                        numberList(m_wrongLength));
    else if (!m_wrongLength.empty())
        lines.push_back(std::to_string(m_wrongLength.size()) + " streams have a wrong /Length or no endstream; " +
                        "corrected: " + numberList(m_wrongLength) +
                        " (no endstream: " + numberList(m_endstreamMissing) + ")");
    if (m_skippedKids.size() == 1)
        lines.push_back("page tree entry " + numberList(m_skippedKids) + " is missing or loops back; skipped");
    else if (!m_skippedKids.empty())
        lines.push_back(std::to_string(m_skippedKids.size()) +
                        " page tree entries are missing or loop back; skipped: " + numberList(m_skippedKids));
    if (m_noPageTree)
        lines.push_back("the document has no page tree; copied without a stamp");
    if (m_pagesIsAPage >= 0)
        lines.push_back("the catalog's /Pages names page " + std::to_string(m_pagesIsAPage) +
                        ", not a page tree; taken as the only page");
    return lines;
}
