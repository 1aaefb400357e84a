// The page list the stamper works from: pages in reading order with the boxes,
// rotation and resources they inherit through the page tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "pdf/CPdfException.h"
#include "stamp/CPageRecord.h"
#include "stamp/CStampJob.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

using vtest::PdfBuilder;
using vtest::XrefKind;

namespace {

using Box = std::array<float, 4>;
const Box kLetter = {0, 0, 612, 792};
const Box kA4 = {0, 0, 595, 842};

::testing::AssertionResult sameBox(const float actual[4], const Box& expected)
{
    for (int i = 0; i < 4; ++i) {
        if (std::fabs(actual[i] - expected[i]) > 1e-4f * std::max(1.0f, std::fabs(expected[i])))
            return ::testing::AssertionFailure() << "[" << actual[0] << " " << actual[1] << " " << actual[2] << " "
                                                 << actual[3] << "], expected [" << expected[0] << " "
                                                 << expected[1] << " " << expected[2] << " " << expected[3] << "]";
    }
    return ::testing::AssertionSuccess();
}

// Catalog 1 naming page tree root 2; the test adds the tree.
class PageTreeWalk : public ::testing::Test {
protected:
    PageTreeWalk()
    {
        b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.setRoot(1);
    }

    const std::vector<CPageRecord>& walk()
    {
        std::string path = dir.file("in.pdf");
        b.writeTo(path);
        job.loadInput(path);
        job.findPages();
        return job.pageRecords();
    }

    std::string failure()
    {
        try {
            walk();
        } catch (const CPdfException& e) {
            return e.message();
        }
        return "(no exception)";
    }

    std::vector<int> pageNumbers()
    {
        std::vector<int> numbers;
        for (const CPageRecord& page : walk())
            numbers.push_back(page.objectNumber);
        return numbers;
    }

    PdfBuilder b;
    vtest::TempDir dir;
    CStampJob job;
};

} // namespace

TEST_F(PageTreeWalk, TwoPagesWithoutBoxesGetUsLetter)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    b.set(4, "<< /Type /Page /Parent 2 0 R >>");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].objectNumber, 3);
    EXPECT_EQ(pages[1].objectNumber, 4);
    for (const CPageRecord& page : pages) {
        EXPECT_TRUE(sameBox(page.cropBox, kLetter));
        EXPECT_TRUE(sameBox(page.trimBox, kLetter));
        EXPECT_EQ(page.rotate, 0);
        EXPECT_EQ(page.inheritedResources, nullptr);
    }
    EXPECT_EQ(job.pageCount(), 2);
}

TEST_F(PageTreeWalk, PagesComeInReadingOrderDepthFirst)
{
    b.set(2, "<< /Type /Pages /Kids [5 0 R 4 0 R] /Count 3 >>");
    b.set(5, "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 6 0 R] /Count 2 >>");
    for (int page : {3, 4, 6})
        b.set(page, "<< /Type /Page >>");
    EXPECT_EQ(pageNumbers(), (std::vector<int>{3, 6, 4}));
}

// ---------------------------------------------------------------- boxes

struct BoxCase {
    const char* name;
    const char* root; // extra entries of root node 2
    const char* node; // of intermediate node 5
    const char* page; // of page 3
    Box crop;
    Box trim;
};

