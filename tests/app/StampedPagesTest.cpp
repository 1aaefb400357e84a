// Stamped files of every kind, and the stamp and the marks where the options
// put them as a viewer shows the page: the output passes qpdf, and renders of
// it show the input with the expected stamps and nothing else changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string_view>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

const render::Box kLetter{0, 0, 612, 792}, kCrop{30, 40, 580, 760};

// Seven pages that between them take every path of the page rewrite (the
// last two take resources and rotation from the tree, if it has any), in a
// tree that varies resources, rotation, crop box and depth.
DocPlan kinds(Layout layout, NodeResources resources, int rotate, bool crop, bool intermediate, int rootGen = 0,
              int infoGen = 0)
{
    // rotate, resources, contents, subDictionariesByReference, flate, crop, cropByReference, trim, media
    const std::vector<PagePlan> pages = {
        {0, Resources::Inline, Contents::Stream, false, false, render::Box{20, 30, 590, 770}},
        {90, Resources::Indirect, Contents::Array},
        {180, Resources::Inline, Contents::ArrayRef, true, true},
        {270, Resources::Indirect, Contents::Stream, true, false, render::Box{40, 40, 560, 700}, true},
        {-1, Resources::Bare, Contents::None},
        {-1, Resources::None, Contents::Stream, false, true},
        {-1, Resources::None, Contents::Array, false, false, {}, false, {}, std::nullopt}};
    const std::optional<render::Box> nodeCrop = crop ? std::optional(render::Box{10, 12, 600, 780}) : std::nullopt;
    return DocPlan{pages, layout, kLetter, nodeCrop, rotate, resources, intermediate, rootGen, std::max(infoGen, 0),
                   infoGen >= 0};
}

// /Rotate 0, 90, 180, 270 in the page, then 90 from the tree; crop boxes
// smaller than the media box and off the origin.
DocPlan turned()
{
    DocPlan plan;
    plan.nodeRotate = 90;
    for (int rotate : {0, 90, 180, 270, -1})
        plan.pages.push_back({rotate, Resources::Inline, Contents::Stream, false, false, kCrop});
    return plan;
}

// Pages that have no /Resources of their own: only what they inherit from
// the tree (an object no page names) can carry the stamp's names.
DocPlan inheritingOnly(NodeResources resources)
{
    DocPlan plan;
    plan.nodeResources = resources;
    for (int rotate : {0, 90})
        plan.pages.push_back({rotate, Resources::None, Contents::Stream});
    return plan;
}

struct Placement {
    int posX = 20, posY = 10, width = 96, height = 48; // the size as displayed
    std::string_view align = "left";
    bool flipV = false, flipH = false;
    double opacity = 1.0;
    bool noForce = false;
};

// Where the usage text puts the stamp: from the displayed bottom left (right
// or top edge when flipped), -1 centres, the alignment moves it by its width
// or half of it. With -noforce the page counts as unturned.
render::ExpectedStamp promised(const render::View& view, const Placement& p)
{
    const render::Box& b = view.box;
    if (p.noForce)
        return blackStamp(
            view.rectToDisplay(b.x0 + p.posX, b.y0 + p.posY, b.x0 + p.posX + p.width, b.y0 + p.posY + p.height));
    double left = p.posX == -1 ? std::trunc(view.displayWidth() / 2) : p.flipH ? view.displayWidth() - p.posX : p.posX;
    double bottom = p.posY == -1 ? std::trunc(view.displayHeight() / 2)
                                 : p.flipV ? view.displayHeight() - p.posY : p.posY;
    left -= p.align == "center" ? std::trunc(p.width / 2.0) : p.align == "right" ? p.width : 0;
    return redBlueStamp(render::Rect{left, bottom, double(p.width), double(p.height)}, p.opacity);
}

struct Case {
    const char* name;
    DocPlan plan;
    std::vector<std::string> options = {};
    Placement placement = {};
    std::vector<int> unstamped = {}; // 1-based
    bool spaced = false;             // -i, -o and -j with their values after a space
    bool appended = false;           // the output is the input and an update
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

class StampedPages : public testing::TestWithParam<Case> {};

TEST_P(StampedPages, ShowTheStampWhereTheOptionsSay)
{
    const Case& c = GetParam();
    Workspace work;
    const BuiltDoc doc = buildDoc(c.plan);
    work.write("in.pdf", doc.bytes);
    const std::string jpeg = c.placement.noForce ? "black.jpg" : "stamp.jpg";
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-j" + jpeg};
    if (c.spaced)
        arguments = {"-i", "in.pdf", "-o", "out.pdf", "-j", jpeg};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    auto run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");

    const std::string output = vtest::readFile(work.file("out.pdf"));
    std::string trailer;
    if (c.appended) {
        ASSERT_EQ(output.compare(0, doc.bytes.size(), doc.bytes), 0) << "the input's bytes come first, unchanged";
        trailer = output.substr(doc.bytes.size());
        // The update's section is of the input's kind: a stream after a stream, else a table.
        const bool streams = c.plan.layout == Layout::XrefStream || c.plan.layout == Layout::XrefStreamPng ||
                             c.plan.layout == Layout::ObjectStreams;
        EXPECT_EQ(trailer.find("/Type /XRef") != std::string::npos, streams) << trailer;
        EXPECT_EQ(trailer.find("\ntrailer\n") != std::string::npos, !streams) << trailer;
        EXPECT_TRUE(std::regex_search(trailer, std::regex("/Prev \\d+"))) << trailer;
    } else {
        EXPECT_EQ(output.compare(0, 5, "%PDF-"), 0) << "bytes before the header are not copied";
        EXPECT_EQ(output.find("/ObjStm"), std::string::npos) << "object streams are dropped";
        trailer = output.substr(output.rfind("trailer"));
    }
    const std::string rootGen = std::to_string(c.plan.rootGen), infoGen = std::to_string(c.plan.infoGen);
    EXPECT_TRUE(std::regex_search(trailer, std::regex("/Root \\d+ " + rootGen + " R"))) << trailer;
    if (c.plan.info) {
        EXPECT_TRUE(std::regex_search(trailer, std::regex("/Info \\d+ " + infoGen + " R"))) << trailer;
        EXPECT_TRUE(c.appended || output.find("(ObjStm in a string)") != std::string::npos)
            << "an object that mentions them is not";
    } else {
        EXPECT_EQ(trailer.find("/Info"), std::string::npos) << trailer;
    }

    // Poppler cannot read a hybrid file whose catalog is compressed: render qpdf's rewrite of it.
    std::string reference = work.file("in.pdf");
    if (c.plan.layout == Layout::Hybrid) {
        reference = work.file("reference.pdf");
        const std::string files = vtest::shellQuote(work.file("in.pdf")) + " " + vtest::shellQuote(reference);
        ASSERT_EQ(vtest::runCommand("qpdf " + files).status, 0);
    }
    std::vector<std::vector<render::ExpectedStamp>> expected;
    for (const render::View& view : doc.views) {
        expected.emplace_back();
        if (std::count(c.unstamped.begin(), c.unstamped.end(), static_cast<int>(expected.size())) == 0)
            expected.back().push_back(promised(view, c.placement));
    }
    // Nor an update of such a file: qpdf's rewrite of it too.
    std::string rendered = work.file("out.pdf");
    if (c.plan.layout == Layout::Hybrid && c.appended) {
        rendered = work.file("rendered.pdf");
        const std::string files = vtest::shellQuote(work.file("out.pdf")) + " " + vtest::shellQuote(rendered);
        ASSERT_EQ(vtest::runCommand("qpdf " + files).status, 0);
    }
    EXPECT_EQ(compareRenders(reference, rendered, doc.views, expected), "");
}

// Placement fields: x, y, width, height, align, flipV, flipH, opacity, noForce.
INSTANTIATE_TEST_SUITE_P(
    Options, StampedPages,
    testing::Values(
        // The generations of /Root and /Info stay in the trailer.
        Case{"Classic", kinds(Layout::Classic, NodeResources::Reference, 90, false, false, 3, 2)},
        Case{"ClassicTreeWithoutResources", kinds(Layout::Classic, NodeResources::None, -1, false, false, 2, -1)},
        Case{"IncrementalUpdate", kinds(Layout::Incremental, NodeResources::Inline, 270, false, false, 1, 4)},
        Case{"XrefStream", kinds(Layout::XrefStream, NodeResources::None, 180, false, false, 7, 1)},
        Case{"XrefStreamWithPredictor", kinds(Layout::XrefStreamPng, NodeResources::Reference, 90, true, false)},
        Case{"ObjectStreams", kinds(Layout::ObjectStreams, NodeResources::Inline, 90, false, true)},
        Case{"ObjectStreamsInheritedReference", kinds(Layout::ObjectStreams, NodeResources::Reference, -1, true, true)},
        Case{"Hybrid", kinds(Layout::Hybrid, NodeResources::Reference, 270, false, false)},
        Case{"JunkBeforeHeader", kinds(Layout::JunkPrefix, NodeResources::Inline, 180, true, false)},
        Case{"InheritedBoxesTwoLevelsUp", kinds(Layout::Classic, NodeResources::Inline, 90, true, true)},
        Case{"OnlyInheritedResourcesByReference", inheritingOnly(NodeResources::Reference)},
        Case{"OnlyInheritedInlineResources", inheritingOnly(NodeResources::Inline)},
        Case{"Defaults", turned()},
        Case{"Position", turned(), {"-pos50,70"}, {50, 70}},
        Case{"Size", turned(), {"-pos40,60", "-size150,40"}, {40, 60, 150, 40}},
        Case{"SizeSmallerThanThePixels", turned(), {"-size48,24"}, {20, 10, 48, 24}},
        Case{"Opacity50", turned(), {"-opacity50"}, {20, 10, 96, 48, "left", false, false, 0.5}},
        Case{"AlignAsLastArgumentIsIgnored", turned(), {"-pos60,20", "-align"}, {60, 20}},
        Case{"AlignRight", turned(), {"-pos150,30", "-align", "right"}, {150, 30, 96, 48, "right"}},
        Case{"AlignCenter", turned(), {"-pos150,30", "-align", "center"}, {150, 30, 96, 48, "center"}},
        Case{"Centred", turned(), {"-pos-1,-1"}, {-1, -1}},
        Case{"CentredCenter", turned(), {"-pos-1,-1", "-align", "center"}, {-1, -1, 96, 48, "center"}},
        Case{"CentredRight", turned(), {"-pos-1,-1", "-align", "right"}, {-1, -1, 96, 48, "right"}},
        // Unequal distances show whether a flip swaps them on turned pages.
        Case{"FlipV", turned(), {"-flipv", "-pos40,90"}, {40, 90, 96, 48, "left", true}},
        Case{"FlipH", turned(), {"-fliph", "-pos130,30"}, {130, 30, 96, 48, "left", false, true}},
        Case{"BothFlips", turned(), {"-flipv", "-fliph", "-pos130,90"}, {130, 90, 96, 48, "left", true, true}},
        // The stamp sits in the page's own coordinates and turns with it.
        Case{"NoForce", turned(), {"-noforce", "-size96,48"}, {20, 10, 96, 48, "left", false, false, 1.0, true}},
        // -n skips every nth page counted from -s; -useend counts back from the last page.
        Case{"Start", turned(), {"-s3"}, {}, {1, 2}},
        Case{"End", turned(), {"-e2"}, {}, {3, 4, 5}},
        Case{"StartAndEnd", turned(), {"-s2", "-e4"}, {}, {1, 5}},
        Case{"RepeatedStartTakesTheLast", turned(), {"-s2", "-s4"}, {}, {1, 2, 3}},
        Case{"StartAfterEnd", turned(), {"-s4", "-e2"}, {}, {1, 2, 3, 4, 5}},
        Case{"EverySecond", turned(), {"-n2"}, {}, {2, 4}},
        Case{"EveryThirdSkipped", turned(), {"-n3"}, {}, {3}},
        Case{"EverySecondFromTwo", turned(), {"-s2", "-n2"}, {}, {1, 3, 5}},
        Case{"LastPage", turned(), {"-s0", "-e0", "-useend"}, {}, {1, 2, 3, 4}},
        Case{"LastThree", turned(), {"-s0", "-e0", "-useend", "-send2"}, {}, {1, 2}},
        Case{"BothCountedBack", turned(), {"-s0", "-e0", "-useend", "-send3", "-eend1"}, {}, {1, 5}},
        Case{"FixedEndKept", turned(), {"-s0", "-e4", "-useend", "-send2"}, {}, {1, 2, 5}},
        Case{"UseEndNeedsStartZero", turned(), {"-useend", "-send2"}},
        // Values after a space mean what they mean joined.
        Case{"ValuesAfterASpace", turned(),
             {"-s", "2", "-e", "4", "-pos", "40,60", "-size", "150,40", "-opacity", "50"},
             {40, 60, 150, 40, "left", false, false, 0.5}, {1, 5}, true},
        Case{"CountedBackAfterASpace", turned(), {"-s", "0", "-e", "0", "-useend", "-send", "3", "-eend", "1"}, {},
             {1, 5}, true},
        Case{"EveryNthAfterASpace", turned(), {"-s", "2", "-n", "2", "-align", "center"},
             {20, 10, 96, 48, "center"}, {1, 3, 5}, true},
        // An update appended to the input, in a section of the input's kind.
        Case{"UpdateOfClassic", kinds(Layout::Classic, NodeResources::Reference, 90, false, false, 3, 2),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateOfUpdate", kinds(Layout::Incremental, NodeResources::Inline, 270, false, false, 1, 4),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateOfXrefStream", kinds(Layout::XrefStreamPng, NodeResources::Reference, 90, true, false),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateOfObjectStreams", kinds(Layout::ObjectStreams, NodeResources::Inline, 90, false, true),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateOfHybrid", kinds(Layout::Hybrid, NodeResources::Reference, 270, false, false),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateAfterJunk", kinds(Layout::JunkPrefix, NodeResources::Inline, 180, true, false),
             {"--incremental"}, {}, {}, false, true},
        Case{"UpdateOfSomePages", turned(), {"--incremental", "-s2", "-e4", "-n3"}, {}, {1, 2, 5}, false, true},
        // A stamp annotation shows as the content stamp shows, upright on turned pages.
        Case{"Annotation", turned(), {"--annotation", "-pos50,70"}, {50, 70}},
        Case{"AnnotationNoForce", turned(), {"--annotation", "-noforce", "-size96,48"},
             {20, 10, 96, 48, "left", false, false, 1.0, true}},
        Case{"AnnotationOpacity50", kinds(Layout::ObjectStreams, NodeResources::Inline, 90, false, true),
             {"--annotation", "-opacity50"}, {20, 10, 96, 48, "left", false, false, 0.5}},
        Case{"AnnotationInAnUpdate", turned(), {"--annotation", "--incremental", "-pos-1,-1"}, {-1, -1}, {}, false,
             true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The eight marks of a box in user space: 15-point lines 0.25 point thick,
// 9 points out from each corner along the edges; whole-point corners.
std::vector<render::Box> marksAround(const render::Box& box)
{
    const double x0 = std::trunc(box.x0), y0 = std::trunc(box.y0), x1 = std::trunc(box.x1), y1 = std::trunc(box.y1);
    auto rect = [](double x, double y, double w, double h) { return render::Box{x, y, x + w, y + h}; };
    return {rect(x0 - 24, y0, 15, 0.25),       rect(x1 + 9, y0, 15, 0.25),         rect(x0 - 24, y1 - 0.25, 15, 0.25),
            rect(x1 + 9, y1 - 0.25, 15, 0.25), rect(x0 - 0.25, y0 - 24, 0.25, 15), rect(x1 - 0.25, y0 - 24, 0.25, 15),
            rect(x0 - 0.25, y1 + 9, 0.25, 15), rect(x1 - 0.25, y1 + 9, 0.25, 15)};
}

class Marks : public testing::TestWithParam<const char*> {};

// Page 1 is not selected; page 2's boxes are not on whole points; page 3 has
// no trim box; marks on turned pages stay at the box corners.
TEST_P(Marks, DrawsEightAroundTheBoxOfEachSelectedPage)
{
    const bool trim = std::string(GetParam()) == "-trim_marks";
    DocPlan plan;
    const auto page = [](int rotate, render::Box crop, std::optional<render::Box> trimBox) {
        return PagePlan{rotate, Resources::Inline, Contents::Stream, false, false, crop, false, trimBox};
    };
    plan.pages = {page(-1, {36, 36, 576, 756}, render::Box{54, 60, 550, 730}),
                  page(90, {40.5, 44.7, 570.2, 750.9}, render::Box{60, 66, 540, 720}),
                  page(270, {50, 50, 560, 740}, std::nullopt),
                  page(-1, {45, 48, 565, 745}, render::Box{70, 75, 530, 710})};
    Workspace work;
    work.write("in.pdf", buildDoc(plan).bytes);
    const auto before = snapshot(work.path());
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", GetParam()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    auto after = snapshot(work.path());
    after.erase("out.pdf");
    EXPECT_EQ(after, before) << "out.pdf-0 .. out.pdf-7 are gone";

    // At two pixels per point, media box and all: the marks lie outside the crop box.
    std::vector<render::View> views;
    std::vector<std::vector<render::ExpectedStamp>> expected;
    for (const PagePlan& p : plan.pages) {
        views.push_back(render::View{*p.media, std::max(p.rotate, 0)});
        expected.emplace_back();
        for (const render::Box& m : marksAround(trim && p.trim ? *p.trim : *p.crop))
            if (views.size() > 1) // page 1 is not selected
                expected.back().push_back(blackStamp(views.back().rectToDisplay(m.x0, m.y0, m.x1, m.y1)));
    }
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views, expected, 144, false), "");
}

INSTANTIATE_TEST_SUITE_P(Options, Marks, testing::Values("-crop_marks", "-trim_marks"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param + 1, 4); // crop, trim
                         });

} // namespace
