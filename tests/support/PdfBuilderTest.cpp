#include "tests/support/PdfBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestUtil.h"

using vtest::PdfBuilder;
using vtest::XrefKind;

namespace {

// qpdf arguments and their exact output: what an object must read back as.
using Shows = std::vector<std::pair<std::string, std::string>>;

const int kContents = 2, kInfo = 5; // numbers addPageTree hands out
const std::string kDrawing = "0 0 m 100 100 l S";

// qpdf prints objects with sorted keys and single spaces, as written here.
std::pair<std::string, std::string> object(int num, const std::string& body, int gen = 0)
{
    return {"--show-object=" + std::to_string(num) + "," + std::to_string(gen), body + "\n"};
}

// A one-page document with an info dictionary, objects 1 to 5.
void addPageTree(PdfBuilder& b, bool flateContents)
{
    b.add("<< /Count 1 /Kids [ 3 0 R ] /Type /Pages >>");
    b.addStream("", kDrawing, flateContents);
    b.add("<< /Contents 2 0 R /MediaBox [ 0 0 200 200 ] /Parent 1 0 R /Type /Page >>");
    b.setRoot(b.add("<< /Pages 1 0 R /Type /Catalog >>"));
    b.setInfo(b.add("<< /Title (Info) >>"));
}

// Objects of other kinds in one classic section, one with a generation other than 0.
Shows assorted(PdfBuilder& b, XrefKind)
{
    const int later = b.reserve(), raw = b.reserve();
    b.set(later, "[ 1 2.5 /Name (text) true null ]", 2);
    b.setRaw(raw, std::to_string(raw) + " 0 obj<</Kind/Raw>>endobj");
    return {object(later, "[ 1 2.5 /Name (text) true null ]", 2), object(raw, "<< /Kind /Raw >>")};
}

// An update that redefines the info, frees one object and adds another; with
// xref streams the changed objects go into an object stream.
Shows update(PdfBuilder& b, XrefKind kind)
{
    const int doomed = b.add("<< /Note (freed later) >>");
    b.setXref(kind);
    b.beginUpdate();
    b.set(kInfo, "<< /Title (After) >>");
    const int fresh = b.add("<< /Note (new) >>");
    if (kind == XrefKind::Stream) {
        const int objStm = b.addObjectStream();
        b.compress(kInfo, objStm);
        b.compress(fresh, objStm);
    }
    b.free(doomed);
    return {object(kInfo, "<< /Title (After) >>"), object(fresh, "<< /Note (new) >>"), object(doomed, "null")};
}

// The info and six more objects handed to two object streams in turn.
Shows packed(PdfBuilder& b, XrefKind)
{
    Shows shows = {object(kInfo, "<< /Title (Info) >>")};
    const int objStms[] = {b.addObjectStream(), b.addObjectStream(false)};
    b.compress(kInfo, objStms[1]);
    for (int i = 0; i < 6; ++i) {
        const std::string body = "<< /Seq " + std::to_string(i) + " >>";
        const int n = b.add(body);
        b.compress(n, objStms[i % 2]);
        shows.push_back(object(n, body));
    }
    return shows;
}

struct Layout {
    std::string name;
    XrefKind kind;              // of the last revision
    vtest::XrefStreamOptions o; // /W widths, flate, PNG Up, /Index
    Shows (*extra)(PdfBuilder&, XrefKind) = nullptr; // more structure on top of the page tree
    std::string marker = "", junk = ""; // bytes showing the layout was really written; bytes before the header
    std::size_t padding = 0;
};

const Layout kLayouts[] = {
    {"classic", XrefKind::Classic, {}, assorted},
    {"update_classic", XrefKind::Classic, {}, update, "/Prev "},
    // Without /Index the stream lists every object, so untouched ones must keep their rows.
    {"update_xref_stream_index", XrefKind::Stream, {1, 4, 2, true, false, true}, update, "/Prev "},
    {"update_xref_stream_full", XrefKind::Stream, {1, 4, 2, true, true, false}, update, "/Prev "},
    {"xref_stream_w121_plain", XrefKind::Stream, {1, 2, 1, false, false, false}},
    {"xref_stream_w121_png", XrefKind::Stream, {1, 2, 1, true, true, false}},
    {"xref_stream_w142_png_index", XrefKind::Stream, {1, 4, 2, true, true, true}},
    {"xref_stream_w040_flate_index", XrefKind::Stream, {0, 4, 0, true, false, true}},
    {"xref_stream_w030_png_index", XrefKind::Stream, {0, 3, 0, true, true, true}},
    {"object_streams_alternate", XrefKind::Stream, {}, packed, "/Type /ObjStm"},
    {"hybrid", XrefKind::Hybrid, {}, packed, "/XRefStm "},
    {"junk_prefix", XrefKind::Classic, {}, nullptr, "", "JUNK\n"},
    {"junk_prefix_stream", XrefKind::Stream, {}, nullptr, "", "JUNK\n"},
    {"padding_past_64k", XrefKind::Classic, {}, nullptr, "", "", 70000},
};

class BuiltLayout : public ::testing::TestWithParam<Layout> {};

// qpdf must accept every layout without repairs, and objects must read back as written.
TEST_P(BuiltLayout, PassesQpdfAndReadsBack)
{
    const Layout& l = GetParam();
    PdfBuilder b;
    b.setJunkPrefix(l.junk);
    b.setPadding(l.padding);
    addPageTree(b, l.o.flate);
    Shows shows = l.extra ? l.extra(b, l.kind) : Shows{};
    shows.push_back({"--show-object=" + std::to_string(kContents) + " --filtered-stream-data", kDrawing});
    b.setXref(l.kind, l.o);
    const std::string bytes = b.build();
    const bool table = l.kind != XrefKind::Stream, streams = l.kind != XrefKind::Classic;
    const std::vector<std::string> markers = {
        l.marker, table ? "\nxref\n0 " : "", streams && l.o.pngUp ? "/Predictor 12" : "",
        streams && (l.o.index || table) ? "/Index [" : "", // a hybrid file always lists what it packs
        streams ? "/W [ " + std::to_string(l.o.w0) + " " + std::to_string(l.o.w1) + " " + std::to_string(l.o.w2) : ""};
    for (const std::string& marker : markers)
        EXPECT_NE(bytes.find(marker), std::string::npos) << marker;
    EXPECT_EQ(bytes.find(l.junk + "%PDF-"), 0u);
    EXPECT_GT(b.lastXrefOffset(), static_cast<long>(l.padding));
    const std::string file = bytes.substr(l.junk.size()); // offsets count from the header
    for (int n = 1; n < 50; ++n) // each written object's offset points at its "n G obj" line
        EXPECT_TRUE(b.objectOffset(n) < 0 || file.compare(b.objectOffset(n), std::to_string(n).size() + 1,
                                                          std::to_string(n) + " ") == 0) << n;

    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf not on PATH";
    vtest::TempDir dir;
    vtest::writeFile(dir.file("built.pdf"), bytes);
    const std::string path = vtest::shellQuote(dir.file("built.pdf"));
    const vtest::CommandResult check = vtest::runCommand("qpdf --check " + path + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("No syntax or stream encoding errors"), std::string::npos) << check.output;
    for (const auto& [args, expected] : shows)
        EXPECT_EQ(vtest::runCommand("qpdf " + args + " " + path).output, expected) << args;
}

INSTANTIATE_TEST_SUITE_P(Layouts, BuiltLayout, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) { return info.param.name; });

} // namespace
