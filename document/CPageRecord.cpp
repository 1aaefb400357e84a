#include "document/CPageRecord.h"

#include "pdf/CPdfDictLayout.h"

CStoredEntry storedEntry(const CPdfDictLayout& layout, std::string_view key)
{
    CStoredEntry stored;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const CPdfEntryLayout& entry = layout.entries[i];
        if (entry.key != key)
            continue;
        stored.present = true;
        stored.type = entry.type;
        stored.num = entry.num;
        stored.gen = entry.gen;
        stored.keyEnd = entry.keyEnd;
        stored.valueBegin = entry.valueBegin;
        stored.valueEnd = entry.valueEnd;
        stored.following = layout.followingToken(i);
        break;
    }
    return stored;
}

std::string pageList(const std::vector<int>& pages)
{
    std::string text;
    for (int page : pages)
        text += (text.empty() ? "" : ", ") + std::to_string(page);
    return text;
}
