#include "pdf/CPdfMemoryStream.h"

CPdfMemoryStream::CPdfMemoryStream(std::shared_ptr<const void> owner, const uint8_t* data, size_t size)
    : m_owner(std::move(owner)), m_begin(data)
{
    m_next = data;
    m_end = data + size;
}
