// The CIDs of a CFF table's glyphs, from charsets built byte by byte and
// from the installed Noto CJK font and a HarfBuzz subset of it.

#include <gtest/gtest.h>
#include <hb-subset.h>
#include <hb.h>

#include "font/CCffCharset.h"
#include "font/HarfBuzzHandles.h"

namespace {

const char* const kNotoCjk = "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc";
// Where the CharStrings INDEX starts; the charset follows it.
constexpr size_t kCharStrings = 64;

std::string number(uint32_t value, int bytes)
{
    std::string text;
    while (bytes-- > 0)
        text += static_cast<char>((value >> (8 * bytes)) & 0xFF);
    return text;
}

// A table of one font named "A" with `glyphs` one-byte glyphs, whose Top DICT
// has ROS when `cidKeyed`, the offsets of the charset (0 when it is empty) and
// of the CharStrings, and then `dict`; its last `cut` bytes left off.
std::string cffTable(bool cidKeyed, const std::string& charset, uint32_t glyphs, const std::string& dict, size_t cut)
{
    std::string charStrings = number(glyphs, 2) + number(1, 1);
    for (uint32_t offset = 1; offset <= glyphs + 1; ++offset)
        charStrings += number(offset, 1);
    charStrings += std::string(glyphs, '\x0E'); // endchar
    std::string top = cidKeyed ? "\x8B\x8B\x8B\x0C\x1E" : "";
    top += "\x1D" + number(charset.empty() ? 0 : uint32_t(kCharStrings + charStrings.size()), 4) + "\x0F";
    top += "\x1D" + number(kCharStrings, 4) + "\x11" + dict;
    std::string table = std::string("\x01\x00\x04\x01", 4) + number(1, 2) + "\x01\x01\x02" + "A";
    table += number(1, 2) + "\x01\x01" + number(uint32_t(top.size() + 1), 1) + top;
    table.resize(kCharStrings, '\0');
    table += charStrings + charset;
    return table.substr(0, table.size() - cut);
}

struct CharsetRow {
    const char* what;
    bool cidKeyed;
    std::string charset; // format byte first
    uint32_t glyphs;
    std::vector<uint32_t> cids; // each glyph's from 0; empty: a table that is refused
    std::string dict = "";      // after the Top DICT's own operators
    size_t cut = 0;
};

TEST(CffCharset, GivesEachGlyphsCidOrRefusesTheTable)
{
    const std::string s = "";
    const CharsetRow rows[] = {
        {"format 0", true, s + '\0' + number(5, 2) + number(7, 2) + number(1000, 2), 4, {0, 5, 7, 1000}},
        {"format 1", true, s + '\1' + number(100, 2) + '\2' + number(4096, 2) + '\0', 5, {0, 100, 101, 102, 4096}},
        {"format 2 up to the last CID", true, s + '\2' + number(65533, 2) + number(2, 2), 4, {0, 65533, 65534, 65535}},
        {"a predefined charset in a CID-keyed font", true, "", 3, {}},
        {"a range past the last glyph", true, s + '\1' + number(10, 2) + '\2', 3, {}},
        {"a range past CID 65535", true, s + '\2' + number(65535, 2) + number(1, 2), 3, {}},
        {"two glyphs of one CID", true, s + '\0' + number(9, 2) + number(9, 2), 3, {}},
        {"a glyph of .notdef's CID", true, s + '\0' + number(0, 2), 2, {}},
        {"an unknown format", true, s + '\3' + number(1, 2), 2, {}},
        {"a charset cut short", true, s + '\0' + number(5, 2) + number(7, 2), 3, {}, "", 1},
        {"a reserved byte in the Top DICT", true, s + '\0' + number(5, 2), 2, {}, "\xFF"},
        {"ROS with an operand too many", true, s + '\0' + number(5, 2), 2, {}, "\x8B\x8B\x8B\x8B\x0C\x1E"},
        {"an operand without its operator", true, s + '\0' + number(5, 2), 2, {}, "\x8B"},
        {"a table cut in its Top DICT", true, s + '\0' + number(5, 2), 2, {}, "", 60},
    };
    for (const CharsetRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::optional<CCffCharset> charset =
            CCffCharset::read(cffTable(row.cidKeyed, row.charset, row.glyphs, row.dict, row.cut));
        ASSERT_EQ(charset.has_value(), !row.cids.empty());
        if (!charset)
            continue;
        EXPECT_TRUE(charset->cidKeyed());
        EXPECT_EQ(charset->glyphCount(), row.glyphs);
        for (uint32_t glyph = 0; glyph < row.glyphs; ++glyph)
            EXPECT_EQ(charset->cidOf(glyph), row.cids[glyph]) << glyph;
        EXPECT_EQ(charset->cidOf(row.glyphs), std::nullopt);
    }
    // A name-keyed font's glyphs have no CIDs: a predefined charset is fine.
    const std::optional<CCffCharset> nameKeyed = CCffCharset::read(cffTable(false, "", 3, "", 0));
    ASSERT_TRUE(nameKeyed);
    EXPECT_FALSE(nameKeyed->cidKeyed());
    EXPECT_EQ(nameKeyed->cidOf(1), std::nullopt);
}

std::string cffOf(hb_face_t* face)
{
    const HbBlob table(hb_face_reference_table(face, HB_TAG('C', 'F', 'F', ' ')));
    unsigned length = 0;
    const char* data = hb_blob_get_data(table.get(), &length);
    return std::string(data ? data : "", length);
}

// Noto CJK's CIDs are its glyph ids (as FreeType's FT_Get_CID_From_Glyph_Index
// gives them); HarfBuzz's subset numbers the glyphs anew and keeps their CIDs.
TEST(CffCharset, ReadsNotoCjkAndItsSubset)
{
    const HbBlob file(hb_blob_create_from_file_or_fail(kNotoCjk));
    ASSERT_TRUE(file) << kNotoCjk;
    const HbFace face(hb_face_create(file.get(), 0));
    const std::optional<CCffCharset> whole = CCffCharset::read(cffOf(face.get()));
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->cidKeyed());
    EXPECT_EQ(whole->glyphCount(), hb_face_get_glyph_count(face.get()));
    const HbFont font(hb_font_create(face.get()));
    hb_codepoint_t east = 0;
    ASSERT_TRUE(hb_font_get_nominal_glyph(font.get(), U'東', &east));
    EXPECT_EQ(whole->cidOf(east), east);

    const HbSubsetInput input(hb_subset_input_create_or_fail());
    hb_set_add(hb_subset_input_glyph_set(input.get()), east);
    const HbFace subset(hb_subset_or_fail(face.get(), input.get()));
    ASSERT_TRUE(subset);
    const std::optional<CCffCharset> kept = CCffCharset::read(cffOf(subset.get()));
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->cidKeyed());
    EXPECT_EQ(kept->glyphCount(), 2u);
    EXPECT_EQ(kept->cidOf(1), east);
}

} // namespace
