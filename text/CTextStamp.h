#pragma once

#include <string>
#include <vector>

#include "image/CStampImage.h"
#include "text/CTextTemplate.h"

struct CStampSettings;

// A text stamp (--text) in the standard Helvetica: a form XObject drawn as
// an image is, through the unit square, so that every placement, opacity,
// annotation and page option applies to it unchanged. Its displayed size
// is the text's box in points, or -size's box, which the text fills
// keeping its proportions.
class CTextStamp : public CStampImage {
public:
    // The settings' text filled with `fields`; throws CPdfException naming
    // a character the font cannot show.
    CTextStamp(const CStampSettings& settings, const CTextFields& fields);

    int write(CNewObjectWriter& writer) const override;

    // The WinAnsi codes of the UTF-8 `line`; throws CPdfException naming the
    // first character Helvetica cannot show.
    static std::string codesFor(const std::string& line);

private:
    // The form's content: the text's lines in its box.
    std::string formContent() const;

    const CStampSettings& m_settings;
    std::vector<std::string> m_lines; // WinAnsi codes
    std::vector<int> m_lineWidths;    // each line's advance, in thousandths of the font size
    double m_textWidth = 0;           // the text's box in points, at its font size
    double m_textHeight = 0;
    // The form's box in points (-size's, or the text's in whole points), and
    // the scale that fits the text into it.
    double m_boxWidth = 0;
    double m_boxHeight = 0;
    double m_scale = 1;
};
