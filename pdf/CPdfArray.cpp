#include "pdf/CPdfArray.h"

CPdfArray::CPdfArray(CPdfResolver* table) : m_table(table) {}

void CPdfArray::release()
{
    if (--m_refCount == 0)
        delete this;
}

void CPdfArray::getItem(int index, CPdfObject& out) const
{
    m_items.at(static_cast<size_t>(index)).resolve(m_table, out);
}

void CPdfArray::getItemUnresolved(int index, CPdfObject& out) const
{
    out.assign(m_items.at(static_cast<size_t>(index)));
}
