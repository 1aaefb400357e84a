#pragma once

#include <string>

#include "stamp/CPassMemory.h"
#include "stamp/StampObjects.h"
#include "stamp/StampPlacement.h"

struct CPageRecord;
struct CStampSettings;

// The content streams that draw the stamp on a page: where the image goes
// (the placement settings, or a corner mark) and at what size.
class CStampPainter {
public:
    // `imageWidth` x `imageHeight` is the displayed size when the settings
    // give none; `names` are the run's resource names.
    CStampPainter(const CStampSettings& settings, int imageWidth, int imageHeight, CResourceNames names);

    // The stream before the page's own content; `frame` says how the stamp
    // reaches the page's initial state.
    std::string prefixStream(const CStampFrame& frame = CStampFrame()) const;
    std::string prefixContent(const CStampFrame& frame = CStampFrame()) const;
    // The stream after it, which draws the image on `page`.
    std::string stampStream(const CPageRecord& page, const CStampFrame& frame = CStampFrame()) const;
    std::string stampContent(const CPageRecord& page, const CStampFrame& frame = CStampFrame()) const;

    // Where the stamp is seen on `page`.
    CStampRect displayedRect(const CPageRecord& page) const;

private:
    struct CDrawn {
        double x, y;
        float angle;
        double width, height;
    };
    CDrawn drawnOn(const CPageRecord& page) const;

    const CStampSettings& m_settings;
    int m_width;
    int m_height;
    CResourceNames m_names;
};
