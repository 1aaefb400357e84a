#include "stamp/CObjectText.h"

size_t CObjectText::findFrom(std::string_view pattern, size_t position) const
{
    if (position > m_bytes.size())
        return end();
    size_t hit = m_bytes.find(pattern.data(), position, pattern.size());
    return hit == std::string::npos ? end() : hit;
}

void CObjectText::insertText(size_t position, std::string_view bytes)
{
    if (position <= m_bytes.size())
        m_bytes.insert(position, bytes.data(), bytes.size());
}
