// PNG stamps of every kind, JPEG stamps turned by their EXIF orientation,
// and stamps in tagged and PDF/A files: the output passes qpdf, and renders
// show the page through the clear parts of the stamp, its colours where it
// is opaque, and a blend where it is half clear.

#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "tests/app/E2e.h"
#include "tests/support/TestPng.h"

using namespace e2e;
using vtest::PngKind;
using vtest::PngSpec;

namespace {

enum class PageKind { Plain, Rotated, Encrypted };
const char* const kPageNames[] = {"plain", "rotated", "encrypted"};

// Every stamp of these tests stands here on the page as displayed.
const render::Rect kStampRect{100, 100, 192, 96};
const std::vector<std::string> kPlace = {"-pos100,100", "-size192,96"};

bool haveRenderers() { return vtest::haveTool("qpdf") && vtest::haveTool("pdftoppm") && vtest::haveTool("mutool"); }

// A one-page input of `kind` in `work` as in.pdf; empty when made, else why not.
std::string writeInput(const Workspace& work, PageKind kind, const std::string& name = "in.pdf")
{
    DocPlan plan;
    plan.pages.push_back(PagePlan{kind == PageKind::Rotated ? 90 : -1});
    const BuiltDoc doc = buildDoc(plan);
    if (kind != PageKind::Encrypted) {
        work.write(name, doc.bytes);
        return "";
    }
    work.write("clear.pdf", doc.bytes);
    return encryptWithQpdf(work.file("clear.pdf"), work.file(name), "256");
}

std::vector<render::View> viewsOf(PageKind kind)
{
    render::View view;
    view.rotate = kind == PageKind::Rotated ? 90 : 0;
    return {view};
}

// Both viewers show `output` as `input` with `stamp` on it; empty when so.
std::string rendersShow(const Workspace& work, const std::string& input, const std::string& output, PageKind kind,
                        const render::ExpectedStamp& stamp)
{
    std::string problems;
    for (Renderer renderer : {Renderer::Poppler, Renderer::MuPdf}) {
        const std::string found =
            compareRenders(work.file(input), work.file(output), viewsOf(kind), {{stamp}}, 36, true, renderer);
        if (!found.empty())
            problems += std::string(rendererTool(renderer)) + ": " + found;
    }
    return problems;
}

render::ExpectedStamp bandStamp(const PngSpec& spec, double opacity = 1.0)
{
    const auto bands = vtest::pngBands(spec);
    render::ExpectedStamp stamp{kStampRect, {}, opacity};
    for (size_t band = 0; band < bands.size(); ++band) {
        stamp.bands.push_back({band / 3.0, bands[band].rgb});
        stamp.bandAlpha.push_back(bands[band].alpha);
    }
    return stamp;
}

// ---- PNG kinds ----

struct PngCase {
    PngSpec spec;
    PageKind page = PageKind::Plain;
    int opacity = 100;
};

std::string caseName(const PngCase& c)
{
    std::string name = vtest::pngName(c.spec) + "-" + kPageNames[static_cast<int>(c.page)];
    if (c.opacity != 100)
        name += "-opacity" + std::to_string(c.opacity);
    return std::regex_replace(name, std::regex("-"), "_");
}

PngCase png(PngKind kind, int depth, bool interlaced = false, PageKind page = PageKind::Plain, bool icc = false)
{
    PngCase c;
    c.spec.kind = kind;
    c.spec.depth = depth;
    c.spec.interlaced = interlaced;
    c.spec.iccProfile = icc;
    c.page = page;
    return c;
}

PngCase withOpacity(PngCase c, int opacity)
{
    c.opacity = opacity;
    return c;
}

class PngStamp : public testing::TestWithParam<PngCase> {};

TEST_P(PngStamp, ShowsThePageThroughItsClearParts)
{
    if (!haveRenderers())
        GTEST_SKIP() << "qpdf, pdftoppm and mutool are needed";
    const PngCase& c = GetParam();
    Workspace work;
    ASSERT_EQ(writeInput(work, c.page), "");
    work.write("stamp.png", vtest::bandPng(c.spec));
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.png",
                                          "-opacity" + std::to_string(c.opacity)};
    arguments.insert(arguments.end(), kPlace.begin(), kPlace.end());
    const auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    EXPECT_EQ(rendersShow(work, "in.pdf", "out.pdf", c.page, bandStamp(c.spec, c.opacity / 100.0)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PngStamp,
    testing::Values(png(PngKind::Grey, 1), png(PngKind::Grey, 2, true, PageKind::Rotated),
                    png(PngKind::Grey, 4, false, PageKind::Encrypted), png(PngKind::Grey, 8, false, {}, true),
                    png(PngKind::Grey, 16, true), png(PngKind::GreyKey, 1), png(PngKind::GreyKey, 8, true),
                    png(PngKind::GreyKey, 16, false, PageKind::Encrypted), png(PngKind::GreyAlpha, 8),
                    png(PngKind::GreyAlpha, 16, true, PageKind::Encrypted),
                    png(PngKind::Rgb, 8, false, PageKind::Rotated), png(PngKind::Rgb, 16),
                    png(PngKind::Rgb, 8, true, {}, true), png(PngKind::RgbKey, 8), png(PngKind::RgbKey, 16, true),
                    png(PngKind::RgbAlpha, 8), png(PngKind::RgbAlpha, 8, true, PageKind::Rotated),
                    png(PngKind::RgbAlpha, 16, false, PageKind::Encrypted), png(PngKind::RgbAlpha, 8, false, {}, true),
                    withOpacity(png(PngKind::RgbAlpha, 8), 50), png(PngKind::Palette, 1),
                    png(PngKind::Palette, 2, true), png(PngKind::Palette, 4, false, {}, true),
                    png(PngKind::Palette, 8, false, PageKind::Encrypted), png(PngKind::PaletteKey, 2),
                    png(PngKind::PaletteKey, 8, true, PageKind::Rotated), png(PngKind::PaletteAlpha, 4),
                    png(PngKind::PaletteAlpha, 8, true, PageKind::Encrypted)),
    [](const testing::TestParamInfo<PngCase>& info) { return caseName(info.param); });

// An opaque PNG is embedded as its own compressed data, with the predictor
// parameters that undo its row filters; the pixel size is the default size.
TEST(PngStampObjects, OpaqueImageKeepsItsImageData)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    Workspace work;
    ASSERT_EQ(writeInput(work, PageKind::Plain), "");
    const std::string png = vtest::bandPng(PngSpec{});
    work.write("stamp.png", png);
    const auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.png"});
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<int> images = imageObjects(work.file("out.pdf"));
    ASSERT_EQ(images.size(), 1u);
    const std::string object = qpdfObject(work.file("out.pdf"), images[0]);
    for (const char* entry : {"/DecodeParms << /BitsPerComponent 8 /Colors 3 /Columns 96 /Predictor 15 >>", "/Width 96",
                              "/Height 48", "/ColorSpace /DeviceRGB", "/Filter /FlateDecode"})
        EXPECT_NE(object.find(entry), std::string::npos) << entry << " in " << object;
    EXPECT_EQ(qpdfRawStream(work.file("out.pdf"), images[0]), vtest::pngImageData(png));
    EXPECT_NE(vtest::readFile(work.file("out.pdf")).find("\n96.00 0 0 48.00 0 0 cm\n"), std::string::npos);
}

// A list run shares one PNG between its files.
TEST(PngStampObjects, ListRunStampsEveryFile)
{
    if (!haveRenderers())
        GTEST_SKIP() << "qpdf, pdftoppm and mutool are needed";
    Workspace work;
    ASSERT_EQ(writeInput(work, PageKind::Plain, "a.pdf"), "");
    ASSERT_EQ(writeInput(work, PageKind::Rotated, "b.pdf"), "");
    work.write("list.txt", "a.pdf\nb.pdf\n");
    PngSpec spec;
    spec.kind = PngKind::RgbAlpha;
    work.write("stamp.png", vtest::bandPng(spec));
    std::vector<std::string> arguments = {"-ilist.txt", "-fout", "-jstamp.png"};
    arguments.insert(arguments.end(), kPlace.begin(), kPlace.end());
    const auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const auto& [name, page] : {std::pair{"a.pdf", PageKind::Plain}, std::pair{"b.pdf", PageKind::Rotated}}) {
        EXPECT_EQ(qpdfProblems(work.file(std::string("out/") + name)), "") << name;
        EXPECT_EQ(rendersShow(work, name, std::string("out/") + name, page, bandStamp(spec)), "") << name;
    }
}

