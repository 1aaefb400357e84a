#include "stamp/CStampJob.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "load/CFileSource.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "platform/Platform.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "stamp/CContentReader.h"
#include "stamp/CPageRewriter.h"
#include "stamp/CPageTreeWalker.h"
#include "stamp/StampObjects.h"
#include "stamp/StampPlacement.h"

namespace {

// JPEG lengths are written as /Length and copied whole; like PDF inputs, files
// past 2 GB are refused rather than written wrongly.
constexpr int64_t kMaxJpegSize = 0x7FFFFFFF;
constexpr int64_t kMaxOutputOffset = 0x7FFFFFFF;

int clampToInt(int64_t value) { return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value); }

} // namespace

CStampJob::CStampJob() = default;

CStampJob::~CStampJob() = default;

// ---------------------------------------------------------------- driver

void CStampJob::stampFile()
{
    m_pagesMet = 0;
    if (useEnd) {
        int count = 0;
        try {
            count = countPages(inputPath);
        } catch (...) {
            closeAll();
            throw CPdfException("\nProblem with -send or -eend parameters/processing.\n");
        }
        if (startPage == 0)
            startPage = clampToInt(static_cast<int64_t>(count) - startFromEnd);
        if (endPage == 0)
            endPage = clampToInt(static_cast<int64_t>(count) - endFromEnd);
    }
    try {
        runStamp();
    } catch (...) {
        m_output.discard();
        closeAll();
        throw;
    }
}

bool CStampJob::CWrittenObjects::matches(const CFileSource& file) const
{
    return size >= 0 && file.device() == device && file.inode() == inode && file.size() == size;
}

void CStampJob::CWrittenObjects::identify(const std::string& path)
{
    platform::FileIdentity identity = platform::identify(path);
    size = identity.exists ? identity.size : -1;
    device = identity.device;
    inode = identity.inode;
}

void CStampJob::CWrittenObjects::add(int num, int64_t start, int64_t end, bool stamp)
{
    if (num < 0 || start < 0 || end >= kUnknown)
        return;
    if (num >= static_cast<int>(offsets.size())) {
        offsets.resize(static_cast<size_t>(num) + 1, kUnknown);
        lengths.resize(static_cast<size_t>(num) + 1, 0);
        stamps.resize(static_cast<size_t>(num) + 1, false);
    }
    offsets[static_cast<size_t>(num)] = static_cast<uint32_t>(start);
    lengths[static_cast<size_t>(num)] = static_cast<uint32_t>(end - start);
    stamps[static_cast<size_t>(num)] = stamp;
}

bool CStampJob::CWrittenObjects::isStamp(int num, int64_t offset) const
{
    return num >= 0 && num < static_cast<int>(offsets.size()) && offsets[static_cast<size_t>(num)] != kUnknown &&
           offsets[static_cast<size_t>(num)] == offset && stamps[static_cast<size_t>(num)];
}

bool CStampJob::CWrittenObjects::find(int num, int64_t offset, CObjectSpan& span) const
{
    if (num < 0 || num >= static_cast<int>(offsets.size()) || offsets[static_cast<size_t>(num)] == kUnknown ||
        offsets[static_cast<size_t>(num)] != offset)
        return false;
    span = CObjectSpan();
    span.start = offset;
    span.length = lengths[static_cast<size_t>(num)];
    span.num = num;
    return true;
}

void CStampJob::closeAll()
{
    m_contents.reset();
    m_rewriter.reset();
    m_reader.reset();
    m_document.close();
    m_xref = nullptr;
    m_inputFile.reset();
    m_imageFile.reset();
}

void CStampJob::loadInput(const std::string& path)
{
    m_inputFile = CFileSource::open(path);
    if (!m_inputFile)
        throw CPdfException("Input file open error\n");
    loadDocument();
}

