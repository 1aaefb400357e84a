// Opening a document: the header, the "startxref" tail, classic tables and
// cross-reference streams, the /Prev chain, hybrid files and hostile counts.

#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>

#include "tests/load/LoadFixtures.h"

using namespace loadtest;
using vtest::PdfBuilder;
using vtest::XrefKind;

namespace {

const char* const kDamaged = "PDF file was damaged";
const char* const kTable = "Couldn't parse an xref table";
const char* const kStream = "Couldn't parse an xref stream";

void replaceLast(std::string& s, const std::string& from, const std::string& to)
{
    const size_t at = s.rfind(from);
    ASSERT_NE(at, std::string::npos) << from;
    s.replace(at, from.size(), to);
}

// A comment line of exactly `bytes` bytes (at least 2).
std::string comment(size_t bytes) { return "%" + std::string(bytes - 2, '.') + "\n"; }

// Offset (or -1 for a record no section filled), generation and type.
struct Want {
    int num;
    int32_t offset;
    int32_t gen;
    EXrefType type;
};

void expectRecords(Loaded& doc, const std::vector<Want>& wants)
{
    for (const Want& w : wants) {
        const CXrefRecord& r = doc.rec(w.num);
        EXPECT_EQ(r.offset, w.offset) << "record " << w.num << " " << describe(r);
        EXPECT_EQ(r.type, w.type) << "record " << w.num << " " << describe(r);
        if (w.offset != -1) { // an unfilled record's generation means nothing
            EXPECT_EQ(r.gen, w.gen) << "record " << w.num << " " << describe(r);
        }
    }
}

TEST(PdfFileOpen, FailedOpenReleasesEverythingAndTheObjectCanBeOpenedAgain)
{
    const std::string good = basicDoc().build();
    std::string bad = good;
    replaceLast(bad, "startxref", "startxrex");
    Loaded doc;
    try {
        doc.file().open("/nonexistent/vellico/missing.pdf");
        ADD_FAILURE() << "opened a missing file";
    } catch (const CPdfException& e) {
        EXPECT_STREQ(e.message(), "Can't open file");
    }
    EXPECT_FALSE(doc.file().isOpen());
    EXPECT_EQ(doc.open(bad), kDamaged);
    EXPECT_FALSE(doc.file().isOpen());
    EXPECT_EQ(doc.file().xref(), nullptr);
    EXPECT_EQ(doc.file().mainStream(), nullptr);
    ASSERT_EQ(doc.open(good), "");
    EXPECT_TRUE(doc.file().isOpen());
    doc.file().close();
    EXPECT_FALSE(doc.file().isOpen());
    ASSERT_EQ(doc.open(good), "");
    EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
}

TEST(PdfHeader, JunkBeforeTheHeaderShiftsEveryOffset)
{
    const struct {
        const char* name;
        std::string junk;
    } rows[] = {
        {"none", ""},
        {"five bytes", "JUNK\n"},
        {"'%PDF' without its dash", "%PDF\n"},
        {"binary bytes", std::string("\0\xFF\x01%\n", 5)},
        {"1017 bytes, the last place searched", std::string(1017, ' ')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PdfBuilder b = basicDoc();
        b.setJunkPrefix(row.junk);
        Loaded doc;
        ASSERT_EQ(doc.open(b.build()), "");
        EXPECT_EQ(doc.xref().baseOffset(), static_cast<int64_t>(row.junk.size()));
        EXPECT_EQ(doc.rec(3).offset, b.objectOffset(3)); // counted from the header, not the file
        EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
    }
}

TEST(Startxref, TailVariants)
{
    const struct {
        const char* name;
        std::function<void(std::string&)> edit;
        const char* error;
    } rows[] = {
        {"CR LF and two spaces", [](std::string& s) { replaceLast(s, "startxref\n", "startxref\r\n  "); }, ""},
        {"tab, form feed, vertical tab", [](std::string& s) { replaceLast(s, "startxref\n", "startxref\t\f\v"); }, ""},
        {"a NUL stands for a space", [](std::string& s) { replaceLast(s, "startxref\n", std::string("startxref\0", 10)); },
         ""},
        {"NUL bytes earlier in the tail",
         [](std::string& s) { replaceLast(s, "startxref", std::string("%\0\0\0\nstartxref", 14)); }, ""},
        {"a plus sign", [](std::string& s) { replaceLast(s, "startxref\n", "startxref\n+"); }, ""},
        {"garbage after the number", [](std::string& s) { replaceLast(s, "\n%%EOF", "xyz\n%%EOF"); }, ""},
        {"the number 0",
         [](std::string& s) {
             const size_t at = s.rfind("startxref\n") + 10;
             s.replace(at, s.find('\n', at) - at, "0");
         },
         kDamaged},
        {"no number", [](std::string& s) { s.resize(s.rfind("startxref") + 10); }, kDamaged},
        {"no startxref", [](std::string& s) { replaceLast(s, "startxref", "startxrex"); }, kDamaged},
        {"an empty file", [](std::string& s) { s.clear(); }, kDamaged},
        {"only a header line", [](std::string& s) { s = "%PDF-1.7\n"; }, kDamaged},
        {"a later startxref 0 is the one used", [](std::string& s) { s += "startxref\n0\n"; }, kDamaged},
        {"'startxref' starts 1023 bytes before the end",
         [](std::string& s) { s += comment(1023 - (s.size() - s.rfind("startxref"))); }, ""},
        {"'startxref' starts 1024 bytes before the end",
         [](std::string& s) { s += comment(1024 - (s.size() - s.rfind("startxref"))); }, kDamaged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string bytes = basicDoc().build();
        row.edit(bytes);
        Loaded doc;
        ASSERT_EQ(doc.open(bytes), row.error);
        if (!*row.error) {
            EXPECT_EQ(doc.fetch(1), "<< /Pages 2 0 R /Type /Catalog >>");
        }
    }
}

TEST(Startxref, TheLastOfTwoInTheTailIsUsed)
{
    PdfBuilder b = basicDoc();
    b.beginUpdate();
    b.set(3, "<< /Title (Newer) >>");
    const std::string bytes = b.build();
    const std::string tail = bytes.substr(bytes.size() > 1023 ? bytes.size() - 1023 : 0);
    ASSERT_NE(tail.find("startxref"), tail.rfind("startxref")) << "both must lie in the searched tail";
    Loaded doc;
    ASSERT_EQ(doc.open(bytes), "");
    EXPECT_EQ(doc.fetch(3), "<< /Title (Newer) >>");
}

TEST(Startxref, FileOf600BytesIsSearchedWhole)
{
    PdfBuilder b = basicDoc();
    b.setPadding(600 - b.build().size());
    const std::string bytes = b.build();
    ASSERT_EQ(bytes.size(), 600u);
    Loaded doc;
    ASSERT_EQ(doc.open(bytes), "");
    EXPECT_EQ(doc.fetch(2), "<< /Count 0 /Kids [ ] /Type /Pages >>");
}

TEST(Trailer, RootInfoAndEncryptComeFromTheNewestTrailer)
{
    const struct {
        const char* name;
        std::function<void(PdfBuilder&)> setup;
        const char* error;
        int infoNum, infoGen;
    } rows[] = {
        {"plain", [](PdfBuilder&) {}, "", 3, 0},
        {"Root only in the older trailer",
         [](PdfBuilder& b) {
             b.beginUpdate();
             b.setRoot(0);
         },
         kDamaged, 0, 0},
        {"no Root", [](PdfBuilder& b) { b.setRoot(0); }, kDamaged, 0, 0},
        {"Root not a reference",
         [](PdfBuilder& b) {
             b.setRoot(0);
             b.setTrailerExtra("/Root (1 0 R)");
         },
         kDamaged, 0, 0},
        {"no Info", [](PdfBuilder& b) { b.setInfo(0); }, "", 0, 0},
        {"Info not a reference",
         [](PdfBuilder& b) {
             b.setInfo(0);
             b.setTrailerExtra("/Info (3 0 R)");
         },
         "", 0, 0},
        {"Info only in the older trailer",
         [](PdfBuilder& b) {
             b.beginUpdate();
             b.setInfo(0);
         },
         "", 0, 0},
        {"Info of generation 4",
         [](PdfBuilder& b) {
             b.beginUpdate();
             b.set(3, "<< >>", 4);
         },
         "", 3, 4},
        {"Encrypt reference", [](PdfBuilder& b) { b.setTrailerExtra("/Encrypt 7 0 R"); }, "PDF file is encrypted", 0, 0},
        {"Encrypt inline", [](PdfBuilder& b) { b.setTrailerExtra("/Encrypt << /Filter /Standard /V 2 >>"); },
         "PDF file is encrypted", 0, 0},
        {"Encrypt in a stream section",
         [](PdfBuilder& b) {
             b.setXref(XrefKind::Stream);
             b.setTrailerExtra("/Encrypt 7 0 R");
         },
         "PDF file is encrypted", 0, 0},
        {"Encrypt only in the older trailer",
         [](PdfBuilder& b) {
             b.setTrailerExtra("/Encrypt 7 0 R");
             b.beginUpdate();
             b.setTrailerExtra("");
         },
         "", 3, 0},
        {"Encrypt null", [](PdfBuilder& b) { b.setTrailerExtra("/Encrypt null"); }, "", 3, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PdfBuilder b = basicDoc();
        row.setup(b);
        Loaded doc;
        ASSERT_EQ(doc.open(b.build()), row.error);
        if (*row.error)
            continue;
        EXPECT_EQ(doc.xref().rootNum(), 1);
        EXPECT_EQ(doc.xref().rootGen(), 0);
        EXPECT_EQ(doc.xref().infoNum(), row.infoNum);
        EXPECT_EQ(doc.xref().infoGen(), row.infoGen);
    }
}

TEST(ClassicTable, RecordCountIsTheLargestSubsectionEndNotTheTrailerSize)
{
    const struct {
        const char* name;
        std::string extra; // subsections after "0 4"
        int size, count;
    } rows[] = {
        {"/Size larger", "", 20, 4},
        {"/Size smaller", "", 2, 4},
        {"a later subsection reaches further", "9 1\n" + entry(0, 0, 'f'), 4, 10},
        {"an earlier number after a further one", "9 1\n" + entry(0, 0, 'f') + "2 1\n" + entry(5, 0, 'n'), 4, 10},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add("xref\n" + s.classicAll(4) + row.extra + "trailer\n<< /Size " +
                              std::to_string(row.size) + " /Root 1 0 R >>\n");
        Loaded doc;
        ASSERT_EQ(doc.open(s.finish(at)), "");
        EXPECT_EQ(doc.xref().recordCount(), row.count);
        EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
    }
}

TEST(ClassicTable, SubsectionsInAnyOrderWithOverlapsAndGaps)
{
    Sections s(basicDoc());
    const long at = s.add("xref\n3 1\n" + entry(s.off(3), 0, 'n') + "0 2\n" + entry(0, 65535, 'f') +
                          entry(s.off(1), 0, 'n') + "1 1\n" + entry(999, 0, 'n') + "7 1\n" + entry(555, 2, 'n') +
                          "trailer\n<< /Size 8 /Root 1 0 R >>\n");
    Loaded doc;
    ASSERT_EQ(doc.open(s.finish(at)), "");
    EXPECT_EQ(doc.xref().recordCount(), 8);
    // Within one section, as across sections, the first listing of a number wins.
    expectRecords(doc, {{1, static_cast<int32_t>(s.off(1)), 0, XREF_IN_FILE},
                        {2, -1, 0, XREF_FREE},
                        {4, -1, 0, XREF_FREE},
                        {6, -1, 0, XREF_FREE},
                        {7, 555, 2, XREF_IN_FILE}});
    EXPECT_EQ(doc.fetch(1), "<< /Pages 2 0 R /Type /Catalog >>");
    EXPECT_EQ(doc.fetch(2), "null");
}

TEST(ClassicTable, EntriesWithAnyLineEndAndLeadingZeros)
{
    for (const char* eol : {"\r\n", "\n", "\r", " \n", " \r", "  ", "\t\f"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(eol)));
        Sections s(basicDoc());
        std::string table = "xref\r0 4\r";
        table += entry(0, 65535, 'f', eol);
        for (int n = 1; n < 4; ++n)
            table += (n == 3 ? "000" : "") + entry(s.off(n), 0, 'n', eol); // extra leading zeros are fine
        const long at = s.add(table + "trailer\r<< /Size 4 /Root 1 0 R >>\r");
        Loaded doc;
        ASSERT_EQ(doc.open(s.finish(at)), "");
        EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
        expectRecords(doc, {{0, 0, 65535, XREF_FREE}, {3, static_cast<int32_t>(s.off(3)), 0, XREF_IN_FILE}});
    }
}

TEST(ClassicTable, MalformedSectionsAreRefused)
{
    const struct {
        const char* name;
        std::function<std::string(const Sections&)> text; // after "xref\n"
        const char* error;
    } rows[] = {
        {"entry keyword x", [](const Sections& s) { return "0 2\n" + entry(0, 65535, 'f') + entry(s.off(1), 0, 'x'); },
         kTable},
        {"subsection count a keyword", [](const Sections&) { return std::string("0 a\n"); }, kTable},
        {"subsection count a real", [](const Sections&) { return "0 1.0\n" + entry(0, 65535, 'f'); }, kTable},
        {"entry offset a real", [](const Sections&) { return std::string("0 1\n0.5 65535 f\n"); }, kTable},
        {"entry generation a name", [](const Sections&) { return std::string("0 1\n0 /G f\n"); }, kTable},
        {"fewer entries than counted", [](const Sections&) { return "0 3\n" + entry(0, 65535, 'f'); }, kTable},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add("xref\n" + row.text(s) + "trailer\n<< /Size 4 /Root 1 0 R >>\n");
        Loaded doc;
        EXPECT_EQ(doc.open(s.finish(at)), row.error);
    }
    const struct {
        const char* name;
        const char* afterEntries;
        const char* error;
    } trailers[] = {
        {"no trailer before startxref", "", kTable},
        {"trailer followed by an array", "trailer\n[ /Size 4 /Root 1 0 R ]\n", "Trailer dictionary is wrong type"},
        {"trailer followed by a reference", "trailer\n1 0 R\n", "Trailer dictionary is wrong type"},
        {"trailer followed by startxref", "trailer\n", "Trailer dictionary is wrong type"},
    };
    for (const auto& row : trailers) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add("xref\n" + s.classicAll(4) + row.afterEntries);
        Loaded doc;
        EXPECT_EQ(doc.open(s.finish(at)), row.error);
    }
}

TEST(ClassicTable, SectionBeginningWithTrailerHasNoEntries)
{
    Sections s(basicDoc());
    const long older = s.add("xref\n" + s.classicAll(4) + "trailer\n<< /Size 4 /Root 1 0 R /Rev 1 >>\n");
    const long newer = s.add("xref\ntrailer\n<< /Size 4 /Root 1 0 R /Rev 2" + prevKey(older) + " >>\n");
    Loaded doc;
    ASSERT_EQ(doc.open(s.finish(newer)), "");
    EXPECT_EQ(doc.xref().recordCount(), 4);
    EXPECT_EQ(doc.trailerKey("Rev"), "2");
    EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
}

TEST(ClassicTable, PrevGivenAsIntegerOrReferenceContinuesAtThatOffset)
{
    for (const char* prev : {"/Prev 12", "/Prev 12 0 R"}) {
        SCOPED_TRACE(prev);
        PdfBuilder b = basicDoc();
        // "%PDF-1.7\n%a\n" is 12 bytes: an older section stands right after it.
        b.setHeader("%PDF-1.7\n%a\nxref\n40 1\n" + entry(777, 0, 'n') + "trailer\n<< /Size 41 >>\n");
        b.setTrailerExtra(prev);
        Loaded doc;
        ASSERT_EQ(doc.open(b.build()), "");
        EXPECT_EQ(doc.xref().recordCount(), 41);
        expectRecords(doc, {{40, 777, 0, XREF_IN_FILE}, {3, static_cast<int32_t>(b.objectOffset(3)), 0, XREF_IN_FILE}});
    }
}

TEST(SectionChain, NewestEntryWinsInEveryMixOfTablesAndStreams)
{
    for (bool newerStream : {false, true}) {
        for (bool olderStream : {false, true}) {
            SCOPED_TRACE(std::string(newerStream ? "stream" : "table") + " over " + (olderStream ? "stream" : "table"));
            Sections s(basicDoc());
            std::map<int, Row> old{{0, {0, 0, 65535}}, {5, {1, 500, 0}}, {6, {1, 700, 0}}, {7, {1, 300, 0}}};
            for (int n = 1; n < 4; ++n)
                old[n] = {1, static_cast<uint32_t>(s.off(n)), 0};
            const long older = s.add(section(olderStream, old, "/Size 8 /Root 1 0 R /Rev 1", 20));
            const long newer = s.add(section(newerStream, {{5, {1, 900, 0}}, {7, {0, 0, 1}}},
                                             "/Size 8 /Root 1 0 R /Rev 2" + prevKey(older), 21));
            Loaded doc;
            ASSERT_EQ(doc.open(s.finish(newer)), "");
            expectRecords(doc, {{0, 0, 65535, XREF_FREE},
                                {5, 900, 0, XREF_IN_FILE},
                                {6, 700, 0, XREF_IN_FILE},
                                {7, 0, 1, XREF_FREE}});
            EXPECT_EQ(doc.trailerKey("Rev"), "2");
            EXPECT_EQ(doc.xref().recordCount(), 8);
            EXPECT_EQ(doc.fetch(2), "<< /Count 0 /Kids [ ] /Type /Pages >>");
            EXPECT_EQ(doc.fetch(7), "null");
        }
    }
}

TEST(SectionChain, PrevLoopStopsAndKeepsWhatWasRead)
{
    const struct {
        const char* name;
        std::vector<int> prevOf; // section i's /Prev names section prevOf[i]; section 0 is at startxref
    } rows[] = {
        {"A -> B -> A", {1, 0}},
        {"A -> A", {0}},
        {"A -> B -> C -> B", {1, 2, 1}},
    };
    for (const auto& row : rows) {
        for (bool stream : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (stream ? ", streams" : ", tables"));
            Sections s(basicDoc());
            // Section i lists object 4 + i; the first also lists 0..3.
            auto text = [&](size_t i, long prev) {
                std::map<int, Row> listed{{static_cast<int>(4 + i), {1, static_cast<uint32_t>(100 * (i + 1)), 0}}};
                if (i == 0)
                    for (int n = 0; n < 4; ++n)
                        listed[n] = n ? Row{1, static_cast<uint32_t>(s.off(n)), 0} : Row{0, 0, 65535};
                return section(stream, listed, "/Size 8 /Root 1 0 R" + prevKey(prev), 30 + static_cast<int>(i));
            };
            std::vector<long> at{s.size()};
            for (size_t i = 0; i + 1 < row.prevOf.size(); ++i)
                at.push_back(at.back() + static_cast<long>(text(i, 0).size()));
            for (size_t i = 0; i < row.prevOf.size(); ++i)
                s.add(text(i, at[static_cast<size_t>(row.prevOf[i])]));
            Loaded doc;
            ASSERT_EQ(doc.open(s.finish(at[0])), "");
            for (size_t i = 0; i < row.prevOf.size(); ++i)
                EXPECT_EQ(doc.rec(static_cast<int>(4 + i)).offset, static_cast<int32_t>(100 * (i + 1)));
            EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
        }
    }
}

TEST(XrefStream, RowsAndRanges)
{
    const auto F = XREF_FREE, I = XREF_IN_FILE, O = XREF_IN_OBJSTM;
    const struct {
        const char* name;
        std::string dict; // besides /Type /Length /Root
        std::string data;
        int count;
        std::vector<Want> wants;
    } rows[] = {
        {"/W [ 1 2 1 ], no /Index", "/Size 3 /W [ 1 2 1 ]", packRows({{0, 0, 255}, {1, 16, 0}, {2, 5, 3}}, 1, 2, 1), 3,
         {{0, 0, 255, F}, {1, 16, 0, I}, {2, 5, 3, O}}},
        {"/W [ 0 2 0 ]: every row in the file, generation 0", "/Size 3 /W [ 0 2 0 ]",
         packRows({{1, 16, 0}, {1, 32, 0}, {1, 48, 0}}, 0, 2, 0), 3, {{0, 16, 0, I}, {1, 32, 0, I}, {2, 48, 0, I}}},
        {"a fourth /W item is ignored", "/Size 2 /W [ 1 2 1 0 ]", packRows({{0, 0, 255}, {1, 16, 2}}, 1, 2, 1), 2,
         {{0, 0, 255, F}, {1, 16, 2, I}}},
        {"a negative type width makes rows free", "/Size 1 /W [ -1 2 1 ]", packRows({{0, 16, 5}}, 0, 2, 1), 1,
         {{0, 16, 5, F}}},
        {"a 5-byte field keeps its low 32 bits", "/Size 1 /W [ 1 5 1 ]", std::string("\x01\x01\x00\x00\x01\x23\x07", 7),
         1, {{0, 0x123, 7, I}}},
        {"a 2-byte type field", "/Size 1 /W [ 2 2 1 ]", packRows({{2, 9, 4}}, 2, 2, 1), 1, {{0, 9, 4, O}}},
        {"/Index [ 0 1 7 2 ]", "/Size 9 /Index [ 0 1 7 2 ] /W [ 1 2 1 ]",
         packRows({{0, 0, 255}, {1, 70, 0}, {1, 80, 0}}, 1, 2, 1), 9,
         {{0, 0, 255, F}, {1, -1, 0, F}, {6, -1, 0, F}, {7, 70, 0, I}, {8, 80, 0, I}}},
        {"/Index [ 5 ] alone reads no row", "/Size 9 /Index [ 5 ] /W [ 1 2 1 ]", "", 9, {{0, -1, 0, F}, {8, -1, 0, F}}},
        {"an unpaired last /Index item is ignored", "/Size 4 /Index [ 0 2 9 ] /W [ 1 2 1 ]",
         packRows({{0, 0, 255}, {1, 16, 0}}, 1, 2, 1), 4, {{1, 16, 0, I}, {3, -1, 0, F}}},
        {"/Index not an array means 0 to /Size", "/Size 2 /Index /All /W [ 1 2 1 ]",
         packRows({{0, 0, 255}, {1, 16, 0}}, 1, 2, 1), 2, {{1, 16, 0, I}}},
        {"/Index beyond /Size grows the table", "/Size 2 /Index [ 3 2 ] /W [ 1 2 1 ]",
         packRows({{1, 16, 0}, {1, 32, 0}}, 1, 2, 1), 5, {{2, -1, 0, F}, {3, 16, 0, I}, {4, 32, 0, I}}},
        {"bytes after the last row are not read", "/Size 1 /W [ 1 2 1 ]", packRows({{1, 16, 0}}, 1, 2, 1) + "\x07\x07",
         1, {{0, 16, 0, I}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add(xrefStream(9, "/Root 1 0 R " + row.dict, row.data));
        Loaded doc;
        ASSERT_EQ(doc.open(s.finish(at)), "");
        EXPECT_EQ(doc.xref().recordCount(), row.count);
        expectRecords(doc, row.wants);
    }
}

TEST(XrefStream, OlderTableFillsOnlyWhatTheStreamLeftUnfilled)
{
    Sections s(basicDoc());
    std::string table = "xref\n0 9\n" + entry(0, 65535, 'f');
    for (int n = 1; n < 9; ++n)
        table += entry(n < 4 ? s.off(n) : 100 + n, 0, 'n');
    const long older = s.add(table + "trailer\n<< /Size 9 /Root 2 0 R /Rev 1 >>\n");
    const long newer = s.add(xrefStream(9, "/Size 9 /Root 1 0 R /Rev 2 /Index [ 0 1 7 2 ] /W [ 1 2 1 ]" + prevKey(older),
                                        packRows({{0, 0, 255}, {1, 70, 0}, {1, 80, 0}}, 1, 2, 1)));
    Loaded doc;
    ASSERT_EQ(doc.open(s.finish(newer)), "");
    expectRecords(doc, {{0, 0, 255, XREF_FREE}, {6, 106, 0, XREF_IN_FILE}, {7, 70, 0, XREF_IN_FILE}});
    EXPECT_EQ(doc.trailerKey("Rev"), "2"); // the stream's dictionary stays the trailer
    EXPECT_EQ(doc.xref().rootNum(), 1);
    EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>");
}

TEST(XrefStream, MalformedStreamSectionsAreRefused)
{
    const std::string rows2 = packRows({{0, 0, 255}, {1, 16, 0}}, 1, 2, 1);
    const char* const size = "Size of xref Stream is wrong type";
    const char* const wType = "W item of xref Stream is wrong type";
    const char* const wLength = "W item of xref Stream is wrong length";
    const char* const index = "Index item of xref Stream is wrong type";
    const char* const eof = "Unexpected EOF while reading xref stream section";
    const char* const type = "Wrong type of xref entry while reading xref stream section";
    const struct {
        const char* name;
        std::string dict;
        std::string data;
        const char* error;
    } rows[] = {
        {"no /Size", "/W [ 1 2 1 ]", rows2, size},
        {"/Size a string", "/Size (2) /W [ 1 2 1 ]", rows2, size},
        {"/Size a reference", "/Size 2 0 R /W [ 1 2 1 ]", rows2, size},
        {"/Size a real", "/Size 2.0 /W [ 1 2 1 ]", rows2, size},
        {"no /W", "/Size 2", rows2, wType},
        {"/W not an array", "/Size 2 /W 4", rows2, wType},
        {"/W with a real", "/Size 2 /W [ 1 2.0 1 ]", rows2, wType},
        {"/W with a reference", "/Size 2 /W [ 1 2 1 0 R ]", rows2, wType},
        {"/W with two items", "/Size 2 /W [ 1 2 ]", rows2, wLength},
        {"/W empty", "/Size 2 /W [ ]", rows2, wLength},
        {"/Index with a string", "/Size 2 /Index [ 0 (2) ] /W [ 1 2 1 ]", rows2, index},
        {"/Index with a real", "/Size 2 /Index [ 0 2.0 ] /W [ 1 2 1 ]", rows2, index},
        {"/Index with a name first", "/Size 2 /Index [ /A 2 ] /W [ 1 2 1 ]", rows2, index},
        {"data ends in the second row", "/Size 2 /W [ 1 2 1 ]", rows2.substr(0, 6), eof},
        {"type 3", "/Size 2 /W [ 1 2 1 ]", packRows({{0, 0, 255}, {3, 16, 0}}, 1, 2, 1), type},
        {"type 256 in a 2-byte field", "/Size 1 /W [ 2 2 1 ]", packRows({{256, 16, 0}}, 2, 2, 1), type},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add(xrefStream(9, "/Root 1 0 R " + row.dict, row.data));
        Loaded doc;
        EXPECT_EQ(doc.open(s.finish(at)), row.error);
    }
}

TEST(XrefStream, TruncatedFlateDataEndsInsideARow)
{
    std::string rows;
    for (uint32_t n = 0; n < 200; ++n)
        rows += packRows({{1, 1000 + 7 * n, 0}}, 1, 2, 1);
    uLongf len = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(len, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&packed[0]), &len, reinterpret_cast<const Bytef*>(rows.data()),
                       static_cast<uLong>(rows.size())),
              Z_OK);
    packed.resize(len / 2);
    Sections s(basicDoc());
    const long at = s.add(xrefStream(9, "/Root 1 0 R /Size 200 /W [ 1 2 1 ] /Filter /FlateDecode", packed));
    Loaded doc;
    EXPECT_EQ(doc.open(s.finish(at)), "Unexpected EOF while reading xref stream section");
}

TEST(SectionStart, WhatStandsAtTheSectionOffsetMustBeATableOrAStream)
{
    const std::string rows = packRows({{0, 0, 255}}, 1, 2, 1);
    const struct {
        const char* name;
        std::string text;
        const char* error;
    } cases[] = {
        {"the keyword trailer", "trailer\n<< /Size 4 /Root 1 0 R >>\n", "Couldn't parse an xref"},
        {"a name", "/XRef\n", "Couldn't parse an xref"},
        {"a dictionary", "<< /Size 4 >>\n", "Couldn't parse an xref"},
        {"nothing: past the end of the file", "", "Couldn't parse an xref"},
        {"an object that is not a stream", "9 0 obj\n<< /Size 1 /W [ 1 2 1 ] /Root 1 0 R >>\nendobj\n", kStream},
        {"a reference", "9 0 R\n", "Couldn't parse an xref"},
        {"a number and a string", "9 (0) obj\n", kStream},
        {"two numbers without obj", "9 0 endobj\n", kStream},
        {"a stream whose /Length is indirect",
         "9 0 obj\n<< /Type /XRef /Length 1 0 R /Size 1 /W [ 1 2 1 ] /Root 1 0 R >>\nstream\n" + rows +
             "\nendstream\nendobj\n",
         kStream},
        {"a stream with an unsupported filter",
         "9 0 obj\n<< /Type /XRef /Length 4 /Filter /LZWDecode /Size 1 /W [ 1 2 1 ] /Root 1 0 R >>\nstream\n" + rows +
             "\nendstream\nendobj\n",
         kStream},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sections s(basicDoc());
        const long at = s.add(c.text);
        Loaded doc;
        EXPECT_EQ(doc.open(s.finish(c.text.empty() ? at + 5000 : at)), c.error);
    }
}

TEST(HostileInput, NegativeOrPastEndOffsetsFailCleanly)
{
    for (const char* edit : {"startxref\n-40\n", "startxref\n-2147483648\n", "startxref\n99999999999\n"}) {
        SCOPED_TRACE(edit);
        std::string bytes = basicDoc().build();
        bytes.replace(bytes.rfind("startxref"), std::string::npos, std::string(edit) + "%%EOF\n");
        Loaded doc;
        EXPECT_NE(doc.open(bytes), "");
    }
    for (const char* prev : {"/Prev -40", "/Prev 99999999", "/Prev -1 0 R"}) {
        SCOPED_TRACE(prev);
        PdfBuilder b = basicDoc();
        b.setTrailerExtra(prev);
        Loaded doc;
        EXPECT_NE(doc.open(b.build()), "");
    }
}

TEST(HostileInput, AbsurdRecordCountsAreDamagedWithoutAHugeAllocation)
{
    const struct {
        const char* name;
        bool stream;
        std::string text; // subsections after "xref\n", or the stream's dictionary entries
    } rows[] = {
        {"negative first", false, "-1 2\n" + entry(0, 65535, 'f') + entry(0, 0, 'f')},
        {"negative count", false, "0 -5\n"},
        {"first + count past 2^31", false, "2147483000 1000\n"},
        {"more entries than the file could hold", false, "0 100000\n"},
        {"/Size 2000000000", true, "/Size 2000000000 /W [ 1 2 1 ]"},
        {"/Size -1", true, "/Size -1 /W [ 1 2 1 ]"},
        {"/Index with a negative first", true, "/Size 3 /Index [ -3 2 ] /W [ 1 2 1 ]"},
        {"/Index with a negative count", true, "/Size 3 /Index [ 0 -1 ] /W [ 1 2 1 ]"},
        {"/Index count 2000000000", true, "/Size 3 /Index [ 0 2000000000 ] /W [ 1 2 1 ]"},
        {"/Index first + count past 2^31", true, "/Size 3 /Index [ 2147483000 1000 ] /W [ 1 2 1 ]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sections s(basicDoc());
        const long at = s.add(row.stream ? xrefStream(9, "/Root 1 0 R " + row.text, packRows({{0, 0, 255}}, 1, 2, 1))
                                         : "xref\n" + row.text + "trailer\n<< /Size 4 /Root 1 0 R >>\n");
        Loaded doc;
        EXPECT_EQ(doc.open(s.finish(at)), kDamaged);
    }
}

TEST(HostileInput, SubsectionAboveTheObjectBoundIsDamagedEvenInALargeFile)
{
    PdfBuilder b = basicDoc();
    b.setPadding(8500000); // large enough that the file size alone allows the count
    Sections s(b);
    const long at = s.add("xref\n0 8388608\n" + entry(0, 65535, 'f') + "trailer\n<< /Size 4 /Root 1 0 R >>\n");
    Loaded doc;
    EXPECT_EQ(doc.open(s.finish(at)), kDamaged);
}

TEST(HybridFile, XRefStmStreamIsReadWithTheTableOfItsRevision)
{
    PdfBuilder b = basicDoc();
    const int objStm = b.addObjectStream(); // 4
    b.set(5, "(only in the stream)");
    b.set(6, "(free in the table)");
    b.set(7, "(in use in the table)");
    for (int n : {5, 6, 7})
        b.compress(n, objStm);
    b.set(8, "(eight)");
    b.setXref(XrefKind::Stream);
    Sections s(b);

    const long older = s.add(section(false, {{6, {1, 999, 0}}, {9, {1, 888, 0}}, {10, {1, 777, 0}}},
                                     "/Size 11 /Root 2 0 R", 20));
    const long stm = s.add(xrefStream(21, "/Size 11 /Root 3 0 R /W [ 1 4 2 ] /Index [ 5 4 ]",
                                      packRows({{2, 4, 0}, {2, 4, 1}, {2, 4, 2}, {0, 0, 3}})));
    std::string table = "xref\n0 5\n" + entry(0, 65535, 'f');
    for (int n = 1; n <= 4; ++n)
        table += entry(s.off(n), 0, 'n');
    table += "6 4\n" + entry(0, 0, 'f') + entry(321, 0, 'n') + entry(0, 0, 'f') + entry(0, 0, 'f');
    const long newest = s.add(table + "trailer\n<< /Size 11 /Root 1 0 R /XRefStm " + std::to_string(stm) +
                              prevKey(older) + " >>\n");
    Loaded doc;
    ASSERT_EQ(doc.open(s.finish(newest)), "");
    expectRecords(doc, {
                           {5, 4, 0, XREF_IN_OBJSTM},  // listed only in the stream
                           {6, 4, 1, XREF_IN_OBJSTM},  // in use in the stream replaces free in the table
                           {7, 321, 0, XREF_IN_FILE},  // the table wins where it lists a number in use
                           {8, 0, 0, XREF_FREE},       // a free stream row doesn't replace a free table entry
                           {9, 0, 0, XREF_FREE},       // the older section can't revive what this revision freed
                           {10, 777, 0, XREF_IN_FILE}, // ... but fills what nothing listed
                       });
    EXPECT_EQ(doc.xref().rootNum(), 1); // the table's trailer, not the stream's dictionary
    EXPECT_EQ(doc.fetch(5), "(only in the stream)");
    EXPECT_EQ(doc.fetch(6), "(free in the table)");
    EXPECT_EQ(doc.bytesOf(5), "(only in the stream)\n");
}

} // namespace
