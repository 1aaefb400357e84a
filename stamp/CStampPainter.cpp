#include "stamp/CStampPainter.h"

#include "stamp/CPageRecord.h"
#include "stamp/CStampSettings.h"
#include "stamp/StampPlacement.h"

CStampPainter::CStampPainter(const CStampSettings& settings, int imageWidth, int imageHeight, CResourceNames names)
    : m_settings(settings), m_width(settings.sizeX == -1 ? imageWidth : settings.sizeX),
      m_height(settings.sizeY == -1 ? imageHeight : settings.sizeY), m_names(std::move(names))
{
}

std::string CStampPainter::prefixStream(const CStampFrame& frame) const { return formatPrefixStream(frame); }

std::string CStampPainter::prefixContent(const CStampFrame& frame) const { return formatPrefixContent(frame); }

std::string CStampPainter::stampStream(const CPageRecord& page, const CStampFrame& frame) const
{
    return formatStreamObject(stampContent(page, frame));
}

std::string CStampPainter::stampContent(const CPageRecord& page, const CStampFrame& frame) const
{
    const CDrawn drawn = drawnOn(page);
    return formatStampContent(m_names.state, m_names.image, drawn.x, drawn.y, drawn.angle, drawn.width, drawn.height,
                              frame);
}

CStampRect CStampPainter::displayedRect(const CPageRecord& page) const
{
    const CDrawn drawn = drawnOn(page);
    return ::displayedRect(drawn.x, drawn.y, drawn.angle, drawn.width, drawn.height, page.cropBox, page.rotate);
}

CStampPainter::CDrawn CStampPainter::drawnOn(const CPageRecord& page) const
{
    PlacementSettings placement;
    placement.posX = m_settings.posX;
    placement.posY = m_settings.posY;
    placement.sizeX = m_width;
    placement.flipV = m_settings.flipV;
    placement.flipH = m_settings.flipH;
    placement.forcePortrait = m_settings.forcePortrait;
    placement.align = m_settings.align;
    const Placement where = computeStampPlacement(placement, page.cropBox, page.rotate);
    double x = where.anchorX, y = where.anchorY, width = m_width, height = m_height;
    float angle = where.angle;
    // A corner mark fixes the stamp to it; the last chosen in their order wins.
    for (size_t index = 0; index < kCornerMarkCount; ++index) {
        if (!m_settings.corners[index])
            continue;
        const CCornerMark& corner = kCornerMarks[index];
        const MarkGeometry mark =
            cornerMarkGeometry(corner.mark, corner.box == EMarkBox::TRIM ? page.trimBox : page.cropBox);
        x = mark.x;
        y = mark.y;
        width = mark.width;
        height = mark.height;
        // The mark's place is a box corner in page space: turning it with the
        // page's rotation would swing it away from the corner.
        angle = 0.0f;
    }
    return CDrawn{x, y, angle, width, height};
}
