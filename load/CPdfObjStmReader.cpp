#include "load/CPdfObjStmReader.h"

#include <utility>

#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"

void CPdfObjStmReader::build(CPdfResolver& table, int num)
{
    m_table = &table;
    m_bytes = std::make_shared<CPdfObjStmBytes>();
    m_bytes->build(table, num);
    m_objects.assign(static_cast<size_t>(m_bytes->count()), CPdfObject());
}

void CPdfObjStmReader::getObject(int index, int num, CPdfObject& out)
{
    out.clear();
    size_t begin = 0, end = 0;
    if (!m_bytes->holds(index, num) || !m_bytes->span(index, begin, end)) {
        out.setNull();
        return;
    }
    CPdfObject& cached = m_objects[static_cast<size_t>(index)];
    if (cached.type() == PDF_NONE) {
        // Parsed aside and kept only when complete: a parse that throws must
        // not leave a half-built value behind for the next request.
        CPdfObject parsed;
        CPdfParser parser(m_table, new CPdfMemoryStream(m_bytes, m_bytes->data() + begin, end - begin));
        try {
            parser.parseObject(parsed);
        } catch (const CPdfException& error) {
            throw error.at(num, std::nullopt);
        }
        cached = std::move(parsed);
    }
    out.assign(cached);
}
