#pragma once

#include <map>
#include <string>

#include "pdf/CPdfObject.h"

class CPdfResolver;

// A shared dictionary. Keys are names without their slash, compared byte by
// byte; the first value given for a key wins.
class CPdfDict {
public:
    using Entries = std::map<std::string, CPdfObject, std::less<>>;

    explicit CPdfDict(CPdfResolver* table);
    CPdfDict(const CPdfDict&) = delete;
    CPdfDict& operator=(const CPdfDict&) = delete;

    void addRef() { ++m_refCount; }
    void release();

    void insert(const std::string& key, const CPdfObject& value);
    void insertMoved(const std::string& key, CPdfObject&& value);
    // PDF_NULL when the key is absent; a reference is fetched through the table.
    void getValue(const char* key, CPdfObject& out) const;
    void getValueUnresolved(const char* key, CPdfObject& out) const;
    void setTable(CPdfResolver* table) { m_table = table; }
    CPdfResolver* table() const { return m_table; }
    const Entries& entries() const { return m_entries; }

private:
    ~CPdfDict() = default;

    int m_refCount = 1;
    CPdfResolver* m_table;
    Entries m_entries;
};
