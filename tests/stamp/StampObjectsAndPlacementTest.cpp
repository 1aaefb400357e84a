// The objects every run adds, byte for byte since other programs parse them; where the stamp lands
// (on the page as displayed); the frame that closes what a page's content leaves open, read on a budget.

#include <cstring>

#include "document/CContentReader.h"
#include "image/JpegHeader.h"
#include "page/CStampPainter.h"
#include "page/CStampSettings.h"
#include "page/StampObjects.h"
#include "page/StampPlacement.h"
#include "tests/stamp/LoadedPdf.h"
#include "write/COutputWriter.h"

namespace {

// A corner mark: a 15 x 0.25 line starting 9 points outside a box corner, upright.
std::string mark(const char* at, const char* scale)
{
    return std::string("1 0 0 1 ") + at + " cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n" + scale + " 0 0 cm";
}
std::string vLine(const char* at) { return mark(at, "0.25 0 0 15.00"); }
std::string hLine(const char* at) { return mark(at, "15.00 0 0 0.25"); }

// What the formatters write for a 640 x 480 JPEG frame of this layout (a stamp turned a quarter turn: the
// end-to-end rows on turned pages), the frame for a page's effect (prefix | restore), and where an EXIF
// orientation puts the stored top-left and top-right corners (x, y of the unit box, y up).
std::string image(int components, bool adobe) { return " 0 obj<</Subtype/Image/Length 812" + formatImageObjectTail({640, 480, components, adobe}); }
std::string framed(std::optional<CContentEffect> effect)
{
    const CStampFrame frame = CContentReader::frameFor(effect);
    return buildPrefixStream(frame) + "|" + formatStampRestore(frame);
}
// A cross-reference table's field as "%0<width>u" writes it, offsets past 10^8 too (no end-to-end file has them).
std::string padded(uint32_t value, int width)
{
    char field[10];
    writeZeroPadded(field + width, value, width);
    return std::string(field, size_t(width));
}
std::string corners(int orientation)
{
    int m[6];
    orientationMatrix(orientation, m);
    // The stored top row is y = 1 of image space.
    return std::to_string(m[2] + m[4]) + " " + std::to_string(m[3] + m[5]) + ", " + std::to_string(m[0] + m[2] + m[4]) +
           " " + std::to_string(m[1] + m[3] + m[5]);
}

// clang-format off
using E = CContentEffect;
constexpr auto OPEN = E::TEXT_OPEN, AS_BEFORE = E::TEXT_AS_BEFORE;
constexpr int kMax = CContentReader::kMaxRestores;
const std::string kImage = " 0 obj<</Subtype/Image/Length 812/Filter/DCTDecode/Name/X/BitsPerComponent 8", kSize = "/Width 640/Height 480/Type/XObject>>stream\n",
                  kState = " 0 obj<</Type/ExtGState/ca ", kObjEnd = ">>\nendobj\n", kDefault = "q q q q\n|\nQ\n";
struct TextCase { const char* name; std::string (*write)(); std::string text; };
const TextCase kTexts[] = {
    {"GreyImage", [] { return image(1, false); }, kImage + "/ColorSpace/DeviceGray" + kSize},
    {"AdobeRgbImageIsPlain", [] { return image(3, true); }, kImage + "/ColorSpace/DeviceRGB" + kSize},
    {"CmykImage", [] { return image(4, false); }, kImage + "/ColorSpace/DeviceCMYK" + kSize},
    {"AdobeCmykImageIsInverted", [] { return image(4, true); }, kImage + "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]" + kSize},
    // The opacity in percent, times the single-precision 0.01: half a percent is 0.0049999999.
    {"HalfAPercentOpaque", [] { return writeGraphicsStateObject(0.5f); }, kState + "0.00" + kObjEnd},
    // The frame closes what the page's content leaves open; counts past the limit are damage.
    {"FrameUnknown", [] { return framed(std::nullopt); }, kDefault},
    {"FrameThreeExtraQ", [] { return framed(E{-3, -3, AS_BEFORE}); }, kDefault},
    {"FrameFourExtraQ", [] { return framed(E{-4, -4, AS_BEFORE}); }, "q q q q q\n|\nQ\n"},
    {"FrameExtraQThenOpen", [] { return framed(E{-1, 1, AS_BEFORE}); }, "q q q q\n|\nQ\nQ\nQ\n"},
    {"FrameTooManyOpen", [] { return framed(E{0, kMax, AS_BEFORE}); }, kDefault},
    {"FrameTooManyExtraQ", [] { return framed(E{-kMax, -kMax, OPEN}); }, kDefault},
    // EXIF orientations, as "row 0 at the visual top/left..., column 0 at ..." defines them.
    {"AsStored", [] { return corners(1); }, "0 1, 1 1"}, {"Mirrored", [] { return corners(2); }, "1 1, 0 1"},
    {"HalfTurn", [] { return corners(3); }, "1 0, 0 0"}, {"Flipped", [] { return corners(4); }, "0 0, 1 0"},
    {"Transposed", [] { return corners(5); }, "0 1, 0 0"}, {"QuarterTurnClockwise", [] { return corners(6); }, "1 1, 1 0"},
    {"Transversed", [] { return corners(7); }, "1 0, 1 1"}, {"QuarterTurnAnticlockwise", [] { return corners(8); }, "0 0, 0 1"},
    {"OrientationOutOfRange", [] { return corners(9); }, "0 1, 1 1"},
    {"PaddedToTen", [] { return padded(7, 10) + " " + padded(123456, 10) + " " + padded(4294967295u, 10); }, "0000000007 0000123456 4294967295"}};

const Box kOffset = {100, 100, 500, 700}, kFraction = {10.7f, 20.2f, 600.9f, 780.5f};
// Flags: V, H measure from the top, the right; P ignores the page's rotation.
struct PlaceCase { const char* name; int rotate; const char* flags; double anchorX, anchorY; float angle; double posX = 20, posY = 10; const char* align = "left"; Box box = kLetter; double sizeX = 100; };
const PlaceCase kPlaces[] = {
    // Each rotation, flip, centring and alignment on whole boxes is an end-to-end row.
    {"CapitalLeftAlignsRight", 0, "", -80, 10, 0, 20, 10, "Left"}, // only "left" and "center" count
    {"OddWidthCentredMovesByHalfTruncated", 0, "", -30, 10, 0, 20, 10, "center", kLetter, 101},
    {"FractionalCropBox", 0, "", 30, 30, 0, 20, 10, "left", kFraction},
    {"OffsetCropBoxFlipH", 0, "H", 480, 110, 0, 20, 10, "left", kOffset},
    // Whole numbers as always, then the fraction exactly: from the far edge, and half of a fractional width.
    {"FractionsFromTheRightCentred", 0, "H", 540.75, 10.25, 0, 20.5, 10.25, "center", kLetter, 101.5}};

// A page with trim box [36 36 576 756] and these entries, stamped with these flags.
struct StreamCase { const char* name; const char* page; std::vector<const char*> corners; std::string matrices; };
const StreamCase kStreams[] = {
    // Box corners are truncated toward zero.
    {"CropBlvOfAFractionalBox", "/CropBox [-10.7 20.9 600.9 780.5]", {"-crop_blv"}, vLine("-10.25 -4.00")},
    {"CropTrhOfAFractionalBox", "/CropBox [-10.7 20.9 600.9 780.5]", {"-crop_trh"}, hLine("609.00 779.75")},
    {"LastTrimFlagWins", "", {"-trim_trh", "-trim_blv"}, hLine("585.00 755.75")},
    {"CropFlagsComeLast", "", {"-crop_blv", "-trim_trh"}, vLine("-0.25 -24.00")}};
// Pages 0 and 1 list stream 5 (36 bytes; leaves two states open), page 2 it and stream 7 (21 bytes; one
// more state and a text object). Each step reads a page's frame, then the budget left.
struct Step { size_t page; int restores; bool endText; int64_t left; };
struct ReadCase { const char* name; int64_t budget; bool earlierStamp7; std::vector<Step> steps; };
const ReadCase kReads[] = {
    // A stream that pages share is decoded once: only the first page spends budget on it.
    {"ReadsASharedStreamOnce", 1000, false, {{0, 3, false, 964}, {1, 3, false, 964}, {2, 4, true, 943}}},
    // Once the budget is spent, pages keep the default frame.
    {"StopsAtItsBudget", 41, false, {{0, 3, false, 5}, {2, 1, false, 0}}},
    // Content ending with an earlier mark pass's stamp ends in the initial state: nothing is read.
    {"TrustsAnEarlierPassesStamp", 1000, true, {{2, 1, false, 1000}}}};
// clang-format on

class Formatted : public ::testing::TestWithParam<TextCase> {};
class StampPlacement : public ::testing::TestWithParam<PlaceCase> {};
class JobStampStream : public LoadedPdf, public ::testing::WithParamInterface<StreamCase> {};
class ContentReading : public LoadedPdf, public testing::WithParamInterface<ReadCase> {};

} // namespace

