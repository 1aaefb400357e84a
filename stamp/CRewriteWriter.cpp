#include "stamp/CRewriteWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypt/CSecurityHandler.h"
#include "document/CStampRemoval.h"
#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CPageStamper.h"
#include "page/StampObjects.h"
#include "pdf/CPdfException.h"
#include "write/COutputFile.h"
#include "write/CWrittenObjects.h"

namespace {

// Object offsets are kept in 32 bits: past 2 GB they would wrap, and the
// table would lose the objects.
constexpr int64_t kMaxOutputOffset = 0x7FFFFFFF;

} // namespace

CRewriteWriter::CRewriteWriter(COutputFile& output, CPdfFile& input, const CWrittenObjects* previousRun,
                               CWrittenObjects* written)
    : COutputWriter(output, input, written), m_previousRun(previousRun)
{
}

void CRewriteWriter::begin() { copyHeader(); }

void CRewriteWriter::copyHeader()
{
    // Everything before the lowest-placed uncompressed object: the header
    // line and whatever stands with it. Offsets count from the header, so
    // bytes before "%PDF-" stay behind.
    CXrefTable& xref = m_input.xref();
    CFileSource& file = m_input.file();
    const std::vector<CXrefRecord>& input = xref.records();
    int64_t lowest = -1;
    int lowestNum = 0;
    for (size_t i = 1; i < input.size(); ++i) {
        if (input[i].type == XREF_IN_FILE && input[i].offset > 0 && (lowest < 0 || input[i].offset < lowest)) {
            lowest = input[i].offset;
            lowestNum = static_cast<int>(i);
        }
    }
    const int64_t base = xref.baseOffset();
    // In a damaged file the lowest record may point past the first object, or
    // into one: then only the header's comment lines are taken.
    CPdfObjectHead head;
    if (lowest > 0 && m_input.reader().head(lowestNum, head) && input[static_cast<size_t>(lowestNum)].offset == lowest) {
        m_output.copyFrom(file, base, std::min<int64_t>(lowest, file.size() - base));
        return;
    }
    // The header line, and the comment lines that follow it (the binary marker).
    std::vector<char> bytes(1024);
    bytes.resize(file.read(base, bytes.data(), bytes.size()));
    size_t end = 0;
    do {
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        if (end < bytes.size())
            ++end;
    } while (end < bytes.size() && bytes[end] == '%');
    m_output.write(bytes.data(), end);
    if (end == 0 || (bytes[end - 1] != '\n' && bytes[end - 1] != '\r'))
        m_output.write("\n");
}

