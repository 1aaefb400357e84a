// The JPEG header walk: the size and colour layout of the image come from the
// first frame header; anything malformed must end the walk, never loop or
// read past the file.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "load/CFileSource.h"
#include "stamp/JpegHeader.h"
#include "tests/support/TestUtil.h"

namespace {

std::string fixture(const std::string& name) { return vtest::sourceDir() + "/tests/data/" + name; }

struct JpegResult {
    bool ok = false;
    JpegInfo info;
};

JpegResult readJpegFile(const std::string& path)
{
    JpegResult result;
    auto file = CFileSource::open(path);
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return result;
    }
    // Values the reader must not touch when it fails.
    result.info.width = -7;
    result.info.height = -7;
    result.info.components = -7;
    result.ok = readJpegSize(*file, result.info);
    return result;
}

JpegResult readJpegBytes(const std::string& bytes)
{
    vtest::TempDir dir;
    vtest::writeFile(dir.file("image.jpg"), bytes);
    return readJpegFile(dir.file("image.jpg"));
}

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

const std::string kStart = bytes({0xFF, 0xD8});
// A baseline frame header: 480 rows of 640 samples, 3 components.
const std::string kFrame = bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03});
// An APP0 segment of 16 bytes (length included).
const std::string kApp0 = bytes({0xFF, 0xE0, 0x00, 0x10}) + "JFIF" + std::string(1, '\0') + std::string(9, '\x01');

// A segment with marker `code` and `body` (length computed).
std::string segment(int code, const std::string& body)
{
    size_t length = body.size() + 2;
    return bytes({0xFF, code, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)}) + body;
}

// A frame header with the given marker, size and component count.
std::string frame(int code, int width, int height, int components)
{
    return bytes({0xFF, code, 0x00, 8 + 3 * components, 0x08, height >> 8, height & 0xFF, width >> 8, width & 0xFF,
                  components});
}

} // namespace

// ---------------------------------------------------------------- real files

struct FixtureCase {
    const char* file;
    int width;
    int height;
    int components;
    bool adobe;
};

class JpegFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(JpegFixture, SizeComponentsAndAdobeSegmentAreRead)
{
    const FixtureCase& c = GetParam();
    JpegResult r = readJpegFile(fixture(c.file));
    ASSERT_TRUE(r.ok) << c.file;
    EXPECT_EQ(r.info.width, c.width) << c.file;
    EXPECT_EQ(r.info.height, c.height) << c.file;
    EXPECT_EQ(r.info.components, c.components) << c.file;
    EXPECT_EQ(r.info.adobe, c.adobe) << c.file;
}

INSTANTIATE_TEST_SUITE_P(Files, JpegFixture,
                         ::testing::Values(FixtureCase{"baseline_rgb_37x21.jpg", 37, 21, 3, false},
                                           FixtureCase{"progressive_rgb_37x21.jpg", 37, 21, 3, false},
                                           FixtureCase{"grey_29x17.jpg", 29, 17, 1, false},
                                           FixtureCase{"cmyk_adobe_23x13.jpg", 23, 13, 4, true}));

TEST(JpegHeader, CmykWithoutAdobeSegmentIsNotMarkedAdobe)
{
    std::string data = vtest::readFile(fixture("cmyk_adobe_23x13.jpg"));
    ASSERT_EQ(data.substr(2, 2), bytes({0xFF, 0xEE})) << "the fixture should start with its APP14 segment";
    size_t length = (static_cast<unsigned char>(data[4]) << 8) | static_cast<unsigned char>(data[5]);
    data.erase(2, 2 + length);
    JpegResult r = readJpegBytes(data);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.components, 4);
    EXPECT_FALSE(r.info.adobe);
}

TEST(JpegHeader, App14NotNamedAdobeDoesNotCount)
{
    JpegResult r = readJpegBytes(kStart + segment(0xEE, "Adobf" + std::string(7, '\0')) + frame(0xC0, 5, 6, 4));
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.info.adobe);
    // A segment too short to hold the name is skipped without harm.
    r = readJpegBytes(kStart + segment(0xEE, "Ado") + frame(0xC0, 5, 6, 4));
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.info.adobe);
    EXPECT_EQ(r.info.width, 5);
}

// ---------------------------------------------------------------- synthetic headers

