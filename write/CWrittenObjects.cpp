#include "write/CWrittenObjects.h"

#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "platform/Platform.h"

bool CWrittenObjects::matches(const CFileSource& file) const
{
    return m_size >= 0 && file.device() == m_device && file.inode() == m_inode && file.size() == m_size;
}

void CWrittenObjects::identify(const std::string& path)
{
    platform::FileIdentity identity = platform::identify(path);
    m_size = identity.exists ? identity.size : -1;
    m_device = identity.device;
    m_inode = identity.inode;
}

void CWrittenObjects::reserve(size_t objects)
{
    m_offsets.reserve(objects);
    m_lengths.reserve(objects);
}

void CWrittenObjects::add(int num, int64_t start, int64_t end, bool stamp)
{
    if (num < 0 || start < 0 || end >= kUnknown)
        return;
    if (num >= static_cast<int>(m_offsets.size())) {
        m_offsets.resize(static_cast<size_t>(num) + 1, kUnknown);
        m_lengths.resize(static_cast<size_t>(num) + 1, 0);
        m_stamps.resize(static_cast<size_t>(num) + 1, false);
    }
    m_offsets[static_cast<size_t>(num)] = static_cast<uint32_t>(start);
    m_lengths[static_cast<size_t>(num)] = static_cast<uint32_t>(end - start);
    m_stamps[static_cast<size_t>(num)] = stamp;
}

bool CWrittenObjects::isStamp(int num, int64_t offset) const
{
    return num >= 0 && num < static_cast<int>(m_offsets.size()) && m_offsets[static_cast<size_t>(num)] != kUnknown &&
           m_offsets[static_cast<size_t>(num)] == offset && m_stamps[static_cast<size_t>(num)];
}

bool CWrittenObjects::find(int num, int64_t offset, CObjectSpan& span) const
{
    if (num < 0 || num >= static_cast<int>(m_offsets.size()) || m_offsets[static_cast<size_t>(num)] == kUnknown ||
        m_offsets[static_cast<size_t>(num)] != offset)
        return false;
    span = CObjectSpan();
    span.start = offset;
    span.length = m_lengths[static_cast<size_t>(num)];
    span.num = num;
    return true;
}
