// The stamp images: what a PNG becomes in the output and tells the PDF/A check, which PNGs are
// refused, what the JPEG header walk reads (never past the file), the PDF/A part an XMP packet claims.

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <regex>

#include "document/XmpPdfaId.h"
#include "image/JpegHeader.h"
#include "image/OpenStampImage.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "stamp/CRewriteWriter.h"
#include "tests/stamp/LoadedPdf.h"
#include "tests/support/TestPng.h"
#include "write/COutputFile.h"

namespace {

using K = vtest::PngKind; // the kinds of PNG
using vtest::PngPlan;

std::unique_ptr<CStampImage> openImage(const vtest::TempDir& dir, const std::string& bytes)
{
    vtest::writeFile(dir.file("stamp.png"), bytes);
    return openStampImage(dir.file("stamp.png"));
}

std::string be32(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }
std::string chunk(const std::string& type, const std::string& data)
{
    const std::string checked = type + data;
    return be32(uint32_t(data.size())) + checked +
           be32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(checked.data()), uInt(checked.size()))));
}
std::string header(int depth, int colourType, int interlace = 0, uint32_t side = 1)
{
    return chunk("IHDR", be32(side) + be32(side) + char(depth) + char(colourType) + '\0' + '\0' + char(interlace));
}
std::string png(const std::string& chunks) { return std::string("\x89PNG\r\n\x1A\n", 8) + chunks + chunk("IEND", ""); }
// One grey 8-bit pixel: filter byte 0 and sample 0x40, as zlib compresses them.
const std::string kPixelData("\x78\x9C\x63\x70\x00\x00\x00\x42\x00\x41", 10), kPixel = chunk("IDAT", kPixelData);

std::string fixture(const char* name) { return vtest::readFile(vtest::sourceDir() + "/tests/data/" + name); }
std::string bytes(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }
std::string segment(int code, const std::string& body)
{
    return bytes({0xFF, code, int(body.size() + 2) >> 8, int(body.size() + 2) & 0xFF}) + body;
}
std::string frame(int code, int width, int height, int components)
{
    return segment(code, bytes({8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, components}) +
                             std::string(3 * components, 1));
}

// Band images of 37 x 21 pixels, taking each path of the image writer: kept or decoded data, soft mask, key
// ranges or stencil, profile, palette, 1 to 16 bits a sample, interlaced rows.
PngPlan kind(K k, int depth, bool lace = false, bool icc = false) { return {k, depth, lace, 37, 21, icc}; }
// clang-format off
const PngPlan kPngs[] = {
    kind(K::Grey, 1), kind(K::Grey, 2, true), kind(K::Grey, 8, false, true), kind(K::Grey, 16, true),
    kind(K::GreyKey, 1), kind(K::GreyKey, 8, true), kind(K::GreyKey, 16), kind(K::GreyAlpha, 8),
    kind(K::GreyAlpha, 16, true), kind(K::Rgb, 8), kind(K::Rgb, 16), kind(K::Rgb, 8, true, true), kind(K::RgbKey, 8),
    kind(K::RgbKey, 16, true), kind(K::RgbAlpha, 8), kind(K::RgbAlpha, 8, true), kind(K::RgbAlpha, 16),
    kind(K::RgbAlpha, 8, false, true), kind(K::Palette, 1), kind(K::Palette, 2, true), kind(K::Palette, 4, false, true),
    kind(K::PaletteKey, 2), kind(K::PaletteKey, 8, true), kind(K::PaletteAlpha, 4), kind(K::PaletteAlpha, 8, true)};
