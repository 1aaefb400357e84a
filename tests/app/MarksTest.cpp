// -crop_marks and -trim_marks: eight chained passes, one mark each, at the
// corners of the crop or trim box of every selected page.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

constexpr int kDpi = 144; // two pixels per point: a 0.25-point mark still shows

// The eight marks of a box, in user space: 15-point lines 0.25 point thick,
// starting 9 points from each corner and running outwards along the edges.
std::vector<render::Box> marksAround(const render::Box& box)
{
    const double x0 = std::trunc(box.x0), y0 = std::trunc(box.y0);
    const double x1 = std::trunc(box.x1), y1 = std::trunc(box.y1);
    auto rect = [](double x, double y, double w, double h) { return render::Box{x, y, x + w, y + h}; };
    return {
        // horizontal: bottom left, bottom right, top left, top right
        rect(x0 - 24, y0, 15, 0.25),
        rect(x1 + 9, y0, 15, 0.25),
        rect(x0 - 24, y1 - 0.25, 15, 0.25),
        rect(x1 + 9, y1 - 0.25, 15, 0.25),
        // vertical, in the same order
        rect(x0 - 0.25, y0 - 24, 0.25, 15),
        rect(x1 - 0.25, y0 - 24, 0.25, 15),
        rect(x0 - 0.25, y1 + 9, 0.25, 15),
        rect(x1 - 0.25, y1 + 9, 0.25, 15),
    };
}

// Dark pixels within a pixel of the mark, in a render of the media box.
int darkPixelsAt(const render::Raster& page, const render::View& view, const render::Box& mark)
{
    const render::Rect r = view.rectToDisplay(mark.x0, mark.y0, mark.x1, mark.y1);
    const double scale = kDpi / 72.0;
    const double top = view.displayHeight() - (r.bottom + r.height);
    int x0 = static_cast<int>(std::floor(r.left * scale)) - 1;
    int x1 = static_cast<int>(std::ceil((r.left + r.width) * scale)) + 1;
    int y0 = static_cast<int>(std::floor(top * scale)) - 1;
    int y1 = static_cast<int>(std::ceil((top + r.height) * scale)) + 1;
    int dark = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, page.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, page.width); ++x)
            dark += page.lightness(x, y) < 128;
    return dark;
}

// Page 1 is not selected (-s2); page 3 has no trim box of its own.
DocSpec marksDoc()
{
    DocSpec spec;
    spec.pages.resize(3);
    spec.pages[0].crop = render::Box{36, 36, 576, 756};
    spec.pages[0].trim = render::Box{54, 60, 550, 730};
    spec.pages[1].crop = render::Box{40.5, 44.7, 570.2, 750.9};
    spec.pages[1].trim = render::Box{60, 66, 540, 720};
    spec.pages[2].crop = render::Box{50, 50, 560, 740};
    return spec;
}

struct MarksCase {
    const char* option;
    bool trim;
};

std::ostream& operator<<(std::ostream& out, const MarksCase& c) { return out << c.option; }

class MarksRun : public testing::TestWithParam<MarksCase> {};

// Runs the marks option on `spec` with pages 2 and later selected and
// checks every page against the input.
void checkMarks(const DocSpec& spec, const MarksCase& c)
{
    Workspace work;
    copyMarkImages(work.path());
    const BuiltDoc doc = buildDoc(spec);
    work.write("in.pdf", doc.bytes);
    const std::vector<std::string> before = listFolder(work.path());

    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", c.option});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf', output file: 'out.pdf'\n\nDone.\n");
    // out.pdf-0 .. out.pdf-6 are gone, out.pdf-7 became out.pdf.
    std::vector<std::string> after = before;
    after.push_back("out.pdf");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(listFolder(work.path()), after);

    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");

    render::RenderOptions options;
    options.dpi = kDpi;
    options.gray = true;
    options.cropBox = false; // the marks lie outside the crop box
    std::vector<render::Raster> original = render::renderPages(work.file("in.pdf"), options);
    std::vector<render::Raster> marked = render::renderPages(work.file("out.pdf"), options);
    ASSERT_EQ(original.size(), spec.pages.size());
    ASSERT_EQ(marked.size(), spec.pages.size());
    for (size_t i = 0; i < spec.pages.size(); ++i) {
        const PageSpec& page = spec.pages[i];
        render::View view{*page.media, std::max(page.rotate, 0)};
        const render::Box box = c.trim && page.trim ? *page.trim : *page.crop;
        std::vector<render::ExpectedStamp> stamps;
        if (i > 0) {
            for (const render::Box& mark : marksAround(box)) {
                stamps.push_back(blackStamp(view.rectToDisplay(mark.x0, mark.y0, mark.x1, mark.y1)));
                EXPECT_GE(darkPixelsAt(marked[i], view, mark), 20)
                    << "page " << i + 1 << ": no mark at " << mark.x0 << "," << mark.y0;
                EXPECT_EQ(darkPixelsAt(original[i], view, mark), 0);
            }
        }
        render::Comparison comparison = render::compareStamped(original[i], marked[i], view, kDpi, stamps);
        EXPECT_TRUE(comparison.ok()) << "page " << i + 1 << ": " << render::describe(comparison);
    }
}

