#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "pdf/CPdfObject.h"

class CPdfResolver;

// One object stream: its decoded data, its header (the object numbers and
// where each object's bytes lie), and its objects, each parsed the first
// time it is asked for and kept for later requests.
class CPdfObjStmReader {
public:
    // Decoded object streams larger than this are treated as damaged data (a
    // few kilobytes of Flate can otherwise expand to gigabytes).
    static constexpr size_t kMaxDecodedBytes = 256 * 1024 * 1024;

    // Decodes object stream `num`, fetched through `table`, which also
    // resolves what its objects refer to. One that cannot be fetched, is not
    // a stream, or has an unusable header gives no objects.
    void build(CPdfResolver& table, int num);

    int objStmNum() const { return m_objStmNum; }
    int count() const { return static_cast<int>(m_objNums.size()); }
    size_t dataSize() const { return m_data->size(); }
    // The object number header slot `index` names.
    int objectNumber(int index) const { return m_objNums[static_cast<size_t>(index)]; }
    // Whether header slot `index` exists and names object `num`.
    bool holds(int index, int num) const
    {
        return index >= 0 && index < count() && m_objNums[static_cast<size_t>(index)] == num;
    }
    // The bytes of object `index` when it holds object `num`; empty otherwise.
    std::string_view getBytes(int index, int num) const;
    // Where object `index` lies in the data; false when the header says nothing usable.
    bool span(int index, size_t& begin, size_t& end) const;
    // A copy of object `index` when it holds object `num`; PDF_NULL otherwise.
    void getObject(int index, int num, CPdfObject& out);

private:
    // Reads the header from the first `headerSize` bytes when they hold only
    // digits and blanks, as the parser would; false (nothing read) otherwise.
    bool readPlainHeader(size_t headerSize, int pairs);

    CPdfResolver* m_table = nullptr;
    int m_objStmNum = -1;
    int64_t m_first = 0;
    std::vector<int> m_objNums;
    std::vector<int64_t> m_offsets;
    // Shared with the streams its objects are parsed from.
    std::shared_ptr<std::vector<uint8_t>> m_data = std::make_shared<std::vector<uint8_t>>();
    std::vector<CPdfObject> m_objects; // PDF_NONE until parsed
};
