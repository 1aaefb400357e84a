#include "load/CPdfBoundedStream.h"

#include "pdf/CPdfDict.h"

CPdfBoundedStream::CPdfBoundedStream(CPdfStream* source, const CPdfObject& dict, bool limited, int64_t count)
    : m_source(source), m_limited(limited), m_remaining(count)
{
    m_dict.assign(dict);
}

CPdfDict* CPdfBoundedStream::streamDict()
{
    return m_dict.type() == PDF_DICT ? m_dict.dictValue() : nullptr;
}

int CPdfBoundedStream::readCharSlow()
{
    if (m_limited && m_remaining <= 0)
        return -1;
    --m_remaining;
    return m_source->readChar();
}

int CPdfBoundedStream::peekCharSlow()
{
    if (m_limited && m_remaining <= 0)
        return -1;
    return m_source->peekChar();
}
