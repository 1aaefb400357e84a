#pragma once

#include <vector>

#include "pdf/CPdfObject.h"

class CPdfResolver;

// A shared array of values; items are resolved through the table it was made with.
class CPdfArray {
public:
    explicit CPdfArray(CPdfResolver* table);
    CPdfArray(const CPdfArray&) = delete;
    CPdfArray& operator=(const CPdfArray&) = delete;

    void addRef() { ++m_refCount; }
    void release();

    void append(const CPdfObject& value) { m_items.push_back(value); }
    void appendMoved(CPdfObject&& value) { m_items.push_back(std::move(value)); }
    int count() const { return static_cast<int>(m_items.size()); }
    // Both require 0 <= index < count().
    void getItem(int index, CPdfObject& out) const;
    void getItemUnresolved(int index, CPdfObject& out) const;

private:
    ~CPdfArray() = default;

    int m_refCount = 1;
    CPdfResolver* m_table;
    std::vector<CPdfObject> m_items;
};