// Refused with this problem, or (problem "") opened with this colour space.
struct PngFile { const char* name; std::string bytes; const char* problem; CImageTraits::EDeviceSpace space = {}; };
const PngFile kPngFiles[] = {
    {"NoHeaderFirst", png(kPixel + header(8, 0)), "no IHDR chunk first"}, {"NoImageData", png(header(8, 0)), "no image data"},
    {"PaletteImageWithoutPalette", png(header(8, 3) + kPixel), "no palette"},
    {"DepthTheColourTypeHasNot", png(header(4, 2) + kPixel), "a damaged IHDR chunk"},
    {"UnknownInterlace", png(header(8, 0, 2) + kPixel), "a damaged IHDR chunk"},
    // The image data is one run of chunks: a second run is damage.
    {"ImageDataSplit", png(header(8, 0) + chunk("IDAT", kPixelData.substr(0, 4)) + chunk("tEXt", "a\0b") + chunk("IDAT", kPixelData.substr(4))), "a damaged IDAT chunk"},
    // Checked row by row, an opaque image would still decode them all.
    {"OpaqueImageClaimingTooManyPixels", png(header(8, 0, 0, 1000000) + kPixel), "the image is too large"},
    {"SmallestImage", png(header(8, 0) + kPixel), "", CImageTraits::DEVICE_GREY},
    // 256 colours, as many as a palette holds.
    {"FullestPalette", png(header(8, 3) + chunk("PLTE", std::string(256 * 3, '\x7F')) + kPixel), "", CImageTraits::DEVICE_RGB}};
const std::string kStart = bytes({0xFF, 0xD8}), kFill(5, '\xFF'), kApp0 = segment(0xE0, "JFIF" + std::string(10, 0));
// The frame example: 480 rows of 640 samples, 3 components.
const std::string kFrame = bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03}) + std::string(9, 1);
const std::string kEnd = bytes({0xFF, 0xD9}), kScanHeader = segment(0xDA, bytes({1, 1, 0, 0, 63, 0}));
const std::string kBaseline = fixture("baseline_rgb_37x21.jpg"), kExif6 = vtest::exifWithOrientation(6);
// A failed walk leaves the outputs alone: -7. `whole`: the walk reaches the end-of-image marker.
struct JpegCase { const char* name; std::string data; bool ok; int width, height, components; bool whole, adobe = false; int orientation = 1; };
JpegCase bad(const char* name, std::string data) { return {name, std::move(data), false, -7, -7, -7, false}; }
JpegCase example(const char* name, std::string data, bool whole) { return {name, data, true, 640, 480, 3, whole}; }
// The baseline file with an APP1 segment of `app1` data: its EXIF orientation tag; anything unusable is 1.
JpegCase exif(const char* name, const std::string& app1, int orientation) { return {name, vtest::withApp1(kBaseline, app1), true, 37, 21, 3, true, false, orientation}; }
const JpegCase kJpegs[] = {
    {"Baseline", kBaseline, true, 37, 21, 3, true}, {"AdobeCmyk", fixture("cmyk_adobe_23x13.jpg"), true, 23, 13, 4, true, true},
    example("FillBytesBeforeMarkers", kStart + kFill + kApp0 + kFill + kFrame, false),
    {"FirstFrameWins", kStart + frame(0xC1, 11, 12, 1) + kFrame, true, 11, 12, 1, false},
    // A thumbnail, or a table that looks like a frame (C4, C8 and CC are no frames), is not the image.
    example("SegmentsAreSkippedUnread", kStart + segment(0xE1, "Exif" + frame(0xC0, 1, 2, 3)) + frame(0xC4, 3, 4, 3) +
                                            frame(0xC8, 5, 6, 3) + frame(0xCC, 7, 8, 3) + kFrame, false),
    {"LosslessFrame", kStart + frame(0xC3, 11, 12, 1), true, 11, 12, 1, false},
    {"ArithmeticFrame", kStart + frame(0xCF, 13, 14, 1), true, 13, 14, 1, false},
    {"App14NotNamedAdobe", kStart + segment(0xEE, "Adobf000000") + frame(0xC0, 5, 6, 4), true, 5, 6, 4, false},
    {"App14TooShortForTheName", kStart + segment(0xEE, "Ado") + frame(0xC0, 5, 6, 4), true, 5, 6, 4, false},
    exif("ExifBigEndian", kExif6, 6), exif("ExifLittleEndian", vtest::exifWithOrientation(8, false), 8),
    exif("ExifOutOfRange", vtest::exifWithOrientation(9), 1), exif("ExifZero", vtest::exifWithOrientation(0), 1),
    exif("NotExif", "XMP" + kExif6.substr(3), 1), exif("ExifWithoutByteOrder", kExif6.substr(0, 6) + "XX" + kExif6.substr(8), 1),
    exif("ExifIfdPastTheEnd", kExif6.substr(0, 10) + bytes({0x7F, 0, 0, 0}) + kExif6.substr(14), 1),
    exif("ExifCutInTheEntries", kExif6.substr(0, kExif6.size() - 10), 1),
    exif("ExifTagNotOneShort", kExif6.substr(0, 30) + bytes({0, 4}) + kExif6.substr(32), 1),
    {"OnlyTheFirstExifSegmentCounts", vtest::withApp1(vtest::withApp1(kBaseline, vtest::exifWithOrientation(3)), kExif6), true, 37, 21, 3, true, false, 6},
    bad("Empty", ""), bad("NotStartOfImage", bytes({0xFF, 0xD9}) + kFrame),
    bad("EndsAfterFillBytes", kStart + kApp0 + kFill), bad("SegmentLengthOne", kStart + bytes({0xFF, 0xE0, 0, 1}) + kFrame),
    bad("EndsInsideSegmentLength", kStart + bytes({0xFF, 0xE0, 0})),
    bad("EndsInsideSegment", kStart + kApp0.substr(0, 9)), bad("EndsInsideFrameHeader", kStart + kFrame.substr(0, 8)),
    bad("StartOfScanBeforeFrame", kStart + segment(0xDA, std::string(10, 0)) + kFrame),
    bad("StrayByteBetweenSegments", kStart + kApp0 + "x" + kFrame),
    // In scan data 0xFF 0x00 is a data byte, 0xFF 0xD0..D7 a restart: neither ends the scan.
    example("StuffedAndRestartBytesInAScan", kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0, 2, 0xFF, 0xD3, 3}) + kEnd, true),
    example("FillBytesBeforeTheEnd", kStart + kFrame + kScanHeader + bytes({1, 2}) + kFill + kEnd, true),
    example("TwoScans", kStart + kFrame + kScanHeader + "ab" + kScanHeader + "cd" + kEnd, true),
    {"CutBeforeTheLastByte", kBaseline.substr(0, kBaseline.size() - 1), true, 37, 21, 3, false},
    example("EndByteStuffed", kStart + kFrame + kScanHeader + bytes({1, 0xFF, 0x00, 0xD9}), false)};
