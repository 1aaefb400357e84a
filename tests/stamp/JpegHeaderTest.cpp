// The JPEG header walk: size and colour layout come from the first frame
// header; anything malformed ends the walk without reading past the file.

#include "load/CFileSource.h"
#include "stamp/JpegHeader.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

bool readJpeg(const std::string& data, JpegInfo& info) {
    vtest::TempDir dir;
    vtest::writeFile(dir.file("image.jpg"), data);
    auto source = CFileSource::open(dir.file("image.jpg"));
    return source && readJpegSize(*source, info);
}
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

// A failed walk leaves the outputs alone: -7.
struct JpegCase { const char* name; std::string data; bool ok; int width, height, components; bool adobe = false; };
JpegCase bad(const char* name, std::string data) { return {name, std::move(data), false, -7, -7, -7}; }
const JpegCase kJpegs[] = {
    {"Baseline", fixture("baseline_rgb_37x21.jpg"), true, 37, 21, 3},
    {"Progressive", fixture("progressive_rgb_37x21.jpg"), true, 37, 21, 3},
    {"Grey", fixture("grey_29x17.jpg"), true, 29, 17, 1},
    {"AdobeCmyk", fixture("cmyk_adobe_23x13.jpg"), true, 23, 13, 4, true},
    {"FrameExample", kStart + kApp0 + kFrame, true, 640, 480, 3},
    {"FillBytesBeforeMarkers", kStart + kFill + kApp0 + kFill + kFrame, true, 640, 480, 3},
    {"FirstFrameWins", kStart + frame(0xC1, 11, 12, 1) + kFrame, true, 11, 12, 1},
    // A thumbnail, or a table that looks like a frame (C4, C8 and CC are no frames), is not the image.
    {"SegmentsAreSkippedUnread", kStart + segment(0xE1, "Exif" + frame(0xC0, 1, 2, 3)) + frame(0xC4, 3, 4, 3) +
                                     frame(0xC8, 5, 6, 3) + frame(0xCC, 7, 8, 3) + kFrame, true, 640, 480, 3},
    {"LosslessFrame", kStart + frame(0xC3, 11, 12, 1), true, 11, 12, 1},
    {"ArithmeticFrame", kStart + frame(0xCF, 13, 14, 1), true, 13, 14, 1},
    {"CmykWithoutAdobeSegment", kStart + frame(0xC0, 5, 6, 4), true, 5, 6, 4},
    {"App14NotNamedAdobe", kStart + segment(0xEE, "Adobf000000") + frame(0xC0, 5, 6, 4), true, 5, 6, 4},
    {"App14TooShortForTheName", kStart + segment(0xEE, "Ado") + frame(0xC0, 5, 6, 4), true, 5, 6, 4},
    bad("Empty", ""), bad("NotStartOfImage", bytes({0xFF, 0xD9}) + kFrame),
    bad("StartOfImageNotFirst", " " + kStart + kFrame), bad("EndsAfterFillBytes", kStart + kApp0 + kFill),
    bad("SegmentLengthZero", kStart + bytes({0xFF, 0xE0, 0, 0}) + kFrame),
    bad("SegmentLengthOne", kStart + bytes({0xFF, 0xE0, 0, 1}) + kFrame),
    bad("EndsInsideSegmentLength", kStart + bytes({0xFF, 0xE0, 0})),
    bad("EndsInsideSegment", kStart + kApp0.substr(0, 9)), bad("EndsInsideFrameHeader", kStart + kFrame.substr(0, 8)),
    bad("SegmentRunsPastTheEnd", kStart + bytes({0xFF, 0xE0, 0x7F, 0xFF, 'J', 'F'})),
    bad("StartOfScanBeforeFrame", kStart + segment(0xDA, std::string(10, 0)) + kFrame),
    bad("EndOfImageBeforeFrame", kStart + bytes({0xFF, 0xD9}) + kFrame),
    bad("StrayByteBetweenSegments", kStart + kApp0 + "x" + kFrame),
    bad("NoFrame", kStart + kApp0 + segment(0xDB, std::string(65, 0)))};
void PrintTo(const JpegCase& c, std::ostream* os) { *os << c.name; }
class JpegHeader : public ::testing::TestWithParam<JpegCase> {};

} // namespace

TEST_P(JpegHeader, GivesSizeAndColourLayoutOrFails) {
    const JpegCase& c = GetParam();
    JpegInfo info{-7, -7, -7};
    EXPECT_EQ(readJpeg(c.data, info), c.ok);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.components, c.components);
    EXPECT_EQ(info.adobe, c.adobe);
}
INSTANTIATE_TEST_SUITE_P(Headers, JpegHeader, ::testing::ValuesIn(kJpegs), kRowName);