TEST(JpegHeader, FrameHeaderExampleGivesHeight480Width640)
{
    JpegResult r = readJpegBytes(kStart + kApp0 + kFrame);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.height, 480);
    EXPECT_EQ(r.info.width, 640);
    EXPECT_EQ(r.info.components, 3);
}

TEST(JpegHeader, SizesAreUnsigned16Bit)
{
    JpegResult r = readJpegBytes(kStart + frame(0xC0, 65535, 40000, 1));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.width, 65535);
    EXPECT_EQ(r.info.height, 40000);
}

TEST(JpegHeader, FillBytesBeforeMarkersAreAccepted)
{
    std::string fill(5, '\xFF');
    JpegResult r = readJpegBytes(kStart + fill + kApp0 + fill + kFrame);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.width, 640);
}

TEST(JpegHeader, FirstFrameHeaderWins)
{
    JpegResult r = readJpegBytes(kStart + frame(0xC2, 11, 12, 1) + frame(0xC0, 99, 98, 3));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.width, 11);
    EXPECT_EQ(r.info.height, 12);
}

// A thumbnail inside an application segment, or a table segment whose bytes
// look like a frame header, must not be taken for the image.
TEST(JpegHeader, SegmentContentsAreNeverExamined)
{
    JpegResult r = readJpegBytes(kStart + segment(0xE1, "Exif" + frame(0xC0, 1, 2, 3)) +
                                 segment(0xC4, frame(0xC0, 3, 4, 3)) + segment(0xCC, "xx") + kFrame);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.width, 640);
    EXPECT_EQ(r.info.height, 480);
}

class JpegFrameMarker : public ::testing::TestWithParam<int> {};

TEST_P(JpegFrameMarker, EveryStartOfFrameCodeGivesTheSize)
{
    JpegResult r = readJpegBytes(kStart + frame(GetParam(), 300, 200, 3));
    ASSERT_TRUE(r.ok) << std::hex << GetParam();
    EXPECT_EQ(r.info.width, 300);
    EXPECT_EQ(r.info.height, 200);
}

INSTANTIATE_TEST_SUITE_P(Codes, JpegFrameMarker,
                         ::testing::Values(0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE,
                                           0xCF));

struct MalformedCase {
    const char* name;
    std::string data;
};

class MalformedJpeg : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedJpeg, GivesFalseAndLeavesTheOutputsAlone)
{
    JpegResult r = readJpegBytes(GetParam().data);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.info.width, -7);
    EXPECT_EQ(r.info.height, -7);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedJpeg,
    ::testing::Values(
        MalformedCase{"Empty", ""}, MalformedCase{"OneByte", bytes({0xFF})},
        MalformedCase{"NotStartOfImage", bytes({0xFF, 0xD9}) + kFrame},
        MalformedCase{"StartOfImageNotFirst", bytes({0x00, 0xFF, 0xD8}) + kFrame},
        MalformedCase{"SegmentLengthZero", kStart + bytes({0xFF, 0xE0, 0x00, 0x00}) + kFrame},
        MalformedCase{"SegmentLengthOne", kStart + bytes({0xFF, 0xE0, 0x00, 0x01}) + kFrame},
        MalformedCase{"EndsInsideSegmentLength", kStart + bytes({0xFF, 0xE0, 0x00})},
        MalformedCase{"EndsInsideSegment", kStart + kApp0.substr(0, 9)},
        MalformedCase{"SegmentRunsPastTheEnd", kStart + bytes({0xFF, 0xE0, 0x7F, 0xFF, 'J', 'F'})},
        MalformedCase{"EndsInsideFrameHeader", kStart + kFrame.substr(0, 8)},
        MalformedCase{"EndsAfterFillBytes", kStart + kApp0 + std::string(3, '\xFF')},
        MalformedCase{"StartOfScanBeforeFrame", kStart + kApp0 + segment(0xDA, std::string(10, '\0')) + kFrame},
        MalformedCase{"EndOfImageBeforeFrame", kStart + bytes({0xFF, 0xD9}) + kFrame},
        MalformedCase{"StrayByteBetweenSegments", kStart + kApp0 + bytes({0x00}) + kFrame},
        MalformedCase{"NoFrameAtAll", kStart + kApp0 + segment(0xDB, std::string(65, '\0'))}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });
