// Where the stamp lands, as a viewer shows the page: renders of the stamped
// file compared with renders of the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

struct Placement {
    int posX = 20, posY = 10;
    int width = 96, height = 48; // the stamp's displayed size in points
    std::string align = "left";
    bool flipV = false, flipH = false;
    double opacity = 1.0;
};

// The displayed rectangle the usage text promises: positions from the
// displayed bottom-left corner (right / top edge when flipped), -1 centres,
// and the alignment moves the image by its width or half of it.
render::Rect promised(const render::View& view, const Placement& p)
{
    double left = p.flipH ? view.displayWidth() - p.posX : p.posX;
    double bottom = p.flipV ? view.displayHeight() - p.posY : p.posY;
    if (p.posX == -1)
        left = std::trunc(view.displayWidth() * 0.5);
    if (p.posY == -1)
        bottom = std::trunc(view.displayHeight() * 0.5);
    if (p.align == "center")
        left -= std::trunc(p.width * 0.5);
    else if (p.align != "left")
        left -= p.width;
    return render::Rect{left, bottom, static_cast<double>(p.width), static_cast<double>(p.height)};
}

// Rotations 0, 90, 180, 270 written in the page, then one inherited from
// the page tree; the crop box is smaller than the media box and off the origin.
DocSpec rotatedDoc()
{
    DocSpec spec;
    spec.nodeRotate = 90;
    for (int rotate : {0, 90, 180, 270, -1}) {
        PageSpec page;
        page.crop = render::Box{30, 40, 580, 760};
        page.rotate = rotate;
        spec.pages.push_back(page);
    }
    return spec;
}

// The same rotations on pages whose box starts at the origin.
DocSpec originDoc()
{
    DocSpec spec;
    for (int rotate : {0, 90, 180, 270}) {
        PageSpec page;
        page.media = render::Box{0, 0, 600, 800};
        page.rotate = rotate;
        spec.pages.push_back(page);
    }
    return spec;
}

struct PlacementCase {
    PlacementCase(const char* name, std::vector<std::string> options, Placement placement, bool originBox = false)
        : name(name), options(std::move(options)), placement(std::move(placement)), originBox(originBox)
    {
    }
    const char* name;
    std::vector<std::string> options;
    Placement placement;
    bool originBox;
};

std::ostream& operator<<(std::ostream& out, const PlacementCase& c) { return out << c.name; }

class StampPlacement : public testing::TestWithParam<PlacementCase> {};

void checkPlacement(const PlacementCase& c)
{
    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    Workspace work;
    BuiltDoc doc = buildDoc(c.originBox ? originDoc() : rotatedDoc());
    work.write("in.pdf", doc.bytes);
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    e2e::Run run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");

    std::vector<render::Raster> before = render::renderPages(work.file("in.pdf"), {});
    std::vector<render::Raster> after = render::renderPages(work.file("out.pdf"), {});
    ASSERT_EQ(before.size(), doc.views.size());
    ASSERT_EQ(after.size(), doc.views.size());
    for (size_t i = 0; i < doc.views.size(); ++i) {
        const int page = static_cast<int>(i) + 1;
        const render::View& view = doc.views[i];
        render::Comparison comparison = render::compareStamped(
            before[i], after[i], view, 36, {redBlueStamp(promised(view, c.placement), c.placement.opacity)});
        EXPECT_TRUE(comparison.ok()) << "page " << page << " (/Rotate " << view.rotate << "): "
                                     << render::describe(comparison);
    }
}

TEST_P(StampPlacement, ShowsUprightWhereTheOptionsSay) { checkPlacement(GetParam()); }

Placement at(int x, int y)
{
    Placement p;
    p.posX = x;
    p.posY = y;
    return p;
}

Placement withAlign(Placement p, const char* align)
{
    p.align = align;
    return p;
}

Placement flipped(Placement p, bool v, bool h)
{
    p.flipV = v;
    p.flipH = h;
    return p;
}

Placement sized(Placement p, int w, int h)
{
    p.width = w;
    p.height = h;
    return p;
}

Placement translucent(Placement p, double opacity)
{
    p.opacity = opacity;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRotation, StampPlacement,
    testing::Values(
        PlacementCase{"Defaults", {}, Placement()},
        PlacementCase{"Position", {"-pos50,70"}, at(50, 70)},
        PlacementCase{"Size", {"-pos40,60", "-size150,40"}, sized(at(40, 60), 150, 40)},
        PlacementCase{"SizeSmallerThanThePixels", {"-size48,24"}, sized(Placement(), 48, 24)},
        PlacementCase{"Opacity50", {"-opacity50"}, translucent(Placement(), 0.5)},
        PlacementCase{"AlignAsLastArgumentIsIgnored", {"-pos60,20", "-align"}, at(60, 20)},
        PlacementCase{"CentredLeft", {"-pos-1,-1"}, at(-1, -1)},
        PlacementCase{"CentredCenter", {"-pos-1,-1", "-align", "center"}, withAlign(at(-1, -1), "center")},
        PlacementCase{"CentredRight", {"-pos-1,-1", "-align", "right"}, withAlign(at(-1, -1), "right")},
        PlacementCase{"CentredOnABoxAtTheOrigin", {"-pos-1,-1"}, at(-1, -1), true},
        PlacementCase{"AlignRight", {"-pos150,30", "-align", "right"}, withAlign(at(150, 30), "right")},
        PlacementCase{"AlignCenter", {"-pos150,30", "-align", "center"}, withAlign(at(150, 30), "center")},
        // Unequal distances show whether a flip swaps them on turned pages.
        PlacementCase{"FlipV", {"-flipv", "-pos40,90"}, flipped(at(40, 90), true, false)},
        PlacementCase{"FlipH", {"-fliph", "-pos130,30"}, flipped(at(130, 30), false, true)},
        PlacementCase{"BothFlips", {"-flipv", "-fliph", "-pos130,90"}, flipped(at(130, 90), true, true)}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

// -noforce: the page is treated as unturned, so the stamp sits at the
// position in the page's own coordinates and turns with the page.
TEST(StampPlacementNoForce, PlacesInThePageCoordinatesOfTurnedPages)
{
    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    Workspace work;
    BuiltDoc doc = buildDoc(rotatedDoc());
    work.write("in.pdf", doc.bytes);
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jblack.jpg", "-noforce", "-size96,48"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    std::vector<std::vector<render::ExpectedStamp>> expected;
    for (const render::View& view : doc.views)
        expected.push_back({blackStamp(view.rectToDisplay(view.box.x0 + 20, view.box.y0 + 10, view.box.x0 + 116,
                                                          view.box.y0 + 58))});
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), doc.views, expected), "");
}

} // namespace
