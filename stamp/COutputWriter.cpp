#include "stamp/COutputWriter.h"

#include <charconv>

#include "load/CXrefTable.h"
#include "stamp/CInputDocument.h"
#include "stamp/COutputFile.h"
#include "stamp/CWrittenObjects.h"
#include "stamp/StampObjects.h"

COutputWriter::COutputWriter(COutputFile& output, CInputDocument& input, CWrittenObjects* written)
    : m_output(output), m_input(input), m_written(written),
      m_records(static_cast<size_t>(input.xref().recordCount()), CXrefRecord())
{
}

COutputWriter::~COutputWriter() = default;

int COutputWriter::beginNewObject()
{
    const int num = static_cast<int>(m_records.size());
    CXrefRecord record;
    record.offset = static_cast<int32_t>(m_output.position() - m_offsetBase);
    record.gen = 0;
    record.type = XREF_IN_FILE;
    m_records.push_back(record);
    char digits[16];
    m_output.write(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, num).ptr - digits));
    return num;
}

void COutputWriter::endNewObject(int num, bool stamp)
{
    if (m_written)
        m_written->add(num, m_records[static_cast<size_t>(num)].offset, m_output.position(), stamp);
}

void COutputWriter::writeChangedObject(int num, int gen, std::string_view text)
{
    if (num >= 0 && num < static_cast<int>(m_records.size())) {
        CXrefRecord& record = m_records[static_cast<size_t>(num)];
        record.offset = static_cast<int32_t>(m_output.position() - m_offsetBase);
        record.gen = gen;
        record.type = XREF_IN_FILE;
    }
    m_output.write(text);
}