void CStampJob::loadDocument()
{
    m_reader.reset();
    m_document.close();
    m_xref = nullptr;
    m_document.open(m_inputFile, &m_repairs);
    m_xref = m_document.xref();
    // Stamping changes the document: bit 4 of /P must allow that.
    if (m_xref->securityHandler() && !m_xref->securityHandler()->allowsModifying()) {
        m_document.close();
        m_xref = nullptr;
        throw CPdfException("PDF file is encrypted, and its permissions do not allow changing it");
    }
    m_reader = std::make_unique<CObjectReader>(*m_inputFile, *m_xref);
    m_rootObjNum = m_xref->rootNum();
    m_rootGen = m_xref->rootGen();
    m_infoObjNum = m_xref->infoNum();
    m_infoGen = m_xref->infoGen();
}

int CStampJob::countPages(const std::string& path)
{
    m_inputFile = CFileSource::open(path);
    if (!m_inputFile)
        throw CPdfException("Can't open file");
    std::printf("Parsing file: %s", path.c_str());
    loadDocument();
    findPages();
    return m_pageCount;
}

void CStampJob::runStamp()
{
    m_inputFile = CFileSource::open(inputPath);
    if (!marksRun())
        std::printf("Input file: '%s'", inputPath.c_str());
    if (!m_inputFile)
        throw CPdfException("Input file open error\n");
    loadDocument();
    m_outRecords.assign(static_cast<size_t>(m_xref->recordCount()), CXrefRecord());
    // A mark pass reading the previous pass's output already knows where the
    // objects that pass made stand.
    m_knownObjects = CWrittenObjects();
    if (m_writtenObjects.matches(*m_inputFile))
        m_knownObjects = std::move(m_writtenObjects);
    m_writtenObjects = CWrittenObjects();
    m_contents = std::make_unique<CContentReader>(
        *m_reader, CContentReader::budgetFor(m_inputFile->size()), [this](int num) {
            const std::vector<CXrefRecord>& records = m_xref->records();
            return num >= 0 && num < static_cast<int>(records.size()) &&
                   records[static_cast<size_t>(num)].type == XREF_IN_FILE &&
                   m_knownObjects.isStamp(num, m_xref->baseOffset() + records[static_cast<size_t>(num)].offset);
        });

    if (!imagePath)
        throw CPdfException("-j parameter missing");
    m_imageFile = CFileSource::open(*imagePath);
    if (!m_imageFile)
        throw CPdfException::formatted("\nInput image file error: '%s'\n", *imagePath);
    if (m_imageFile->size() > kMaxJpegSize)
        throw CPdfException::formatted("\nInput image file is larger than 2 GB: '%s'\n", *imagePath);
    m_jpeg = JpegInfo();
    if (!readJpegSize(*m_imageFile, m_jpeg))
        throw CPdfException::formatted("\nInput image file is not a JPEG image (no frame header found): '%s'\n",
                                       *imagePath);
    // A cut-off image would be copied into the output as it is, and shown damaged.
    if (!jpegReachesEnd(*m_imageFile))
        throw CPdfException::formatted(
            "\nInput image file error (the data ends before the end-of-image marker): '%s'\n", *imagePath);

    if (intermediateOutput) {
        m_output.createIntermediate(outputPath); // a new file: it cannot be an input
    } else {
        // Writing over an input while reading it would destroy it.
        platform::FileIdentity target = platform::identify(outputPath);
        for (const CFileSource* input : {m_inputFile.get(), m_imageFile.get()})
            if (target.exists && target.device == input->device() && target.inode == input->inode())
                throw CPdfException::formatted("\nOutput file is the input file: '%s'\n", outputPath);
        m_output.create(outputPath);
    }

    if (!marksRun()) {
        std::printf(", image file: '%s'", imagePath->c_str());
        std::printf(", output file: '%s'\n", outputPath.c_str());
        std::printf("Processing");
    }

    copyHeader();
    findPages();
    chooseResourceNames();

    writeGraphicsStateObject();
    writeImageObject();
    if (sizeX == -1)
        sizeX = m_jpeg.width;
    if (sizeY == -1)
        sizeY = m_jpeg.height;

    copyObjects();

    int64_t startxref = m_output.position();
    // Object offsets are kept in 32 bits: past 2 GB they would wrap, and the
    // table would lose the objects.
    if (startxref > kMaxOutputOffset)
        throw CPdfException::formatted("\nOutput file would be larger than 2 GB, which is not supported: '%s'\n",
                                       outputPath);
    writeXrefTable();
    writeTrailer(startxref);
    m_output.commit();
    if (marksRun())
        m_writtenObjects.identify(m_output.writtenPath());
    else
        m_writtenObjects = CWrittenObjects();
    closeAll();
}

