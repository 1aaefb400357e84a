// Where the stamp lands: the anchor and angle for each position setting and
// page rotation, and the corner marks drawn around the trim or crop box.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "stamp/CStampJob.h"
#include "stamp/StampPlacement.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

using vtest::PdfBuilder;

namespace {

using Box = std::array<float, 4>;
const Box kLetter = {0, 0, 612, 792};

PlacementSettings settings(int posX = 20, int posY = 10, const char* align = "left", bool flipV = false,
                           bool flipH = false, bool forcePortrait = true, int sizeX = 100)
{
    PlacementSettings s;
    s.posX = posX;
    s.posY = posY;
    s.align = align;
    s.flipV = flipV;
    s.flipH = flipH;
    s.forcePortrait = forcePortrait;
    s.sizeX = sizeX;
    return s;
}

} // namespace

// ---------------------------------------------------------------- computeStampPlacement

struct PlacementCase {
    const char* name;
    PlacementSettings settings;
    Box box;
    int rotate;
    int anchorX;
    int anchorY;
    float angle;
};

class StampPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(StampPlacement, GivesAnchorAndAngle)
{
    const PlacementCase& c = GetParam();
    Placement p = computeStampPlacement(c.settings, c.box.data(), c.rotate);
    EXPECT_EQ(p.anchorX, c.anchorX);
    EXPECT_EQ(p.anchorY, c.anchorY);
    EXPECT_EQ(p.angle, c.angle);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StampPlacement,
    ::testing::Values(
        PlacementCase{"Unrotated", settings(), kLetter, 0, 20, 10, 0},
        PlacementCase{"Rotate90", settings(), kLetter, 90, 602, 20, 90},
        PlacementCase{"Rotate90NoForce", settings(20, 10, "left", false, false, false), kLetter, 90, 20, 10, 0},
        PlacementCase{"Rotate180", settings(), kLetter, 180, 592, 782, 180},
        PlacementCase{"Rotate270", settings(), kLetter, 270, 10, 772, 270},
        PlacementCase{"FlipV", settings(20, 10, "left", true), kLetter, 0, 20, 782, 0},
        PlacementCase{"FlipH", settings(20, 10, "left", false, true), kLetter, 0, 592, 10, 0},
        PlacementCase{"BothFlips", settings(20, 10, "left", true, true), kLetter, 0, 592, 782, 0},
        PlacementCase{"CentredBothAxes", settings(-1, -1), kLetter, 0, 306, 396, 0},
        PlacementCase{"CentredAlignCenter", settings(-1, -1, "center"), kLetter, 0, 256, 396, 0},
        PlacementCase{"CentredAlignRight", settings(-1, -1, "right"), kLetter, 0, 206, 396, 0},
        PlacementCase{"AlignRightEndsAtThePosition", settings(20, 10, "right"), kLetter, 0, -80, 10, 0},
        PlacementCase{"CapitalLeftActsAsRight", settings(20, 10, "Left"), kLetter, 0, -80, 10, 0},
        PlacementCase{"AnyOtherWordActsAsRight", settings(20, 10, "middle"), kLetter, 0, -80, 10, 0},
        PlacementCase{"OddWidthCentredMovesByHalfTruncated", settings(20, 10, "center", false, false, true, 101),
                      kLetter, 0, -30, 10, 0},
        PlacementCase{"Rotate90CentredAlignCenter", settings(-1, -1, "center"), kLetter, 90, 306, 346, 90},
        PlacementCase{"Rotate90Centred", settings(-1, -1), kLetter, 90, 306, 396, 90},
        PlacementCase{"Rotate270AlignRightShiftsLeftOnScreen", settings(20, 10, "right"), kLetter, 270, 10, 872, 270},
        PlacementCase{"FractionalCropBox", settings(), {10.7f, 20.2f, 600.9f, 780.5f}, 0, 30, 30, 0},
        PlacementCase{"OffsetCropBoxFlipH", settings(20, 10, "left", false, true), {100, 100, 500, 700}, 0, 480, 110, 0},
        // The centre is the box's middle, wherever the box starts.
        PlacementCase{"OffsetCropBoxCentred", settings(-1, -1), {100, 100, 500, 700}, 0, 300, 400, 0},
        PlacementCase{"Rotate90FlipV", settings(20, 10, "left", true), kLetter, 90, 10, 20, 90},
        PlacementCase{"Rotate90FlipH", settings(20, 10, "left", false, true), kLetter, 90, 602, 772, 90},
        PlacementCase{"Rotate90BothFlipsTurnOnce", settings(20, 10, "left", true, true), kLetter, 90, 10, 772, 90},
        PlacementCase{"Rotate180FlipV", settings(20, 10, "left", true), kLetter, 180, 592, 10, 180},
        PlacementCase{"Rotate180FlipH", settings(20, 10, "left", false, true), kLetter, 180, 20, 782, 180},
        PlacementCase{"Rotate270FlipV", settings(20, 10, "left", true), kLetter, 270, 602, 772, 270},
        PlacementCase{"Rotate270FlipH", settings(20, 10, "left", false, true), kLetter, 270, 10, 20, 270}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- corner marks

struct MarkCase {
    ECornerMark mark;
    double x, y, width, height;
};

class CornerMarkGeometry : public ::testing::TestWithParam<MarkCase> {};

TEST_P(CornerMarkGeometry, StartsNinePointsOutsideTheTrimBoxCorner)
{
    const MarkCase& c = GetParam();
    const float trimBox[4] = {36, 36, 576, 756};
    MarkGeometry g = cornerMarkGeometry(c.mark, trimBox);
    EXPECT_EQ(g.x, c.x) << "mark " << c.mark;
    EXPECT_EQ(g.y, c.y) << "mark " << c.mark;
    EXPECT_EQ(g.width, c.width) << "mark " << c.mark;
    EXPECT_EQ(g.height, c.height) << "mark " << c.mark;
}

INSTANTIATE_TEST_SUITE_P(Marks, CornerMarkGeometry,
                         ::testing::Values(MarkCase{MARK_BLV, 35.75, 12, 0.25, 15}, MarkCase{MARK_BLH, 12, 36, 15, 0.25},
                                           MarkCase{MARK_TLV, 35.75, 765, 0.25, 15},
                                           MarkCase{MARK_TLH, 12, 755.75, 15, 0.25},
                                           MarkCase{MARK_BRV, 575.75, 12, 0.25, 15},
                                           MarkCase{MARK_BRH, 585, 36, 15, 0.25},
                                           MarkCase{MARK_TRV, 575.75, 765, 0.25, 15},
                                           MarkCase{MARK_TRH, 585, 755.75, 15, 0.25}));

TEST(CornerMarkGeometry, BoxCornersAreTruncatedTowardZero)
{
    const float box[4] = {-10.7f, 20.9f, 600.9f, 780.5f};
    MarkGeometry g = cornerMarkGeometry(MARK_BLV, box);
    EXPECT_EQ(g.x, -10.25);
    EXPECT_EQ(g.y, -4);
    g = cornerMarkGeometry(MARK_TRH, box);
    EXPECT_EQ(g.x, 609);
    EXPECT_EQ(g.y, 779.75);
}

// ---------------------------------------------------------------- through the page tree

// The job places each page from its record: the effective rotation and the
// inherited boxes must reach the placement.
class JobPlacement : public ::testing::Test {
protected:
    JobPlacement()
    {
        b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.setRoot(1);
        job.sizeX = 100;
        job.sizeY = 50;
    }

    void load()
    {
        std::string path = dir.file("in.pdf");
        b.writeTo(path);
        job.loadInput(path);
        job.findPages();
    }

    // The stamp stream's transformation lines for page j.
    std::string matrices(int j)
    {
        std::string stream = job.buildStampStream(j);
        size_t begin = stream.find("\n1 0 0 1 ");
        size_t end = stream.find(" Do\n");
        if (begin == std::string::npos || end == std::string::npos)
            return stream;
        begin += 1;
        end = stream.rfind('\n', end);
        return stream.substr(begin, end - begin);
    }

    PdfBuilder b;
    vtest::TempDir dir;
    CStampJob job;
};

struct RotatedPageCase {
    const char* name;
    const char* node; // extra entries of intermediate node 5
    const char* page; // of page 3
    int anchorX;
    int anchorY;
    float angle;
};

class RotatedPagePlacement : public JobPlacement, public ::testing::WithParamInterface<RotatedPageCase> {};

TEST_P(RotatedPagePlacement, UsesTheEffectiveRotation)
{
    const RotatedPageCase& c = GetParam();
    b.set(2, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>");
    b.set(5, std::string("<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] ") + c.node + " >>");
    b.set(3, std::string("<< /Type /Page /Parent 5 0 R ") + c.page + " >>");
    load();
    ASSERT_EQ(job.pageRecords().size(), 1u);
    job.computePlacement(0);
    EXPECT_EQ(job.anchorX(), c.anchorX);
    EXPECT_EQ(job.anchorY(), c.anchorY);
    EXPECT_EQ(job.angle(), c.angle);
}

INSTANTIATE_TEST_SUITE_P(
    Rotations, RotatedPagePlacement,
    ::testing::Values(RotatedPageCase{"Unrotated", "", "", 20, 10, 0},
                      RotatedPageCase{"Own90", "", "/Rotate 90", 602, 20, 90},
                      RotatedPageCase{"InheritedFromParent", "/Rotate 90", "", 602, 20, 90},
                      RotatedPageCase{"InheritedMinusNinety", "/Rotate -90", "", 10, 772, 270},
                      RotatedPageCase{"MinusNinetyIs270", "", "/Rotate -90", 10, 772, 270},
                      RotatedPageCase{"FourFiftyIs90", "", "/Rotate 450", 602, 20, 90},
                      RotatedPageCase{"ThreeSixtyIsUnrotated", "", "/Rotate 360", 20, 10, 0},
                      RotatedPageCase{"FortyFiveIsUnrotated", "", "/Rotate 45", 20, 10, 0}),
    [](const ::testing::TestParamInfo<RotatedPageCase>& info) { return std::string(info.param.name); });

TEST_F(JobPlacement, InheritedA4MediaBoxPlacesFromTheTopAndCentre)
{
    b.set(2, "<< /Type /Pages /MediaBox [0 0 595 842] /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    load();
    job.flipV = true;
    job.computePlacement(0);
    EXPECT_EQ(job.anchorX(), 20);
    EXPECT_EQ(job.anchorY(), 832);
    job.flipV = false;
    job.posX = job.posY = -1;
    job.computePlacement(0);
    EXPECT_EQ(job.anchorX(), 297);
    EXPECT_EQ(job.anchorY(), 421);
}

TEST_F(JobPlacement, StampOnAPageRotatedByItsParentIsTurnedExactly)
{
    b.set(2, "<< /Type /Pages /Rotate 90 /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    load();
    EXPECT_EQ(matrices(0), "1 0 0 1 602.00 20.00 cm\n"
                           "0.000000 1.000000 -1.000000 0.000000 0 0 cm\n"
                           "100.00 0 0 50.00 0 0 cm");
}

struct MarkFlagCase {
    const char* name;
    std::vector<bool CStampJob::*> flags;
    const char* matrices;
};

class CornerMarkStream : public JobPlacement, public ::testing::WithParamInterface<MarkFlagCase> {};

// Marks sit at the trim or crop box whatever -pos, -size and -align say; the
// later flag in the fixed order wins.
TEST_P(CornerMarkStream, ReplacesAnchorAndSize)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /TrimBox [36 36 576 756] >>");
    load();
    job.posX = -1;
    job.align = "right";
    job.sizeX = 300;
    for (bool CStampJob::*flag : GetParam().flags)
        job.*flag = true;
    EXPECT_EQ(matrices(0), GetParam().matrices);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, CornerMarkStream,
    ::testing::Values(
        MarkFlagCase{"TrimBottomLeftHorizontal",
                     {&CStampJob::trimBlh},
                     "1 0 0 1 12.00 36.00 cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n15.00 0 0 0.25 0 0 cm"},
        MarkFlagCase{"TrimTopRightVertical",
                     {&CStampJob::trimTrv},
                     "1 0 0 1 575.75 765.00 cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n0.25 0 0 15.00 0 0 cm"},
        MarkFlagCase{"CropTopRightVerticalUsesTheCropBox",
                     {&CStampJob::cropTrv},
                     "1 0 0 1 611.75 801.00 cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n0.25 0 0 15.00 0 0 cm"},
        MarkFlagCase{"LaterTrimFlagWins",
                     {&CStampJob::trimTrh, &CStampJob::trimBlv},
                     "1 0 0 1 585.00 755.75 cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n15.00 0 0 0.25 0 0 cm"},
        MarkFlagCase{"CropFlagComesAfterTrimFlags",
                     {&CStampJob::trimTrh, &CStampJob::cropBlv},
                     "1 0 0 1 -0.25 -24.00 cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n0.25 0 0 15.00 0 0 cm"}),
    [](const ::testing::TestParamInfo<MarkFlagCase>& info) { return std::string(info.param.name); });
