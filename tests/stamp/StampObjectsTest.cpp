// The bytes of the objects every run adds: other programs parse them, so they
// are compared byte for byte.

#include <gtest/gtest.h>

#include <string>

#include "load/CFileSource.h"
#include "stamp/JpegHeader.h"
#include "stamp/StampObjects.h"
#include "stamp/StampPlacement.h"
#include "tests/support/TestUtil.h"

namespace {

JpegInfo jpeg(int width, int height, int components, bool adobe)
{
    JpegInfo info;
    info.width = width;
    info.height = height;
    info.components = components;
    info.adobe = adobe;
    return info;
}

// The line of the content that holds the given operator, without its newline.
std::string lineEndingWith(const std::string& text, const std::string& op)
{
    size_t at = text.find(" " + op + "\n");
    if (at == std::string::npos)
        return "<no " + op + " line>";
    size_t start = text.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, at + 1 + op.size() - start);
}

} // namespace

// ---------------------------------------------------------------- image object

TEST(ImageObjectHeader, ColourJpegKeepsTheExactExampleBytes)
{
    EXPECT_EQ("25" + formatImageObjectHeader(812, jpeg(640, 480, 3, false)),
              "25 0 obj<</Subtype/Image/Length 812/Filter/DCTDecode/Name/X/BitsPerComponent 8"
              "/ColorSpace/DeviceRGB/Width 640/Height 480/Type/XObject>>stream\n");
}

struct ColourCase {
    int components;
    bool adobe;
    const char* colourEntries;
};

class ImageColourSpace : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ImageColourSpace, FollowsTheFrameComponents)
{
    const ColourCase& c = GetParam();
    EXPECT_EQ(formatImageObjectHeader(1000, jpeg(7, 9, c.components, c.adobe)),
              std::string(" 0 obj<</Subtype/Image/Length 1000/Filter/DCTDecode/Name/X/BitsPerComponent 8") +
                  c.colourEntries + "/Width 7/Height 9/Type/XObject>>stream\n")
        << c.components << " components, adobe " << c.adobe;
}

INSTANTIATE_TEST_SUITE_P(
    Components, ImageColourSpace,
    ::testing::Values(ColourCase{1, false, "/ColorSpace/DeviceGray"}, ColourCase{1, true, "/ColorSpace/DeviceGray"},
                      ColourCase{3, false, "/ColorSpace/DeviceRGB"}, ColourCase{3, true, "/ColorSpace/DeviceRGB"},
                      ColourCase{4, false, "/ColorSpace/DeviceCMYK"},
                      // Adobe CMYK files store inverted samples.
                      ColourCase{4, true, "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]"}));

TEST(ImageObjectHeader, EmptyJpegGivesLengthZero)
{
    EXPECT_EQ(formatImageObjectHeader(0, jpeg(0, 0, 0, false)),
              " 0 obj<</Subtype/Image/Length 0/Filter/DCTDecode/Name/X/BitsPerComponent 8"
              "/ColorSpace/DeviceRGB/Width 0/Height 0/Type/XObject>>stream\n");
}

// The reader and the writer together: a real file's size, length and colour.
TEST(ImageObjectHeader, FixturesAreDeclaredWithTheirOwnColourSpace)
{
    struct {
        const char* file;
        const char* expected;
    } rows[] = {
        {"grey_29x17.jpg", "/ColorSpace/DeviceGray/Width 29/Height 17"},
        {"baseline_rgb_37x21.jpg", "/ColorSpace/DeviceRGB/Width 37/Height 21"},
        {"cmyk_adobe_23x13.jpg", "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]/Width 23/Height 13"},
    };
    for (const auto& row : rows) {
        auto file = CFileSource::open(vtest::sourceDir() + "/tests/data/" + row.file);
        ASSERT_TRUE(file) << row.file;
        JpegInfo info;
        ASSERT_TRUE(readJpegSize(*file, info)) << row.file;
        std::string header = formatImageObjectHeader(file->size(), info);
        EXPECT_NE(header.find("/Length " + std::to_string(file->size()) + "/Filter"), std::string::npos) << header;
        EXPECT_NE(header.find(std::string("8") + row.expected + "/Type/XObject"), std::string::npos) << header;
    }
}

// ---------------------------------------------------------------- graphics state

struct OpacityCase {
    float percent;
    const char* ca;
};

class GraphicsStateObject : public ::testing::TestWithParam<OpacityCase> {};

