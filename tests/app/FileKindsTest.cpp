// Every kind of file the fixture builder makes, with every way a page can
// hold its contents, resources, boxes and rotation: the stamped output is a
// valid PDF and shows the stamp on every page and nothing else changed.

#include <gtest/gtest.h>

#include <regex>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

// Seven pages that between them cover every case of the page rewrite.
std::vector<PageSpec> variedPages()
{
    std::vector<PageSpec> pages(7);
    pages[0].crop = render::Box{20, 30, 590, 770};
    pages[0].rotate = 0;

    pages[1].resources = Resources::Indirect;
    pages[1].contents = Contents::Array;
    pages[1].rotate = 90;

    pages[2].resources = Resources::Inline;
    pages[2].subDictionariesByReference = true;
    pages[2].contents = Contents::ArrayRef;
    pages[2].rotate = 180;
    pages[2].flate = true;

    pages[3].resources = Resources::Indirect;
    pages[3].subDictionariesByReference = true;
    pages[3].rotate = 270;
    pages[3].crop = render::Box{40, 40, 560, 700};
    pages[3].cropByReference = true;

    pages[4].resources = Resources::Bare;
    pages[4].contents = Contents::None;

    pages[5].resources = Resources::None; // the tree's, if it has any; rotation from the tree too
    pages[5].flate = true;

    pages[6].resources = Resources::None;
    pages[6].contents = Contents::Array;
    pages[6].media.reset(); // the tree's
    return pages;
}

struct KindCase {
    const char* name;
    Layout layout;
    NodeResources nodeResources;
    int nodeRotate;
    bool nodeCrop;
    bool intermediateNode;
};

std::ostream& operator<<(std::ostream& out, const KindCase& c) { return out << c.name; }

DocSpec specFor(const KindCase& c)
{
    DocSpec spec;
    spec.pages = variedPages();
    spec.layout = c.layout;
    spec.nodeResources = c.nodeResources;
    spec.nodeRotate = c.nodeRotate;
    spec.nodeMedia = render::Box{0, 0, 612, 792};
    if (c.nodeCrop)
        spec.nodeCrop = render::Box{10, 12, 600, 780};
    spec.intermediateNode = c.intermediateNode;
    return spec;
}

class StampedFileKind : public testing::TestWithParam<KindCase> {};

