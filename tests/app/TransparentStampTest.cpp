// PNG stamps of every kind, JPEG stamps turned by their EXIF orientation,
// and stamps in tagged and PDF/A files: the output passes qpdf, and renders
// show the page through the clear parts of the stamp, its colours where it
// is opaque, and a blend where it is half clear.

#include <gtest/gtest.h>

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
        const std::string found = compareRenders(work.file(input), work.file(output), viewsOf(kind), {{stamp}}, 36,
                                                 true, renderer);
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
                    png(PngKind::GreyAlpha, 16, true, PageKind::Encrypted), png(PngKind::Rgb, 8, false, PageKind::Rotated),
                    png(PngKind::Rgb, 16), png(PngKind::Rgb, 8, true, {}, true), png(PngKind::RgbKey, 8),
                    png(PngKind::RgbKey, 16, true), png(PngKind::RgbAlpha, 8),
                    png(PngKind::RgbAlpha, 8, true, PageKind::Rotated),
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
    for (const char* entry : {"/DecodeParms << /BitsPerComponent 8 /Colors 3 /Columns 96 /Predictor 15 >>",
                              "/Width 96", "/Height 48", "/ColorSpace /DeviceRGB", "/Filter /FlateDecode"})
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
    testing::Values(DamagedPng{"CutInTheImageData", kGoodPng.substr(0, kGoodPng.size() / 2),
                               "the data ends before the IEND chunk"},
                    DamagedPng{"CutBeforeIend", kGoodPng.substr(0, kGoodPng.size() - 12),
                               "the data ends before the IEND chunk"},
                    // The chunk's CRC is right: only decoding finds the damage.
                    DamagedPng{"CompressedDataDamaged", vtest::corruptPngImageData(kGoodPng),
                               "the compressed image data is damaged"},
                    DamagedPng{"WrongCrc", kGoodPng.substr(0, 40) + char(kGoodPng[40] ^ 1) + kGoodPng.substr(41),
                               ""},
                    DamagedPng{"SignatureOnly", kGoodPng.substr(0, 8), "the data ends before the IEND chunk"}),
    [](const testing::TestParamInfo<DamagedPng>& info) { return std::string(info.param.name); });

} // namespace