TEST_P(GraphicsStateObject, CarriesTheFillOpacityWithTwoDecimals)
{
    const OpacityCase& c = GetParam();
    EXPECT_EQ(formatGraphicsStateObject(c.percent), std::string(" 0 obj<</Type/ExtGState/ca ") + c.ca + ">>\nendobj\n")
        << c.percent;
}

INSTANTIATE_TEST_SUITE_P(Opacities, GraphicsStateObject,
                         ::testing::Values(OpacityCase{50, "0.50"}, OpacityCase{100, "1.00"}, OpacityCase{0, "0.00"},
                                           OpacityCase{35, "0.35"}, OpacityCase{5, "0.05"},
                                           OpacityCase{150, "1.50"}, OpacityCase{-20, "-0.20"}));

TEST(GraphicsStateObject, ExampleObjectWithItsNumber)
{
    EXPECT_EQ("24" + formatGraphicsStateObject(50), "24 0 obj<</Type/ExtGState/ca 0.50>>\nendobj\n");
}

// ---------------------------------------------------------------- content streams

TEST(PrefixStream, SavesTheGraphicsStateIn51Bytes)
{
    const std::string prefix = formatPrefixStream();
    EXPECT_EQ(prefix, " 0 obj\n<<\n/Length 2 \n>>\nstream\nq\n\nendstream\nendobj\n");
    EXPECT_EQ(prefix.size(), 51u);
}

TEST(StampStream, ExampleObjectByteForByte)
{
    const std::string content = "\nQ\nq\n/GS12345 gs\n1 0 0 1 20.00 10.00 cm\n"
                                "1.000000 0.000000 -0.000000 1.000000 0 0 cm\n"
                                "100.00 0 0 50.00 0 0 cm\n/Im12345 Do\nQ\n";
    ASSERT_EQ(content.size(), 122u);
    const std::string object = formatStampStream("GS12345", "Im12345", 20, 10, 0.0f, 100, 50);
    EXPECT_EQ(object, " 0 obj\n<<\n/Length 122 \n>>\nstream\n" + content + "\nendstream\nendobj\n");
    EXPECT_EQ(object.size(), 173u);
}

struct MatrixCase {
    float degrees;
    const char* matrix;
};

class StampRotationMatrix : public ::testing::TestWithParam<MatrixCase> {};

// Quarter turns must come out exact: a matrix of 0.000796 tilts the stamp.
TEST_P(StampRotationMatrix, IsPrintedWithSixDecimals)
{
    const MatrixCase& c = GetParam();
    const std::string object = formatStampStream("GS1", "Im1", 0, 0, c.degrees, 10, 10);
    EXPECT_NE(object.find(std::string("\n") + c.matrix + " 0 0 cm\n"), std::string::npos)
        << c.degrees << " degrees:\n"
        << object;
}

INSTANTIATE_TEST_SUITE_P(Angles, StampRotationMatrix,
                         ::testing::Values(MatrixCase{0, "1.000000 0.000000 -0.000000 1.000000"},
                                           MatrixCase{90, "0.000000 1.000000 -1.000000 0.000000"},
                                           MatrixCase{180, "-1.000000 0.000000 -0.000000 -1.000000"},
                                           MatrixCase{270, "0.000000 -1.000000 1.000000 0.000000"},
                                           // Both flips on a rotated page turn by twice the rotation.
                                           MatrixCase{360, "1.000000 0.000000 -0.000000 1.000000"},
                                           MatrixCase{540, "-1.000000 0.000000 -0.000000 -1.000000"},
                                           MatrixCase{45, "0.707107 0.707107 -0.707107 0.707107"}));

// A corner mark is drawn at fractional positions with a fractional size.
TEST(StampStream, CornerMarkValuesPrintWithTheirFractions)
{
    const float trimBox[4] = {36, 36, 576, 756};
    MarkGeometry mark = cornerMarkGeometry(MARK_TRV, trimBox);
    const std::string object = formatStampStream("GS7", "Im7", mark.x, mark.y, 0.0f, mark.width, mark.height);
    EXPECT_EQ(lineEndingWith(object, "cm"), "1 0 0 1 575.75 765.00 cm");
    EXPECT_NE(object.find("\n0.25 0 0 15.00 0 0 cm\n"), std::string::npos) << object;

    mark = cornerMarkGeometry(MARK_BLH, trimBox);
    const std::string horizontal = formatStampStream("GS7", "Im7", mark.x, mark.y, 0.0f, mark.width, mark.height);
    EXPECT_EQ(lineEndingWith(horizontal, "cm"), "1 0 0 1 12.00 36.00 cm");
    EXPECT_NE(horizontal.find("\n15.00 0 0 0.25 0 0 cm\n"), std::string::npos) << horizontal;
}
