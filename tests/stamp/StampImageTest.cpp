// The stamp image kinds: what a PNG tells the painter and the PDF/A check,
// which PNGs are refused before any output, where an EXIF orientation puts
// the stored image's corners, and the PDF/A part an XMP packet claims.

#include <zlib.h>

#include "load/CFileSource.h"
#include "pdf/CPdfException.h"
#include "stamp/CStampImage.h"
#include "stamp/StampObjects.h"
#include "stamp/XmpPdfaId.h"
#include "tests/stamp/LoadedPdf.h"
#include "tests/support/TestPng.h"

namespace {

using vtest::PngKind;

std::unique_ptr<CStampImage> openImage(const vtest::TempDir& dir, const std::string& bytes)
{
    vtest::writeFile(dir.file("stamp.png"), bytes);
    return CStampImage::open(dir.file("stamp.png"));
}

// ---- What a PNG tells ----

struct PngTraitsCase {
    const char* name;
    vtest::PngSpec spec;
    CImageTraits::EDeviceSpace space;
    bool softMask, sixteenBit;
};
void PrintTo(const PngTraitsCase& c, std::ostream* os) { *os << c.name; }

vtest::PngSpec spec(PngKind kind, int depth, bool icc = false)
{
    vtest::PngSpec s;
    s.kind = kind;
    s.depth = depth;
    s.width = 37;
    s.height = 21;
    s.iccProfile = icc;
    return s;
}

class PngTraits : public testing::TestWithParam<PngTraitsCase> {};

TEST_P(PngTraits, SizeAndWhatPdfaAsks)
{
    const PngTraitsCase& c = GetParam();
    vtest::TempDir dir;
    const auto image = openImage(dir, vtest::bandPng(c.spec));
    EXPECT_EQ(image->width(), 37);
    EXPECT_EQ(image->height(), 21);
    EXPECT_EQ(image->orientation(), 1);
    EXPECT_EQ(image->traits().deviceSpace, c.space);
    EXPECT_EQ(image->traits().softMask, c.softMask);
    EXPECT_EQ(image->traits().sixteenBit, c.sixteenBit);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PngTraits,
    testing::Values(
        PngTraitsCase{"Rgb", spec(PngKind::Rgb, 8), CImageTraits::DEVICE_RGB, false, false},
        PngTraitsCase{"GreyWithProfile", spec(PngKind::Grey, 4, true), CImageTraits::NO_DEVICE_SPACE, false, false},
        PngTraitsCase{"PaletteIsRgb", spec(PngKind::Palette, 2), CImageTraits::DEVICE_RGB, false, false},
        // Keys become masks, no transparency; alpha does.
        PngTraitsCase{"RgbKey16", spec(PngKind::RgbKey, 16), CImageTraits::DEVICE_RGB, false, true},
        PngTraitsCase{"PaletteKey", spec(PngKind::PaletteKey, 4), CImageTraits::DEVICE_RGB, false, false},
        PngTraitsCase{"PaletteAlpha", spec(PngKind::PaletteAlpha, 8), CImageTraits::DEVICE_RGB, true, false},
        PngTraitsCase{"GreyAlpha16", spec(PngKind::GreyAlpha, 16), CImageTraits::DEVICE_GREY, true, true}),
    kRowName);

// ---- PNGs refused ----

std::string chunk(const std::string& type, const std::string& data)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(data.size() >> shift);
    out += type + data;
    const std::string checked = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(checked.data()), static_cast<uInt>(checked.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(crc >> shift);
    return out;
}

const std::string kSignature("\x89PNG\r\n\x1A\n", 8);
// IHDR of `side` x `side` pixels: depth, colour type, interlace as given.
std::string header(int depth, int colourType, int interlace = 0, uint32_t side = 1)
{
    std::string size;
    for (int shift = 24; shift >= 0; shift -= 8)
        size += static_cast<char>(side >> shift);
    return chunk("IHDR", size + size + char(depth) + char(colourType) + '\0' + '\0' + char(interlace));
}
// One grey 8-bit pixel: filter byte and sample, compressed.
std::string onePixel()
{
    const char raw[2] = {0, 0x40};
    uLongf length = 64;
    Bytef out[64];
    compress(out, &length, reinterpret_cast<const Bytef*>(raw), 2);
    return std::string(reinterpret_cast<const char*>(out), length);
}
const std::string kEnd = chunk("IEND", "");

struct RefusedPng {
    const char* name;
    std::string bytes;
    const char* message;
};
void PrintTo(const RefusedPng& c, std::ostream* os) { *os << c.name; }

class PngRefused : public testing::TestWithParam<RefusedPng> {};

TEST_P(PngRefused, NamesTheFileAndWhy)
{
    const RefusedPng& c = GetParam();
    vtest::TempDir dir;
    try {
        openImage(dir, c.bytes);
        FAIL() << "opened";
    } catch (const CPdfException& e) {
        EXPECT_EQ(std::string(e.message()),
                  "\nInput image file error (" + std::string(c.message) + "): '" + dir.file("stamp.png") + "'\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngRefused,
    testing::Values(RefusedPng{"NoHeaderFirst", kSignature + chunk("IDAT", onePixel()) + header(8, 0) + kEnd,
                               "no IHDR chunk first"},
                    RefusedPng{"DepthTheColourTypeHasNot", kSignature + header(4, 2) + chunk("IDAT", onePixel()) + kEnd,
                               "a damaged IHDR chunk"},
                    RefusedPng{"UnknownInterlace", kSignature + header(8, 0, 2) + chunk("IDAT", onePixel()) + kEnd,
                               "a damaged IHDR chunk"},
                    RefusedPng{"NoImageData", kSignature + header(8, 0) + kEnd, "no image data"},
                    RefusedPng{"PaletteImageWithoutPalette",
                               kSignature + header(8, 3) + chunk("IDAT", onePixel()) + kEnd, "no palette"},
                    // The image data is one run of chunks: a second run is damage.
                    RefusedPng{"ImageDataSplit",
                               kSignature + header(8, 0) + chunk("IDAT", onePixel().substr(0, 4)) +
                                   chunk("tEXt", "a\0b") + chunk("IDAT", onePixel().substr(4)) + kEnd,
                               "a damaged IDAT chunk"},
                    // Checked row by row, an opaque image would still decode them all.
                    RefusedPng{"OpaqueImageClaimingTooManyPixels",
                               kSignature + header(8, 0, 0, 1000000) + chunk("IDAT", onePixel()) + kEnd,
                               "the image is too large"},
                    RefusedPng{"ChunkLongerThanTheFile",
                               kSignature + header(8, 0) + std::string("\x7F\0\0\0IDAT", 8) + onePixel() + kEnd,
                               "the data ends before the IEND chunk"}),
    kRowName);

TEST(PngAccepted, SmallestImageAndFullestPalette)
{
    vtest::TempDir dir;
    auto image = openImage(dir, kSignature + header(8, 0) + chunk("IDAT", onePixel()) + kEnd);
    EXPECT_EQ(image->width(), 1);
    EXPECT_EQ(image->traits().deviceSpace, CImageTraits::DEVICE_GREY);
    // 256 colours, as many as a palette holds.
    image = openImage(dir, kSignature + header(8, 3) + chunk("PLTE", std::string(256 * 3, '\x7F')) +
                               chunk("IDAT", onePixel()) + kEnd);
    EXPECT_EQ(image->traits().deviceSpace, CImageTraits::DEVICE_RGB);
}

// ---- EXIF orientation ----

// Where the stored image's top-left and top-right corners show, for each
// orientation as EXIF defines it: "row 0 at the visual top/left..., column 0
// at ...". Corners are (x, y) of the unit box, y up.
struct OrientationCorners {
    const char* name;
    int orientation;
    int topLeft[2], topRight[2];
};
void PrintTo(const OrientationCorners& c, std::ostream* os) { *os << c.name; }

class Orientation : public testing::TestWithParam<OrientationCorners> {};

TEST_P(Orientation, PutsTheStoredCornersWhereViewersShowThem)
{
    const OrientationCorners& c = GetParam();
    int m[6];
    orientationMatrix(c.orientation, m);
    auto map = [&m](int x, int y) {
        return std::array<int, 2>{m[0] * x + m[2] * y + m[4], m[1] * x + m[3] * y + m[5]};
    };
    // The stored top row is y = 1 of image space.
    EXPECT_EQ(map(0, 1), (std::array<int, 2>{c.topLeft[0], c.topLeft[1]}));
    EXPECT_EQ(map(1, 1), (std::array<int, 2>{c.topRight[0], c.topRight[1]}));
}

INSTANTIATE_TEST_SUITE_P(Values, Orientation,
                         testing::Values(OrientationCorners{"AsStored", 1, {0, 1}, {1, 1}},
                                         OrientationCorners{"Mirrored", 2, {1, 1}, {0, 1}},
                                         OrientationCorners{"HalfTurn", 3, {1, 0}, {0, 0}},
                                         OrientationCorners{"Flipped", 4, {0, 0}, {1, 0}},
                                         OrientationCorners{"Transposed", 5, {0, 1}, {0, 0}},
                                         OrientationCorners{"QuarterTurnClockwise", 6, {1, 1}, {1, 0}},
                                         OrientationCorners{"Transversed", 7, {1, 0}, {1, 1}},
                                         OrientationCorners{"QuarterTurnAnticlockwise", 8, {0, 0}, {0, 1}},
                                         OrientationCorners{"OutOfRange", 9, {0, 1}, {1, 1}}),
                         kRowName);

// ---- pdfaid:part ----

struct XmpCase {
    const char* name;
    std::string xmp;
    int part;
};
void PrintTo(const XmpCase& c, std::ostream* os) { *os << c.name; }

const std::string kRdf = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
const std::string kRdfEnd = "</rdf:RDF></x:xmpmeta>";
const std::string kId = "http://www.aiim.org/pdfa/ns/id/";

class XmpClaim : public testing::TestWithParam<XmpCase> {};

TEST_P(XmpClaim, ReadsThePart) { EXPECT_EQ(pdfaPartOf(GetParam().xmp), GetParam().part); }

INSTANTIATE_TEST_SUITE_P(
    Cases, XmpClaim,
    testing::Values(
        XmpCase{"Attribute", kRdf + "<rdf:Description xmlns:pdfaid='" + kId + "' pdfaid:part='1'/>" + kRdfEnd, 1},
        XmpCase{"Element",
                kRdf + "<rdf:Description xmlns:pdfaid=\"" + kId +
                    "\"><pdfaid:part> 3 </pdfaid:part>"
                    "</rdf:Description>" +
                    kRdfEnd,
                3},
        XmpCase{"AnyPrefix",
                kRdf + "<rdf:Description xmlns:a='" + kId + "'><a:part>2</a:part></rdf:Description>" + kRdfEnd, 2},
        XmpCase{"BoundHigherUp",
                "<x:xmpmeta xmlns:x='adobe:ns:meta/' xmlns:p='" + kId + "'><p:part>2</p:part>" + "</x:xmpmeta>", 2},
        XmpCase{"CData",
                kRdf + "<rdf:Description xmlns:pdfaid='" + kId +
                    "'><pdfaid:part><![CDATA[1]]>"
                    "</pdfaid:part></rdf:Description>" +
                    kRdfEnd,
                1},
        // The prefix alone says nothing: it must be bound to the namespace.
        XmpCase{"OtherNamespace",
                kRdf + "<rdf:Description xmlns:pdfaid='http://example.com/id/' pdfaid:part='1'/>" + kRdfEnd, 0},
        XmpCase{"UnboundPrefix", kRdf + "<rdf:Description pdfaid:part='1'/>" + kRdfEnd, 0},
        XmpCase{"BindingOutOfScope",
                kRdf + "<rdf:Description xmlns:pdfaid='" + kId +
                    "'/><rdf:Description "
                    "pdfaid:part='1'/>" +
                    kRdfEnd,
                0},
        XmpCase{"InAComment", kRdf + "<!-- <pdfaid:part xmlns:pdfaid='" + kId + "'>1</pdfaid:part> -->" + kRdfEnd, 0},
        XmpCase{"OtherProperty",
                kRdf + "<rdf:Description xmlns:pdfaid='" + kId + "' pdfaid:conformance='B'/>" + kRdfEnd, 0},
        XmpCase{"NotANumber", kRdf + "<rdf:Description xmlns:pdfaid='" + kId + "' pdfaid:part='one'/>" + kRdfEnd, 0},
        XmpCase{"CutShort", kRdf + "<rdf:Description xmlns:pdfaid='" + kId + "' pdfaid:part='1", 0},
        XmpCase{"Empty", "", 0}),
    kRowName);

} // namespace
