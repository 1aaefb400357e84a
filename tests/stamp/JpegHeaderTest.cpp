// The JPEG header walk: size, colour layout and orientation come from the
// first frame header and EXIF segment; anything malformed ends the walk
// without reading past the file, and a cut-off file never reaches its end.

#include "load/CFileSource.h"
#include "stamp/JpegHeader.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

std::string fixture(const char* name) { return vtest::readFile(vtest::sourceDir() + "/tests/data/" + name); }
std::string bytes(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }
std::string segment(int code, const std::string& body) {
    return bytes({0xFF, code, int(body.size() + 2) >> 8, int(body.size() + 2) & 0xFF}) + body;
}
std::string frame(int code, int width, int height, int components) {
    return segment(code, bytes({8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, components}) +
                             std::string(3 * components, 1));
}

const std::string kStart = bytes({0xFF, 0xD8}), kFill(5, '\xFF'), kApp0 = segment(0xE0, "JFIF" + std::string(10, 0));
// The frame example: 480 rows of 640 samples, 3 components.
const std::string kFrame = bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03}) + std::string(9, 1);
const std::string kEnd = bytes({0xFF, 0xD9}), kScanHeader = segment(0xDA, bytes({1, 1, 0, 0, 63, 0}));
const std::string kBaseline = fixture("baseline_rgb_37x21.jpg"), kExif6 = vtest::exifWithOrientation(6);

// A failed walk leaves the outputs alone: -7. `whole`: the walk reaches the end-of-image marker.
struct JpegCase { const char* name; std::string data; bool ok; int width, height, components; bool whole, adobe = false;
                  int orientation = 1; };