// A damaged or cut-off PNG is refused before any output is begun.
struct DamagedPng {
    const char* name;
    std::string bytes;
    const char* problem;
};
std::ostream& operator<<(std::ostream& out, const DamagedPng& c) { return out << c.name; }

class DamagedPngStamp : public testing::TestWithParam<DamagedPng> {};

TEST_P(DamagedPngStamp, IsRefusedBeforeAnyOutput)
{
    const DamagedPng& c = GetParam();
    Workspace work;
    ASSERT_EQ(writeInput(work, PageKind::Plain), "");
    work.write("stamp.png", c.bytes);
    const auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.png"});
    EXPECT_EQ(run.status, 1);
    // libpng's own words where it found the damage.
    const size_t message = run.output.find(std::string("\nInput image file error (") + c.problem);
    EXPECT_NE(message, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("): 'stamp.png'\n", message), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Processing"), std::string::npos) << run.output;
    EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
}

const std::string kGoodPng = vtest::bandPng(PngSpec{});
INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedPngStamp,
    testing::Values(
        DamagedPng{"CutInTheImageData", kGoodPng.substr(0, kGoodPng.size() / 2), "the data ends before the IEND chunk"},
        DamagedPng{"CutBeforeIend", kGoodPng.substr(0, kGoodPng.size() - 12), "the data ends before the IEND chunk"},
        // The chunk's CRC is right: only decoding finds the damage.
        DamagedPng{"CompressedDataDamaged", vtest::corruptPngImageData(kGoodPng),
                   "the compressed image data is damaged"},
        DamagedPng{"WrongCrc", kGoodPng.substr(0, 40) + char(kGoodPng[40] ^ 1) + kGoodPng.substr(41), ""},
        DamagedPng{"SignatureOnly", kGoodPng.substr(0, 8), "the data ends before the IEND chunk"}),
    [](const testing::TestParamInfo<DamagedPng>& info) { return std::string(info.param.name); });