void CRewriteWriter::writeObjects(CPageStamper& stamper)
{
    CXrefTable& xref = m_input.xref();
    CObjectReader& reader = m_input.reader();
    std::vector<CPageRecord>& pages = stamper.pageRecords();
    const std::vector<CXrefRecord>& input = xref.records();
    const int count = static_cast<int>(input.size());
    m_outRecords.reserve(m_outRecords.size() + 2 * pages.size() + 16); // two streams per page, and a few more
    if (m_written)
        m_written->reserve(m_outRecords.size() + 2 * pages.size()); // the input's objects, and two streams per page
    mendPageTree(pages);
    // Each page object is written at its first place in the tree.
    std::vector<int> firstPage(input.size(), -1);
    for (size_t j = 0; j < pages.size(); ++j) {
        const int num = pages[j].objectNumber;
        if (pages[j].firstOccurrence && num >= 0 && num < count)
            firstPage[static_cast<size_t>(num)] = static_cast<int>(j);
    }

    // Object 0 heads the free list; an entry in use for it names nothing.
    for (int i = 1; i < count; ++i) {
        const CXrefRecord& in = input[static_cast<size_t>(i)];
        if (in.type == XREF_FREE || m_outRecords[static_cast<size_t>(i)].type == XREF_IN_FILE)
            continue;
        if (m_removal && m_removal->drops(i))
            continue;
        // An entry that cannot be written as a 20-byte table line names no usable object.
        if (in.type == XREF_IN_FILE && (in.gen < 0 || in.gen > 65535))
            continue;

        const int pageIndex = firstPage[static_cast<size_t>(i)];
        const bool stamped = pageIndex >= 0 && stamper.selects(pageIndex);

        // Uncompressed objects are located in the file and, unless they are
        // pages to rewrite, copied from there as they stand.
        std::string text;
        CObjectSpan span;
        bool known = false;
        if (stamped && !pages[static_cast<size_t>(pageIndex)].text.empty()) {
            text = std::move(pages[static_cast<size_t>(pageIndex)].text); // read by the walk
        } else if (in.type == XREF_IN_FILE && m_previousRun &&
                   m_previousRun->find(i, xref.baseOffset() + in.offset, span)) {
            // An object an earlier pass made: its place is known, and it will
            // be known in this output too.
            known = true;
        } else if (in.type == XREF_IN_FILE) {
            // A record that points at another object's text would file that
            // object under our number; the reader looks for ours instead.
            if (!reader.span(i, span) || span.num != i) {
                xref.reportUnusable(i);
                continue;
            }
        } else {
            text = reader.text(i);
            if (text.empty()) {
                xref.reportUnusable(i);
                continue;
            }
        }

        // Object streams are dropped: their objects come out one by one. Only a
        // stream stored in the file can be one.
        if (span.isObjectStream)
            continue;

        m_outRecords[static_cast<size_t>(i)].offset = static_cast<int32_t>(m_output.position());
        if (pageIndex >= 0)
            stamper.pageMet();
        if (stamped) {
            if (text.empty())
                text = reader.text(i);
            stamper.stamp(pageIndex, text);
        } else if (pageIndex >= 0 && pages[static_cast<size_t>(pageIndex)].newParent > 0) {
            stamper.writeAsItStands(pages[static_cast<size_t>(pageIndex)]);
        } else if (in.type == XREF_IN_FILE) {
            const int64_t start = m_output.position();
            CFileSource& file = m_input.file();
            span.forEachPiece([&](int64_t begin, int64_t length) { m_output.copyFrom(file, begin, length); },
                              [&](std::string_view piece) { m_output.write(piece); });
            if (known && m_written)
                m_written->add(i, start, m_output.position(), m_previousRun->isStamp(i, xref.baseOffset() + in.offset));
        } else {
            m_output.write(text);
        }
        CXrefRecord& out = m_outRecords[static_cast<size_t>(i)];
        out.type = XREF_IN_FILE;
        out.gen = in.objectGen();
    }
}

void CRewriteWriter::finish()
{
    const int64_t startxref = m_output.position();
    if (startxref > kMaxOutputOffset)
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "\nOutput file would be larger than 2 GB, which is not supported: '%s'\n",
                                       m_output.name());
    writeXrefTable();
    writeTrailer(startxref);
}

void CRewriteWriter::writeXrefTable()
{
    const size_t size = m_outRecords.size();
    m_output.write(formatText("xref\n0 %lld\r", static_cast<long long>(size)));
    // "%010d %05d n \r", or the free entry "0000000000 00000 f \r": 20 bytes each.
    static constexpr size_t kEntry = 20;
    static constexpr char kFree[kEntry + 1] = "0000000000 00000 f \r";
    static constexpr size_t kLines = 4096;
    std::vector<char> lines(std::min(kLines, std::max<size_t>(size, 1)) * kEntry);
    size_t count = 0;
    std::memcpy(lines.data(), "0000000000 65535 f \r", kEntry);
    ++count;
    for (size_t i = 1; i < size; ++i) {
        const CXrefRecord& record = m_outRecords[i];
        bool inUse = record.type != XREF_FREE && record.offset >= 0 && record.gen >= 0 && record.gen <= 65535;
        char* entry = lines.data() + count * kEntry;
        std::memcpy(entry, kFree, kEntry);
        if (inUse) {
            writeZeroPadded(entry + 10, static_cast<uint32_t>(record.offset), 10);
            writeZeroPadded(entry + 16, static_cast<uint32_t>(record.gen), 5);
            entry[17] = 'n';
        }
        if (++count == kLines) {
            m_output.write(lines.data(), count * kEntry);
            count = 0;
        }
    }
    m_output.write(lines.data(), count * kEntry);
}

void CRewriteWriter::writeTrailer(int64_t startxref)
{
    std::string trailer = "trailer\n<<\n/Size ";
    trailer += std::to_string(m_outRecords.size());
    trailer += "\n" + trailerEntries(false);
    trailer += ">>\nstartxref\n";
    trailer += std::to_string(startxref);
    trailer += "\n%%EOF";
    m_output.write(trailer);
}
