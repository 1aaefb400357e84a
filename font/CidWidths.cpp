#include "font/CidWidths.h"

#include <vector>

#include "pdf/PdfFormat.h"

namespace {

// Shorter as "first last width" than inside a list from this many on.
constexpr size_t kShortestRange = 3;

} // namespace

std::string cidWidthsArray(const std::map<uint32_t, int>& widths)
{
    std::string text = "[";
    const auto appendNumber = [&text](long long value) {
        appendInteger(text, value);
        text += ' ';
    };
    std::vector<std::pair<uint32_t, int>> list; // consecutive CIDs not in a range yet
    const auto flushList = [&]() {
        if (list.empty())
            return;
        appendNumber(list.front().first);
        text += '[';
        for (size_t index = 0; index < list.size(); ++index) {
            if (index)
                text += ' ';
            appendInteger(text, list[index].second);
        }
        text += "] ";
        list.clear();
    };
    for (auto it = widths.begin(); it != widths.end();) {
        // The run of consecutive CIDs of one width starting here.
        auto end = std::next(it);
        while (end != widths.end() && end->first == std::prev(end)->first + 1 && end->second == it->second)
            ++end;
        const size_t length = static_cast<size_t>(std::distance(it, end));
        if (!list.empty() && list.back().first + 1 != it->first)
            flushList();
        if (length >= kShortestRange) {
            flushList();
            appendNumber(it->first);
            appendNumber(std::prev(end)->first);
            appendNumber(it->second);
        } else {
            list.insert(list.end(), it, end);
        }
        it = end;
    }
    flushList();
    if (text.back() == ' ')
        text.pop_back();
    return text + "]";
}

int mostCommonWidth(const std::map<uint32_t, int>& widths)
{
    std::map<int, int> counts;
    for (const auto& [cid, width] : widths)
        ++counts[width];
    int best = 0, bestCount = 0;
    for (const auto& [width, count] : counts)
        if (count > bestCount)
            best = width, bestCount = count;
    return best;
}