void CStampJob::findPages()
{
    CPdfObject catalog;
    m_xref->fetchObject(m_rootObjNum, m_rootGen, catalog);
    CPdfObject pages;
    if (catalog.type() == PDF_DICT)
        catalog.dictValue()->getValueUnresolved("Pages", pages);
    if (pages.type() != PDF_REF) {
        // No tree: a document without pages, copied as it stands.
        m_pageRecords.clear();
        m_pageCount = 0;
        m_xref->repairLog().noPageTree();
        return;
    }
    m_pagesObjNum = pages.refNum();
    walkPageTree(m_pagesObjNum);
}

void CStampJob::walkPageTree(int rootNum)
{
    m_pageRecords.clear();
    CPageTreeWalker walker(*m_reader);
    walker.walk(rootNum, m_pageRecords);
    // Without an integer /Count, the pages the walk finds are the pages.
    const CPdfObject& count = walker.rootCount();
    m_pageCount = count.type() == PDF_INT ? count.intValue() : static_cast<int>(m_pageRecords.size());
}

void CStampJob::chooseResourceNames()
{
    int64_t n;
    if (m_fixedResourceNumber) {
        n = *m_fixedResourceNumber;
    } else {
        platform::ClockReading clock = platform::readClock();
        std::srand(static_cast<unsigned>(clock.seconds + clock.milliseconds));
        n = static_cast<int64_t>(std::rand()) + clock.milliseconds % 1000000;
    }
    // Passes of one job (the marks) follow each other within a millisecond
    // and would draw the same number: the names of an earlier pass are still
    // in the pages' resources, so a repeat would make duplicate keys.
    while (!m_usedResourceNumbers.insert(n).second)
        ++n;
    m_gsName = formatText("GS%lld", static_cast<long long>(n));
    m_imName = formatText("Im%lld", static_cast<long long>(n));
}

int CStampJob::beginNewObject()
{
    int num = static_cast<int>(m_outRecords.size());
    CXrefRecord record;
    record.offset = static_cast<int32_t>(m_output.position());
    record.gen = 0;
    record.type = XREF_IN_FILE;
    m_outRecords.push_back(record);
    writeNumber(num);
    return num;
}

void CStampJob::endNewObject(int num, bool stamp)
{
    if (marksRun())
        m_writtenObjects.add(num, m_outRecords[static_cast<size_t>(num)].offset, m_output.position(), stamp);
}

void CStampJob::writeGraphicsStateObject()
{
    m_gsObjNum = beginNewObject();
    m_output.write(formatGraphicsStateObject(static_cast<float>(opacity)));
    endNewObject(m_gsObjNum);
}

void CStampJob::writeImageObject()
{
    const int64_t length = m_imageFile->size();
    m_imObjNum = beginNewObject();
    if (const CSecurityHandler* security = m_xref->securityHandler()) {
        std::string jpeg(static_cast<size_t>(length), '\0');
        if (m_imageFile->read(0, jpeg.data(), jpeg.size()) != jpeg.size())
            throw CPdfException::formatted("\nInput image file error: '%s'\n", *imagePath);
        const std::string data = security->encryptStream(m_imObjNum, 0, jpeg);
        m_output.write(formatImageObjectHeader(static_cast<int64_t>(data.size()), m_jpeg));
        m_output.write(data);
    } else {
        m_output.write(formatImageObjectHeader(length, m_jpeg));
        m_output.copyFrom(*m_imageFile, 0, length);
    }
    m_output.write("\nendstream\nendobj\n");
    endNewObject(m_imObjNum);
}

void CStampJob::writeContentStream(int num, const std::string& content)
{
    m_output.write(formatStreamObject(m_xref->securityHandler()->encryptStream(num, 0, content)));
}

