#pragma once

#include <string>
#include <vector>

#include "image/CStampImage.h"
#include "text/CTextTemplate.h"

struct CStampSettings;

// A text stamp (--text) in the standard Helvetica, placed through the unit
// square as an image is, so that every placement, opacity, annotation and
// page option applies to it unchanged. A text that is the same on every
// page is a form XObject; one whose fields change from page to page is
// drawn by each page's own content. Its displayed size is the text's box in
// points (the widest page's), or -size's box, which the text fills keeping
// its proportions, so that every page shows one font size.
class CTextStamp : public CStampImage {
public:
    // The settings' text filled with `fields`, and with `pages` (the fields
    // of each page the run stamps, in order) when it has fields of a page;
    // throws CPdfException naming a character the font cannot show.
    CTextStamp(const CStampSettings& settings, const CTextFields& fields,
               const std::vector<CPageFields>& pages = std::vector<CPageFields>());

    // The form, or the font that each page's content names.
    int write(CNewObjectWriter& writer) const override;
    bool drawnPerPage() const override { return !m_textOfPage.empty(); }
    std::string pageContent(int pageIndex, const std::string& fontName) const override;

    // The WinAnsi codes of the UTF-8 `line`; throws CPdfException naming the
    // first character Helvetica cannot show.
    static std::string codesFor(const std::string& line);

private:
    // One filling of the text.
    struct CText {
        std::vector<std::string> lines; // WinAnsi codes
        std::vector<int> widths;        // each line's advance, in thousandths of the font size
    };
    // `lines` encoded and measured; the text's box grows to hold them.
    CText measure(const std::vector<std::string>& lines);
    // The operators that draw `text` in the box with the font `fontName`.
    std::string textContent(const CText& text, const std::string& fontName) const;

    const CStampSettings& m_settings;
    std::vector<CText> m_texts;    // the one text, or each stamped page's
    std::vector<int> m_textOfPage; // by page index: its text in m_texts, -1 for none; empty when one text serves all
    double m_textWidth = 0;        // the text's box in points, at its font size
    double m_textHeight = 0;
    // The form's box in points (-size's, or the text's in whole points), and
    // the scale that fits the text into it.
    double m_boxWidth = 0;
    double m_boxHeight = 0;
    double m_scale = 1;
    // The parts of the drawing that every filling shares: before the font's
    // name, after it, and where each line stands up to its codes.
    std::string m_textHead;
    std::string m_textSize;
    std::vector<std::string> m_baselines;
    std::string m_unitSquare; // what a form's /Matrix does, for a page's own drawing
};
