#include "page/CStampPainter.h"

#include "document/CPageRecord.h"
#include "image/CStampImage.h"
#include "page/CStampSettings.h"
#include "page/StampPlacement.h"

#include <algorithm>
#include <cmath>

CStampPainter::CStampPainter(const CStampSettings& settings, double imageWidth, double imageHeight,
                             CResourceNames names, const CStampDraw& draw, std::string verticalImage,
                             const CStampImage* perPage)
    : m_settings(settings), m_width(settings.sizeX == -1 ? imageWidth : settings.sizeX),
      m_height(settings.sizeY == -1 ? imageHeight : settings.sizeY), m_names(std::move(names)), m_draw(draw),
      m_verticalImage(std::move(verticalImage)), m_perPage(perPage)
{
}

std::string CStampPainter::prefixContent(const CStampFrame& frame) const { return buildPrefixStream(frame); }

std::string CStampPainter::restoreContent(const CStampFrame& frame) const
{
    // An underlay runs first, in the initial state: there is nothing to restore.
    return m_settings.underlay ? std::string() : formatStampRestore(frame);
}

std::string CStampPainter::stampContent(const CPageRecord& page, const CStampFrame& frame) const
{
    const CPlacement where = placement(page);
    return restoreContent(frame) + formatStampDraw(m_names.state, m_names.image, where.x, where.y, where.angle,
                                                   where.width, where.height, m_draw);
}

std::pair<std::string, std::string> CStampPainter::stampContentAround(const CPageRecord& page,
                                                                      const CStampFrame& frame) const
{
    const CPlacement where = placement(page);
    auto around =
        formatStampDrawAround(m_names.state, where.x, where.y, where.angle, where.width, where.height, m_draw);
    around.first.insert(0, restoreContent(frame));
    return around;
}

std::string CStampPainter::pageDrawing(int pageIndex) const
{
    return m_perPage ? m_perPage->pageContent(pageIndex, m_names.image) : std::string();
}

CStampRect CStampPainter::displayedRect(const CPageRecord& page) const
{
    const CPlacement where = placement(page);
    return ::displayedRect(where.x, where.y, where.angle, where.width, where.height, page.cropBox, page.rotate);
}

CStampPainter::CPlacement CStampPainter::placement(const CPageRecord& page) const
{
    PlacementSettings placement;
    placement.posX = m_settings.posX;
    placement.posY = m_settings.posY;
    placement.sizeX = m_width;
    placement.flipV = m_settings.flipV;
    placement.flipH = m_settings.flipH;
    placement.forcePortrait = m_settings.forcePortrait;
    placement.align = m_settings.align;
    const Placement anchor = computePlacement(placement, page.cropBox, page.rotate);
    CPlacement where;
    where.x = anchor.anchorX;
    where.y = anchor.anchorY;
    where.width = m_width;
    where.height = m_height;
    where.angle = anchor.angle;
    if (m_settings.diagonal) {
        where = alongDiagonal(page);
    } else if (m_settings.rotate != 0) {
        // About the point -pos names, where a left-aligned stamp has its corner.
        placement.align = "left";
        const Placement pivot = computePlacement(placement, page.cropBox, page.rotate);
        double m[4];
        rotationMatrix(static_cast<float>(m_settings.rotate), m);
        const double u = where.x - pivot.anchorX, v = where.y - pivot.anchorY;
        where.x = pivot.anchorX + m[0] * u + m[2] * v;
        where.y = pivot.anchorY + m[1] * u + m[3] * v;
        where.angle = static_cast<float>(where.angle + m_settings.rotate);
    }
    // A corner mark fixes the stamp to it; the last chosen in their order wins.
    for (size_t index = 0; index < kCornerMarkCount; ++index) {
        if (!m_settings.corners[index])
            continue;
        const CCornerMark& corner = kCornerMarks[index];
        const MarkGeometry mark =
            cornerMarkGeometry(corner.mark, corner.box == EMarkBox::TRIM ? page.trimBox : page.cropBox);
        where.x = mark.x;
        where.y = mark.y;
        where.width = mark.width;
        where.height = mark.height;
        // The mark's place is a box corner in page space: turning it with the
        // page's rotation would swing it away from the corner.
        where.angle = 0.0f;
    }
    return where;
}

CStampPainter::CPlacement CStampPainter::alongDiagonal(const CPageRecord& page) const
{
    const float* box = page.cropBox;
    const int turn = m_settings.forcePortrait ? page.rotate : 0;
    const bool sideways = turn == 90 || turn == 270;
    const double pageWidth = box[2] - box[0], pageHeight = box[3] - box[1];
    const double shownWidth = sideways ? pageHeight : pageWidth, shownHeight = sideways ? pageWidth : pageHeight;
    // From the displayed bottom-left corner to the top-right one, the turned
    // box as large as fits with a margin.
    constexpr double kFill = 0.9;
    const double radians = std::atan2(shownHeight, shownWidth), c = std::cos(radians), s = std::sin(radians);
    const double fit = kFill * std::min(shownWidth / std::max(m_width * c + m_height * s, 1e-9),
                                        shownHeight / std::max(m_width * s + m_height * c, 1e-9));
    CPlacement where;
    where.width = m_width * fit;
    where.height = m_height * fit;
    const double shownX = (shownWidth - c * where.width + s * where.height) / 2;
    const double shownY = (shownHeight - s * where.width - c * where.height) / 2;
    // Back from the page as displayed to its own space (a viewer turns it clockwise by /Rotate).
    switch (turn) {
    case 90:
        where.x = box[2] - shownY, where.y = box[1] + shownX;
        break;
    case 180:
        where.x = box[2] - shownX, where.y = box[3] - shownY;
        break;
    case 270:
        where.x = box[0] + shownY, where.y = box[3] - shownX;
        break;
    default:
        where.x = box[0] + shownX, where.y = box[1] + shownY;
    }
    where.angle = static_cast<float>(turn + radians * 180 / 3.14159265358979323846);
    return where;
}

std::string CStampPainter::marksContent(const CPageRecord& page, const CStampFrame& frame) const
{
    // The order the passes of a rewrite draw them in: horizontal lines first.
    static const ECornerMark kOrder[8] = {MARK_BLH, MARK_BRH, MARK_TLH, MARK_TRH,
                                          MARK_BLV, MARK_BRV, MARK_TLV, MARK_TRV};
    const float* box = m_settings.marks() == EMarkBox::TRIM ? page.trimBox : page.cropBox;
    // The mark images carry no orientation; in a tagged file they are artifacts.
    CStampDraw draw;
    draw.artifact = m_draw.artifact;
    std::string content = restoreContent(frame);
    for (int i = 0; i < 8; ++i) {
        const MarkGeometry mark = cornerMarkGeometry(kOrder[i], box);
        content += formatStampDraw(m_names.state, i < 4 ? m_names.image : m_verticalImage, mark.x, mark.y, 0.0f,
                                   mark.width, mark.height, draw);
    }
    return content;
}

std::string CStampPainter::appearanceContent(const CPlacement& where, int pageIndex) const
{
    // An annotation is no page content: it is not marked, only turned as the image asks.
    CStampDraw draw;
    draw.orientation = m_draw.orientation;
    draw.content = pageDrawing(pageIndex);
    return formatStampDraw(m_names.state, m_names.image, 0, 0, 0.0f, where.width, where.height, draw);
}
