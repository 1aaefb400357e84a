#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// What a PDF viewer goes by to find the glyphs of a 'CFF ' table that a
// CIDFontType0 embeds: whether the font is CID-keyed (its Top DICT has ROS),
// and then each glyph's CID, which its charset gives. Every offset and count
// of the table is checked against its bytes; a table that is inconsistent
// anywhere on the way is not read.
class CCffCharset {
public:
    // The charset of the (first) font of `table`; nullopt when the table is
    // inconsistent, or a CID-keyed font's charset is missing, predefined, does
    // not cover its glyphs exactly, or gives two glyphs one CID.
    static std::optional<CCffCharset> read(std::string_view table);

    bool cidKeyed() const { return m_cidKeyed; }
    // The number of glyphs (the CharStrings INDEX's count).
    uint32_t glyphCount() const { return m_glyphCount; }
    // The CID of `glyph` in a CID-keyed font; nullopt for a glyph past the
    // font's, and for every glyph of a font that is not CID-keyed.
    std::optional<uint32_t> cidOf(uint32_t glyph) const;

private:
    CCffCharset() = default;
    bool readCharset(std::string_view table, size_t offset);

    bool m_cidKeyed = false;
    uint32_t m_glyphCount = 0;
    std::vector<uint16_t> m_cids; // by glyph, CID-keyed only
};