namespace {

bool reachesEnd(const std::string& data) {
    vtest::TempDir dir;
    vtest::writeFile(dir.file("image.jpg"), data);
    auto source = CFileSource::open(dir.file("image.jpg"));
    return source && jpegReachesEnd(*source);
}

const std::string kEnd = bytes({0xFF, 0xD9});
const std::string kScanHeader = segment(0xDA, bytes({1, 1, 0, 0, 63, 0}));
const std::string kBaseline = fixture("baseline_rgb_37x21.jpg");

// A cut-off file would be copied into the output and shown damaged.
struct EndCase { const char* name; std::string data; bool whole; };
const EndCase kEnds[] = {
    {"Baseline", kBaseline, true},
    {"Progressive", fixture("progressive_rgb_37x21.jpg"), true},
    {"Grey", fixture("grey_29x17.jpg"), true},
    {"AdobeCmyk", fixture("cmyk_adobe_23x13.jpg"), true},
    {"BytesAfterTheEnd", kBaseline + "trailing bytes \xFF\xD8", true},
    // In scan data 0xFF 0x00 is a data byte, 0xFF 0xD0..D7 a restart: neither ends the scan.
    {"StuffedAndRestartBytesInAScan", kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0, 2, 0xFF, 0xD3, 3}) + kEnd,
     true},
    {"FillBytesBeforeTheEnd", kStart + kFrame + kScanHeader + bytes({1, 2}) + kFill + kEnd, true},
    {"TwoScans", kStart + kFrame + kScanHeader + "ab" + kScanHeader + "cd" + kEnd, true},
    {"CutInTheScan", kBaseline.substr(0, kBaseline.size() - 40), false},
    {"CutBeforeTheLastByte", kBaseline.substr(0, kBaseline.size() - 1), false},
    {"CutInAHeader", kBaseline.substr(0, 30), false},
    {"EndByteStuffed", kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0x00, 0xD9}), false},
    {"OnlyTheStart", kStart, false},
};
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
class JpegEnd : public ::testing::TestWithParam<EndCase> {};

} // namespace

TEST_P(JpegEnd, IsReachedUnlessTheFileIsCut) { EXPECT_EQ(reachesEnd(GetParam().data), GetParam().whole); }
INSTANTIATE_TEST_SUITE_P(Files, JpegEnd, ::testing::ValuesIn(kEnds), kRowName);

// The EXIF orientation tag in the first APP1 segment; anything unusable is 1.
namespace {
struct ExifCase { const char* name; std::string app1; int orientation; };
const std::string kExif6 = vtest::exifWithOrientation(6);
const ExifCase kExifs[] = {
    {"BigEndian", kExif6, 6},
    {"LittleEndian", vtest::exifWithOrientation(8, false), 8},
    {"Mirror", vtest::exifWithOrientation(2), 2},
    {"OutOfRange", vtest::exifWithOrientation(9), 1},
    {"Zero", vtest::exifWithOrientation(0), 1},
    {"NotExif", "XMP" + kExif6.substr(3), 1},
    {"NoByteOrder", kExif6.substr(0, 6) + "XX" + kExif6.substr(8), 1},
    {"IfdPastTheEnd", kExif6.substr(0, 10) + bytes({0x7F, 0, 0, 0}) + kExif6.substr(14), 1},
    {"CutInTheEntries", kExif6.substr(0, kExif6.size() - 10), 1},
    // The tag must be one SHORT.
    {"WrongType", kExif6.substr(0, 30) + bytes({0, 4}) + kExif6.substr(32), 1},
};
void PrintTo(const ExifCase& c, std::ostream* os) { *os << c.name; }
class ExifOrientation : public ::testing::TestWithParam<ExifCase> {};
} // namespace

TEST_P(ExifOrientation, IsReadFromTheFirstIfd) { EXPECT_EQ(exifOrientation(GetParam().app1), GetParam().orientation); }
INSTANTIATE_TEST_SUITE_P(Segments, ExifOrientation, ::testing::ValuesIn(kExifs), kRowName);

TEST(ExifOrientation, OnlyTheFirstExifSegmentCounts)
{
    JpegInfo info;
    const std::string second = vtest::withApp1(kBaseline, vtest::exifWithOrientation(3));
    ASSERT_TRUE(readJpeg(vtest::withApp1(second, kExif6), info));
    EXPECT_EQ(info.orientation, 6);
    EXPECT_EQ(info.width, 37);
}