// ---- JPEG orientation ----

// stamp.jpg (96 x 48, red | blue) with an EXIF orientation: shown as photo
// viewers show it, the options measuring the box as displayed.
struct OrientationCase {
    const char* name;
    int orientation;
    std::vector<std::string> options;
    render::Rect rect;
    bool redFirst; // red at the left (or bottom) of the displayed box
    bool upward;   // the halves stacked: the image turned a quarter
    PageKind page = PageKind::Plain;
};
std::ostream& operator<<(std::ostream& out, const OrientationCase& c) { return out << c.name; }

class JpegOrientation : public testing::TestWithParam<OrientationCase> {};

TEST_P(JpegOrientation, ShowsTheImageAsPhotoViewersDo)
{
    if (!haveRenderers())
        GTEST_SKIP() << "qpdf, pdftoppm and mutool are needed";
    const OrientationCase& c = GetParam();
    Workspace work;
    ASSERT_EQ(writeInput(work, c.page), "");
    const std::string jpeg = vtest::withApp1(vtest::readFile(fixture("stamp.jpg")),
                                             vtest::exifWithOrientation(c.orientation, c.orientation % 2 == 0));
    work.write("turned.jpg", jpeg);
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jturned.jpg", "-pos100,100"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    const std::array<int, 3> red{255, 0, 0}, blue{0, 0, 255};
    render::ExpectedStamp stamp{c.rect, {{0.0, c.redFirst ? red : blue}, {0.5, c.redFirst ? blue : red}}};
    stamp.upward = c.upward;
    EXPECT_EQ(rendersShow(work, "in.pdf", "out.pdf", c.page, stamp), "");
    // The turn is in the placement: the JPEG's bytes stay as they are.
    if (c.page == PageKind::Plain) {
        const std::vector<int> images = imageObjects(work.file("out.pdf"));
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(qpdfRawStream(work.file("out.pdf"), images[0]), jpeg);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, JpegOrientation,
    testing::Values(OrientationCase{"AsStored", 1, {}, {100, 100, 96, 48}, true, false},
                    OrientationCase{"Mirrored", 2, {}, {100, 100, 96, 48}, false, false},
                    OrientationCase{"HalfTurn", 3, {}, {100, 100, 96, 48}, false, false},
                    OrientationCase{"Flipped", 4, {}, {100, 100, 96, 48}, true, false},
                    OrientationCase{"Transposed", 5, {}, {100, 100, 48, 96}, false, true},
                    OrientationCase{"QuarterTurnClockwise", 6, {}, {100, 100, 48, 96}, false, true},
                    OrientationCase{"Transversed", 7, {}, {100, 100, 48, 96}, true, true},
                    OrientationCase{"QuarterTurnAnticlockwise", 8, {}, {100, 100, 48, 96}, true, true},
                    OrientationCase{"SizeOfTheDisplayedBox", 6, {"-size60,120"}, {100, 100, 60, 120}, false, true},
                    OrientationCase{
                        "AlignedByTheDisplayedWidth", 8, {"-align", "right"}, {52, 100, 48, 96}, true, true},
                    OrientationCase{"OnARotatedPage", 6, {}, {100, 100, 48, 96}, false, true, PageKind::Rotated}),
    [](const testing::TestParamInfo<OrientationCase>& info) { return std::string(info.param.name); });

// ---- Tagged and PDF/A files ----

// In a tagged file the stamp is an artifact, a watermark or (marks) a
// printer's mark, so that the structure tree still covers every real
// content; an untagged file gets no marked content.
struct TaggedCase {
    const char* name;
    bool tagged;
    bool marks;
    const char* marking; // in each stamp stream; nullptr: no /Artifact anywhere
};
std::ostream& operator<<(std::ostream& out, const TaggedCase& c) { return out << c.name; }

class TaggedInput : public testing::TestWithParam<TaggedCase> {};

TEST_P(TaggedInput, MarksTheStampAsAnArtifact)
{
    const TaggedCase& c = GetParam();
    Workspace work;
    DocPlan plan;
    plan.pages.resize(2);
    plan.tagged = c.tagged;
    work.write("in.pdf", buildDoc(plan).bytes);
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    if (c.marks)
        arguments.push_back("-crop_marks");
    const auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    if (vtest::haveTool("qpdf")) {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
    const std::string out = vtest::readFile(work.file("out.pdf"));
    if (!c.marking) {
        EXPECT_EQ(out.find("/Artifact"), std::string::npos);
        return;
    }
    // Each stamp stream: saved state, the marked drawing, restored state.
    const std::regex stamp(std::string("\nq\n") + c.marking + " BDC\n/\\w+ gs\n(.*\n){3}/\\w+ Do\nEMC\nQ\n");
    const auto count = std::distance(std::sregex_iterator(out.begin(), out.end(), stamp), std::sregex_iterator());
    EXPECT_EQ(count, c.marks ? 2 * 8 : 2) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TaggedInput,
    testing::Values(TaggedCase{"Untagged", false, false, nullptr}, TaggedCase{"UntaggedMarks", false, true, nullptr},
                    TaggedCase{"Stamp", true, false, "/Artifact <</Type /Pagination /Subtype /Watermark>>"},
                    TaggedCase{"Marks", true, true, "/Artifact <</Type /Page>>"}),
    [](const testing::TestParamInfo<TaggedCase>& info) { return std::string(info.param.name); });

// A file that claims PDF/A, stamped with what its part does not allow:
// one warning naming what, and an output like any other.
std::string xmpClaiming(int part)
{
    return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
           "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
           "xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/'><pdfaid:part>" +
           std::to_string(part) + "</pdfaid:part></rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
}

enum class Metadata { Plain, Flate, Encrypted, InTheClear /* in an encrypted file */ };

struct PdfaCase {
    const char* name;
    int part;                   // 0: no claim
    int intent;                 // the output intent's components; 0: none
    std::optional<PngSpec> png; // else stamp.jpg (RGB)
    std::vector<std::string> options;
    const char* breach; // what the warning names; nullptr: no warning
    Metadata metadata = Metadata::Plain;
};
std::ostream& operator<<(std::ostream& out, const PdfaCase& c) { return out << c.name; }

class PdfaInput : public testing::TestWithParam<PdfaCase> {};

TEST_P(PdfaInput, WarnsOnceOfWhatTheStampBreaks)
{
    const PdfaCase& c = GetParam();
    Workspace work;
    DocPlan plan;
    plan.pages.resize(2);
    plan.xmp = c.part > 0 ? xmpClaiming(c.part) : "";
    plan.metadataFlate = c.metadata != Metadata::Plain;
    plan.outputIntentComponents = c.intent;
    const std::string bytes = buildDoc(plan).bytes;
    if (c.metadata == Metadata::Encrypted || c.metadata == Metadata::InTheClear) {
        if (!vtest::haveTool("qpdf"))
            GTEST_SKIP() << "qpdf is not installed";
        work.write("clear.pdf", bytes);
        ASSERT_EQ(encryptWithQpdf(work.file("clear.pdf"), work.file("in.pdf"), "128 --use-aes=y",
                                  c.metadata == Metadata::InTheClear ? "--cleartext-metadata" : ""),
                  "");
    } else {
        work.write("in.pdf", bytes);
    }
    if (c.png)
        work.write("stamp.png", vtest::bandPng(*c.png));
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", c.png ? "-jstamp.png" : "-jstamp.jpg"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    const size_t first = run.output.find("Warning: ");
    if (!c.breach) {
        EXPECT_EQ(first, std::string::npos) << run.output;
        return;
    }
    const std::string part = "PDF/A-" + std::to_string(c.part);
    EXPECT_NE(run.output.find("\nWarning: the input claims " + part + ", and the stamp breaks it with " + c.breach +
                              ": the output is no longer " + part + "\nDone.\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Warning: ", first + 1), std::string::npos) << run.output;
}

PngSpec pngOf(PngKind kind, int depth)
{
    PngSpec spec;
    spec.kind = kind;
    spec.depth = depth;
    return spec;
}

const char* const kOpacity = "transparency (opacity below 100)";
INSTANTIATE_TEST_SUITE_P(
    Cases, PdfaInput,
    testing::Values(
        PdfaCase{"NoClaim", 0, 0, {}, {"-opacity50"}, nullptr}, PdfaCase{"Allowed", 1, 3, {}, {}, nullptr},
        PdfaCase{"Opacity", 1, 3, {}, {"-opacity50"}, kOpacity},
        PdfaCase{"SoftMask", 1, 3, pngOf(PngKind::RgbAlpha, 8), {}, "transparency (a soft mask)"},
        PdfaCase{"SoftMaskAndOpacityAnd16Bits",
                 1,
                 3,
                 pngOf(PngKind::RgbAlpha, 16),
                 {"-opacity50"},
                 "transparency (opacity below 100, a soft mask), 16-bit samples"},
        // A colour key is no transparency to PDF/A-1.
        PdfaCase{"ColourKey", 1, 3, pngOf(PngKind::RgbKey, 8), {}, nullptr},
        PdfaCase{"TransparencyInPart2", 2, 3, pngOf(PngKind::RgbAlpha, 16), {"-opacity50"}, nullptr},
        PdfaCase{"RgbWithCmykIntent", 2, 4, {}, {}, "DeviceRGB, which the file's output intent does not cover"},
        PdfaCase{"GreyWithAnyIntent", 2, 4, pngOf(PngKind::Grey, 8), {}, nullptr},
        PdfaCase{"NoIntent", 1, 0, pngOf(PngKind::Grey, 8), {}, "DeviceGray, and the file has no output intent"},
        PdfaCase{"CompressedMetadata", 1, 3, {}, {"-opacity50"}, kOpacity, Metadata::Flate},
        PdfaCase{"EncryptedMetadata", 1, 3, {}, {"-opacity50"}, kOpacity, Metadata::Encrypted},
        PdfaCase{"MetadataInTheClear", 1, 3, {}, {"-opacity50"}, kOpacity, Metadata::InTheClear},
        // Eight passes over one document, the marks grey: said once.
        PdfaCase{"MarksRun", 1, 0, {}, {"-crop_marks"}, "DeviceGray, and the file has no output intent"}),
    [](const testing::TestParamInfo<PdfaCase>& info) { return std::string(info.param.name); });

} // namespace
