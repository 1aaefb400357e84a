#include "page/CPageStamper.h"

#include "document/CStampRemoval.h"
#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CReporter.h"
#include "page/CStampPainter.h"
#include "page/CStampSettings.h"
#include "page/StampPlacement.h"
#include "write/COutputFile.h"
#include "write/COutputWriter.h"

#include <algorithm>
#include <tuple>

namespace {

// A content stream's dictionary holds its length, and the stamp's its mark.
constexpr std::string_view kContentHead = " 0 obj\n<<\n/Length ";
constexpr std::string_view kContentTail = " \n>>\nstream\n";

// The mark's /Names: the resources the stamp added to the page, each with
// the object it names, so that only those entries are ever taken out again.
std::string namesEntry(const CPageStamper::CNewObjects& objects, int variants = 1)
{
    std::string names = " /Names << ";
    if (objects.numbers.image > 0) {
        names += objects.imageIsFont ? "/Font << /" : "/XObject << /";
        names += objects.names.image + referenceText(" ", objects.numbers.image, " 0 R ");
        for (int variant = 1; variant < variants; ++variant)
            names += "/" + objects.names.imageVariant(variant) +
                     referenceText(" ", objects.numbers.image + variant, " 0 R ");
        if (!objects.verticalImage.empty())
            names += "/" + objects.verticalImage + referenceText(" ", objects.numbers.verticalImage, " 0 R ");
        names += ">> ";
    }
    if (objects.layer > 0)
        names += "/Properties << /" + objects.names.layer + referenceText(" ", objects.layer, " 0 R >> ");
    return names + "/ExtGState << /" + objects.names.state + referenceText(" ", objects.numbers.state, " 0 R >> >>");
}

} // namespace

CPageStamper::CPageStamper(const CStampSettings& settings, std::vector<CPageRecord>& pages, CPdfFile& input,
                           COutputWriter& writer, CReporter& reporter, const CStampPainter& painter,
                           const CNewObjects& objects, std::function<bool(int)> earlierStamp, EKind kind)
    : m_settings(settings), m_pageRecords(pages), m_input(input), m_writer(writer), m_reporter(reporter),
      m_painter(painter),
      m_contents(input.reader(), CContentReader::budgetFor(input.file().size()), std::move(earlierStamp)),
      m_rewriter(CPageRewriter::CContext{input.reader(), input.xref(), writer, objects.names.image,
                                         objects.numbers.image, objects.names.state, objects.numbers.state,
                                         objects.verticalImage, objects.numbers.verticalImage,
                                         objects.imageIsFont ? "Font" : "XObject",
                                         kind == EKind::Annotation ? 0 : objects.layer, objects.names.layer}),
      m_kind(kind), m_markKind(objects.kind), m_imageNum(objects.numbers.image), m_stateNum(objects.numbers.state),
      m_imageCategory(objects.imageIsFont ? "Font" : "XObject"), m_layer(objects.layer)
{
    setMarkEnds(namesEntry(objects));
}

void CPageStamper::setMarkEnds(const std::string& names)
{
    // What follows the mark's /Before (an underlay's /Underlay): the group,
    // whether /Contents was one stream, the names.
    const std::string layer = m_layer > 0 ? referenceText(" /Layer ", m_layer, " 0 R") : std::string();
    m_markEnds[0] = layer + names + " >>\n>>\nstream\n";
    m_markEnds[1] = layer + " /Single true" + names + " >>\n>>\nstream\n";
}

void CPageStamper::usePagePainters(const std::vector<CStampPainter>& painters, const CNewObjects& objects)
{
    m_pagePainters = &painters;
    std::vector<std::string> names;
    for (size_t variant = 0; variant < painters.size(); ++variant)
        names.push_back(objects.names.imageVariant(static_cast<int>(variant)));
    m_rewriter.setImageVariants(names);
    setMarkEnds(namesEntry(objects, static_cast<int>(painters.size())));
}

const std::string& CPageStamper::markEnd(const CPageRecord& page)
{
    return m_markEnds[m_rewriter.contentsIsOneStream(page) ? 1 : 0];
}

int CPageStamper::variantOf(int pageIndex) const
{
    return m_pagePainters ? std::min(pageIndex, static_cast<int>(m_pagePainters->size()) - 1) : 0;
}

const CStampPainter& CPageStamper::painterFor(int pageIndex) const
{
    return m_pagePainters ? (*m_pagePainters)[static_cast<size_t>(variantOf(pageIndex))] : m_painter;
}

bool CPageStamper::selects(int pageIndex) const
{
    if (m_removal)
        return !m_removal->onPage(static_cast<size_t>(pageIndex)).empty();
    return m_settings.selectsPage(pageIndex);
}

