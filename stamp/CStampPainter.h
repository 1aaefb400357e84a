#pragma once

#include <string>

#include "stamp/CPassMemory.h"
#include "stamp/StampObjects.h"

struct CPageRecord;
struct CStampSettings;

// The content streams that draw the stamp on a page: where the image goes
// (the placement settings, or a corner mark) and at what size.
class CStampPainter {
public:
    // `imageWidth` x `imageHeight` is the displayed size when the settings
    // give none; `names` are the run's resource names; `draw` turns or
    // mirrors the image in its box and marks it in a tagged file.
    CStampPainter(const CStampSettings& settings, int imageWidth, int imageHeight, CResourceNames names,
                  const CStampDraw& draw = CStampDraw());

    // The stream before the page's own content; `frame` says how the stamp
    // reaches the page's initial state.
    std::string prefixStream(const CStampFrame& frame = CStampFrame()) const;
    std::string prefixContent(const CStampFrame& frame = CStampFrame()) const;
    // The stream after it, which draws the image on `page`.
    std::string stampStream(const CPageRecord& page, const CStampFrame& frame = CStampFrame()) const;
    std::string stampContent(const CPageRecord& page, const CStampFrame& frame = CStampFrame()) const;

private:
    const CStampSettings& m_settings;
    int m_width;
    int m_height;
    CResourceNames m_names;
    CStampDraw m_draw;
};