bool CStampJob::isPageSelected(int pageIndex) const
{
    int64_t page = static_cast<int64_t>(pageIndex) + 1;
    if (page < startPage || page > endPage)
        return false;
    if (everyNth != 0 && (static_cast<int64_t>(pageIndex) + startPage) % everyNth == 0)
        return false;
    return true;
}

void CStampJob::printProgress()
{
    // Shown at once to someone watching.
    if (++m_pagesMet % 6 == 0) {
        std::fputs(".", stdout);
        static const bool watched = platform::stdoutIsTerminal();
        if (watched)
            std::fflush(stdout);
    }
}

void CStampJob::copyObjects()
{
    const std::vector<CXrefRecord>& input = m_xref->records();
    const int count = static_cast<int>(input.size());
    if (marksRun()) {
        // The output's objects: the input's, and two streams per page.
        const size_t objects = m_outRecords.size() + 2 * m_pageRecords.size();
        m_writtenObjects.offsets.reserve(objects);
        m_writtenObjects.lengths.reserve(objects);
    }
    std::vector<int> firstPage(input.size(), -1);
    for (size_t j = m_pageRecords.size(); j-- > 0;) {
        int num = m_pageRecords[j].objectNumber;
        if (num >= 0 && num < count)
            firstPage[static_cast<size_t>(num)] = static_cast<int>(j);
    }

    // Object 0 heads the free list; an entry in use for it names nothing.
    for (int i = 1; i < count; ++i) {
        const CXrefRecord& in = input[static_cast<size_t>(i)];
        if (in.type == XREF_FREE || m_outRecords[static_cast<size_t>(i)].type == XREF_IN_FILE)
            continue;
        // An entry that cannot be written as a 20-byte table line names no usable object.
        if (in.type == XREF_IN_FILE && (in.gen < 0 || in.gen > 65535))
            continue;

        const int pageIndex = firstPage[static_cast<size_t>(i)];
        const bool stamped = pageIndex >= 0 && isPageSelected(pageIndex);

        // Uncompressed objects are located in the file and, unless they are
        // pages to rewrite, copied from there as they stand.
        std::string text;
        CObjectSpan span;
        bool known = false;
        if (stamped && !m_pageRecords[static_cast<size_t>(pageIndex)].text.empty()) {
            text = std::move(m_pageRecords[static_cast<size_t>(pageIndex)].text); // read by the walk
        } else if (in.type == XREF_IN_FILE && m_knownObjects.find(i, m_xref->baseOffset() + in.offset, span)) {
            // An object an earlier pass made: its place is known, and it will
            // be known in this output too.
            known = true;
        } else if (in.type == XREF_IN_FILE) {
            // A record that points at another object's text would file that
            // object under our number; the reader looks for ours instead.
            if (!m_reader->span(i, span) || span.num != i) {
                m_xref->reportUnusable(i);
                continue;
            }
        } else {
            text = m_reader->text(i);
            if (text.empty()) {
                m_xref->reportUnusable(i);
                continue;
            }
        }

        // Object streams are dropped: their objects come out one by one. Only a
        // stream stored in the file can be one.
        if (span.isObjectStream)
            continue;

        m_outRecords[static_cast<size_t>(i)].offset = static_cast<int32_t>(m_output.position());
        if (pageIndex >= 0)
            printProgress();
        if (stamped) {
            if (text.empty())
                text = m_reader->text(i);
            // The streams around the content close what it leaves open.
            const CStampFrame frame = m_contents->frameFor(text, m_pageRecords[static_cast<size_t>(pageIndex)]);
            const bool encrypted = m_xref->securityHandler() != nullptr;
            const int prefix = beginNewObject();
            if (encrypted)
                writeContentStream(prefix, formatPrefixContent(frame));
            else
                m_output.write(buildPrefixStream(frame));
            endNewObject(prefix);
            const int stamp = beginNewObject();
            if (encrypted)
                writeContentStream(stamp, buildStampContent(pageIndex, frame));
            else
                m_output.write(buildStampStream(pageIndex, frame));
            endNewObject(stamp, true);
            rewritePageObject(text, i, pageIndex, prefix, stamp);
        } else if (in.type == XREF_IN_FILE) {
            const int64_t start = m_output.position();
            if (span.lengthCorrected()) {
                m_output.copyFrom(*m_inputFile, span.start, span.lengthBegin - span.start);
                m_output.write(span.lengthText);
                m_output.copyFrom(*m_inputFile, span.lengthEnd, span.start + span.length - span.lengthEnd);
            } else {
                m_output.copyFrom(*m_inputFile, span.start, span.length);
            }
            if (span.endobjMissing)
                m_output.write(CObjectSpan::kEndobj);
            if (known && marksRun())
                m_writtenObjects.add(i, start, m_output.position(),
                                     m_knownObjects.isStamp(i, m_xref->baseOffset() + in.offset));
        } else {
            m_output.write(text);
        }
        CXrefRecord& out = m_outRecords[static_cast<size_t>(i)];
        out.type = XREF_IN_FILE;
        out.gen = in.type == XREF_IN_OBJSTM ? 0 : in.gen;
    }
}