TEST_P(StampedFileKind, IsValidAndShowsTheStampOnEveryPage)
{
    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    Workspace work;
    BuiltDoc doc = buildDoc(specFor(GetParam()));
    work.write("in.pdf", doc.bytes);
    ASSERT_EQ(qpdfProblems(work.file("in.pdf")), "") << "the fixture itself";

    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");

    const std::string output = vtest::readFile(work.file("out.pdf"));
    EXPECT_EQ(output.compare(0, 5, "%PDF-"), 0) << "bytes before the header are not copied";
    EXPECT_EQ(output.find("/ObjStm"), std::string::npos) << "object streams are dropped";
    EXPECT_NE(output.find("(ObjStm in a string)"), std::string::npos) << "an object that mentions them is not";

    // Poppler cannot read a hybrid file whose catalog is compressed: render
    // the input as qpdf rewrites it instead.
    std::string reference = work.file("in.pdf");
    if (GetParam().layout == Layout::Hybrid) {
        reference = work.file("reference.pdf");
        vtest::CommandResult rewritten = vtest::runCommand("qpdf " + vtest::shellQuote(work.file("in.pdf")) + " " +
                                                           vtest::shellQuote(reference) + " 2>&1");
        ASSERT_EQ(rewritten.status, 0) << rewritten.output;
    }
    std::vector<std::vector<render::ExpectedStamp>> expected;
    for (size_t i = 0; i < doc.views.size(); ++i)
        expected.push_back({redBlueStamp(render::Rect{20, 10, 96, 48})});
    EXPECT_EQ(compareRenders(reference, work.file("out.pdf"), doc.views, expected), "");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, StampedFileKind,
    testing::Values(KindCase{"Classic", Layout::Classic, NodeResources::Reference, 90, false, false},
                    KindCase{"ClassicTreeWithoutResources", Layout::Classic, NodeResources::None, -1, false, false},
                    KindCase{"IncrementalUpdate", Layout::Incremental, NodeResources::Inline, 270, false, false},
                    KindCase{"XrefStream", Layout::XrefStream, NodeResources::None, 180, false, false},
                    KindCase{"XrefStreamWithPredictor", Layout::XrefStreamPng, NodeResources::Reference, 90, true,
                             false},
                    KindCase{"ObjectStreams", Layout::ObjectStreams, NodeResources::Inline, 90, false, true},
                    KindCase{"ObjectStreamsInheritedReference", Layout::ObjectStreams, NodeResources::Reference, -1,
                             true, true},
                    KindCase{"Hybrid", Layout::Hybrid, NodeResources::Reference, 270, false, false},
                    KindCase{"JunkBeforeHeader", Layout::JunkPrefix, NodeResources::Inline, 180, true, false},
                    KindCase{"InheritedBoxesTwoLevelsUp", Layout::Classic, NodeResources::Inline, 90, true, true}),
    [](const testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

// ---- The trailer ----

std::string trailerOf(const std::string& pdf)
{
    size_t at = pdf.rfind("trailer");
    return at == std::string::npos ? std::string() : pdf.substr(at);
}

struct TrailerCase {
    const char* name;
    Layout layout;
    int rootGen;
    int infoGen; // -1: no Info dictionary
};

std::ostream& operator<<(std::ostream& out, const TrailerCase& c) { return out << c.name; }

class StampedTrailer : public testing::TestWithParam<TrailerCase> {};

TEST_P(StampedTrailer, KeepsTheGenerationsOfRootAndInfo)
{
    const TrailerCase& c = GetParam();
    Workspace work;
    DocSpec spec;
    spec.pages.resize(2);
    spec.layout = c.layout;
    spec.rootGen = c.rootGen;
    spec.info = c.infoGen >= 0;
    spec.infoGen = std::max(c.infoGen, 0);
    work.write("in.pdf", buildDoc(spec).bytes);
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    if (haveQpdf()) {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
    const std::string trailer = trailerOf(vtest::readFile(work.file("out.pdf")));
    std::smatch root;
    ASSERT_TRUE(std::regex_search(trailer, root, std::regex("/Root (\\d+) (\\d+) R"))) << trailer;
    EXPECT_EQ(root[2], std::to_string(c.rootGen)) << trailer;
    std::smatch info;
    if (c.infoGen < 0) {
        EXPECT_EQ(trailer.find("/Info"), std::string::npos) << trailer;
    } else {
        ASSERT_TRUE(std::regex_search(trailer, info, std::regex("/Info (\\d+) (\\d+) R"))) << trailer;
        EXPECT_EQ(info[2], std::to_string(c.infoGen)) << trailer;
    }
    // The objects the trailer names are in the table under those generations.
    if (haveQpdf()) {
        vtest::CommandResult shown =
            vtest::runCommand("qpdf --show-object=" + std::string(root[1]) + "," + std::string(root[2]) + " " +
                              vtest::shellQuote(work.file("out.pdf")) + " 2>&1");
        EXPECT_EQ(shown.status, 0) << shown.output;
        EXPECT_NE(shown.output.find("/Catalog"), std::string::npos) << shown.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, StampedTrailer,
                         testing::Values(TrailerCase{"ClassicNonZero", Layout::Classic, 3, 2},
                                         TrailerCase{"XrefStreamNonZero", Layout::XrefStream, 7, 1},
                                         TrailerCase{"IncrementalNonZero", Layout::Incremental, 1, 4},
                                         TrailerCase{"Zero", Layout::Classic, 0, 0},
                                         TrailerCase{"WithoutInfo", Layout::Hybrid, 2, -1}),
                         [](const testing::TestParamInfo<TrailerCase>& info) { return std::string(info.param.name); });

} // namespace