TEST_P(MarksRun, DrawsEightMarksPerSelectedPage) { checkMarks(marksDoc(), GetParam()); }

// Marks are placed in page space: a turned page must not swing them away
// from the box corners.
TEST_P(MarksRun, DrawsTheMarksAtTheBoxCornersOfTurnedPages)
{
    DocSpec spec = marksDoc();
    spec.pages[1].rotate = 90;
    spec.pages[2].rotate = 270;
    checkMarks(spec, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Families, MarksRun,
                         testing::Values(MarksCase{"-crop_marks", false}, MarksCase{"-trim_marks", true}),
                         [](const testing::TestParamInfo<MarksCase>& info) {
                             return std::string(info.param.trim ? "Trim" : "Crop");
                         });

TEST(MarksRunFailure, MissingMarkImageLeavesNothingAndKeepsTheOutput)
{
    Workspace work;
    work.write("in.pdf", buildDoc(marksDoc()).bytes);
    const std::string precious = "an earlier result\n";
    work.write("out.pdf", precious);
    const std::vector<std::string> before = listFolder(work.path());
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'\nInput image file error: 'CropmarkHorizontal.jpg'\n");
    EXPECT_EQ(listFolder(work.path()), before);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), precious);
}

TEST(MarksRunFailure, LaterPassFailingLeavesNoIntermediateFile)
{
    Workspace work;
    work.write("in.pdf", buildDoc(marksDoc()).bytes);
    copyFile(vtest::sourceDir() + "/data/CropmarkHorizontal.jpg", work.file("CropmarkHorizontal.jpg"));
    const std::string precious = "an earlier result\n";
    work.write("out.pdf", precious);
    const std::vector<std::string> before = listFolder(work.path());
    // The four horizontal marks are drawn, the first vertical one fails.
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-trim_marks"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'\nInput image file error: 'CropmarkVertical.jpg'\n");
    EXPECT_EQ(listFolder(work.path()), before);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), precious);
}

// Writing to a symbolic link replaces the file it names and keeps the link,
// whether the output comes from one pass or from eight.
TEST(OutputThroughALink, ReplacesTheLinkedFile)
{
    Workspace work;
    copyMarkImages(work.path());
    work.write("in.pdf", buildDoc(marksDoc()).bytes);
    for (const char* marks : {"-s1", "-crop_marks"}) {
        work.write("target.pdf", "old\n");
        std::filesystem::remove(work.file("link.pdf"));
        std::filesystem::create_symlink("target.pdf", work.file("link.pdf"));
        e2e::Run run = work.run({"-iin.pdf", "-olink.pdf", "-jstamp.jpg", marks});
        ASSERT_EQ(run.status, 0) << marks << run.output;
        EXPECT_TRUE(std::filesystem::is_symlink(work.file("link.pdf"))) << marks;
        EXPECT_EQ(vtest::readFile(work.file("target.pdf")).compare(0, 5, "%PDF-"), 0) << marks;
        if (haveQpdf()) {
            EXPECT_EQ(qpdfProblems(work.file("target.pdf")), "") << marks;
        }
    }
}

// A corner flag on its own draws the -j image once, as that one mark.
TEST(CornerFlag, AloneDrawsTheImageAsOneMark)
{
    Workspace work;
    const DocSpec spec = marksDoc();
    work.write("in.pdf", buildDoc(spec).bytes);
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jblack.jpg", "-trim_blv", "-e1"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf', image file: 'black.jpg', output file: 'out.pdf'\n" +
                              "Processing\nDone.\n");
    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    render::RenderOptions options;
    options.dpi = kDpi;
    options.gray = true;
    options.cropBox = false;
    std::vector<render::Raster> original = render::renderPages(work.file("in.pdf"), options);
    std::vector<render::Raster> marked = render::renderPages(work.file("out.pdf"), options);
    ASSERT_EQ(marked.size(), 3u);
    render::View view;
    const render::Box mark = marksAround(*spec.pages[0].trim)[4]; // bottom left, vertical
    EXPECT_GE(darkPixelsAt(marked[0], view, mark), 20);
    render::Comparison comparison = render::compareStamped(
        original[0], marked[0], view, kDpi, {blackStamp(view.rectToDisplay(mark.x0, mark.y0, mark.x1, mark.y1))});
    EXPECT_TRUE(comparison.ok()) << render::describe(comparison);
}

} // namespace
