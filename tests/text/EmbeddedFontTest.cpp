// Embedded fonts: fonts refused with the reason, and lines written with a
// subset font, read back by poppler (pdffonts, pdftotext) and qpdf.

#include <gtest/gtest.h>
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "font/CEmbeddedFont.h"
#include "font/CidWidths.h"
#include "font/GlyphOutline.h"
#include "font/ToUnicodeCMap.h"
#include "image/CNewObjectWriter.h"
#include "pdf/CPdfException.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace {

const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kDejaVuBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const std::string kNotoCjk = "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc";

std::string bytesOf(hb_blob_t* blob)
{
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    return std::string(data, length);
}

// DejaVu Sans with table `drop` left out (and 'loca' with 'glyf'), and table `add` of `added`.
std::string dejaVuWith(uint32_t drop, uint32_t add, const std::string& added)
{
    const HbBlob file(hb_blob_create_from_file(kDejaVu.c_str()));
    const HbFace face(hb_face_create(file.get(), 0));
    const HbFace builder(hb_face_builder_create());
    hb_tag_t tags[64];
    unsigned count = 64;
    hb_face_get_table_tags(face.get(), 0, &count, tags);
    for (unsigned index = 0; index < count; ++index) {
        const bool dropped =
            tags[index] == drop || (drop == HB_TAG('g', 'l', 'y', 'f') && tags[index] == HB_TAG('l', 'o', 'c', 'a'));
        if (!dropped)
            hb_face_builder_add_table(builder.get(), tags[index],
                                      HbBlob(hb_face_reference_table(face.get(), tags[index])).get());
    }
    const HbBlob table(
        hb_blob_create(added.data(), static_cast<unsigned>(added.size()), HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr));
    hb_face_builder_add_table(builder.get(), add, table.get());
    return bytesOf(HbBlob(hb_face_reference_blob(builder.get())).get());
}

// DejaVu Sans with OS/2 fsType `fsType`: 2 restricted licence embedding, 0x100 no subsetting.
std::string dejaVuOfFsType(unsigned fsType)
{
    const HbBlob file(hb_blob_create_from_file(kDejaVu.c_str()));
    const HbFace face(hb_face_create(file.get(), 0));
    std::string os2 = bytesOf(HbBlob(hb_face_reference_table(face.get(), HB_TAG('O', 'S', '/', '2'))).get());
    os2[8] = static_cast<char>(fsType >> 8), os2[9] = static_cast<char>(fsType);
    return dejaVuWith(HB_TAG('O', 'S', '/', '2'), HB_TAG('O', 'S', '/', '2'), os2);
}

