#pragma once

#include <string>
#include <utility>

#include "page/CResourceNames.h"
#include "page/StampObjects.h"
#include "page/StampPlacement.h"

class CStampImage;
struct CPageRecord;
struct CStampSettings;

// The content streams that draw the stamp on a page: where the image goes
// (the placement settings, or a corner mark) and at what size.
class CStampPainter {
public:
    // `imageWidth` x `imageHeight` is the displayed size when the settings
    // give none; `names` are the run's resource names; `draw` turns or
    // mirrors the image in its box and marks it in a tagged file.
    // `verticalImage` names a marks update's second image, the vertical line.
    // `perPage`, when given, draws each page's own content (its font is the
    // names' image).
    CStampPainter(const CStampSettings& settings, double imageWidth, double imageHeight, CResourceNames names,
                  const CStampDraw& draw = CStampDraw(), std::string verticalImage = std::string(),
                  const CStampImage* perPage = nullptr);

    // The content of the stream before the page's own; `frame` says how the
    // stamp reaches the page's initial state.
    std::string prefixContent(const CStampFrame& frame = CStampFrame()) const;
    // The content of the stream after it, which draws the image on `page`;
    // for an underlay, of the one stream before the page's content.
    std::string stampContent(const CPageRecord& page, const CStampFrame& frame = CStampFrame()) const;
    // Whether each page gets content of its own.
    bool drawsPerPage() const { return m_perPage != nullptr; }
    // Where each page draws its own content: the stamp stream's content
    // before and after that page's drawing, which most pages share.
    std::pair<std::string, std::string> stampContentAround(const CPageRecord& page, const CStampFrame& frame) const;
    // Page `pageIndex`'s own drawing, to stand between them.
    std::string pageDrawing(int pageIndex) const;

    // Where the stamp goes on `page`: its lower-left corner, turned by
    // `angle` degrees around it, and its size.
    struct CPlacement {
        double x = 0, y = 0, width = 0, height = 0;
        float angle = 0.0f;
    };
    CPlacement placement(const CPageRecord& page) const;
    // --diagonal's placement on `page`: centred on the displayed page along
    // its bottom-left to top-right diagonal, as large as fits.
    CPlacement alongDiagonal(const CPageRecord& page) const;
    // A marks update's stamp: the eight marks around the settings' box in
    // one stream, the horizontal lines with the image, the vertical ones with
    // the vertical image.
    std::string marksContent(const CPageRecord& page, const CStampFrame& frame) const;
    // The appearance of a stamp annotation, in its form's space: the image
    // filling the form's box [0 0 width height], on page `pageIndex`.
    std::string appearanceContent(const CPlacement& where, int pageIndex = -1) const;

    const CResourceNames& names() const { return m_names; }
    // Where the stamp is seen on `page`.
    CStampRect displayedRect(const CPageRecord& page) const;

private:
    // What brings the page back to its initial state before the stamp draws.
    std::string restoreContent(const CStampFrame& frame) const;

    const CStampSettings& m_settings;
    double m_width;
    double m_height;
    CResourceNames m_names;
    CStampDraw m_draw;
    std::string m_verticalImage;
    const CStampImage* m_perPage;
};