void CPageStamper::removeInstead(const CStampRemoval& removal)
{
    m_removal = &removal;
    m_kind = EKind::Remove;
    std::vector<CPageStamps::CName> names;
    for (size_t index = 0; index < m_pageRecords.size(); ++index)
        for (const CPageStamps::CFound& found : removal.onPage(index))
            names.insert(names.end(), found.names.begin(), found.names.end());
    m_rewriter.setNamesToRemove(std::move(names));
}

void CPageStamper::pageMet() { m_reporter.pageWritten(++m_pagesMet); }

bool CPageStamper::CContentMemo::matches(const CPageRecord& page, const CStampFrame& other) const
{
    return used && std::equal(cropBox, cropBox + 4, page.cropBox) && std::equal(trimBox, trimBox + 4, page.trimBox) &&
           rotate == page.rotate && frame.saves == other.saves && frame.restores == other.restores &&
           frame.endText == other.endText;
}

const std::string& CPageStamper::stampContent(const CPageRecord& page, const CStampFrame& frame, int pageIndex)
{
    const auto withDrawing = [&](const CContentMemo& memo) -> const std::string& {
        if (!m_painter.drawsPerPage())
            return memo.content;
        m_pageStamp = memo.content + m_painter.pageDrawing(pageIndex) + memo.after;
        return m_pageStamp;
    };
    const int variant = variantOf(pageIndex);
    const CStampPainter& painter = painterFor(pageIndex);
    for (const CContentMemo& memo : m_memos)
        if (memo.variant == variant && memo.matches(page, frame)) {
            m_mark = &memo.mark;
            return withDrawing(memo);
        }
    CContentMemo& memo = m_memos[m_nextMemo];
    m_nextMemo = (m_nextMemo + 1) % m_memos.size();
    m_mark = &memo.mark;
    memo.used = true;
    std::copy(page.cropBox, page.cropBox + 4, memo.cropBox);
    std::copy(page.trimBox, page.trimBox + 4, memo.trimBox);
    memo.rotate = page.rotate;
    memo.variant = variant;
    memo.frame = frame;
    memo.mark = " \n" + markOf(page, painter).openEntry() + (m_settings.underlay ? " /Underlay true" : " /Before ");
    if (painter.drawsPerPage())
        std::tie(memo.content, memo.after) = painter.stampContentAround(page, frame);
    else
        memo.content = m_kind == EKind::Marks ? painter.marksContent(page, frame) : painter.stampContent(page, frame);
    return withDrawing(memo);
}

const std::string& CPageStamper::prefixContent(const CStampFrame& frame)
{
    if (m_prefixSaves != frame.saves) {
        m_prefix = m_painter.prefixContent(frame);
        m_prefixSaves = frame.saves;
    }
    return m_prefix;
}

void CPageStamper::stamp(int pageIndex, const std::string& pageText)
{
    if (m_kind == EKind::Annotation) {
        annotate(pageIndex, pageText);
        return;
    }
    if (m_kind == EKind::Remove) {
        const CPageRecord& page = m_pageRecords[static_cast<size_t>(pageIndex)];
        if (m_rewriter.removeStamps(pageText, page.objectNumber, page,
                                    m_removal->onPage(static_cast<size_t>(pageIndex)))) {
            ++m_stamped;
        } else {
            m_notRemoved.push_back(pageIndex + 1);
            m_rewriter.writeAsItStands(page);
        }
        return;
    }
    const CPageRecord& page = m_pageRecords[static_cast<size_t>(pageIndex)];
    if (m_settings.underlay) {
        // One stream before the page's content, which starts in the initial
        // state: no frame to learn, no prefix. It carries the mark itself.
        const std::string& content = stampContent(page, CStampFrame(), pageIndex);
        m_markTail.assign(*m_mark);
        m_markTail += markEnd(page);
        const int underlay = m_writer.writeNewStream(kContentHead, m_markTail, content, true);
        m_rewriter.rewritePageObject(pageText, page.objectNumber, page, underlay, 0);
        ++m_stamped;
        return;
    }
    // The streams around the content close what it leaves open.
    const CStampFrame frame = m_contents.frameFor(pageText, page);
    const int prefix = m_writer.writeNewStream(kContentHead, kContentTail, prefixContent(frame));
    const std::string& content = stampContent(page, frame, pageIndex);
    // The mark names the stream before the page's content, which goes with
    // it. Made in one buffer for every page, from parts made once.
    std::string& tail = m_markTail;
    tail.assign(*m_mark);
    appendInteger(tail, prefix);
    tail += " 0 R";
    tail += markEnd(page);
    const int stamp = m_writer.writeNewStream(kContentHead, tail, content, true);
    m_rewriter.rewritePageObject(pageText, page.objectNumber, page, prefix, stamp);
    ++m_stamped;
}