void CStampJob::rewritePageObject(const std::string& pageText, int pageNum, int pageIndex, int prefixNum,
                                  int stampNum)
{
    if (!m_rewriter) {
        CPageRewriter::CContext context{*m_reader, *m_xref,   m_output, m_outRecords,
                                        m_imName,  m_imObjNum, m_gsName, m_gsObjNum};
        m_rewriter = std::make_unique<CPageRewriter>(context);
    }
    m_rewriter->rewrite(pageText, pageNum, m_pageRecords[static_cast<size_t>(pageIndex)], prefixNum, stampNum);
}

// ---------------------------------------------------------------- header, table, trailer

void CStampJob::copyHeader()
{
    // Everything before the lowest-placed uncompressed object: the header
    // line and whatever stands with it. Offsets count from the header, so
    // bytes before "%PDF-" stay behind.
    const std::vector<CXrefRecord>& input = m_xref->records();
    int64_t lowest = -1;
    int lowestNum = 0;
    for (size_t i = 1; i < input.size(); ++i) {
        if (input[i].type == XREF_IN_FILE && input[i].offset > 0 && (lowest < 0 || input[i].offset < lowest)) {
            lowest = input[i].offset;
            lowestNum = static_cast<int>(i);
        }
    }
    const int64_t base = m_xref->baseOffset();
    // In a damaged file the lowest record may point past the first object, or
    // into one: then only the header's comment lines are taken.
    CPdfObjectHead head;
    if (lowest > 0 && m_reader->head(lowestNum, head) && input[static_cast<size_t>(lowestNum)].offset == lowest) {
        m_output.copyFrom(*m_inputFile, base, std::min<int64_t>(lowest, m_inputFile->size() - base));
        return;
    }
    // The header line, and the comment lines that follow it (the binary marker).
    std::vector<char> bytes(1024);
    bytes.resize(m_inputFile->read(base, bytes.data(), bytes.size()));
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

void CStampJob::writeNumber(int64_t value)
{
    std::string digits;
    appendInteger(digits, static_cast<long long>(value));
    m_output.write(digits);
}

void CStampJob::writeXrefTable()
{
    const size_t size = m_outRecords.size();
    m_output.write(formatText("xref\n0 %lld\r", static_cast<long long>(size)));
    std::string lines;
    lines.reserve(64 * 1024 + 20);
    lines += "0000000000 65535 f \r";
    for (size_t i = 1; i < size; ++i) {
        const CXrefRecord& record = m_outRecords[i];
        bool inUse = record.type != XREF_FREE && record.offset >= 0 && record.gen >= 0 && record.gen <= 65535;
        // "%010d %05d n \r", or the free entry "0000000000 00000 f \r": 20 bytes each.
        char entry[20] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', ' ',
                          '0', '0', '0', '0', '0', ' ', 'f', ' ', '\r'};
        if (inUse) {
            uint32_t offset = static_cast<uint32_t>(record.offset);
            for (int k = 9; k >= 0; --k, offset /= 10)
                entry[k] = static_cast<char>('0' + offset % 10);
            uint32_t gen = static_cast<uint32_t>(record.gen);
            for (int k = 15; k >= 11; --k, gen /= 10)
                entry[k] = static_cast<char>('0' + gen % 10);
            entry[17] = 'n';
        }
        lines.append(entry, 20);
        if (lines.size() >= 64 * 1024) {
            m_output.write(lines);
            lines.clear();
        }
    }
    m_output.write(lines);
}