const std::string kRdf = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>",
                  kId = "http://www.aiim.org/pdfa/ns/id/", kBinding = "<rdf:Description xmlns:pdfaid='" + kId + "'";
// `body` in an RDF packet; `rest` of a description binding pdfaid in one.
std::string rdf(const std::string& body) { return kRdf + body + "</rdf:RDF></x:xmpmeta>"; }
std::string described(const std::string& rest) { return rdf(kBinding + rest); }
struct XmpCase { const char* name; std::string xmp; int part; };
const XmpCase kXmps[] = {
    {"Attribute", described(" pdfaid:part='1'/>"), 1},
    {"Element", rdf("<rdf:Description xmlns:pdfaid=\"" + kId + "\"><pdfaid:part> 3 </pdfaid:part></rdf:Description>"), 3},
    {"AnyPrefix", rdf("<rdf:Description xmlns:a='" + kId + "'><a:part>2</a:part></rdf:Description>"), 2},
    {"BoundHigherUp", "<x:xmpmeta xmlns:x='adobe:ns:meta/' xmlns:p='" + kId + "'><p:part>2</p:part></x:xmpmeta>", 2},
    {"CData", described("><pdfaid:part><![CDATA[1]]></pdfaid:part></rdf:Description>"), 1},
    // The prefix alone says nothing: it must be bound to the namespace.
    {"OtherNamespace", rdf("<rdf:Description xmlns:pdfaid='http://example.com/id/' pdfaid:part='1'/>"), 0},
    {"UnboundPrefix", rdf("<rdf:Description pdfaid:part='1'/>"), 0},
    {"BindingOutOfScope", described("/><rdf:Description pdfaid:part='1'/>"), 0},
    {"InAComment", rdf("<!-- <pdfaid:part xmlns:pdfaid='" + kId + "'>1</pdfaid:part> -->"), 0},
    {"OtherProperty", described(" pdfaid:conformance='B'/>"), 0}, {"NotANumber", described(" pdfaid:part='one'/>"), 0},
    {"CutShort", kRdf + kBinding + " pdfaid:part='1", 0}, {"Empty", "", 0}};
// clang-format on

// An image XObject of the output read back: its dictionary, and its samples decoded, `n` a pixel.
struct Image {
    Image(CXrefTable& xref, int num)
    {
        CPdfObject stream;
        xref.fetchObject(num, 0, stream);
        if (stream.type() != PDF_STREAM) {
            ADD_FAILURE() << "object " << num << " is no stream";
            return;
        }
        dict.setSharedDict(stream.streamValue()->streamDict());
        for (int c; (c = stream.streamValue()->readChar()) >= 0;)
            data += char(c);
    }
    CPdfObject operator[](const char* k) const
    {
        CPdfObject v;
        if (dict.type() == PDF_DICT)
            dict.dictValue()->getValueUnresolved(k, v);
        return v;
    }
    int get(const char* key) const { return (*this)[key].intValue(); }
    size_t rowBytes() const { return (size_t(get("Width") * n * get("BitsPerComponent")) + 7) / 8; }
    // Sample `c` of pixel (x, y) as stored, or scaled to 0..255.
    int sample(int x, int y, int c, bool scaled = false) const
    {
        const int bits = get("BitsPerComponent"), max = (1 << bits) - 1, bit = (x * n + c) * bits;
        const auto* p = reinterpret_cast<const uint8_t*>(data.data()) + size_t(y) * rowBytes() + size_t(bit / 8);
        const int v = bits == 16 ? p[0] << 8 | p[1] : p[0] >> (8 - bits - bit % 8) & max;
        return scaled ? (v * 255 + max / 2) / max : v;
    }
    CPdfObject dict;
    std::string data;
    int n = 1; // samples a pixel
};
int item(const CPdfObject& a, int i, CPdfObject& out) { return a.arrayValue()->getItem(i, out), out.intValue(); }
class PngObjects : public LoadedPdf, public ::testing::WithParamInterface<PngPlan> {};
class PngFiles : public testing::TestWithParam<PngFile> {};
class JpegHeader : public ::testing::TestWithParam<JpegCase> {};
class XmpClaim : public testing::TestWithParam<XmpCase> {};

