#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

class CFontFace;

// The font file a PDF embeds for a set of glyphs: HarfBuzz's subset of the
// face holding those glyphs only, or the whole face when its licence allows
// no subset or the subsetter fails. A TrueType face gives a font file
// (FontFile2); a CFF face the bare CFF data (FontFile3, CIDFontType0C).
class CFontSubset {
public:
    // `glyphs` are the face's glyph ids; .notdef (0) is always kept.
    CFontSubset(const CFontFace& face, std::set<uint32_t> glyphs);

    const std::string& fontFile() const { return m_fontFile; }
    // The CID that shows the face's glyph `glyph` (0 for one not in the
    // set): its CID in a CID-keyed CFF font, else its id in the font file.
    uint32_t cidFor(uint32_t glyph) const;
    // Six capital letters that name this glyph set (before "+" in /BaseFont).
    const std::string& tag() const { return m_tag; }
    // The whole face is embedded, not a subset.
    bool whole() const { return m_whole; }

private:
    bool makeSubset(const CFontFace& face);
    void keepWhole(const CFontFace& face);

    std::set<uint32_t> m_glyphs;
    std::map<uint32_t, uint32_t> m_cids; // glyph id → CID
    std::string m_fontFile;
    std::string m_tag;
    bool m_whole = false;
};
