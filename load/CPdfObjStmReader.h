#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "load/CPdfObjStmBytes.h"
#include "pdf/CPdfObject.h"

class CPdfResolver;

// The objects of one object stream, parsed from its decoded bytes the first
// time each is asked for and kept for later requests.
class CPdfObjStmReader {
public:
    void build(CPdfResolver& table, int num);

    int objStmNum() const { return m_bytes ? m_bytes->objStmNum() : -1; }
    size_t dataSize() const { return m_bytes ? m_bytes->dataSize() : 0; }
    // A copy of object `index` when it holds object `num`; PDF_NULL otherwise.
    void getObject(int index, int num, CPdfObject& out);
    std::string_view getBytes(int index, int num) const { return m_bytes->getBytes(index, num); }

private:
    CPdfResolver* m_table = nullptr;
    std::shared_ptr<CPdfObjStmBytes> m_bytes;
    std::vector<CPdfObject> m_objects; // PDF_NONE until parsed
};
