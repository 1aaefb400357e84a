// The page list the stamper works from: pages in reading order with the boxes,
// rotation and resources they inherit through the page tree.

#include <map>

#include "pdf/CPdfException.h"
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
    {"AncestorCropBox", "", "/CropBox [0 0 500 700]", "", 0, k500},
    {"BoxByReference", "/MediaBox 9 0 R", "", "", 0, k400},
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
// Root node 2 with these entries; pages 3 and 4, and object 8 free, unless the row says otherwise.
// Expected: the pages in order and their count, or the walk refused with `error`.
struct ShapeCase { const char *name, *root; std::map<int, std::string> objects; std::vector<int> pages; int count = 0; const char* error = nullptr; };
const ShapeCase kShapes[] = {
    {"DepthFirst", "/Kids [5 0 R 4 0 R] /Count 3", {{5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"}, {6, kPage}}, {3, 6, 4}, 3},
    {"CountOneWithTwoPages", "/Kids [3 0 R 4 0 R] /Count 1", {}, {3}, 1},
    {"MissingCount", "/Kids [3 0 R 4 0 R]", {}, {3, 4}, 2},
    {"IndirectKids", "/Kids 6 0 R /Count 2", {{6, "[3 0 R 4 0 R]"}}, {3, 4}, 2},
    {"PageListedTwice", "/Kids [3 0 R 4 0 R 3 0 R] /Count 3", {}, {3, 4, 3}, 3},
    // Kids that loop back or are not there are skipped, as readers skip them.
    {"NodeInsideItself", "/Kids [5 0 R]", {{5, "<< /Type /Pages /Kids [5 0 R] >>"}}, {}, 0},
    {"NodeInsideItselfThroughAGrandchild", "/Kids [5 0 R]",
     {{5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"}, {6, "<< /Type /Pages /Kids [5 0 R] >>"}}, {3}, 1},
    {"NodesListedOverAndOver", "/Kids [5 0 R 5 0 R 5 0 R 5 0 R] /Count 1", nodesOverAndOver(), {}, 0, kDamaged},
    {"MissingKid", "/Kids [3 0 R 8 0 R]", {{9, "null"}}, {3}, 1},
    {"KidBeyondTheTable", "/Kids [3 0 R 4000 0 R]", {}, {3}, 1},
    // No tree at all: a document without pages.
    {"CatalogWithoutPages", "/Kids [3 0 R]", {{1, "<< /Type /Catalog >>"}}, {}, 0},
    // The catalog's /Pages names a page: that page alone, as viewers show it.
    {"CatalogPagesNamesAPage", "/Kids [3 0 R 4 0 R] /Count 2",
     {{1, "<< /Type /Catalog /Pages 4 0 R >>"}, {4, "<< /Type /Page /Parent 2 0 R >>"}}, {4}, 1},
    {"MissingRootNode", "/Kids [3 0 R]", {{1, "<< /Type /Catalog /Pages 8 0 R >>"}, {9, "null"}}, {}, 0}};
// clang-format on

class PageAttributes : public LoadedPdf, public ::testing::WithParamInterface<AttributeCase> {};
class PageTreeShape : public LoadedPdf, public ::testing::WithParamInterface<ShapeCase> {};

} // namespace

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
    const auto& pages = walk();
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
    std::string error; // empty: walked
    try {
        walk();
    } catch (const CPdfException& e) {
        error = e.message();
    }
    EXPECT_EQ(error, c.error ? c.error : "");
    if (c.error)
        return;
    std::vector<int> numbers;
    for (const CPageRecord& page : pages)
        numbers.push_back(page.objectNumber);
    EXPECT_EQ(std::make_pair(numbers, pageCount), std::make_pair(c.pages, c.count));
    EXPECT_EQ(CPageTreeWalker(doc->reader()).countDocument(), c.count) << "the count read without the walk";
}
INSTANTIATE_TEST_SUITE_P(Trees, PageTreeShape, ::testing::ValuesIn(kShapes), kRowName);
