// Pages whose own content leaves the graphics state or a text object in an
// unexpected state: too many Q, states left open with their transformations,
// a text object left open, a clip outside any q. In poppler and in MuPDF the
// stamp must stand where it belongs, drawn in the page's initial state, and
// the page's own drawing must stay as it was.

#include <gtest/gtest.h>

#include <zlib.h>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

enum class Coding { Plain, Flate, Lzw, LzwPredicted, Undecodable };

struct StateCase {
    const char* name;
    std::vector<std::string> streams; // the page's content, one stream or an array of several
    Coding coding = Coding::Plain;
    std::string stampStart = "\nQ\nq\n"; // how the stamp's content begins
    int saves = 4;                       // the prefix's q
};

std::ostream& operator<<(std::ostream& out, const StateCase& c) { return out << c.name; }

// The page's drawing: a grey square and a blue one inside its own q/Q. All
// of it comes before any extra Q: poppler stops drawing a page there.
const std::string kDrawing = "0.6 g 150 200 200 150 re f q 0 0 1 rg 400 500 60 60 re f Q\n";

// Rows of this many bytes for the predicted coding.
constexpr size_t kColumns = 8;

std::string encoded(const std::string& data, Coding coding)
{
    if (coding == Coding::Lzw)
        return vtest::lzwEncode(data);
    if (coding == Coding::LzwPredicted) // padded with spaces to whole rows
        return vtest::lzwEncode(
            vtest::pngUpEncode(data + std::string(kColumns - data.size() % kColumns, ' '), kColumns));
    return data;
}

std::string document(const StateCase& c)
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(4, "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>");
    std::string list;
    int num = 5;
    for (const std::string& stream : c.streams) {
        std::string dict;
        if (c.coding == Coding::Lzw)
            dict = "/Filter /LZWDecode";
        if (c.coding == Coding::LzwPredicted)
            dict = "/Filter /LZWDecode /DecodeParms << /Predictor 12 /Columns " + std::to_string(kColumns) + " >>";
        if (c.coding == Coding::Undecodable && num == 5)
            dict = "/Filter /VellicoUnknownDecode"; // the first stream: one viewer skips it, the other reads it raw
        b.setStream(num, dict, encoded(stream, c.coding), c.coding == Coding::Flate);
        list += " " + std::to_string(num++) + " 0 R";
    }
    const std::string contents = c.streams.size() == 1 ? list : "[" + list + " ]";
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 4 0 R /Contents" + contents + " >>");
    b.setRoot(1);
    return b.build();
}

class PageContentState : public testing::TestWithParam<StateCase> {};

