#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "font/HarfBuzzHandles.h"

class CFontFace;

// One glyph of a shaped line; lengths in thousandths of the em.
struct CShapedGlyph {
    uint32_t glyph = 0; // the font's glyph id
    double advance = 0; // how far the pen moves after it
    double xOffset = 0; // where it is drawn from the pen
    double yOffset = 0;
    uint32_t cluster = 0; // the byte of the line its characters start at
};

// A line's glyphs in the order they stand on the page, left to right.
struct CShapedLine {
    std::string text; // the UTF-8 line
    std::vector<CShapedGlyph> glyphs;
    double advance = 0; // the line's width, in thousandths of the em
    // Glyphs stand in another order than their characters (right-to-left
    // runs), which readers put back in order themselves.
    bool reordered = false;
};

// Shapes single lines of text with HarfBuzz, kerning and ligatures on.
class CLineShaper {
public:
    explicit CLineShaper(const CFontFace& face) : m_face(face) {}

    CShapedLine shape(const std::string& line) const;
    // The characters of the UTF-8 `line`, U+FFFD for bytes that are not UTF-8.
    static std::u32string characters(const std::string& line);

private:
    const CFontFace& m_face;
    mutable HbBuffer m_characters; // the line's characters, for its runs
    mutable HbBuffer m_glyphs;     // one run shaped
};
