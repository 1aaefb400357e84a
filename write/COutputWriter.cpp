#include "write/COutputWriter.h"

#include <charconv>

#include "crypt/CSecurityHandler.h"
#include "document/CObjectText.h"
#include "document/CPageRecord.h"
#include "image/CStampImage.h"
#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/PdfFormat.h"
#include "write/COutputFile.h"
#include "write/CWrittenObjects.h"

std::string writeGraphicsStateObject(float opacity, const std::string& blend)
{
    // The percentage times the single-precision 0.01, printed from a double.
    double fraction = static_cast<double>(opacity) * static_cast<double>(0.01f);
    return formatText(" 0 obj<</Type/ExtGState/ca %.2f", fraction) + (blend.empty() ? "" : "/BM/" + blend) +
           ">>\nendobj\n";
}

COutputWriter::COutputWriter(COutputFile& output, CPdfFile& input, CWrittenObjects* written)
    : m_output(output), m_input(input), m_written(written),
      m_outRecords(static_cast<size_t>(input.xref().recordCount()), CXrefRecord())
{
}

COutputWriter::~COutputWriter() = default;

int COutputWriter::beginNewObject()
{
    const int num = static_cast<int>(m_outRecords.size());
    CXrefRecord record;
    record.offset = static_cast<int32_t>(m_output.position() - m_offsetBase);
    record.gen = 0;
    record.type = XREF_IN_FILE;
    m_outRecords.push_back(record);
    m_output.writeNumber(num);
    return num;
}

void COutputWriter::endNewObject(int num, bool stamp)
{
    if (m_written)
        m_written->add(num, m_outRecords[static_cast<size_t>(num)].offset, m_output.position(), stamp);
}

void COutputWriter::writeChangedObject(int num, int gen, std::string_view text)
{
    if (num >= 0 && num < static_cast<int>(m_outRecords.size())) {
        CXrefRecord& record = m_outRecords[static_cast<size_t>(num)];
        record.offset = static_cast<int32_t>(m_output.position() - m_offsetBase);
        record.gen = gen;
        record.type = XREF_IN_FILE;
    }
    m_output.write(text);
}

// Inline: two streams a page pass through it.
inline void COutputWriter::writeStreamHead(std::string_view head, uint64_t length, std::string_view tail)
{
    char digits[24];
    m_output.write(head);
    m_output.write(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, length).ptr - digits));
    m_output.write(tail);
}

int COutputWriter::writeNewStream(std::string_view head, std::string_view tail, std::string_view data, bool stamp)
{
    const int num = beginNewObject();
    std::string encrypted;
    if (const CSecurityHandler* security = m_input.xref().securityHandler()) {
        encrypted = security->encryptStream(num, 0, data);
        data = encrypted;
    }
    writeStreamHead(head, data.size(), tail);
    m_output.write(data);
    m_output.write("\nendstream\nendobj\n");
    endNewObject(num, stamp);
    return num;
}

int COutputWriter::writeNewStream(std::string_view head, std::string_view tail, CFileSource& file, int64_t length)
{
    if (m_input.xref().securityHandler()) {
        std::string data(static_cast<size_t>(length), '\0');
        if (file.read(0, data.data(), data.size()) != data.size())
            return 0;
        return writeNewStream(head, tail, data, false);
    }
    const int num = beginNewObject();
    writeStreamHead(head, static_cast<uint64_t>(length), tail);
    m_output.copyFrom(file, 0, length);
    m_output.write("\nendstream\nendobj\n");
    endNewObject(num);
    return num;
}

int COutputWriter::writeNewObject(std::string_view body)
{
    const int num = beginNewObject();
    m_output.write(body);
    m_output.write("\nendobj\n");
    endNewObject(num);
    return num;
}

std::string COutputWriter::stringFor(int num, const std::string& text) const
{
    const CSecurityHandler* security = m_input.xref().securityHandler();
    return security ? security->encryptString(num, 0, text) : text;
}

COutputWriter::CSharedObjects COutputWriter::writeSharedObjects(int opacity, const std::string& blend,
                                                                const CStampImage& image,
                                                                const CStampImage* verticalImage)
{
    CSharedObjects shared;
    shared.state = beginNewObject();
    m_output.write(writeGraphicsStateObject(static_cast<float>(opacity), blend));
    endNewObject(shared.state);
    shared.image = image.write(*this);
    if (verticalImage)
        shared.verticalImage = verticalImage->write(*this);
    return shared;
}

std::string COutputWriter::trailerEntries(bool keepIdentity) const
{
    const CXrefTable& xref = m_input.xref();
    std::string text = formatText("/Root %d %d R\n", xref.rootNum(), xref.rootGen());
    if (xref.infoNum() != 0)
        text += formatText("/Info %d %d R\n", xref.infoNum(), xref.infoGen());
    // The same dictionary and /ID give the same key, passwords and permissions.
    if (xref.securityHandler())
        text += xref.encryptEntryText() + "\n";
    if (!xref.idEntryText().empty()) {
        if (keepIdentity || xref.securityHandler())
            text += xref.idEntryText() + "\n";
    } else if (keepIdentity && xref.trailer().type() == PDF_DICT) {
        // The trailer's strings are never encrypted: its /ID is written as it reads.
        CPdfObject ids;
        xref.trailer().dictValue()->getValueUnresolved("ID", ids);
        if (ids.type() == PDF_ARRAY && ids.arrayValue()->count() == 2) {
            std::string entry = "/ID [";
            for (int i = 0; i < 2; ++i) {
                CPdfObject id;
                ids.arrayValue()->getItemUnresolved(i, id);
                if (id.type() != PDF_STRING)
                    return text;
                entry += hexString(id.textString());
            }
            text += entry + "]\n";
        }
    }
    return text;
}

void COutputWriter::mendPageTree(std::vector<CPageRecord>& pages)
{
    if (pages.size() != 1 || !pages[0].namedByCatalog || pages[0].dictOpen < 0)
        return;
    CPageRecord& page = pages[0];
    const CXrefTable& xref = m_input.xref();
    const int root = xref.rootNum();
    CPdfObjectHead head;
    std::string catalog;
    if (m_catalogText.empty())
        catalog = m_input.reader().text(root, &head);
    else if (CObjectReader::headOfText(m_catalogText, head))
        catalog = m_catalogText;
    const CStoredEntry entry = storedEntry(head.dict, "Pages");
    if (catalog.empty() || head.num != root || head.type != PDF_DICT || head.isStream() || !entry.present ||
        entry.type != PDF_REF || entry.num != page.objectNumber || root == page.objectNumber)
        return;
    auto generation = [&](int num) { return xref.records()[static_cast<size_t>(num)].objectGen(); };
    page.newParent = beginNewObject();
    std::string node = referenceText(" 0 obj\n<<\n/Type /Pages\n/Kids [", page.objectNumber, " ");
    appendInteger(node, generation(page.objectNumber));
    node += " R]\n/Count 1\n>>\nendobj\n";
    m_output.write(node);
    endNewObject(page.newParent);
    CObjectText text(catalog);
    text.replaceAt(static_cast<size_t>(entry.valueBegin), static_cast<size_t>(entry.valueEnd),
                   referenceText("", page.newParent, " 0 R"));
    writeChangedObject(root, generation(root), text.bytes());
}
