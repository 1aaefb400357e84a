// The pages the stamper works from, with what they inherit through the tree, and the page
// rewrite byte for byte: where each insertion lands, so that every other byte stays.

#include <map>

#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "stamp/CStampJob.h"
#include "stamp/CStampSettings.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

Box box(const float b[4]) { return {b[0], b[1], b[2], b[3]}; }

// clang-format off
const Box kA4 = {0, 0, 595, 842}, kOwn = {10, 20, 300, 400}, k400 = {0, 0, 400, 600}, k500 = {0, 0, 500, 700};
const char *const kA4Media = "/MediaBox [0 0 595 842]", *const kPage = "<< /Type /Page >>",
           *const kDamaged = "PDF file was damaged";
// Page 3 below node 5 below root 2, each with these entries, all three in an object stream with `objectStream`;
// a trim box of zeros is the crop box. Resources: the page's "own", or those it inherits, inline or "num gen R".
struct AttributeCase { const char *name, *root, *node, *page; int rotate = 0; Box crop = kLetter, trim = {}; const char* resources = ""; bool objectStream = false; };
const char *const kInline = "<<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>";
const AttributeCase kAttributes[] = {
    {"NoBoxAnywhereIsLetter", "", "", ""}, {"MediaBoxFromTheRoot", kA4Media, "", "", 0, kA4},
    {"OwnMediaBoxBeatsAncestors", kA4Media, "/MediaBox [0 0 9 9]", "/MediaBox [0 0 400 600]", 0, k400},
    {"AncestorCropBox", "", "/CropBox [0 0 500 700]", "", 0, k500}, {"BoxByReference", "/MediaBox 9 0 R", "", "", 0, k400},
    {"NearestAncestorCropBox", "/CropBox [0 0 1 1]", "/CropBox [0 0 500 700]", "", 0, k500},
    {"AncestorCropBoxBeatsOwnMediaBox", "", "/CropBox [0 0 500 700]", "/MediaBox [0 0 9 9]", 0, k500},
    {"OwnCropBoxWins", "", "/CropBox [0 0 500 700]", "/CropBox [10 20 300 400] /MediaBox [0 0 9 9]", 0, kOwn},
    {"OwnTrimBox", "", "", "/TrimBox [36 36 576 756]", 0, kLetter, {36, 36, 576, 756}},
    {"TrimBoxIsNotInherited", "", "/TrimBox [1 2 3 4]", "/CropBox [10 20 300 400]", 0, kOwn},
    {"BoxItemByReference", "", "", "/CropBox [0 0 10 0 R 444]", 0, {0, 0, 333, 444}},
    {"NumbersWithoutLeadingDigit", "", "", "/CropBox [.5 .25 300.5 400.75]", 0, {0.5f, 0.25f, 300.5f, 400.75f}},
    {"SwappedCornersAreNormalised", "", "", "/CropBox [300 400 10 20]", 0, kOwn},
    {"UnusableOwnCropBoxIsIgnored", kA4Media, "", "/CropBox [0 0 100]", 0, kA4},
    {"Own90", "", "", "/Rotate 90", 90}, {"FromTheParent", "", "/Rotate 90", "", 90}, {"FourFifty", "", "", "/Rotate 450", 90},
    {"MinusNinety", "", "", "/Rotate -90", 270}, {"NearestAncestorWins", "/Rotate 180", "/Rotate 270", "", 270},
    {"RotateByReference", "", "", "/Rotate 11 0 R", 270}, {"NotAQuarterTurnIsNone", "", "", "/Rotate 45", 0},
    {"OwnZeroBeatsInherited", "", "/Rotate 90", "/Rotate 0", 0},
    {"ResourcesByReference", "/Resources 7 3 R", "", "", 0, kLetter, {}, "7 3 R"},
    {"NearestResourcesInline", "/Resources 7 3 R", "/Resources <<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>", "", 0, kLetter, {}, kInline},
    {"OwnResources", "/Resources 7 3 R", "", "/Resources << /XObject << >> >>", 0, kLetter, {}, "own"},
    {"ResourcesByReferenceInAnObjectStream", "/Resources 7 3 R", "", "", 0, kLetter, {}, "7 3 R", true},
    {"InheritedInAnObjectStream", "/MediaBox [0 0 595 842]", "/Rotate -90 /Resources <<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>", "", 270, kA4, {}, kInline, true}, {"OwnFractionalTurnStillCounts", "", "/Rotate 90", "/Rotate 90.5", 0}};
