#include "document/CObjectText.h"

size_t CObjectText::moved(size_t position) const
{
    std::ptrdiff_t shift = 0;
    for (const auto& [at, added] : m_edits)
        if (at < position)
            shift += added;
    return static_cast<size_t>(static_cast<std::ptrdiff_t>(position) + shift);
}

void CObjectText::insertAt(size_t position, std::string_view bytes)
{
    const size_t now = moved(position);
    if (now > m_bytes.size())
        return;
    m_bytes.insert(now, bytes.data(), bytes.size());
    m_edits.emplace_back(position, static_cast<std::ptrdiff_t>(bytes.size()));
}

void CObjectText::cutWithSpacesBefore(std::string_view original, size_t floor, size_t begin, size_t end)
{
    while (begin > floor && begin <= original.size() && (original[begin - 1] == ' ' || original[begin - 1] == '\t'))
        --begin;
    replaceAt(begin, end, "");
}

void CObjectText::replaceAt(size_t begin, size_t end, std::string_view bytes)
{
    const size_t now = moved(begin);
    if (end < begin || now + (end - begin) > m_bytes.size())
        return;
    m_bytes.replace(now, end - begin, bytes.data(), bytes.size());
    m_edits.emplace_back(begin, static_cast<std::ptrdiff_t>(bytes.size()) - static_cast<std::ptrdiff_t>(end - begin));
}
