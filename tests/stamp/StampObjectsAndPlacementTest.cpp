// The objects every run adds, byte for byte since other programs parse them,
// and where the stamp lands: positions count on the page as displayed.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "stamp/CStampPainter.h"
#include "stamp/CStampSettings.h"
#include "stamp/JpegHeader.h"
#include "stamp/StampObjects.h"
#include "stamp/StampPlacement.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

struct ColourCase { const char* name; int components; bool adobe; const char* colour; };
const ColourCase kColours[] = {
    {"Example", 3, false, "/ColorSpace/DeviceRGB"}, {"Grey", 1, false, "/ColorSpace/DeviceGray"},
    {"AdobeRgbIsPlain", 3, true, "/ColorSpace/DeviceRGB"}, {"Cmyk", 4, false, "/ColorSpace/DeviceCMYK"},
    {"AdobeCmykIsInverted", 4, true, "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]"}};
struct OpacityCase { const char* name; float percent; const char* ca; };
const OpacityCase kOpacities[] = {{"Half", 50, "0.50"}, {"Full", 100, "1.00"}, {"None", 0, "0.00"},
                                  {"ThirtyFive", 35, "0.35"}, {"Five", 5, "0.05"}, {"AboveFull", 150, "1.50"},
                                  {"Negative", -20, "-0.20"}};
struct TurnCase { const char* name; float degrees; const char* matrix; };
const TurnCase kTurns[] = {
    {"Zero", 0, "1.000000 0.000000 -0.000000 1.000000"}, {"Ninety", 90, "0.000000 1.000000 -1.000000 0.000000"},
    {"OneEighty", 180, "-1.000000 0.000000 -0.000000 -1.000000"},
    {"TwoSeventy", 270, "0.000000 -1.000000 1.000000 0.000000"},
    {"FortyFive", 45, "0.707107 0.707107 -0.707107 0.707107"}};

const Box kOffset = {100, 100, 500, 700}, kFraction = {10.7f, 20.2f, 600.9f, 780.5f};
// Flags: V, H measure from the top, the right; P ignores the page's rotation.
struct PlaceCase { const char* name; int rotate; const char* flags; int anchorX, anchorY; float angle;
                   int posX = 20, posY = 10; const char* align = "left"; Box box = kLetter; int sizeX = 100; };
const PlaceCase kPlaces[] = {
    {"Unrotated", 0, "", 20, 10, 0}, {"Rotate90", 90, "", 602, 20, 90}, {"Rotate90Ignored", 90, "P", 20, 10, 0},
    {"Rotate180", 180, "", 592, 782, 180}, {"Rotate270", 270, "", 10, 772, 270}, {"FlipV", 0, "V", 20, 782, 0},
    {"FlipH", 0, "H", 592, 10, 0}, {"BothFlips", 0, "VH", 592, 782, 0}, {"Rotate90FlipV", 90, "V", 10, 20, 90},
    {"Rotate90FlipH", 90, "H", 602, 772, 90}, {"Rotate90BothFlips", 90, "VH", 10, 772, 90},
    {"Rotate180FlipV", 180, "V", 592, 10, 180}, {"Rotate180FlipH", 180, "H", 20, 782, 180},
    {"Rotate270FlipV", 270, "V", 602, 772, 270}, {"Rotate270FlipH", 270, "H", 10, 20, 270},
    {"Centred", 0, "", 306, 396, 0, -1, -1}, {"CentredAlignCenter", 0, "", 256, 396, 0, -1, -1, "center"},
    {"Rotate90CentredAlignCenter", 90, "", 306, 346, 90, -1, -1, "center"},
    {"AlignRightEndsAtThePosition", 0, "", -80, 10, 0, 20, 10, "right"},
    {"Rotate270AlignRightShiftsLeftOnScreen", 270, "", 10, 872, 270, 20, 10, "right"},
    {"CapitalLeftAlignsRight", 0, "", -80, 10, 0, 20, 10, "Left"}, // only "left" and "center" count
    {"OddWidthCentredMovesByHalfTruncated", 0, "", -30, 10, 0, 20, 10, "center", kLetter, 101},
    {"FractionalCropBox", 0, "", 30, 30, 0, 20, 10, "left", kFraction},
    {"OffsetCropBoxFlipH", 0, "H", 480, 110, 0, 20, 10, "left", kOffset},
    {"OffsetCropBoxCentred", 0, "", 300, 400, 0, -1, -1, "left", kOffset}};