// clang-format on
// Four kids per node, 36 levels deep: no cycle, but 4^36 visits.
std::map<int, std::string> nodesOverAndOver()
{
    std::map<int, std::string> objects{{40, kPage}};
    for (int n = 5; n < 40; ++n) {
        const std::string kid = std::to_string(n + 1) + " 0 R ";
        objects[n] = "<< /Type /Pages /Kids [" + kid + kid + kid + kid + "] >>";
    }
    return objects;
}
// clang-format off
// Root node 2 with these entries, pages 3 and 4, object 8 free: the pages in order and their count, or the walk's error.
struct ShapeCase { const char *name, *root; std::map<int, std::string> objects; std::vector<int> pages; int count = 0; const char* error = nullptr; };
const ShapeCase kShapes[] = {
    {"DepthFirst", "/Kids [5 0 R 4 0 R] /Count 3", {{5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"}, {6, kPage}}, {3, 6, 4}, 3},
    {"CountOneWithTwoPages", "/Kids [3 0 R 4 0 R] /Count 1", {}, {3}, 1}, {"MissingCount", "/Kids [3 0 R 4 0 R]", {}, {3, 4}, 2},
    {"IndirectKids", "/Kids 6 0 R /Count 2", {{6, "[3 0 R 4 0 R]"}}, {3, 4}, 2},
    {"PageListedTwice", "/Kids [3 0 R 4 0 R 3 0 R] /Count 3", {}, {3, 4, 3}, 3},
    // Kids that loop back or are not there are skipped, as readers skip them.
    {"NodeInsideItself", "/Kids [5 0 R]", {{5, "<< /Type /Pages /Kids [5 0 R] >>"}}, {}, 0},
    {"NodeInsideItselfThroughAGrandchild", "/Kids [5 0 R]",
     {{5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"}, {6, "<< /Type /Pages /Kids [5 0 R] >>"}}, {3}, 1},
    {"NodesListedOverAndOver", "/Kids [5 0 R 5 0 R 5 0 R 5 0 R] /Count 1", nodesOverAndOver(), {}, 0, kDamaged},
    {"MissingKid", "/Kids [3 0 R 8 0 R]", {{9, "null"}}, {3}, 1}, {"KidBeyondTheTable", "/Kids [3 0 R 4000 0 R]", {}, {3}, 1},
    // No tree at all: a document without pages.
    {"CatalogWithoutPages", "/Kids [3 0 R]", {{1, "<< /Type /Catalog >>"}}, {}, 0},
    // The catalog's /Pages names a page: that page alone, as viewers show it.
    {"CatalogPagesNamesAPage", "/Kids [3 0 R 4 0 R] /Count 2",
     {{1, "<< /Type /Catalog /Pages 4 0 R >>"}, {4, "<< /Type /Page /Parent 2 0 R >>"}}, {4}, 1},
    {"MissingRootNode", "/Kids [3 0 R]", {{1, "<< /Type /Catalog /Pages 8 0 R >>"}, {9, "null"}}, {}, 0}};
// clang-format on

class PageAttributes : public LoadedPdf, public ::testing::WithParamInterface<AttributeCase> {};
class PageTreeShape : public LoadedPdf, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(PageAttributes, AreInheritedAndNormalised)
{
    const AttributeCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages /Kids [5 0 R] /Count 1 ") + c.root + " >>");
    b.set(5, std::string("<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] ") + c.node + " >>");
    b.set(3, std::string("<< /Type /Page /Parent 5 0 R ") + c.page + " >>");
    b.set(9, "[0 0 400 600]"), b.set(10, "333"), b.set(11, "270"), b.set(7, "<< >>", 3);
    if (c.objectStream) {
        const int objStm = b.addObjectStream();
        for (int num : {2, 5, 3})
            b.compress(num, objStm);
        b.setXref(vtest::XrefKind::Stream);
    }
    walk();
    ASSERT_EQ(pages.size(), 1u);
    const auto& up = pages[0].inheritedResources;
    const std::string resources = pages[0].resources.type == PDF_DICT ? "own"
                                  : !up                               ? ""
                                  : up->kind == CInheritedResources::INLINE
                                      ? up->text
                                      : std::to_string(up->num) + " " + std::to_string(up->gen) + " R";
    EXPECT_EQ(std::make_tuple(box(pages[0].cropBox), box(pages[0].trimBox), pages[0].rotate, resources),
              std::make_tuple(c.crop, c.trim == Box{} ? c.crop : c.trim, c.rotate, std::string(c.resources)));
}
INSTANTIATE_TEST_SUITE_P(BoxesAndRotations, PageAttributes, ::testing::ValuesIn(kAttributes), kRowName);

TEST_P(PageTreeShape, GivesThePagesInReadingOrder)
{
    const ShapeCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages ") + c.root + " >>");
    b.set(3, kPage), b.set(4, kPage), b.free(8);
    for (const auto& [num, body] : c.objects)
        b.set(num, body);
    try {
        walk();
    } catch (const CPdfException& e) {
        EXPECT_STREQ(e.message(), c.error);
        return;
    }
    EXPECT_FALSE(c.error) << "walked";
    std::vector<int> numbers;
    for (const CPageRecord& page : pages)
        numbers.push_back(page.objectNumber);
    EXPECT_EQ(std::make_pair(numbers, pageCount), std::make_pair(c.pages, c.count));
    EXPECT_EQ(CPageTreeWalker(doc->reader()).countDocument(), c.count) << "the count read without the walk";
}
INSTANTIATE_TEST_SUITE_P(Trees, PageTreeShape, ::testing::ValuesIn(kShapes), kRowName);

// clang-format off
// Objects written as given besides catalog 1 and root 2 (listing page 3 unless a row redefines it); object
// `checked` as expected, {G} {I} {P} {S} standing for the numbers of the graphics state, the image, the prefix and
// the stamp stream (with "annotate", of the appearance and annotation an update adds to page 1 alone; with
// "second", nothing stamped on page 2 alone, by the update with "update").
struct RewriteCase { const char* name; std::map<int, std::string> objects; int checked; std::string expected; const char* run = ""; };
const std::string kStream = "<< /Length 2 >>\nstream\nq\n\nendstream";
const std::map<int, std::string> kListedTwice = {{2, "<</Type/Pages/Kids [3 0 R 3 0 R]/Count 2>>"}, {3, "<</Type/Page/Parent 2 0 R/Contents 4 0 R>>"}, {4, kStream}};
const RewriteCase kRewrites[] = {
    {"DirectArray", {{3, "<</Type/Page/Parent 2 0 R/Contents [4 0 R 5 0 R]/Resources <<>>>>"}, {4, kStream}, {5, kStream}},
     3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Contents [ {P} 0 R 4 0 R 5 0 R {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    {"IndirectArray", {{3, "<</Type/Page/Contents 9 0 R/Resources <<>>>>"}, {9, "[4 0 R 5 0 R]"}, {4, kStream}, {5, kStream}},
     9, "9 0 obj\n[ {P} 0 R 4 0 R 5 0 R {S} 0 R ]\nendobj\n"},
    {"NoContents", {{3, "<</Type/Page/Parent 2 0 R/Resources <<>>>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R {S} 0 R ]/Type/Page/Parent 2 0 R/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    // One stream: the list closes after the blanks on the reference's line.
    {"OneStreamBeforeAKey", {{3, "<</Contents 4 0 R/Resources 6 0 R>>"}, {4, kStream}, {6, "<</Font 7 0 R>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources 6 0 R>>\nendobj\n"},
    {"OneStreamBeforeALineEnd", {{3, "<< /Contents 4 0 R \r\n/Resources 6 0 R >>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<< /Contents [ {P} 0 R 4 0 R  {S} 0 R ]\r\n/Resources 6 0 R >>\nendobj\n"},
    {"OneStreamLast", {{3, "<</Resources 6 0 R/Contents 4 0 R>>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<</Resources 6 0 R/Contents [ {P} 0 R 4 0 R {S} 0 R ]>>\nendobj\n"},
    {"OneStreamBeforeAComment", {{3, "<</Contents 4 0 R % a /comment\n/Resources 6 0 R>>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R % a /comment\n {S} 0 R ]/Resources 6 0 R>>\nendobj\n"},
    // Resources: our entries land after "<<", the graphics state first.
    {"IndirectResources", {{3, "<</Contents 4 0 R/Resources 6 0 R>>"}, {4, kStream}, {6, "<</Font 7 0 R>>"}},
     6, "6 0 obj\n<</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>/Font 7 0 R>>\nendobj\n"},
    {"InlineSubDictionaries", {{3, "<</Contents 4 0 R/Resources <</XObject <</X1 8 0 R>>/ExtGState <</G0 9 0 R>>>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</XObject << /Im7 {I} 0 R /X1 8 0 R>>/ExtGState << /GS7 {G} 0 R /G0 9 0 R>>>>>>\nendobj\n"},
    {"XObjectsByReference", {{3, "<</Contents 4 0 R/Resources <</XObject 10 0 R>>>>"}, {4, kStream}, {10, "<</X1 8 0 R>>"}},
     10, "10 0 obj\n<< /Im7 {I} 0 R /X1 8 0 R>>\nendobj\n"},
    // Keys found by parsing: a nested dictionary's or a string's do not count.
    {"NestedKeysDoNotCount", {{3, "<</A <</Contents (x) /Resources <<>> >> /Contents 4 0 R /Resources <<>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</A <</Contents (x) /Resources <<>> >> /Contents [ {P} 0 R 4 0 R  {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    // A reference to nothing is null: ours replace it.
    {"ResourcesNamingNothing", {{3, "<</Contents 4 0 R/Resources 70 0 R>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources << /XObject << /Im7 {I} 0 R >> /ExtGState << /GS7 {G} 0 R >> >>>>\nendobj\n"},
    // Pages that share an /Annots array each get their own, also when the pages after the last one
    // stamped are not walked: the shared one would give every page every page's stamp.
    {"SharedAnnotsArrayStaysPerPage",
     {{2, "<</Type/Pages/Kids [3 0 R 4 0 R]/Count 2>>"}, {3, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"},
      {4, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"}, {8, "<</Type/Annot/Subtype/Text/Rect [0 0 9 9]>>"}, {9, "[8 0 R]"}},
     3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Annots [8 0 R {S} 0 R ]>>\nendobj\n", "annotate"},
    {"XObjectNamingNothing", {{3, "<</Contents 4 0 R/Resources <</XObject 70 0 R>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    // A page the tree lists twice is stamped at its first place only, by either writer or in a dry run.
    {"ListedTwiceRewriteAtTheSecondPlace", kListedTwice, 3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Contents 4 0 R>>\nendobj\n", "second"},
    {"ListedTwiceUpdateAtTheSecondPlace", kListedTwice, 3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Contents 4 0 R>>\nendobj\n", "second update"}};
// clang-format on

// A run that stamps the input into out.pdf with the test JPEG.
class JpegRun : public LoadedPdf {
protected:
    JpegRun()
    {
        settings.inputPath = path, settings.outputPath = dir.file("out.pdf");
        settings.imagePath = vtest::sourceDir() + "/tests/data/e2e/stamp.jpg";
    }
    CStampSettings settings;
    CReporter reporter; // says nothing
};
class PageRewrite : public JpegRun, public ::testing::WithParamInterface<RewriteCase> {};

TEST_P(PageRewrite, InsertsWhereTheLayoutSays)
{
    const RewriteCase& c = GetParam();
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    for (const auto& [num, body] : c.objects)
        b.setRaw(num, std::to_string(num) + " 0 obj\n" + body + "\nendobj\n");
    load(b.build());
    const int size = doc->xref().recordCount();
    const std::string run = c.run;
    const bool second = run.find("second") != std::string::npos;
    settings.resourceNumber = 7, settings.annotation = run.find("annotate") != std::string::npos;
    settings.incremental = settings.annotation || run.find("update") != std::string::npos;
    settings.startPage = second ? 2 : 1, settings.endPage = second ? 2 : settings.annotation ? 1 : settings.endPage;
    EXPECT_EQ(CStampJob(settings, reporter, repairs).planFile().pagesStamped, second ? 0 : 1) << "in a dry run";
    EXPECT_EQ(CStampJob(settings, reporter, repairs).stampFile().pagesStamped, second ? 0 : 1);
    std::string expected = c.expected;
    for (const auto& [name, number] : {std::pair{"{G}", size}, {"{I}", size + 1}, {"{P}", size + 2}, {"{S}", size + 3}})
        for (size_t at; (at = expected.find(name)) != std::string::npos;)
            expected.replace(at, 3, std::to_string(number));
    CInputDocument output(CFileSource::open(dir.file("out.pdf")), repairs);
    EXPECT_EQ(output.reader().text(c.checked), expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, PageRewrite, ::testing::ValuesIn(kRewrites), kRowName);

} // namespace
