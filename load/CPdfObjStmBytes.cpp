#include "load/CPdfObjStmBytes.h"

#include <memory>

#include "load/CPdfMemoryStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStream.h"

void CPdfObjStmBytes::build(CXrefTable& table, int num)
{
    m_objStmNum = num;
    CPdfObject object;
    table.fetchObject(num, 0, object);
    if (object.type() != PDF_STREAM)
        return;
    CPdfStream* stream = object.streamValue();
    CPdfDict* dict = stream->streamDict();
    if (!dict)
        return;
    CPdfObject n, first;
    dict->getValue("N", n);
    dict->getValue("First", first);
    if (n.type() != PDF_INT || n.intValue() <= 0 || first.type() != PDF_INT || first.intValue() < 0)
        return;

    const size_t piece = 64 * 1024;
    for (;;) {
        size_t before = m_data.size();
        if (before >= kMaxDecodedBytes)
            throw CPdfException("PDF file was damaged");
        m_data.resize(before + piece);
        size_t got = stream->readBytes(m_data.data() + before, piece);
        m_data.resize(before + got);
        if (got < piece)
            break;
    }
    m_data.shrink_to_fit();

    // The header: N pairs of object number and offset, within the first /First bytes.
    m_first = first.intValue();
    size_t headerSize = std::min<size_t>(static_cast<size_t>(m_first), m_data.size());
    CPdfParser parser(&table, new CPdfMemoryStream(nullptr, m_data.data(), headerSize));
    CPdfObject objNum, offset;
    for (int j = 0; j < n.intValue(); ++j) {
        parser.parseObject(objNum);
        parser.parseObject(offset);
        if (objNum.type() != PDF_INT || offset.type() != PDF_INT) {
            m_objNums.clear();
            m_offsets.clear();
            return;
        }
        m_objNums.push_back(objNum.intValue());
        m_offsets.push_back(offset.intValue());
    }
}

bool CPdfObjStmBytes::span(int index, size_t& begin, size_t& end) const
{
    if (index < 0 || index >= count())
        return false;
    const int64_t size = static_cast<int64_t>(m_data.size());
    int64_t start = m_first + m_offsets[static_cast<size_t>(index)];
    if (start < 0 || start > size)
        return false;
    // Offsets that run backwards or past the data cannot bound the object:
    // it then runs to the end of the data, never outside it.
    int64_t stop = size;
    if (index + 1 < count()) {
        int64_t next = m_first + m_offsets[static_cast<size_t>(index) + 1];
        if (next >= start && next <= size)
            stop = next;
    }
    begin = static_cast<size_t>(start);
    end = static_cast<size_t>(stop);
    return true;
}

std::string_view CPdfObjStmBytes::getBytes(int index, int num) const
{
    size_t begin = 0, end = 0;
    if (!holds(index, num) || !span(index, begin, end))
        return {};
    return std::string_view(reinterpret_cast<const char*>(m_data.data()) + begin, end - begin);
}