class PageBoxes : public PageTreeWalk, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(PageBoxes, FollowInheritanceRules)
{
    const BoxCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages /Kids [5 0 R] /Count 1 ") + c.root + " >>");
    b.set(5, std::string("<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] /Count 1 ") + c.node + " >>");
    b.set(3, std::string("<< /Type /Page /Parent 5 0 R ") + c.page + " >>");
    b.set(9, "[0 0 400 600]");
    b.set(10, "333");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(sameBox(pages[0].cropBox, c.crop)) << "crop box";
    EXPECT_TRUE(sameBox(pages[0].trimBox, c.trim)) << "trim box";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PageBoxes,
    ::testing::Values(
        BoxCase{"NoBoxAnywhere", "", "", "", kLetter, kLetter},
        BoxCase{"A4MediaBoxOnRoot", "/MediaBox [0 0 595 842]", "", "", kA4, kA4},
        BoxCase{"NearestMediaBox", "/MediaBox [0 0 595 842]", "/MediaBox [0 0 400 500]", "", {0, 0, 400, 500},
                {0, 0, 400, 500}},
        BoxCase{"OwnMediaBoxBeatsAncestorMediaBox", "/MediaBox [0 0 595 842]", "", "/MediaBox [0 0 200 100]",
                {0, 0, 200, 100}, {0, 0, 200, 100}},
        BoxCase{"CropBoxOnIntermediateNode", "", "/CropBox [0 0 500 700]", "", {0, 0, 500, 700}, {0, 0, 500, 700}},
        BoxCase{"NearestAncestorCropBox", "/CropBox [0 0 300 300]", "/CropBox [0 0 500 700]", "", {0, 0, 500, 700},
                {0, 0, 500, 700}},
        BoxCase{"AncestorCropBoxBeatsOwnMediaBox", "", "/CropBox [0 0 500 700]", "/MediaBox [0 0 200 100]",
                {0, 0, 500, 700}, {0, 0, 500, 700}},
        BoxCase{"OwnCropBoxWins", "/CropBox [0 0 300 300]", "/CropBox [0 0 500 700]", "/CropBox [10 20 300 400]",
                {10, 20, 300, 400}, {10, 20, 300, 400}},
        BoxCase{"OwnCropBoxBeatsOwnMediaBox", "", "", "/MediaBox [0 0 1000 1000] /CropBox [50 50 500 500]",
                {50, 50, 500, 500}, {50, 50, 500, 500}},
        BoxCase{"TrimBoxWithoutCropBox", "", "", "/TrimBox [36 36 576 756]", kLetter, {36, 36, 576, 756}},
        BoxCase{"TrimBoxWithCropBox", "", "", "/CropBox [10 20 300 400] /TrimBox [36 36 250 350]",
                {10, 20, 300, 400}, {36, 36, 250, 350}},
        BoxCase{"TrimBoxIsNotInherited", "", "/TrimBox [1 2 3 4]", "/CropBox [10 20 300 400]", {10, 20, 300, 400},
                {10, 20, 300, 400}},
        BoxCase{"BoxByReference", "", "", "/CropBox 9 0 R", {0, 0, 400, 600}, {0, 0, 400, 600}},
        BoxCase{"InheritedBoxByReference", "/MediaBox 9 0 R", "", "", {0, 0, 400, 600}, {0, 0, 400, 600}},
        BoxCase{"BoxItemByReference", "", "", "/CropBox [0 0 10 0 R 444]", {0, 0, 333, 444}, {0, 0, 333, 444}},
        BoxCase{"NumbersWithoutLeadingDigit", "", "", "/CropBox [.5 .25 300.5 400.75]", {0.5f, 0.25f, 300.5f, 400.75f},
                {0.5f, 0.25f, 300.5f, 400.75f}},
        BoxCase{"FractionalA4", "", "", "/CropBox [0 0 595.276 841.89]", {0, 0, 595.276f, 841.89f},
                {0, 0, 595.276f, 841.89f}},
        BoxCase{"NegativeCorner", "", "", "/CropBox [-10 -10 600 800]", {-10, -10, 600, 800}, {-10, -10, 600, 800}},
        BoxCase{"SwappedCornersAreNormalised", "", "", "/CropBox [600 800 10 20]", {10, 20, 600, 800},
                {10, 20, 600, 800}},
        BoxCase{"UnusableOwnCropBoxFallsBack", "/MediaBox [0 0 595 842]", "", "/CropBox [0 0 100]", kA4, kA4}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- rotation

struct RotateCase {
    const char* name;
    const char* root;
    const char* node;
    const char* page;
    int rotate;
};

class PageRotation : public PageTreeWalk, public ::testing::WithParamInterface<RotateCase> {};

TEST_P(PageRotation, IsInheritedAndNormalised)
{
    const RotateCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages /Kids [5 0 R] /Count 1 ") + c.root + " >>");
    b.set(5, std::string("<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] /Count 1 ") + c.node + " >>");
    b.set(3, std::string("<< /Type /Page /Parent 5 0 R ") + c.page + " >>");
    b.set(11, "270");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].rotate, c.rotate);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PageRotation,
    ::testing::Values(RotateCase{"None", "", "", "", 0}, RotateCase{"Own90", "", "", "/Rotate 90", 90},
                      RotateCase{"FromParentNode", "", "/Rotate 90", "", 90},
                      RotateCase{"FromRootThroughNode", "/Rotate 180", "", "", 180},
                      RotateCase{"NearestAncestorWins", "/Rotate 180", "/Rotate 270", "", 270},
                      RotateCase{"OwnZeroBeatsInherited", "", "/Rotate 90", "/Rotate 0", 0},
                      RotateCase{"MinusNinety", "", "", "/Rotate -90", 270},
                      RotateCase{"InheritedMinusNinety", "", "/Rotate -90", "", 270},
                      RotateCase{"FourFifty", "", "", "/Rotate 450", 90},
                      RotateCase{"MinusFourFifty", "", "", "/Rotate -450", 270},
                      RotateCase{"ThreeSixty", "", "", "/Rotate 360", 0},
                      RotateCase{"NotAQuarterTurn", "", "", "/Rotate 45", 0},
                      RotateCase{"OwnNotAQuarterTurnStillCounts", "", "/Rotate 90", "/Rotate 45", 0},
                      RotateCase{"ByReference", "", "", "/Rotate 11 0 R", 270}),
    [](const ::testing::TestParamInfo<RotateCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- counting

TEST_F(PageTreeWalk, CountOfOneWithTwoPagesRecordsOnlyTheFirst)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page >>");
    b.set(4, "<< /Type /Page >>");
    EXPECT_EQ(pageNumbers(), std::vector<int>{3});
    EXPECT_EQ(job.pageCount(), 1);
}

TEST_F(PageTreeWalk, MissingCountIsSizedByTheWalk)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>");
    for (int page : {3, 4, 5})
        b.set(page, "<< /Type /Page >>");
    EXPECT_EQ(pageNumbers(), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(job.pageCount(), 3);
}

TEST_F(PageTreeWalk, NonIntegerCountIsSizedByTheWalk)
{
    b.set(2, "<< /Type /Pages /Count /Two /Kids [3 0 R 4 0 R] >>");
    b.set(3, "<< /Type /Page >>");
    b.set(4, "<< /Type /Page >>");
    EXPECT_EQ(pageNumbers(), (std::vector<int>{3, 4}));
    EXPECT_EQ(job.pageCount(), 2);
}

TEST_F(PageTreeWalk, IndirectKidsArrayIsWalkedLikeAnInlineOne)
{
    b.set(2, "<< /Type /Pages /Kids 6 0 R /Count 2 >>");
    b.set(6, "[3 0 R 4 0 R]");
    b.set(3, "<< /Type /Page /CropBox [0 0 100 200] >>");
    b.set(4, "<< /Type /Page >>");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].objectNumber, 3);
    EXPECT_EQ(pages[1].objectNumber, 4);
    EXPECT_TRUE(sameBox(pages[0].cropBox, {0, 0, 100, 200}));
}