JpegCase bad(const char* name, std::string data) { return {name, std::move(data), false, -7, -7, -7, false}; }
JpegCase example(const char* name, std::string data, bool whole) { return {name, data, true, 640, 480, 3, whole}; }
// The baseline file with an APP1 segment of `app1` data: its EXIF orientation tag; anything unusable is 1.
JpegCase exif(const char* name, const std::string& app1, int orientation) {
    return {name, vtest::withApp1(kBaseline, app1), true, 37, 21, 3, true, false, orientation};
}
const JpegCase kJpegs[] = {
    {"Baseline", kBaseline, true, 37, 21, 3, true},
    {"Progressive", fixture("progressive_rgb_37x21.jpg"), true, 37, 21, 3, true},
    {"Grey", fixture("grey_29x17.jpg"), true, 29, 17, 1, true},
    {"AdobeCmyk", fixture("cmyk_adobe_23x13.jpg"), true, 23, 13, 4, true, true},
    example("FrameExample", kStart + kApp0 + kFrame, false),
    example("FillBytesBeforeMarkers", kStart + kFill + kApp0 + kFill + kFrame, false),
    {"FirstFrameWins", kStart + frame(0xC1, 11, 12, 1) + kFrame, true, 11, 12, 1, false},
    // A thumbnail, or a table that looks like a frame (C4, C8 and CC are no frames), is not the image.
    example("SegmentsAreSkippedUnread", kStart + segment(0xE1, "Exif" + frame(0xC0, 1, 2, 3)) + frame(0xC4, 3, 4, 3) +
                                            frame(0xC8, 5, 6, 3) + frame(0xCC, 7, 8, 3) + kFrame, false),
    {"LosslessFrame", kStart + frame(0xC3, 11, 12, 1), true, 11, 12, 1, false},
    {"ArithmeticFrame", kStart + frame(0xCF, 13, 14, 1), true, 13, 14, 1, false},
    {"CmykWithoutAdobeSegment", kStart + frame(0xC0, 5, 6, 4), true, 5, 6, 4, false},
    {"App14NotNamedAdobe", kStart + segment(0xEE, "Adobf000000") + frame(0xC0, 5, 6, 4), true, 5, 6, 4, false},
    {"App14TooShortForTheName", kStart + segment(0xEE, "Ado") + frame(0xC0, 5, 6, 4), true, 5, 6, 4, false},
    exif("ExifBigEndian", kExif6, 6), exif("ExifLittleEndian", vtest::exifWithOrientation(8, false), 8),
    exif("ExifMirror", vtest::exifWithOrientation(2), 2), exif("ExifOutOfRange", vtest::exifWithOrientation(9), 1),
    exif("ExifZero", vtest::exifWithOrientation(0), 1), exif("NotExif", "XMP" + kExif6.substr(3), 1),
    exif("ExifWithoutByteOrder", kExif6.substr(0, 6) + "XX" + kExif6.substr(8), 1),
    exif("ExifIfdPastTheEnd", kExif6.substr(0, 10) + bytes({0x7F, 0, 0, 0}) + kExif6.substr(14), 1),
    exif("ExifCutInTheEntries", kExif6.substr(0, kExif6.size() - 10), 1),
    exif("ExifTagNotOneShort", kExif6.substr(0, 30) + bytes({0, 4}) + kExif6.substr(32), 1),
    {"OnlyTheFirstExifSegmentCounts",
     vtest::withApp1(vtest::withApp1(kBaseline, vtest::exifWithOrientation(3)), kExif6), true, 37, 21, 3, true,
     false, 6},
    bad("Empty", ""), bad("NotStartOfImage", bytes({0xFF, 0xD9}) + kFrame),
    bad("StartOfImageNotFirst", " " + kStart + kFrame), bad("EndsAfterFillBytes", kStart + kApp0 + kFill),
    bad("SegmentLengthZero", kStart + bytes({0xFF, 0xE0, 0, 0}) + kFrame),
    bad("SegmentLengthOne", kStart + bytes({0xFF, 0xE0, 0, 1}) + kFrame),
    bad("EndsInsideSegmentLength", kStart + bytes({0xFF, 0xE0, 0})),
    bad("EndsInsideSegment", kStart + kApp0.substr(0, 9)), bad("EndsInsideFrameHeader", kStart + kFrame.substr(0, 8)),
    bad("SegmentRunsPastTheEnd", kStart + bytes({0xFF, 0xE0, 0x7F, 0xFF, 'J', 'F'})),
    bad("StartOfScanBeforeFrame", kStart + segment(0xDA, std::string(10, 0)) + kFrame),
    {"EndOfImageBeforeFrame", kStart + kEnd + kFrame, false, -7, -7, -7, true},
    bad("StrayByteBetweenSegments", kStart + kApp0 + "x" + kFrame),
    bad("NoFrame", kStart + kApp0 + segment(0xDB, std::string(65, 0))),
    // A cut-off file would be copied into the output and shown damaged.
    {"BytesAfterTheEnd", kBaseline + "trailing bytes \xFF\xD8", true, 37, 21, 3, true},
    // In scan data 0xFF 0x00 is a data byte, 0xFF 0xD0..D7 a restart: neither ends the scan.
    example("StuffedAndRestartBytesInAScan",
            kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0, 2, 0xFF, 0xD3, 3}) + kEnd, true),
    example("FillBytesBeforeTheEnd", kStart + kFrame + kScanHeader + bytes({1, 2}) + kFill + kEnd, true),
    example("TwoScans", kStart + kFrame + kScanHeader + "ab" + kScanHeader + "cd" + kEnd, true),
    {"CutInTheScan", kBaseline.substr(0, kBaseline.size() - 40), true, 37, 21, 3, false},
    {"CutBeforeTheLastByte", kBaseline.substr(0, kBaseline.size() - 1), true, 37, 21, 3, false},
    bad("CutInAHeader", kBaseline.substr(0, 30)),
    example("EndByteStuffed", kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0x00, 0xD9}), false),
    bad("OnlyTheStart", kStart)};
class JpegHeader : public ::testing::TestWithParam<JpegCase> {};

} // namespace

TEST_P(JpegHeader, GivesSizeColourLayoutAndEnd) {
    const JpegCase& c = GetParam();
    vtest::TempDir dir;
    vtest::writeFile(dir.file("image.jpg"), c.data);
    const auto source = CFileSource::open(dir.file("image.jpg"));
    ASSERT_TRUE(source);
    JpegInfo info{-7, -7, -7};
    EXPECT_EQ(readJpegSize(*source, info), c.ok);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.components, c.components);
    EXPECT_EQ(info.adobe, c.adobe);
    EXPECT_EQ(info.orientation, c.orientation);
    EXPECT_EQ(jpegReachesEnd(*source), c.whole);
}
INSTANTIATE_TEST_SUITE_P(Headers, JpegHeader, ::testing::ValuesIn(kJpegs), kRowName);
