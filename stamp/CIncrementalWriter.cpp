#include "stamp/CIncrementalWriter.h"

#include <vector>

#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CPageStamper.h"
#include "page/StampObjects.h"
#include "pdf/CPdfException.h"
#include "write/COutputFile.h"

namespace {

// Offsets are written in 32 bits, as in the rest of the output.
constexpr int64_t kMaxOutputOffset = 0x7FFFFFFF;

// Field widths of the appended cross-reference stream: type, offset, generation.
constexpr int kStreamWidths[3] = {1, 4, 2};

// Runs of consecutive numbers among `nums` (ascending): first and count.
std::vector<std::pair<int, int>> subsections(const std::vector<int>& nums)
{
    std::vector<std::pair<int, int>> runs;
    for (int num : nums) {
        if (!runs.empty() && runs.back().first + runs.back().second == num)
            ++runs.back().second;
        else
            runs.emplace_back(num, 1);
    }
    return runs;
}

} // namespace

CIncrementalWriter::CIncrementalWriter(COutputFile& output, CPdfFile& input) : COutputWriter(output, input, nullptr)
{
    m_offsetBase = input.xref().baseOffset();
}

void CIncrementalWriter::begin()
{
    CFileSource& file = m_input.file();
    m_inputLength = file.size();
    m_output.copyFrom(file, 0, file.size());
    // The first appended object must start a line.
    char last = '\n';
    if (file.size() > 0 && file.read(file.size() - 1, &last, 1) != 1)
        throw CPdfException(CPdfException::EKind::InputError, "Input file read error");
    if (last != '\n' && last != '\r')
        m_output.write("\n");
}

void CIncrementalWriter::writeObjects(CPageStamper& stamper)
{
    std::vector<CPageRecord>& pages = stamper.pageRecords();
    mendPageTree(pages);
    for (size_t i = 0; i < pages.size(); ++i) {
        stamper.pageMet();
        const int num = pages[i].objectNumber;
        if (!pages[i].firstOccurrence || !stamper.selects(static_cast<int>(i))) {
            if (pages[i].newParent > 0)
                stamper.writeAsItStands(pages[i]);
            continue;
        }
        std::string text = std::move(pages[i].text);
        if (text.empty())
            text = m_input.reader().text(num);
        if (text.empty()) {
            m_input.xref().reportUnusable(num);
            continue;
        }
        stamper.stamp(static_cast<int>(i), text);
        // A page that takes no annotation is not written by the stamp; the new node still needs its /Parent.
        if (pages[i].newParent > 0 && m_outRecords[static_cast<size_t>(num)].type != XREF_IN_FILE)
            stamper.writeAsItStands(pages[i]);
    }
}

void CIncrementalWriter::finish()
{
    const int64_t startxref = m_output.position() - m_offsetBase;
    if (m_output.position() > kMaxOutputOffset)
        throw CPdfException::formatted(CPdfException::EKind::OutputError,
                                       "\nOutput file would be larger than 2 GB, which is not supported: '%s'\n",
                                       m_output.name());
    // After a hybrid file, a table: readers that know no streams still find
    // the classic chain whole, and the others follow /Prev to the hybrid section.
    if (m_input.xref().newestSectionKind() == CXrefTable::ESectionKind::Stream)
        writeStream(startxref);
    else
        writeTable(startxref);
}

std::string CIncrementalWriter::updateEntries() const
{
    // /VellicoBase: the length of the file this update was appended to, so
    // that taking its stamps off again gives back that file byte for byte.
    return trailerEntries(true) + formatText("/Prev %lld\n/VellicoBase %lld\n",
                                             static_cast<long long>(m_input.xref().newestSectionOffset()),
                                             static_cast<long long>(m_inputLength));
}

std::vector<std::pair<int, int>> CIncrementalWriter::writtenRuns() const
{
    std::vector<int> written;
    for (size_t i = 0; i < m_outRecords.size(); ++i)
        if (m_outRecords[i].type == XREF_IN_FILE)
            written.push_back(static_cast<int>(i));
    return subsections(written);
}

void CIncrementalWriter::writeTable(int64_t startxref)
{
    const std::vector<std::pair<int, int>> runs = writtenRuns();
    size_t entries = 0;
    for (const auto& run : runs)
        entries += static_cast<size_t>(run.second);
    std::string text = "xref\n";
    text.reserve(32 + 20 * entries);
    for (const auto& run : runs) {
        appendInteger(text, run.first);
        text += ' ';
        appendInteger(text, run.second);
        text += '\n';
        for (int num = run.first; num < run.first + run.second; ++num) {
            const CXrefRecord& record = m_outRecords[static_cast<size_t>(num)];
            char entry[] = "0000000000 00000 n\r\n";
            writeZeroPadded(entry + 10, static_cast<uint32_t>(record.offset), 10);
            writeZeroPadded(entry + 16, static_cast<uint32_t>(record.gen), 5);
            text.append(entry, sizeof entry - 1);
        }
    }
    text += "trailer\n<<\n/Size " + std::to_string(m_outRecords.size()) + "\n" + updateEntries();
    text += ">>\nstartxref\n" + std::to_string(startxref) + "\n%%EOF\n";
    m_output.write(text);
}

void CIncrementalWriter::writeStream(int64_t startxref)
{
    // The stream lists itself too.
    const int self = beginNewObject();
    std::string index, rows;
    for (const auto& run : writtenRuns()) {
        index += formatText("%s%d %d", index.empty() ? "" : " ", run.first, run.second);
        for (int num = run.first; num < run.first + run.second; ++num) {
            const CXrefRecord& record = m_outRecords[static_cast<size_t>(num)];
            const uint32_t fields[3] = {1, static_cast<uint32_t>(record.offset), static_cast<uint32_t>(record.gen)};
            for (int f = 0; f < 3; ++f)
                for (int byte = kStreamWidths[f] - 1; byte >= 0; --byte)
                    rows += static_cast<char>((fields[f] >> (8 * byte)) & 0xFF);
        }
    }
    // Cross-reference streams are never encrypted.
    std::string text = " 0 obj\n<<\n/Type /XRef\n/Size " + std::to_string(m_outRecords.size());
    text += formatText("\n/W [%d %d %d]\n/Index [%s]\n", kStreamWidths[0], kStreamWidths[1], kStreamWidths[2],
                       index.c_str());
    text += updateEntries();
    text += "/Length " + std::to_string(rows.size()) + "\n>>\nstream\n" + rows + "\nendstream\nendobj\n";
    text += "startxref\n" + std::to_string(startxref) + "\n%%EOF\n";
    m_output.write(text);
    endNewObject(self);
}
