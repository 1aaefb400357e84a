// Which pages get the stamp: -s, -e, -n and the range counted from the end.

#include <gtest/gtest.h>

#include <regex>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

constexpr int kPages = 10;

struct SelectionCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<int> stamped; // 1-based
};

std::ostream& operator<<(std::ostream& out, const SelectionCase& c) { return out << c.name; }

class PageSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(PageSelection, StampsExactlyTheChosenPages)
{
    const SelectionCase& c = GetParam();
    Workspace work;
    DocSpec spec;
    spec.pages.resize(kPages);
    BuiltDoc doc = buildDoc(spec);
    work.write("in.pdf", doc.bytes);
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jblack.jpg", "-size100,100"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    e2e::Run run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;

    // One stamp stream per stamped page, and two new objects for each.
    const std::string output = vtest::readFile(work.file("out.pdf"));
    const std::regex paint("/Im\\d+ Do");
    auto paints = std::distance(std::sregex_iterator(output.begin(), output.end(), paint), std::sregex_iterator());
    EXPECT_EQ(paints, static_cast<long>(c.stamped.size()));
    std::smatch size;
    ASSERT_TRUE(std::regex_search(output, size, std::regex("trailer\\s*<<\\s*/Size (\\d+)")));
    const std::string input = doc.bytes;
    std::smatch inputSize;
    ASSERT_TRUE(std::regex_search(input, inputSize, std::regex("/Size (\\d+)")));
    EXPECT_EQ(std::stoi(size[1]), std::stoi(inputSize[1]) + 2 + 2 * static_cast<int>(c.stamped.size()));

    if (!haveQpdf() || !havePdftoppm())
        GTEST_SKIP() << "qpdf or pdftoppm missing";
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    std::vector<std::vector<render::ExpectedStamp>> expected(kPages);
    for (int page : c.stamped)
        expected[static_cast<size_t>(page - 1)] = {blackStamp(render::Rect{20, 10, 100, 100})};
    render::RenderOptions options;
    options.dpi = 18;
    options.gray = true;
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), doc.views, expected, options), "");
}

INSTANTIATE_TEST_SUITE_P(
    Options, PageSelection,
    testing::Values(
        SelectionCase{"Everything", {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        SelectionCase{"Start", {"-s3"}, {3, 4, 5, 6, 7, 8, 9, 10}},
        SelectionCase{"End", {"-e4"}, {1, 2, 3, 4}},
        SelectionCase{"StartAndEnd", {"-s3", "-e5"}, {3, 4, 5}},
        SelectionCase{"RepeatedStartTakesTheLast", {"-s5", "-s7"}, {7, 8, 9, 10}},
        SelectionCase{"StartAfterEnd", {"-s5", "-e2"}, {}},
        SelectionCase{"EverySecond", {"-n2"}, {1, 3, 5, 7, 9}},
        SelectionCase{"EveryThirdSkipped", {"-n3"}, {1, 2, 4, 5, 7, 8, 10}},
        SelectionCase{"EverySecondFromTwo", {"-s2", "-n2"}, {2, 4, 6, 8, 10}},
        SelectionCase{"LastPageOnly", {"-s0", "-e0", "-useend"}, {10}},
        SelectionCase{"LastThree", {"-s0", "-e0", "-useend", "-send2"}, {8, 9, 10}},
        SelectionCase{"CountedBackBothEnds", {"-s0", "-e0", "-useend", "-send3", "-eend1"}, {7, 8, 9}},
        SelectionCase{"FixedEndKept", {"-s0", "-e9", "-useend", "-send2"}, {8, 9}},
        SelectionCase{"UseEndWithoutZeroStart", {"-useend", "-send2"}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}),
    [](const testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

} // namespace
