#include "pdf/CPdfDictLayout.h"

const CPdfEntryLayout* CPdfDictLayout::find(std::string_view key) const
{
    for (const CPdfEntryLayout& entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

int64_t CPdfDictLayout::followingToken(size_t index) const
{
    return index + 1 < entries.size() ? entries[index + 1].keyBegin : close;
}

void CPdfDictLayout::clear()
{
    open = close = streamKeyword = -1;
    entries.clear();
}