// A corner mark: a 15 x 0.25 line starting 9 points outside a box corner, upright.
std::string mark(const char* at, const char* scale) {
    return std::string("1 0 0 1 ") + at + " cm\n1.000000 0.000000 -0.000000 1.000000 0 0 cm\n" + scale + " 0 0 cm";
}
std::string vLine(const char* at) { return mark(at, "0.25 0 0 15.00"); }
std::string hLine(const char* at) { return mark(at, "15.00 0 0 0.25"); }
// A page with trim box [36 36 576 756] and these entries, stamped with these flags.
struct StreamCase { const char* name; const char* page; std::vector<const char*> corners; std::string matrices; };
const StreamCase kStreams[] = {
    {"RotatedPage", "/Rotate 90", {},
     "1 0 0 1 602.00 96.00 cm\n0.000000 1.000000 -1.000000 0.000000 0 0 cm\n300.00 0 0 50.00 0 0 cm"},
    {"TrimBlv", "", {"-trim_blv"}, vLine("35.75 12.00")}, {"TrimBlh", "", {"-trim_blh"}, hLine("12.00 36.00")},
    {"TrimTlv", "", {"-trim_tlv"}, vLine("35.75 765.00")}, {"TrimTlh", "", {"-trim_tlh"}, hLine("12.00 755.75")},
    {"TrimBrv", "", {"-trim_brv"}, vLine("575.75 12.00")}, {"TrimBrh", "", {"-trim_brh"}, hLine("585.00 36.00")},
    {"TrimTrv", "", {"-trim_trv"}, vLine("575.75 765.00")}, {"TrimTrh", "", {"-trim_trh"}, hLine("585.00 755.75")},
    // Box corners are truncated toward zero.
    {"CropBlvOfAFractionalBox", "/CropBox [-10.7 20.9 600.9 780.5]", {"-crop_blv"}, vLine("-10.25 -4.00")},
    {"CropTrhOfAFractionalBox", "/CropBox [-10.7 20.9 600.9 780.5]", {"-crop_trh"}, hLine("609.00 779.75")},
    {"MarkOnARotatedPageIsNotTurned", "/Rotate 90", {"-trim_blh"}, hLine("12.00 36.00")},
    {"LastTrimFlagWins", "", {"-trim_trh", "-trim_blv"}, hLine("585.00 755.75")},
    {"CropFlagsComeLast", "", {"-crop_blv", "-trim_trh"}, vLine("-0.25 -24.00")}};

class ImageObjectHeader : public ::testing::TestWithParam<ColourCase> {};
class GraphicsStateObject : public ::testing::TestWithParam<OpacityCase> {};
class StampRotation : public ::testing::TestWithParam<TurnCase> {};
class StampPlacement : public ::testing::TestWithParam<PlaceCase> {};
class JobStampStream : public LoadedPdf, public ::testing::WithParamInterface<StreamCase> {};

} // namespace

TEST_P(ImageObjectHeader, DeclaresTheColourSpaceOfTheFrame) {
    const JpegInfo jpeg{640, 480, GetParam().components, GetParam().adobe};
    EXPECT_EQ("25" + formatImageObjectHeader(812, jpeg),
              std::string("25 0 obj<</Subtype/Image/Length 812/Filter/DCTDecode/Name/X/BitsPerComponent 8") +
                  GetParam().colour + "/Width 640/Height 480/Type/XObject>>stream\n");
}
INSTANTIATE_TEST_SUITE_P(Components, ImageObjectHeader, ::testing::ValuesIn(kColours), kRowName);

TEST_P(GraphicsStateObject, CarriesTheFillOpacityWithTwoDecimals) {
    EXPECT_EQ("24" + formatGraphicsStateObject(GetParam().percent),
              std::string("24 0 obj<</Type/ExtGState/ca ") + GetParam().ca + ">>\nendobj\n");
}
INSTANTIATE_TEST_SUITE_P(Opacities, GraphicsStateObject, ::testing::ValuesIn(kOpacities), kRowName);

