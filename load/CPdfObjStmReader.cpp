#include "load/CPdfObjStmReader.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfResolver.h"
#include "pdf/CPdfStream.h"

void CPdfObjStmReader::build(CPdfResolver& table, int num)
{
    m_table = &table;
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

    // An encrypted document's object stream is decrypted before its filters.
    const CPdfRefPtr<CPdfStream> data = table.streamData(num, 0, object, static_cast<int64_t>(kMaxDecodedBytes));
    if (!data)
        return;
    stream = data.get();

    // Read in pieces, as readBytes gives them, but appended from the
    // decoder's own buffer: no piece is cleared before it is filled.
    const size_t piece = 64 * 1024;
    for (;;) {
        size_t before = m_data->size();
        if (before >= kMaxDecodedBytes)
            throw CPdfException(CPdfException::EKind::Damaged, "PDF file was damaged", num);
        size_t got = 0;
        while (got < piece) {
            const uint8_t* begin = stream->bufferedBegin();
            const uint8_t* end = stream->bufferedEnd();
            if (begin == end) {
                if (stream->peekChar() < 0)
                    break;
                continue;
            }
            const size_t take = std::min(static_cast<size_t>(end - begin), piece - got);
            m_data->insert(m_data->end(), begin, begin + take);
            stream->skipBufferedTo(begin + take);
            got += take;
        }
        if (got < piece)
            break;
    }
    m_data->shrink_to_fit();

    // The header: N pairs of object number and offset, within the first /First bytes.
    m_first = first.intValue();
    size_t headerSize = std::min<size_t>(static_cast<size_t>(m_first), m_data->size());
    if (readPlainHeader(headerSize, n.intValue()))
        return;
    CPdfParser parser(&table, new CPdfMemoryStream(nullptr, m_data->data(), headerSize));
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

bool CPdfObjStmReader::readPlainHeader(size_t headerSize, int pairs)
{
    // Digits and blanks alone read as the parser reads them: each run of
    // digits an integer, and too few of them the end of the header.
    const uint8_t* p = m_data->data();
    const uint8_t* const end = p + headerSize;
    for (const uint8_t* q = p; q < end; ++q)
        if (!CPdfLexer::isWhitespace(*q) && (*q < '0' || *q > '9'))
            return false;
    std::vector<int> numbers;
    numbers.reserve(std::min<size_t>(static_cast<size_t>(pairs) * 2, headerSize / 2 + 1));
    while (numbers.size() < static_cast<size_t>(pairs) * 2) {
        while (p < end && CPdfLexer::isWhitespace(*p))
            ++p;
        if (p == end)
            return true; // no pairs at all, as when the parser meets the end
        const uint8_t* digits = p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        numbers.push_back(CPdfLexer::integerValue(
            std::string_view(reinterpret_cast<const char*>(digits), static_cast<size_t>(p - digits))));
    }
    m_objNums.reserve(static_cast<size_t>(pairs));
    m_offsets.reserve(static_cast<size_t>(pairs));
    for (size_t i = 0; i < numbers.size(); i += 2) {
        m_objNums.push_back(numbers[i]);
        m_offsets.push_back(numbers[i + 1]);
    }
    return true;
}

bool CPdfObjStmReader::span(int index, size_t& begin, size_t& end) const
{
    if (index < 0 || index >= count())
        return false;
    const int64_t size = static_cast<int64_t>(m_data->size());
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

std::string_view CPdfObjStmReader::getBytes(int index, int num) const
{
    size_t begin = 0, end = 0;
    if (!holds(index, num) || !span(index, begin, end))
        return {};
    return std::string_view(reinterpret_cast<const char*>(m_data->data()) + begin, end - begin);
}

void CPdfObjStmReader::getObject(int index, int num, CPdfObject& out)
{
    out.clear();
    size_t begin = 0, end = 0;
    if (!holds(index, num) || !span(index, begin, end)) {
        out.setNull();
        return;
    }
    if (m_objects.empty())
        m_objects.resize(static_cast<size_t>(count()));
    CPdfObject& cached = m_objects[static_cast<size_t>(index)];
    if (cached.type() == PDF_NONE) {
        // Parsed aside and kept only when complete: a parse that throws must
        // not leave a half-built value behind for the next request.
        CPdfObject parsed;
        CPdfParser parser(m_table, new CPdfMemoryStream(m_data, m_data->data() + begin, end - begin));
        try {
            parser.parseObject(parsed);
        } catch (const CPdfException& error) {
            throw error.at(num, std::nullopt);
        }
        cached = std::move(parsed);
    }
    out.assign(cached);
}
