#include "pdf/CPdfDict.h"

#include <string_view>

CPdfDict::CPdfDict(CPdfResolver* table) : m_table(table) {}

void CPdfDict::release()
{
    if (--m_refCount == 0)
        delete this;
}

void CPdfDict::insert(const std::string& key, const CPdfObject& value)
{
    m_entries.emplace(key, value); // keeps the entry already there
}

void CPdfDict::insertMoved(const std::string& key, CPdfObject&& value)
{
    m_entries.try_emplace(key, std::move(value));
}

void CPdfDict::getValue(const char* key, CPdfObject& out) const
{
    auto found = m_entries.find(std::string_view(key));
    if (found == m_entries.end())
        out.setNull();
    else
        found->second.resolve(m_table, out);
}

void CPdfDict::getValueUnresolved(const char* key, CPdfObject& out) const
{
    auto found = m_entries.find(std::string_view(key));
    if (found == m_entries.end())
        out.setNull();
    else
        out.assign(found->second);
}