// The prefix saves the graphics state; the stamp restores it, then draws.
// Content that leaves states or a text object open gets a frame that closes them.
TEST(ContentStreams, ExamplesByteForByte) {
    EXPECT_EQ(formatPrefixContent(), "q q q q\n");
    EXPECT_EQ(formatStampContent("GS12345", "Im12345", 20, 10, 0.0f, 100, 50),
              "\nQ\nq\n/GS12345 gs\n1 0 0 1 20.00 10.00 cm\n"
              "1.000000 0.000000 -0.000000 1.000000 0 0 cm\n"
              "100.00 0 0 50.00 0 0 cm\n/Im12345 Do\nQ\n");
    CStampFrame frame;
    frame.saves = 7, frame.restores = 3, frame.endText = true;
    EXPECT_EQ(formatPrefixContent(frame), "q q q q q q q\n");
    const std::string content = formatStampContent("GS1", "Im1", 20, 10, 0.0f, 100, 50, frame);
    EXPECT_EQ(content.find("\nET\nQ\nQ\nQ\nq\n/GS1 gs\n"), 0u) << content;
    EXPECT_EQ(content.size(), 121u) << content; // 114 for the default frame
}

// Table entries are written without printf: they must read as its "%010u" and "%05u" do.
TEST(ContentStreams, ZeroPaddedNumbersReadAsPrintfWritesThem)
{
    for (const uint32_t value : {0u, 7u, 65535u, 123456u, 2147483647u, 4294967295u})
        for (const int width : {5, 10}) {
            char expected[32], field[10];
            if (std::snprintf(expected, sizeof expected, "%0*u", width, value) > width)
                continue; // wider than its field: no table holds it
            writeZeroPadded(field + width, value, width);
            EXPECT_EQ(std::string(field, static_cast<size_t>(width)), expected) << value << " in " << width;
        }
}

TEST_P(StampRotation, IsPrintedWithSixDecimals) {
    const std::string object = formatStampContent("GS1", "Im1", 0, 0, GetParam().degrees, 10, 10);
    EXPECT_NE(object.find(std::string("\n") + GetParam().matrix + " 0 0 cm\n"), std::string::npos) << object;
    double m[4]; // quarter turns exact: cos 90 is 0, not 6e-17
    rotationMatrix(GetParam().degrees, m);
    for (double v : m)
        EXPECT_TRUE(std::fmod(GetParam().degrees, 90.0f) != 0 || v == std::round(v)) << v;
}
INSTANTIATE_TEST_SUITE_P(Angles, StampRotation, ::testing::ValuesIn(kTurns), kRowName);

TEST_P(StampPlacement, GivesAnchorAndAngle) {
    const PlaceCase& c = GetParam();
    PlacementSettings s;
    s.posX = c.posX, s.posY = c.posY, s.sizeX = c.sizeX, s.align = c.align;
    s.flipV = std::strchr(c.flags, 'V'), s.flipH = std::strchr(c.flags, 'H');
    s.forcePortrait = !std::strchr(c.flags, 'P');
    const Placement p = computeStampPlacement(s, c.box.data(), c.rotate);
    EXPECT_EQ(std::make_tuple(p.anchorX, p.anchorY, p.angle), std::make_tuple(c.anchorX, c.anchorY, c.angle));
}
INSTANTIATE_TEST_SUITE_P(Examples, StampPlacement, ::testing::ValuesIn(kPlaces), kRowName);

// The job draws from the page record; a corner flag overrides position, size,
// alignment and rotation, and the last one set in the fixed order wins.
TEST_P(JobStampStream, PlacesTheStampFromThePageRecord) {
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, std::string("<< /Type /Page /Parent 2 0 R /TrimBox [36 36 576 756] ") + GetParam().page + " >>");
    walk();
    CStampSettings settings;
    settings.posX = -1, settings.align = "right", settings.sizeX = 300, settings.sizeY = 50;
    for (const char* corner : GetParam().corners)
        for (size_t index = 0; index < kCornerMarkCount; ++index)
            if (std::strcmp(kCornerMarks[index].option, corner) == 0)
                settings.corners.set(index);
    const std::string stream = CStampPainter(settings, 1, 1, {"Im1", "GS1"}).stampContent(pages.at(0));
    const size_t begin = stream.find("1 0 0 1 "), end = stream.rfind(" cm\n") + 3;
    EXPECT_EQ(stream.substr(begin, end - begin), GetParam().matrices) << stream;
}
INSTANTIATE_TEST_SUITE_P(Flags, JobStampStream, ::testing::ValuesIn(kStreams), kRowName);