// Written as a run writes it, the image shows each band in the colour and alpha libpng wrote, through its /SMask,
// key ranges or stencil /Mask; the traits the PDF/A check reads say what was written.
TEST_P(PngObjects, ShowTheBandsLibpngWrote)
{
    b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    load(b.build());
    const auto png = openImage(dir, vtest::bandPng(GetParam()));
    EXPECT_EQ((std::array<double, 3>{png->width(), png->height(), double(png->orientation())}),
              (std::array<double, 3>{37, 21, 1}));
    COutputFile out;
    out.create(dir.file("out.pdf"));
    CRewriteWriter writer(out, *doc, nullptr, nullptr);
    writer.begin();
    const int num = png->write(writer);
    writer.finish();
    out.commit();
    CPdfFile written(CFileSource::open(dir.file("out.pdf")), repairs);
    Image image(written.xref(), num);
    // A device space, a profile's, or a palette over either, read from the text: a string ends at a NUL.
    CPdfObject space = image["ColorSpace"], first;
    std::string palette;
    if (space.type() == PDF_ARRAY && (item(space, 0, first), first.textString() == "Indexed")) {
        const std::string text = written.reader().text(num);
        for (size_t at = text.find('<', text.find("/Indexed")) + 1; text.at(at) != '>'; at += 2)
            palette += char(std::stoi(text.substr(at, 2), nullptr, 16));
        space = (item(space, 1, first), first);
    }
    const bool icc = space.type() == PDF_ARRAY; // [/ICCBased profile]
    EXPECT_EQ(icc, GetParam().iccProfile) << "the image's own profile, of its colour model, is kept";
    int components = space.textString() == "DeviceGray" ? 1 : 3;
    if (icc)
        components = Image(written.xref(), (space.arrayValue()->getItemUnresolved(1, first), first.refNum())).get("N");
    image.n = palette.empty() ? components : 1;
    const CPdfObject softMask = image["SMask"], mask = image["Mask"];
    std::unique_ptr<Image> alpha;
    if (softMask.type() == PDF_REF || mask.type() == PDF_REF)
        alpha = std::make_unique<Image>(written.xref(), std::max(softMask.refNum(), mask.refNum()));
    for (const Image* each : {&image, alpha.get()})
        ASSERT_TRUE(!each || (each->get("Width") == 37 && each->get("Height") == 21 &&
                              each->data.size() == 21 * each->rowBytes()));
    EXPECT_TRUE(softMask.type() != PDF_REF || (*alpha)["ColorSpace"].textString() == "DeviceGray");
    EXPECT_EQ(png->traits().softMask, softMask.type() == PDF_REF);
    EXPECT_EQ(png->traits().sixteenBit, image.get("BitsPerComponent") == 16);
    using T = CImageTraits;
    EXPECT_EQ(png->traits().deviceSpace, icc ? T::NO_DEVICE_SPACE : components == 1 ? T::DEVICE_GREY : T::DEVICE_RGB);
    const auto bands = vtest::pngBands(GetParam());
    for (int band = 0; band < 3; ++band) {
        for (int y : {1, 19}) {
            const int x = (2 * band + 1) * 37 / 6; // the middle of the band
            std::array<int, 3> rgb;
            for (int c = 0; c < 3; ++c)
                rgb[size_t(c)] = palette.empty() ? image.sample(x, y, components == 1 ? 0 : c, true)
                                                 : uint8_t(palette.at(size_t(image.sample(x, y, 0) * components + c)));
            // Key ranges clear a pixel all of whose samples they hold; a stencil's set bit masks out.
            bool clear = mask.type() == PDF_ARRAY && mask.arrayValue()->count() == 2 * image.n;
            for (int c = 0; clear && c < image.n; ++c) {
                const int v = image.sample(x, y, c);
                clear = item(mask, 2 * c, first) <= v && v <= item(mask, 2 * c + 1, first);
            }
            const int opacity = softMask.type() == PDF_REF ? alpha->sample(x, y, 0, true)
                                : alpha ? ((*alpha)["ImageMask"].boolValue() && alpha->sample(x, y, 0) ? 0 : 255)
                                        : (clear ? 0 : 255);
            EXPECT_EQ(rgb, bands[size_t(band)].rgb) << "band " << band << ", row " << y;
            EXPECT_EQ(opacity, std::lround(bands[size_t(band)].alpha * 255)) << "band " << band << ", row " << y;
        }
    }
}
const auto kPngName = [](const auto& i) { return std::regex_replace(vtest::pngName(i.param), std::regex("-"), "_"); };
INSTANTIATE_TEST_SUITE_P(Kinds, PngObjects, ::testing::ValuesIn(kPngs), kPngName);

TEST_P(PngFiles, OpenOrAreRefusedNamingTheFileAndWhy)
{
    const PngFile& c = GetParam();
    vtest::TempDir dir;
    try {
        const auto image = openImage(dir, c.bytes);
        EXPECT_STREQ(c.problem, "") << "opened";
        EXPECT_EQ(std::make_pair(image->width(), image->traits().deviceSpace), std::make_pair(1.0, c.space));
    } catch (const CPdfException& e) {
        EXPECT_EQ(std::string(e.message()),
                  "\nInput image file error (" + std::string(c.problem) + "): '" + dir.file("stamp.png") + "'\n");
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, PngFiles, testing::ValuesIn(kPngFiles), kRowName);

TEST_P(JpegHeader, GivesSizeColourLayoutAndEnd)
{
    const JpegCase& c = GetParam();
    vtest::TempDir dir;
    vtest::writeFile(dir.file("image.jpg"), c.data);
    const auto source = CFileSource::open(dir.file("image.jpg"));
    ASSERT_TRUE(source);
    JpegInfo info{-7, -7, -7};
    const bool ok = readJpegSize(*source, info);
    EXPECT_EQ(std::make_tuple(ok, info.width, info.height, info.components, info.adobe, info.orientation,
                              jpegReachesEnd(*source)),
              std::make_tuple(c.ok, c.width, c.height, c.components, c.adobe, c.orientation, c.whole));
}
INSTANTIATE_TEST_SUITE_P(Headers, JpegHeader, ::testing::ValuesIn(kJpegs), kRowName);

TEST_P(XmpClaim, ReadsThePart) { EXPECT_EQ(pdfaPartOf(GetParam().xmp), GetParam().part); }
INSTANTIATE_TEST_SUITE_P(Cases, XmpClaim, testing::ValuesIn(kXmps), kRowName);

} // namespace
