#pragma once

#include <memory>
#include <string>
#include <vector>

#include "font/CLineShaper.h"
#include "image/CStampImage.h"
#include "text/CTextTemplate.h"

class CEmbeddedFont;
struct CStampSettings;

// A text stamp (--text): in the standard Helvetica, not embedded, when it
// can show the text and the input claims no PDF/A; else in an embedded
// subset of the --font, or of the first installed font that has every
// character. It is placed through the unit
// square as an image is, so that every placement, opacity, annotation and
// page option applies to it unchanged. A text that is the same on every
// page is a form XObject; one whose fields change from page to page is
// drawn by each page's own content. Its displayed size is the text's box in
// points (the widest page's), or -size's box, which the text fills keeping
// its proportions, so that every page shows one font size.
class CTextStamp : public CStampImage {
public:
    // The settings' text filled with `fields`, and with `pages` (the fields
    // of each page the run stamps, in order) when it has fields of a page,
    // for an input that claims PDF/A part `pdfaPart` (0: none); throws
    // CPdfException naming a font that cannot be used or a character no font shows.
    CTextStamp(const CStampSettings& settings, const CTextFields& fields,
               const std::vector<CPageFields>& pages = std::vector<CPageFields>(), int pdfaPart = 0);
    ~CTextStamp() override;

    // The form, or the font that each page's content names (0: none, for paths).
    int write(CNewObjectWriter& writer) const override;
    bool drawnPerPage() const override { return !m_textOfPage.empty(); }
    std::string pageContent(int pageIndex, const std::string& fontName) const override;

    // What the run should be told: the font chosen for the text, a font embedded whole.
    const std::vector<std::string>& warnings() const { return m_warnings; }

    // Refuses, before any file is read, a --font that cannot be used or a
    // text (and Bates prefix and suffix) that no font can show; throws
    // CPdfException naming the font or the first such character.
    static void checkShowable(const CStampSettings& settings);

private:
    // One filling of the text.
    struct CText {
        std::vector<std::string> lines;  // WinAnsi codes, in Helvetica
        std::vector<CShapedLine> shaped; // or the shaped lines, in an embedded font (for paths)
        std::vector<std::string> shown;  // else the operators that show them
        std::vector<double> widths;      // each line's advance, in thousandths of the font size
    };
    // Every filling's UTF-8 lines encoded in Helvetica and measured; false,
    // and nothing kept, when Helvetica cannot show one.
    bool measureInHelvetica(const std::vector<std::vector<std::string>>& fillings);
    // Chooses the embedded font for the UTF-8 lines of every filling (`pdfa`: the input claims PDF/A).
    void chooseFont(const std::vector<std::vector<std::string>>& fillings, bool pdfa);
    // `lines` shaped in the embedded font, and measured; the text's box grows to hold them.
    CText measure(const std::vector<std::string>& lines);
    // The operators that draw `text` in the box with the font `fontName`.
    std::string textContent(const CText& text, const std::string& fontName) const;

    const CStampSettings& m_settings;
    std::unique_ptr<CEmbeddedFont> m_font; // none: Helvetica
    bool m_cidSet = false;                 // PDF/A-1 wants the font's /CIDSet
    std::vector<std::string> m_warnings;
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
    std::vector<double> m_baselineY;
    std::string m_unitSquare; // what a form's /Matrix does, for a page's own drawing
};
