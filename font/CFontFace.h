#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "font/CCffCharset.h"
#include "font/HarfBuzzHandles.h"

// One face of a font file, opened with HarfBuzz and checked to be one that a
// PDF can embed: outlines in 'glyf' or 'CFF ', and a licence that allows it.
// Metrics are in thousandths of the em, as PDF's font dictionaries take them.
class CFontFace {
public:
    enum class EOutlines { TrueType, Cff };
    struct CBox {
        int left = 0, bottom = 0, right = 0, top = 0;
    };

    // The face `faceIndex` of the file `fileOrFamily`, or, when no such file
    // exists, of the installed font of that family (found by fontconfig, or
    // on Windows in its fonts folders). Throws CPdfException (UsageError)
    // naming the font and why it cannot be used.
    static std::unique_ptr<CFontFace> open(const std::string& fileOrFamily, unsigned faceIndex = 0);
    // The first installed font, in fontconfig's order of preference (on
    // Windows: the fonts folders' files by name), that has every character
    // of `text`; nullptr when none has them all.
    static std::unique_ptr<CFontFace> findCovering(const std::u32string& text);
    // The first character of `text` that no installed font has.
    static std::optional<char32_t> firstInNoFont(const std::u32string& text);

    CFontFace(const CFontFace&) = delete;
    CFontFace& operator=(const CFontFace&) = delete;

    // The file, and the family when the font was found by it, for messages.
    const std::string& label() const { return m_label; }
    // Name id 6, reduced to the characters a PDF name may hold unescaped.
    const std::string& postScriptName() const { return m_postScriptName; }
    int unitsPerEm() const { return m_unitsPerEm; }
    int ascender() const { return m_ascender; }
    int descender() const { return m_descender; }
    int capHeight() const { return m_capHeight; }
    CBox boundingBox() const { return m_box; }
    double italicAngle() const { return m_italicAngle; }
    // The FontDescriptor's /Flags and /StemV.
    int flags() const { return m_flags; }
    int stemV() const { return m_stemV; }
    EOutlines outlines() const { return m_outlines; }
    // False when the licence allows embedding the font only whole.
    bool subsettingAllowed() const { return m_subsettingAllowed; }
    unsigned glyphCount() const;

    // A CFF face whose glyphs a PDF viewer finds by CID, through the
    // charset, rather than by glyph id.
    bool cidKeyed() const { return m_cffCharset && m_cffCharset->cidKeyed(); }
    // The CID of `glyph` in a CID-keyed face; 0 for a glyph it does not have.
    uint32_t cidOf(uint32_t glyph) const { return cidKeyed() ? m_cffCharset->cidOf(glyph).value_or(0) : 0; }

    // The face as a font file of its own: the file itself, or, for a face of
    // a collection, a file made of that face's tables.
    std::string standaloneFile() const;
    // The bytes of table `tag` ('CFF ' as 0x43464620); empty when missing.
    std::string table(uint32_t tag) const;

    // The glyph the font's character map gives `c`; 0 when none.
    uint32_t glyphFor(char32_t c) const;
    // The first character of `text` the font has no glyph for. Characters
    // that show nothing (format controls, variation selectors) are skipped.
    std::optional<char32_t> firstMissing(const std::u32string& text) const;
    // The advance of `glyph` in thousandths of the em.
    double advance(uint32_t glyph) const;

    // For the shaper and subsetter; the scale is the units per em.
    hb_face_t* harfBuzzFace() const { return m_face.get(); }
    hb_font_t* harfBuzzFont() const { return m_font.get(); }

private:
    CFontFace(std::string label, HbBlob blob, unsigned faceIndex);
    void checkEmbeddable() const;
    void readMetrics();
    void readCffCharset();
    int thousandths(double fontUnits) const;
    // Characters that need no glyph of their own.
    static bool showsNothing(char32_t c);

    std::string m_label;
    HbBlob m_blob;
    HbFace m_face;
    HbFont m_font;
    std::string m_postScriptName;
    int m_unitsPerEm = 1000;
    int m_ascender = 0;
    int m_descender = 0;
    int m_capHeight = 0;
    CBox m_box;
    double m_italicAngle = 0;
    int m_flags = 0;
    int m_stemV = 0;
    EOutlines m_outlines = EOutlines::TrueType;
    bool m_subsettingAllowed = true;
    std::optional<CCffCharset> m_cffCharset; // a CFF face's
};
