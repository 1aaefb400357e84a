#include "load/CEncryptDictReader.h"

#include "load/CFetchScope.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

CEncryptDictReader::CEncryptDictReader(CXrefTable& xref) : m_xref(xref) {}

bool CEncryptDictReader::parseObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout, int64_t& begin,
                                     int64_t& end)
{
    // Only objects stored as they stand: one inside an object stream would
    // need the key to be read.
    if (num <= 0 || num >= m_xref.recordCount() || m_xref.records()[static_cast<size_t>(num)].type != XREF_IN_FILE)
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
        CPdfParser parser(this, m_xref.mainStream()->openWindow(m_xref.baseOffset() + record.offset, 0, CPdfObject()),
                          true);
        parser.setStreamEnds(&m_xref.streamEnds());
        int headerNum = 0, headerGen = 0;
        if (record.gen == gen && parser.parseObjectHeader(headerNum, headerGen) && headerNum == num &&
            headerGen == gen) {
            out.clear();
            parser.parseObject(out, layout);
            begin = parser.valueBegin();
            end = parser.valueEnd();
            return true;
        }
        if (attempt > 0 || !m_xref.relocate(num))
            break;
    }
    return false;
}

bool CEncryptDictReader::readObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout)
{
    int64_t begin = 0, end = 0;
    for (int step = 0; step < kMaxChain; ++step) {
        if (!parseObject(num, gen, out, layout, begin, end))
            return false;
        if (out.type() != PDF_REF)
            return true;
        num = out.refNum();
        gen = out.refGen();
    }
    return false;
}

void CEncryptDictReader::readValueAt(int64_t at, CPdfObject& out, CPdfDictLayout& layout)
{
    CPdfParser parser(this, m_xref.mainStream()->openWindow(at, 0, CPdfObject()), true);
    parser.setStreamEnds(&m_xref.streamEnds());
    parser.parseObject(out, &layout);
}

std::string CEncryptDictReader::valueText(const CPdfEntryLayout& entry)
{
    int64_t begin = entry.valueBegin, end = entry.valueEnd;
    if (entry.type == PDF_REF) {
        CPdfObject value;
        int num = entry.num, gen = entry.gen;
        for (int step = 0;; ++step) {
            if (step == kMaxChain || !parseObject(num, gen, value, nullptr, begin, end))
                return std::string();
            if (value.type() != PDF_REF)
                break;
            num = value.refNum();
            gen = value.refGen();
        }
    }
    std::string text(static_cast<size_t>(end > begin ? end - begin : 0), '\0');
    CPdfRefPtr<CPdfStream> window =
        CPdfRefPtr<CPdfStream>::adopt(m_xref.mainStream()->openWindow(begin, end - begin, CPdfObject()));
    text.resize(window->readBytes(reinterpret_cast<uint8_t*>(text.data()), text.size()));
    return text;
}

void CEncryptDictReader::fetchObject(int num, int gen, CPdfObject& out)
{
    if (static_cast<int>(m_fetching.size()) < kMaxChain) {
        CFetchScope scope(m_fetching, num);
        try {
            if (readObject(num, gen, out))
                return;
        } catch (const CPdfException&) {
        }
    }
    out.clear();
    out.setNull();
}