// A TrueType collection of `fonts`: its header, then each font whole, its
// table offsets counted from the collection's start.
std::string collectionOf(const std::vector<std::string>& fonts)
{
    auto be32 = [](size_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    std::string header = "ttcf" + be32(0x00010000) + be32(fonts.size()), body;
    const size_t start = header.size() + 4 * fonts.size();
    for (std::string font : fonts) {
        const size_t base = start + body.size();
        header += be32(base);
        const size_t tables = static_cast<unsigned char>(font[4]) << 8 | static_cast<unsigned char>(font[5]);
        for (size_t record = 12; record < 12 + 16 * tables; record += 16) {
            size_t offset = 0;
            for (size_t i = 8; i < 12; ++i)
                offset = offset << 8 | static_cast<unsigned char>(font[record + i]);
            font.replace(record + 8, 4, be32(offset + base));
        }
        body += font;
    }
    return header + body;
}

struct RefusalRow {
    std::string file; // "@name" for a file of the bytes below
    unsigned index;
    std::string bytes;
    const char* words;
};

TEST(FontFace, RefusesWhatCannotBeEmbedded)
{
    const uint32_t glyf = HB_TAG('g', 'l', 'y', 'f');
    const RefusalRow rows[] = {
        {"/nonexistent/font.ttf", 0, "", "no such file, and no installed font of that family"},
        {"No Such Family Anywhere", 0, "", "no such file"},
        {"@text.ttf", 0, "not a font at all\n", "not a font file"},
        {kDejaVu, 1, "", "--font-index 1 is out of range: the file holds 1 font"},
        {kNotoCjk, 20, "", "out of range: the file holds"},
        {"@cff2.otf", 0, dejaVuWith(glyf, HB_TAG('C', 'F', 'F', '2'), "CFF2"), "CFF2"},
        {"@bitmap.ttf", 0, dejaVuWith(glyf, HB_TAG('C', 'B', 'D', 'T'), "CBDT"), "no outlines"},
        {"@restricted.ttf", 0, dejaVuOfFsType(2), "forbids embedding"},
        {"@damaged.otf", 0, dejaVuWith(glyf, HB_TAG('C', 'F', 'F', ' '), "CFF"), "its 'CFF ' table is damaged"},
    };
    vtest::TempDir dir;
    for (const RefusalRow& row : rows) {
        const std::string path = row.file[0] == '@' ? dir.file(row.file.substr(1)) : row.file;
        if (row.file[0] == '@')
            vtest::writeFile(path, row.bytes);
        try {
            CFontFace::open(path, row.index);
            ADD_FAILURE() << row.file << " was opened";
        } catch (const CPdfException& error) {
            EXPECT_NE(std::string(error.message()).find(row.words), std::string::npos) << error.message();
            EXPECT_EQ(std::string(error.message()).find("\n--font "), 0u) << error.message();
        }
    }
}

TEST(FontFace, FindsAnInstalledFontThatHasEveryCharacter)
{
#ifdef _WIN32
    // Wine's fonts folder is empty and Windows' may hold neither: the user's
    // own is made to hold these, under a name that is not ASCII.
    vtest::TempDir temp;
    const std::filesystem::path local = std::filesystem::u8path(temp.path() + "\\Lokal ä");
    const std::filesystem::path fonts = local / "Microsoft" / "Windows" / "Fonts";
    std::filesystem::create_directories(fonts);
    for (const std::string& font : {kDejaVuBold, kDejaVu, kNotoCjk})
        std::filesystem::copy_file(font, fonts / std::filesystem::path(font).filename());
    _wputenv_s(L"LOCALAPPDATA", local.wstring().c_str());
#endif
    // The family's regular face, though the bold one's file sorts first.
    EXPECT_EQ(CFontFace::open("dejavu sans")->postScriptName(), "DejaVuSans");
    // fontconfig's first choice for sans-serif Latin, and the one CJK family installed.
    const std::pair<std::u32string, const char*> rows[] = {{U"Hello", "DejaVuSans"}, {U"日本語", "NotoS"}};
    for (const auto& [text, name] : rows) {
        const std::unique_ptr<CFontFace> face = CFontFace::findCovering(text);
        ASSERT_TRUE(face);
        EXPECT_FALSE(face->firstMissing(text));
#ifndef _WIN32
        EXPECT_EQ(face->postScriptName().rfind(name, 0), 0u) << face->postScriptName();
#endif
    }
    const std::u32string unassigned = U"a\U000E0FFF";
    EXPECT_FALSE(CFontFace::findCovering(unassigned));
    EXPECT_EQ(CFontFace::firstInNoFont(unassigned), U'\U000E0FFF');
}

// Puts the objects written into a test PDF, numbered as the builder hands out.
class BuilderWriter : public CNewObjectWriter {
public:
    explicit BuilderWriter(vtest::PdfBuilder& builder) : m_builder(builder), m_next(builder.reserve()) {}
    ~BuilderWriter() override { m_builder.set(m_next, "null"); }
    int writeNewStream(std::string_view head, std::string_view tail, std::string_view data) override
    {
        return put(std::string(head) + std::to_string(data.size()) + std::string(tail) + std::string(data) +
                   "\nendstream");
    }
    int writeNewStream(std::string_view, std::string_view, CFileSource&, int64_t) override { return 0; }
    int writeNewObject(std::string_view body) override { return put(std::string(body)); }
    std::string stringFor(int, const std::string& text) const override { return text; }
    int nextNumber() const override { return m_next; }

private:
    int put(const std::string& text)
    {
        const int num = m_next;
        m_builder.setRaw(num, std::to_string(num) + text + "\nendobj\n");
        m_next = m_builder.reserve();
        return num;
    }
    vtest::PdfBuilder& m_builder;
    int m_next;
};

std::string withoutSpaces(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// Noto CJK's glyphs of `text` alone, numbered anew: glyph ids that are not their CIDs.
std::string renumberedNotoCjk(const std::u32string& text)
{
    const HbBlob file(hb_blob_create_from_file(kNotoCjk.c_str()));
    const HbFace face(hb_face_create(file.get(), 0));
    const HbSubsetInput input(hb_subset_input_create_or_fail());
    for (char32_t c : text)
        hb_set_add(hb_subset_input_unicode_set(input.get()), c);
    const HbFace subset(hb_subset_or_fail(face.get(), input.get()));
    return subset ? bytesOf(HbBlob(hb_face_reference_blob(subset.get())).get()) : "";
}

struct FontRow {
    std::string file; // "@name": a file of renumberedNotoCjk's
    std::vector<std::string> lines;
    const char* type;  // as pdffonts names it
    const char* mixed; // the last line as pdftotext gives it, when not the same
};

TEST(EmbeddedFont, WritesSubsetsThatPopplerAndQpdfRead)
{
    const FontRow rows[] = {
        {kDejaVu,
         {"Hello office Привет Ελληνικά", "مرحبا", "AVATAR Wave", "ກ່ຳ ສ້ຳ", "abc مرحبا 123 شكرا"},
         "CID TrueType",
         // Poppler reads a line's right-to-left stretch in the order the bidi algorithm shows it.
         "abc شكرا 123 مرحبا"},
        {kNotoCjk, {"日本語", "東京"}, "CID Type 0C", ""},
        {"@renumbered.otf", {"東京"}, "CID Type 0C", ""},
    };
    vtest::TempDir dir;
    vtest::writeFile(dir.file("renumbered.otf"), renumberedNotoCjk(U"東京"));
    // Each line's operators, by every font that shows it.
    std::map<std::string, std::set<std::string>> operatorsOf;
    vtest::PdfBuilder builder;
    const int pages = builder.reserve();
    std::string fonts, content;
    std::vector<std::unique_ptr<CEmbeddedFont>> embedded;
    double helloWidth = 0;
    int lineCount = 0;
    for (const FontRow& row : rows) {
        embedded.push_back(std::make_unique<CEmbeddedFont>(
            CFontFace::open(row.file[0] == '@' ? dir.file(row.file.substr(1)) : row.file)));
        CEmbeddedFont& font = *embedded.back();
        std::vector<CShapedLine> shaped;
        for (const std::string& line : row.lines)
            shaped.push_back(font.shape(line));
        helloWidth = helloWidth ? helloWidth : font.shape("Hello").advance * 12 / 1000;
        font.finish();
        const std::string name = "/F" + std::to_string(embedded.size());
        for (const CShapedLine& line : shaped) {
            content += "BT " + name + " 12 Tf 1 0 0 1 50 " + std::to_string(750 - 40 * ++lineCount) + " Tm\n" +
                       font.showText(line, 12) + "ET\n";
            operatorsOf[line.text].insert(font.showText(line, 12));
        }
        BuilderWriter writer(builder);
        fonts += name + " " + std::to_string(font.write(writer, true)) + " 0 R ";
    }
    const int contents = builder.addStream("", content);
    const int page = builder.add("<< /Type /Page /Parent " + std::to_string(pages) +
                                 " 0 R /MediaBox [0 0 600 800] /Resources << /Font << " + fonts + ">> >> /Contents " +
                                 std::to_string(contents) + " 0 R >>");
    builder.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
    builder.setRoot(builder.add("<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>"));
    // A CID-keyed font's glyphs are named by their CIDs, whatever their ids.
    EXPECT_EQ(operatorsOf["東京"].size(), 1u);
    const std::string pdf = dir.file("fonts.pdf");
    builder.writeTo(pdf);

    if (!vtest::haveTool("qpdf") || !vtest::haveTool("pdffonts") || !vtest::haveTool("pdftotext"))
        GTEST_SKIP() << "qpdf and poppler's pdffonts and pdftotext read the file back: not here (under Wine, say)";
    EXPECT_EQ(vtest::qpdfProblems(pdf), "");
    const std::string listed = vtest::runCommand("pdffonts " + vtest::shellQuote(pdf)).output;
    // Without poppler's marks of right-to-left text, and spaces, which it moves around them.
    std::string text = withoutSpaces(vtest::runCommand("pdftotext " + vtest::shellQuote(pdf) + " -").output);
    for (const char* mark : {"\u202B", "\u202C"})
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
            text.erase(at, 3);
    for (const FontRow& row : rows) {
        EXPECT_NE(listed.find(row.type), std::string::npos) << listed;
        for (size_t index = 0; index < row.lines.size(); ++index) {
            const bool mixed = index + 1 == row.lines.size() && *row.mixed;
            const std::string line = withoutSpaces(mixed ? row.mixed : row.lines[index]);
            EXPECT_NE(text.find(line), std::string::npos) << line << " not in:\n" << text;
        }
    }
    // Embedded, subset, ToUnicode; a six-letter tag before each name.
    EXPECT_EQ(
        vtest::runCommand("pdffonts " + vtest::shellQuote(pdf) + " | grep -cE '^[A-Z]{6}\\+.* yes yes yes '").output,
        "3\n")
        << listed;
    // Poppler places "Hello" where HarfBuzz did: the widths and adjustments agree.
    const std::string box = vtest::runCommand("pdftotext -bbox " + vtest::shellQuote(pdf) +
                                              " - | grep '>Hello<' | sed 's/.*xMin=\"\\([0-9.]*\\)\" yMin=\"[0-9.]*\" "
                                              "xMax=\"\\([0-9.]*\\)\".*/\\2 \\1/'")
                                .output;
    double xMax = 0, xMin = 0;
    ASSERT_EQ(std::sscanf(box.c_str(), "%lf %lf", &xMax, &xMin), 2) << box;
    EXPECT_NEAR(xMax - xMin, helloWidth, 0.01);
}

TEST(FontSubset, IsSmallForAShortText)
{
    // A CFF font's subset holds its glyphs alone, not empty ones up to the last.
    const std::tuple<std::string, std::string, size_t> rows[] = {{kDejaVu, "Hello Привет Ελληνικά", 30000},
                                                                 {kNotoCjk, "東京", 3000}};
    for (const auto& [file, text, largest] : rows) {
        const auto face = CFontFace::open(file);
        std::set<uint32_t> glyphs;
        for (char32_t c : CLineShaper::characters(text))
            glyphs.insert(face->glyphFor(c));
        EXPECT_LT(CFontSubset(*face, glyphs).fontFile().size(), largest) << file;
    }
}

// A face that may not be subset is embedded whole; a face of a collection as
// a font file of its own, which is what a viewer reads as a TrueType font.
TEST(FontSubset, EmbedsAFaceOfACollectionAsAFontOfItsOwn)
{
    const std::string noSubsetting = dejaVuOfFsType(0x100);
    const std::pair<std::string, unsigned> rows[] = {
        {noSubsetting, 0},
        {collectionOf({noSubsetting}), 0},
        {collectionOf({vtest::readFile(kDejaVuBold), noSubsetting}), 1},
    };
    vtest::TempDir dir;
    for (const auto& [bytes, index] : rows) {
        const std::string path = dir.file("font" + std::to_string(index) + std::to_string(bytes.size()));
        vtest::writeFile(path, bytes);
        const auto face = CFontFace::open(path, index);
        const CFontSubset subset(*face, {face->glyphFor(U'A')});
        EXPECT_TRUE(subset.whole());
        const std::string& file = subset.fontFile();
        ASSERT_GT(file.size(), 4u);
        EXPECT_EQ(file.substr(0, 4), std::string("\0\1\0\0", 4)) << path;
        const HbBlob blob(
            hb_blob_create(file.data(), static_cast<unsigned>(file.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr));
        EXPECT_EQ(hb_face_count(blob.get()), 1u);
        EXPECT_EQ(hb_face_get_glyph_count(HbFace(hb_face_create(blob.get(), 0)).get()), face->glyphCount());
    }
}

// A glyph drawn as a path (--as-paths): m and l take two operands, c six and h none; a CFF glyph's points, its
// curves' control points too, span the box HarfBuzz gives for the glyph.
TEST(GlyphOutline, DrawsEachGlyphAsAPdfPath)
{
    for (const std::string& file : {kDejaVu, kNotoCjk}) {
        const auto face = CFontFace::open(file);
        for (char32_t c : std::u32string(U"Sag東京の")) {
            const uint32_t glyph = face->glyphFor(c);
            if (glyph == 0)
                continue;
            std::istringstream path(glyphOutline(*face, glyph, 1, 0, 0));
            std::vector<double> operands;
            double box[4] = {1e9, 1e9, -1e9, -1e9};
            for (std::string word; path >> word;) {
                if (!std::isalpha(static_cast<unsigned char>(word[0]))) {
                    operands.push_back(std::stod(word));
                    continue;
                }
                EXPECT_EQ(operands.size(), word == "c" ? 6u : word == "h" ? 0u : 2u) << file << ": " << word;
                for (size_t i = 0; i + 1 < operands.size(); i += 2) {
                    box[0] = std::min(box[0], operands[i]), box[2] = std::max(box[2], operands[i]);
                    box[1] = std::min(box[1], operands[i + 1]), box[3] = std::max(box[3], operands[i + 1]);
                }
                operands.clear();
            }
            EXPECT_TRUE(operands.empty());
            hb_glyph_extents_t extents;
            ASSERT_TRUE(hb_font_get_glyph_extents(face->harfBuzzFont(), glyph, &extents));
            const double expected[4] = {double(extents.x_bearing), double(extents.y_bearing + extents.height),
                                        double(extents.x_bearing + extents.width), double(extents.y_bearing)};
            for (int side = 0; side < 4 && face->outlines() == CFontFace::EOutlines::Cff; ++side)
                EXPECT_NEAR(box[side], expected[side], 1) << file << " U+" << std::hex << static_cast<uint32_t>(c);
        }
    }
}

} // namespace

namespace {

// The /W array and the ToUnicode map as the PDF reference writes them: runs of equal widths as "first last w",
// neighbours as "first [w ...]"; at most 100 entries a bfchar block, characters past the BMP as surrogate pairs.
TEST(FontParts, WidthsAndToUnicodeAsThePdfReferenceHasThem)
{
    EXPECT_EQ(cidWidthsArray({{1, 500}, {2, 500}, {3, 500}, {5, 600}, {6, 700}, {9, 250}}),
              "[1 3 500 5 [600 700] 9 [250]]");
    EXPECT_EQ(mostCommonWidth({{1, 600}, {2, 500}, {3, 500}, {4, 600}}), 500);
    EXPECT_EQ(utf16Hex(U"A\u00e9\U0001F600"), "004100E9D83DDE00");
    std::map<uint32_t, std::u32string> many;
    for (uint32_t cid = 1; cid <= 150; ++cid)
        many[cid] = cid == 7 ? U"ffi" : std::u32string(1, U'\u0400' + cid);
    const std::string map = toUnicodeCMap(many);
    size_t blocks = 0;
    for (size_t at = map.find("beginbfchar"); at != std::string::npos; at = map.find("beginbfchar", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 2u);
    EXPECT_NE(map.find("100 beginbfchar"), std::string::npos);
    EXPECT_NE(map.find("50 beginbfchar"), std::string::npos);
    EXPECT_NE(map.find("<0007> <006600660069>"), std::string::npos);
}

} // namespace