TEST_P(Formatted, ByteForByte) { EXPECT_EQ(GetParam().write(), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Texts, Formatted, ::testing::ValuesIn(kTexts), kRowName);

TEST_P(StampPlacement, GivesAnchorAndAngle)
{
    const PlaceCase& c = GetParam();
    PlacementSettings s;
    s.posX = c.posX, s.posY = c.posY, s.sizeX = c.sizeX, s.align = c.align;
    s.flipV = std::strchr(c.flags, 'V'), s.flipH = std::strchr(c.flags, 'H');
    s.forcePortrait = !std::strchr(c.flags, 'P');
    const Placement p = computePlacement(s, c.box.data(), c.rotate);
    EXPECT_EQ(std::make_tuple(p.anchorX, p.anchorY, p.angle), std::make_tuple(c.anchorX, c.anchorY, c.angle));
}
INSTANTIATE_TEST_SUITE_P(Examples, StampPlacement, ::testing::ValuesIn(kPlaces), kRowName);

// From the page record; a corner flag overrides position, size, alignment and rotation, the last in order wins.
TEST_P(JobStampStream, PlacesTheStampFromThePageRecord)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, std::string("<< /Type /Page /Parent 2 0 R /TrimBox [36 36 576 756] ") + GetParam().page + " >>");
    walk();
    CStampSettings settings;
    settings.posX = -1, settings.align = "right", settings.sizeX = 300, settings.sizeY = 50;
    for (const char* corner : GetParam().corners)
        for (size_t index = 0; index < kCornerMarkCount; ++index)
            if (std::strcmp(kCornerMarks[index].option, corner) == 0)
                settings.corners.set(index);
    const std::string stream = CStampPainter(settings, 1, 1, {"Im1", "GS1", "", ""}).stampContent(pages.at(0));
    const size_t begin = stream.find("1 0 0 1 "), end = stream.rfind(" cm\n") + 3;
    EXPECT_EQ(stream.substr(begin, end - begin), GetParam().matrices) << stream;
}
INSTANTIATE_TEST_SUITE_P(Flags, JobStampStream, ::testing::ValuesIn(kStreams), kRowName);

TEST_P(ContentReading, SpendsItsBudgetOnEachStreamOnce)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R] /Count 3 >>");
    const char* sharing = "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>";
    b.set(3, sharing), b.set(4, sharing);
    b.setStream(5, "", "q 2 0 0 2 0 0 cm q 0 g 0 0 9 9 re f\n", true);
    b.set(6, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] >>");
    b.setStream(7, "", "q BT /F1 9 Tf (x) Tj\n");
    walk();
    const std::function<bool(int)> none, seven = [](int num) { return num == 7; };
    CContentReader reader(doc->reader(), GetParam().budget, GetParam().earlierStamp7 ? seven : none);
    for (const Step& step : GetParam().steps) {
        const CPageRecord& record = pages.at(step.page);
        const CStampFrame frame = reader.frameFor(doc->reader().text(record.objectNumber), record);
        EXPECT_EQ(std::make_tuple(frame.restores, frame.endText, reader.budgetLeft()),
                  std::make_tuple(step.restores, step.endText, step.left))
            << "page " << step.page;
    }
}
INSTANTIATE_TEST_SUITE_P(Budgets, ContentReading, testing::ValuesIn(kReads), kRowName);
