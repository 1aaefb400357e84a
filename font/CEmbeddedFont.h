#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "font/CFontFace.h"
#include "font/CFontSubset.h"
#include "font/CLineShaper.h"

class CNewObjectWriter;

// A font embedded in the output for the lines a text stamp shows: every
// line is shaped first, then the subset of their glyphs is made once, and
// the lines' content and the font's objects name the subset's CIDs.
//
//     CEmbeddedFont font(CFontFace::open(path, index));
//     CShapedLine line = font.shape(utf8);   // every line, before finish
//     font.finish();
//     content += font.showText(line, size);  // inside BT, after "/F1 size Tf"
//     int type0 = font.write(writer, false); // the resource /F1
class CEmbeddedFont {
public:
    explicit CEmbeddedFont(std::unique_ptr<CFontFace> face);

    const CFontFace& face() const { return *m_face; }

    // Shapes `line` and notes its glyphs and the text each shows: a glyph
    // shows the characters of its cluster, and of several glyphs in one
    // cluster the first in the line's order shows them all; a glyph keeps
    // the first text it was noted with.
    CShapedLine shape(const std::string& line);
    // Makes the subset of every glyph shaped so far.
    void finish();
    // True after finish when the face's licence allows no subset and the
    // whole font is embedded (the caller warns: it can be large).
    bool embedsWholeFont() const;

    // The operators that show `line` at the text position, with the font
    // already selected at `fontSize`: hexadecimal CIDs in TJ, with
    // adjustments where the shaped advances differ from the widths, and text
    // rise (Ts) for glyphs set above or below the line. A line whose
    // glyphs' ToUnicode texts, read in the order the glyphs are shown, do
    // not spell it (a vowel sign drawn before its consonant) is a marked
    // span whose /ActualText spells it. Not one with right-to-left runs:
    // poppler's pdftotext reorders such glyphs into their characters' order
    // itself, and reverses an /ActualText's text.
    std::string showText(const CShapedLine& line, double fontSize) const;

    // Writes the font's objects: the Type0 font, its CID font, descriptor,
    // font file, ToUnicode CMap and, with `cidSet`, the /CIDSet of the CIDs
    // present. Returns the Type0 font's number.
    int write(CNewObjectWriter& writer, bool cidSet) const;

private:
    // Whether `line` is shown in a span with its /ActualText: its glyphs'
    // texts in their order do not spell it, and it has no right-to-left run.
    bool needsActualText(const CShapedLine& line) const;
    int writeFontFile(CNewObjectWriter& writer) const;
    int writeDescriptor(CNewObjectWriter& writer, bool cidSet) const;
    int writeCidFont(CNewObjectWriter& writer, int descriptor) const;
    const CFontSubset& subset() const;

    std::unique_ptr<CFontFace> m_face;
    CLineShaper m_shaper;
    std::set<uint32_t> m_glyphs;
    std::map<uint32_t, std::u32string> m_textOfGlyph;
    std::set<uint32_t> m_fromCharacterMap; // glyphs whose text is the character map's: settled
    std::unique_ptr<CFontSubset> m_subset;
};