TEST_P(PageContentState, LeavesTheStampInTheInitialState)
{
    const StateCase& c = GetParam();
    Workspace work;
    work.write("in.pdf", document(c));
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("Warning"), std::string::npos) << run.output;
    if (c.coding == Coding::Undecodable) {
        // qpdf finds what it found in the input, and nothing else.
        const std::string problem = "errors while decoding content stream";
        EXPECT_NE(qpdfProblems(work.file("in.pdf")).find(problem), std::string::npos);
        const std::string found = qpdfProblems(work.file("out.pdf"));
        EXPECT_NE(found.find(problem), std::string::npos) << found;
        EXPECT_EQ(found.find("ERROR", found.find("ERROR") + 1), std::string::npos) << found;
    } else {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }

    const std::string output = vtest::readFile(work.file("out.pdf"));
    std::string prefix = "stream\n";
    for (int i = 1; i < c.saves; ++i)
        prefix += "q ";
    prefix += "q\n\nendstream";
    EXPECT_NE(output.find(prefix), std::string::npos) << "a prefix of " << c.saves << " q";
    EXPECT_NE(output.find("stream\n" + c.stampStart + "/GS"), std::string::npos) << "the stamp begins otherwise";

    const std::vector<render::View> views = {render::View{render::Box{0, 0, 612, 792}, 0}};
    for (Renderer renderer : {Renderer::Poppler, Renderer::MuPdf}) {
        if (!vtest::haveTool(rendererTool(renderer))) {
            ADD_FAILURE() << rendererTool(renderer) << " is not installed";
            continue;
        }
        EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views,
                                 {{redBlueStamp(render::Rect{20, 10, 96, 48})}}, 36, true, renderer),
                  "")
            << rendererTool(renderer);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageContentState,
    testing::Values(
        StateCase{"Balanced", {kDrawing}},
        // Extra Q restore what the prefix saved, the initial state, many times over.
        StateCase{"OneExtraQ", {"2 0 0 2 0 0 cm " + kDrawing + "Q\n"}},
        StateCase{"TwoExtraQ", {"2 0 0 2 0 0 cm " + kDrawing + "Q Q\n"}, Coding::Flate},
        StateCase{"ExtraQOverAContentArray", {"2 0 0 2 0 0 cm " + kDrawing + "Q", "Q\n", "Q\n"}},
        // More than the prefix's saves can take: the prefix saves as many more.
        StateCase{"SixExtraQ", {kDrawing + "Q Q Q Q Q Q\n"}, Coding::Plain, "\nQ\nq\n", 7},
        // States left open, each with its transformation: closed before the stamp.
        StateCase{"TwoOpenStatesWithACmEach", {"q 2 0 0 2 0 0 cm q 1 0 0 1 -100 -100 cm " + kDrawing},
                  Coding::Flate, "\nQ\nQ\nQ\nq\n"},
        StateCase{"OpenStatesOverAContentArray", {"q 0.5 0 0 0.5 0 0 cm ", "q 3 0 0 3 0 0 cm " + kDrawing},
                  Coding::Plain, "\nQ\nQ\nQ\nq\n"},
        StateCase{"ExtraQThenAnOpenState", {kDrawing + "Q", "q 2 0 0 2 0 0 cm\n"}, Coding::Plain, "\nQ\nQ\nq\n"},
        // A text object left open (with a clipping text mode): ended first.
        StateCase{"OpenTextObject", {kDrawing + "BT /F1 36 Tf 100 600 Td (Open) Tj"}, Coding::Plain,
                  "\nET\nQ\nq\n"},
        StateCase{"OpenTextObjectInOpenStates", {"q 2 0 0 2 0 0 cm " + kDrawing + "BT /F1 18 Tf 50 300 Td (x) Tj"},
                  Coding::Flate, "\nET\nQ\nQ\nq\n"},
        // Operators in strings, comments and inline images are not counted.
        StateCase{"OperatorsInStringsCommentsAndImages",
                  {kDrawing + "% Q Q q\nBT /F1 20 Tf 50 700 Td (q Q BT) Tj ET q 10 0 0 10 500 100 cm "
                              "BI /W 4 /H 1 /BPC 8 /CS /G ID Q Q BT\n EI Q\n"}},
        // A clip outside any q is undone by the prefix's save.
        StateCase{"ClipOutsideAnyQ", {"300 300 100 100 re W n " + kDrawing}},
        StateCase{"LzwContent", {"q 2 0 0 2 0 0 cm " + kDrawing}, Coding::Lzw, "\nQ\nQ\nq\n"},
        // Undecodable before the row predictor became a stage behind any filter.
        StateCase{"LzwContentWithAPredictor", {"q 2 0 0 2 0 0 cm " + kDrawing}, Coding::LzwPredicted, "\nQ\nQ\nq\n"},
        // A stream the program cannot decode: the stamp it always had.
        StateCase{"UndecodableStream", {"0 0 1 rg\n", "q 2 0 0 2 0 0 cm " + kDrawing + "Q\n"}, Coding::Undecodable}),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

// The mark passes: the first closes what the page leaves open; each later
// one reads the previous pass's output, whose content ends with that pass's
// stamp, in the initial state, and needs to read nothing.
TEST(PageContentStateMarks, AreDrawnInTheInitialStateByEveryPass)
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /TrimBox [100 100 500 700] /Contents 4 0 R >>");
    b.setStream(4, "", "q 2 0 0 2 0 0 cm q 1 0 0 1 -100 -100 cm " + kDrawing, true);
    b.setRoot(1);
    Workspace work;
    work.write("in.pdf", b.build());
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-trim_marks"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");

    const std::string output = vtest::readFile(work.file("out.pdf"));
    int closing = 0, plain = 0;
    for (size_t at = output.find("stream\n\n"); at != std::string::npos; at = output.find("stream\n\n", at + 1)) {
        closing += output.compare(at + 7, 8, "\nQ\nQ\nQ\nq") == 0;
        plain += output.compare(at + 7, 5, "\nQ\nq\n") == 0;
    }
    EXPECT_EQ(closing, 1) << "the first pass closes the page's two states";
    EXPECT_EQ(plain, 7) << "later passes find the initial state";

    // Eight 15-point marks 0.25 point thick, 9 points out from the trim box's corners.
    const double x0 = 100, y0 = 100, x1 = 500, y1 = 700;
    auto mark = [](double x, double y, double w, double h) { return blackStamp(render::Rect{x, y, w, h}); };
    const std::vector<render::ExpectedStamp> marks = {
        mark(x0 - 24, y0, 15, 0.25),       mark(x1 + 9, y0, 15, 0.25),         mark(x0 - 24, y1 - 0.25, 15, 0.25),
        mark(x1 + 9, y1 - 0.25, 15, 0.25), mark(x0 - 0.25, y0 - 24, 0.25, 15), mark(x1 - 0.25, y0 - 24, 0.25, 15),
        mark(x0 - 0.25, y1 + 9, 0.25, 15), mark(x1 - 0.25, y1 + 9, 0.25, 15)};
    const std::vector<render::View> views = {render::View{render::Box{0, 0, 612, 792}, 0}};
    for (Renderer renderer : {Renderer::Poppler, Renderer::MuPdf}) {
        if (!vtest::haveTool(rendererTool(renderer))) {
            ADD_FAILURE() << rendererTool(renderer) << " is not installed";
            continue;
        }
        EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views, {marks}, 144, true, renderer), "")
            << rendererTool(renderer);
    }
}

} // namespace