void CStampJob::writeTrailer(int64_t startxref)
{
    std::string trailer = "trailer\n<<\n/Size ";
    trailer += std::to_string(m_outRecords.size());
    trailer += formatText("\n/Root %d %d R\n", m_rootObjNum, m_rootGen);
    if (m_infoObjNum != 0)
        trailer += formatText("/Info %d %d R\n", m_infoObjNum, m_infoGen);
    // The same dictionary and /ID give the same key, passwords and permissions.
    if (m_xref->securityHandler()) {
        trailer += m_xref->encryptEntryText() + "\n";
        if (!m_xref->idEntryText().empty())
            trailer += m_xref->idEntryText() + "\n";
    }
    trailer += ">>\nstartxref\n";
    trailer += std::to_string(startxref);
    trailer += "\n%%EOF";
    m_output.write(trailer);
}

// ---------------------------------------------------------------- objects and placement

std::string CStampJob::buildPrefixStream(const CStampFrame& frame) const { return formatPrefixStream(frame); }

void CStampJob::computePlacement(int pageIndex)
{
    const CPageRecord& page = m_pageRecords[static_cast<size_t>(pageIndex)];
    PlacementSettings settings;
    settings.posX = posX;
    settings.posY = posY;
    settings.sizeX = sizeX;
    settings.flipV = flipV;
    settings.flipH = flipH;
    settings.forcePortrait = forcePortrait;
    settings.align = align;
    Placement placement = computeStampPlacement(settings, page.cropBox, page.rotate);
    m_anchorX = placement.anchorX;
    m_anchorY = placement.anchorY;
    m_angle = placement.angle;
}

std::string CStampJob::buildStampStream(int pageIndex, const CStampFrame& frame)
{
    return formatStreamObject(buildStampContent(pageIndex, frame));
}

std::string CStampJob::buildStampContent(int pageIndex, const CStampFrame& frame)
{
    computePlacement(pageIndex);
    const CPageRecord& page = m_pageRecords[static_cast<size_t>(pageIndex)];
    double x = m_anchorX, y = m_anchorY, width = sizeX, height = sizeY;
    // A corner flag fixes the stamp to that corner mark; the last set one in this order wins.
    const struct {
        bool set;
        ECornerMark mark;
        const float* box;
    } corners[] = {
        {trimBlv, MARK_BLV, page.trimBox}, {trimBlh, MARK_BLH, page.trimBox}, {trimTlv, MARK_TLV, page.trimBox},
        {trimTlh, MARK_TLH, page.trimBox}, {trimBrv, MARK_BRV, page.trimBox}, {trimBrh, MARK_BRH, page.trimBox},
        {trimTrv, MARK_TRV, page.trimBox}, {trimTrh, MARK_TRH, page.trimBox}, {cropBlv, MARK_BLV, page.cropBox},
        {cropBlh, MARK_BLH, page.cropBox}, {cropTlv, MARK_TLV, page.cropBox}, {cropTlh, MARK_TLH, page.cropBox},
        {cropBrv, MARK_BRV, page.cropBox}, {cropBrh, MARK_BRH, page.cropBox}, {cropTrv, MARK_TRV, page.cropBox},
        {cropTrh, MARK_TRH, page.cropBox},
    };
    float angle = m_angle;
    for (const auto& corner : corners) {
        if (!corner.set)
            continue;
        MarkGeometry mark = cornerMarkGeometry(corner.mark, corner.box);
        x = mark.x;
        y = mark.y;
        width = mark.width;
        height = mark.height;
        // The mark's place is a box corner in page space: turning it with the
        // page's rotation would swing it away from the corner.
        angle = 0.0f;
    }
    return formatStampContent(m_gsName, m_imName, x, y, angle, width, height, frame);
}
