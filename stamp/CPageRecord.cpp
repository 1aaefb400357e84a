#include "stamp/CPageRecord.h"

#include "pdf/CPdfDict.h"

CStoredEntry storedEntry(const CPdfDict* dict, const char* key)
{
    CStoredEntry entry;
    if (!dict)
        return entry;
    CPdfObject value;
    dict->getValueUnresolved(key, value);
    entry.type = value.type();
    if (value.type() == PDF_REF) {
        entry.num = value.refNum();
        entry.gen = value.refGen();
    }
    return entry;
}