TEST_F(PageTreeWalk, PageListedTwiceIsRecordedTwice)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R] /Count 3 >>");
    b.set(3, "<< /Type /Page >>");
    b.set(4, "<< /Type /Page >>");
    EXPECT_EQ(pageNumbers(), (std::vector<int>{3, 4, 3}));
}

// ---------------------------------------------------------------- damaged trees

struct DamagedCase {
    const char* name;
    std::map<int, std::string> objects; // besides catalog 1
};

class DamagedPageTree : public PageTreeWalk, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedPageTree, IsRefusedAsDamaged)
{
    for (const auto& [num, body] : GetParam().objects)
        b.set(num, body);
    b.free(8); // a number inside the table that names no object
    EXPECT_EQ(failure(), "PDF file was damaged");
}

INSTANTIATE_TEST_SUITE_P(
    Trees, DamagedPageTree,
    ::testing::Values(
        DamagedCase{"RootContainsItself", {{2, "<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>"}, {3, "<< /Type /Page >>"}}},
        DamagedCase{"NodeContainsItself",
                    {{2, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>"}, {5, "<< /Type /Pages /Kids [5 0 R] >>"}}},
        DamagedCase{"NodeContainsItselfThroughAGrandchild",
                    {{2, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>"},
                     {5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"},
                     {6, "<< /Type /Pages /Kids [5 0 R] >>"},
                     {3, "<< /Type /Page >>"}}},
        DamagedCase{"GrandchildContainsTheRoot",
                    {{2, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>"},
                     {5, "<< /Type /Pages /Kids [6 0 R] >>"},
                     {6, "<< /Type /Pages /Kids [2 0 R] >>"}}},
        DamagedCase{"KidThatDoesNotExist",
                    {{2, "<< /Type /Pages /Kids [3 0 R 8 0 R] /Count 2 >>"}, {3, "<< /Type /Page >>"}, {9, "null"}}},
        DamagedCase{"CatalogWithoutPages", {{1, "<< /Type /Catalog >>"}, {2, "<< /Type /Pages /Kids [] >>"}}},
        DamagedCase{"RootNodeThatDoesNotExist", {{1, "<< /Type /Catalog /Pages 8 0 R >>"}, {9, "null"}}}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST_F(PageTreeWalk, KidBeyondTheTableIsRefused)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4000 0 R] /Count 2 >>");
    b.set(3, "<< /Type /Page >>");
    EXPECT_THROW(walk(), CPdfException);
}

// A tree that lists one node many times over is no cycle, but never ends
// in practice; the walk must give up rather than run for ever.
TEST_F(PageTreeWalk, TreeThatMultipliesItsNodesIsRefused)
{
    b.set(2, "<< /Type /Pages /Kids [5 0 R 5 0 R 5 0 R 5 0 R] /Count 1 >>");
    int node = 5;
    for (; node < 40; ++node) {
        const std::string kid = std::to_string(node + 1) + " 0 R ";
        b.set(node, "<< /Type /Pages /Kids [" + kid + kid + kid + kid + "] >>");
    }
    b.set(node, "<< /Type /Page >>");
    EXPECT_EQ(failure(), "PDF file was damaged");
}

// ---------------------------------------------------------------- resources

TEST_F(PageTreeWalk, InheritedResourcesAreRecordedAsWrittenInTheNearestAncestor)
{
    b.set(2, "<< /Type /Pages /Resources 7 0 R /Kids [3 0 R 5 0 R 4 0 R] /Count 4 >>");
    b.set(5, "<< /Type /Pages /Parent 2 0 R /Resources <<  /Font << /F1 8 0 R >> /ProcSet [/PDF /Text]  >> "
             "/Kids [6 0 R] >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    b.set(4, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << >> >> >>");
    b.set(6, "<< /Type /Page /Parent 5 0 R >>");
    b.set(7, "<< /Font << >> >>");
    b.set(8, "<< /Type /Font >>");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 3u);

    ASSERT_EQ(pages[0].objectNumber, 3);
    ASSERT_NE(pages[0].inheritedResources, nullptr);
    EXPECT_EQ(pages[0].inheritedResources->kind, CInheritedResources::REFERENCE);
    EXPECT_EQ(pages[0].inheritedResources->num, 7);
    EXPECT_EQ(pages[0].inheritedResources->gen, 0);

    ASSERT_EQ(pages[1].objectNumber, 6);
    ASSERT_NE(pages[1].inheritedResources, nullptr);
    EXPECT_EQ(pages[1].inheritedResources->kind, CInheritedResources::INLINE);
    EXPECT_EQ(pages[1].inheritedResources->text, "<<  /Font << /F1 8 0 R >> /ProcSet [/PDF /Text]  >>");

    ASSERT_EQ(pages[2].objectNumber, 4);
    EXPECT_EQ(pages[2].inheritedResources, nullptr) << "a page with its own resources inherits none";
}

TEST_F(PageTreeWalk, InheritedResourceReferenceKeepsItsGeneration)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Resources 7 3 R >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    b.set(7, "<< >>", 3);
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_NE(pages[0].inheritedResources, nullptr);
    EXPECT_EQ(pages[0].inheritedResources->kind, CInheritedResources::REFERENCE);
    EXPECT_EQ(pages[0].inheritedResources->num, 7);
    EXPECT_EQ(pages[0].inheritedResources->gen, 3);
}

// ---------------------------------------------------------------- file layouts

TEST_F(PageTreeWalk, PagesInsideAnObjectStream)
{
    b.set(2, "<< /Type /Pages /MediaBox [0 0 595 842] /Resources << /ProcSet [/PDF] >> /Kids [5 0 R 4 0 R] "
             "/Count 2 >>");
    b.set(5, "<< /Type /Pages /Parent 2 0 R /Rotate -90 /Kids [3 0 R] >>");
    b.set(3, "<< /Type /Page /Parent 5 0 R >>");
    b.set(4, "<< /Type /Page /Parent 2 0 R /CropBox [10 10 300 400] >>");
    int objStm = b.addObjectStream();
    for (int num : {2, 5, 3, 4})
        b.compress(num, objStm);
    b.setXref(XrefKind::Stream);
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].objectNumber, 3);
    EXPECT_TRUE(sameBox(pages[0].cropBox, kA4));
    EXPECT_EQ(pages[0].rotate, 270);
    ASSERT_NE(pages[0].inheritedResources, nullptr);
    EXPECT_EQ(pages[0].inheritedResources->kind, CInheritedResources::INLINE);
    EXPECT_EQ(pages[0].inheritedResources->text, "<< /ProcSet [/PDF] >>");
    EXPECT_EQ(pages[1].objectNumber, 4);
    EXPECT_TRUE(sameBox(pages[1].cropBox, {10, 10, 300, 400}));
    EXPECT_EQ(pages[1].rotate, 0);
}

TEST_F(PageTreeWalk, JunkBeforeTheHeaderDoesNotShiftTheTree)
{
    b.setJunkPrefix(std::string(200, 'x') + "\n");
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 595 842] >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /TrimBox [36 36 500 800] >>");
    b.set(4, "<< /Type /Page /Parent 2 0 R /Rotate 90 >>");
    const auto& pages = walk();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(sameBox(pages[0].trimBox, {36, 36, 500, 800}));
    EXPECT_TRUE(sameBox(pages[1].cropBox, kA4));
    EXPECT_EQ(pages[1].rotate, 90);
}