namespace {

// A number for an annotation's dictionary: two decimals, and never "-0".
void appendCoordinate(std::string& text, double value) { appendFixed(text, value + 0.0 == 0.0 ? 0.0 : value, 2); }

} // namespace

void CPageStamper::annotate(int pageIndex, const std::string& pageText)
{
    const CPageRecord& page = m_pageRecords[static_cast<size_t>(pageIndex)];
    const CStampPainter& painter = painterFor(pageIndex);
    const int variant = variantOf(pageIndex);
    const int imageNum = m_imageNum + variant;
    const CStampPainter::CPlacement where = painter.placement(page);
    double m[4];
    rotationMatrix(where.angle, m);

    // The appearance: the image in a form whose box is the stamp's own size,
    // turned by /Matrix as the content stamp is turned, so that it shows
    // upright on a rotated page.
    std::string head = " 0 obj\n<<\n/Type /XObject\n/Subtype /Form\n/BBox [0 0 ";
    appendCoordinate(head, where.width);
    head += ' ';
    appendCoordinate(head, where.height);
    head += "]\n/Matrix [";
    for (double entry : m) {
        appendCoordinate(head, entry);
        head += ' ';
    }
    head += "0 0]\n/Resources << ";
    if (m_imageNum > 0) // none for a text drawn as paths
        head += "/" + std::string(m_imageCategory) + " << /" + painter.names().image +
                referenceText(" ", imageNum, " 0 R >> ");
    head += "/ExtGState << /" + painter.names().state + referenceText(" ", m_stateNum, " 0 R >> >>\n/Length ");
    const int appearance = m_writer.writeNewStream(head, "\n>>\nstream\n", painter.appearanceContent(where, pageIndex));

    // The rectangle the turned image covers, in the page's unrotated space.
    double x0 = where.x, y0 = where.y, x1 = where.x, y1 = where.y;
    for (int corner = 1; corner < 4; ++corner) {
        const double u = corner & 1 ? where.width : 0, v = corner & 2 ? where.height : 0;
        const double x = where.x + m[0] * u + m[2] * v, y = where.y + m[1] * u + m[3] * v;
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    const int annotation = m_writer.beginNewObject();
    // /F 4: printed. Without NoRotate the annotation turns with the page, as the content does.
    std::string dict = " 0 obj\n<<\n/Type /Annot\n/Subtype /Stamp\n/Rect [";
    const double rect[4] = {x0, y0, x1, y1};
    for (int i = 0; i < 4; ++i) {
        appendCoordinate(dict, rect[i]);
        dict += i < 3 ? " " : "";
    }
    const CXrefRecord& record = m_input.xref().records()[static_cast<size_t>(page.objectNumber)];
    // Printed (4); shown on paper alone: NoView too (32); on screen alone: not printed.
    const int flags = m_settings.layerUse == CStampSettings::ELayerUse::PrintOnly    ? 36
                      : m_settings.layerUse == CStampSettings::ELayerUse::ScreenOnly ? 0
                                                                                     : 4;
    dict += "]\n/F " + std::to_string(flags) + "\n";
    if (m_layer > 0)
        dict += referenceText("/OC ", m_layer, " 0 R\n");
    dict += "/P " + referenceText("", page.objectNumber, " ");
    appendInteger(dict, record.objectGen());
    dict += referenceText(" R\n/AP << /N ", appearance, " 0 R >>\n") + markOf(page, painter).openEntry() +
            (m_layer > 0 ? referenceText(" /Layer ", m_layer, " 0 R") : std::string()) + " >>\n>>\nendobj\n";
    m_writer.output().write(dict);
    m_writer.endNewObject(annotation);

    if (m_rewriter.addAnnotation(pageText, page.objectNumber, page, annotation, annotsShared(page)))
        ++m_stamped;
    else
        m_notAnnotated.push_back(pageIndex + 1);
}

CStampMark CPageStamper::markOf(const CPageRecord& page, const CStampPainter& painter) const
{
    CStampMark mark;
    mark.id = m_settings.stampId;
    mark.kind = m_markKind;
    const CStampRect seen = painter.displayedRect(page);
    mark.x = seen.x;
    mark.y = seen.y;
    mark.width = seen.width;
    mark.height = seen.height;
    return mark;
}

bool CPageStamper::annotsShared(const CPageRecord& page)
{
    if (!page.annots.present || page.annots.type != PDF_REF)
        return false;
    if (m_annotsUsers.empty())
        for (const CPageRecord& other : m_pageRecords)
            if (other.firstOccurrence && other.annots.present && other.annots.type == PDF_REF)
                ++m_annotsUsers[other.annots.num];
    return m_annotsUsers[page.annots.num] > 1;
}
