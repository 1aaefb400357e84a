// Pages written the ways real files write them: keys inside nested
// dictionaries, strings and comments, escaped names, keywords in strings,
// references to nothing. The stamp must land where it belongs and every
// other byte of the page stay as it was.

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

// Catalog 1, root node 2, page 3 with `pageEntries` (which may name the
// content stream 4 and the resources 5), an Info dictionary 6 and whatever
// `extra` defines.
struct SyntaxCase {
    const char* name;
    std::string pageEntries;
    std::string resources = "<< >>";
    std::string info = "<< /Producer (tests) >>";
    std::function<void(vtest::PdfBuilder&)> extra = {};
    std::vector<std::string> kept = {}; // texts the output must still hold
    bool arrayDecodeParms = false;      // a cross-reference stream with /Filter and /DecodeParms as arrays
    bool qpdfWarnsOfInput = false;      // the copy must draw the same warnings, and no more
    Renderer renderer = Renderer::Poppler;
    const char* warning = nullptr; // the one line the run prints, without "Warning: "
};

std::ostream& operator<<(std::ostream& out, const SyntaxCase& c) { return out << c.name; }

// What `qpdf --check` says of `pdf`, without its name and byte offsets.
std::string qpdfSays(const std::string& pdf)
{
    std::string said = qpdfProblems(pdf);
    for (size_t at; (at = said.find(pdf)) != std::string::npos;)
        said.replace(at, pdf.size(), "FILE");
    return std::regex_replace(said, std::regex("(,| at) offset [0-9]+"), "");
}

std::string document(const SyntaxCase& c)
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + c.pageEntries + " >>");
    b.setStream(4, "", "0.6 g 150 200 200 150 re f\n");
    b.set(5, c.resources);
    b.set(6, c.info);
    if (c.extra)
        c.extra(b);
    b.setRoot(1);
    b.setInfo(6);
    if (c.arrayDecodeParms) {
        vtest::XrefStreamOptions options;
        options.pngUp = true;
        options.arrays = true;
        b.setXref(vtest::XrefKind::Stream, options);
    }
    return b.build();
}

class RealWorldSyntax : public testing::TestWithParam<SyntaxCase> {};

TEST_P(RealWorldSyntax, StampsThePageAndKeepsEverythingElse)
{
    const SyntaxCase& c = GetParam();
    Workspace work;
    work.write("in.pdf", document(c));
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    if (c.warning) {
        EXPECT_NE(run.output.find(std::string("Processing\nWarning: ") + c.warning + "\nDone.\n"), std::string::npos)
            << run.output;
    } else {
        EXPECT_EQ(run.output.find("Warning"), std::string::npos) << run.output;
    }
    if (c.qpdfWarnsOfInput) {
        EXPECT_NE(qpdfSays(work.file("in.pdf")), "");
        EXPECT_EQ(qpdfSays(work.file("out.pdf")), qpdfSays(work.file("in.pdf")));
    } else {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
    const std::string output = vtest::readFile(work.file("out.pdf"));
    for (const std::string& text : c.kept)
        EXPECT_NE(output.find(text), std::string::npos) << "lost: " << text;
    const std::vector<render::View> views = {render::View{render::Box{0, 0, 612, 792}, 0}};
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views,
                             {{redBlueStamp(render::Rect{20, 10, 96, 48})}}, 36, true, c.renderer),
              "");
}

INSTANTIATE_TEST_SUITE_P(
    Pages, RealWorldSyntax,
    testing::Values(
        // An inline annotation's /Contents string comes before the page's own /Contents.
        SyntaxCase{"InlineAnnotationBeforeTheContents",
                   "/Annots [ << /Type /Annot /Subtype /Text /Rect [400 600 420 620] /Contents (Approved by QA) >> ] "
                   "/Contents 4 0 R /Resources 5 0 R",
                   "<< >>", "<< /Producer (tests) >>", {}, {"/Contents (Approved by QA) >> ]"}},
        // "endobj" in a string ends no object.
        SyntaxCase{"EndobjInAStringOfTheInfo", "/Contents 4 0 R /Resources 5 0 R", "<< >>",
                   "<< /Title (When endobj appears in a title) /Producer (tests) >>", {},
                   {"/Title (When endobj appears in a title) /Producer (tests) >>"}},
        // A page holding the bytes "/Pages" in a string is still a page.
        SyntaxCase{"PagesInAStringOfThePage", "/Note (see /Pages) /Contents 4 0 R /Resources 5 0 R", "<< >>",
                   "<< >>", {}, {"/Note (see /Pages)"}},
        // Keys found by bytes in comments and strings before the real ones.
        SyntaxCase{"KeysInACommentBeforeTheRealOnes",
                   "% /Contents 9 0 R /Resources << >>\n/Contents 4 0 R /Resources 5 0 R", "<< >>",
                   "<< /Producer (tests) >>", {}, {"% /Contents 9 0 R /Resources << >>\n"}},
        SyntaxCase{"KeysInAStringBeforeTheRealOnes",
                   "/Note (/Contents 9 0 R /Resources << >>) /Contents 4 0 R /Resources << /ProcSet [/PDF] >>",
                   "<< >>", "<< >>", {}, {"/Note (/Contents 9 0 R /Resources << >>)"}},
        // Keys written with escapes are the same keys.
        SyntaxCase{"EscapedKeys", "/Con#74ents 4 0 R /Res#6Furces << /ProcSet [/PDF] >>"},
        // The content list made from one reference closes outside the comment after it.
        SyntaxCase{"CommentAfterTheContentsReference", "/Contents 4 0 R % see /Resources\n/Resources 5 0 R", "<< >>",
                   "<< >>", {}, {"% see /Resources\n"}},
        SyntaxCase{"EscapedKeysOfTheResources", "/Contents 4 0 R /Resources 5 0 R",
                   "<< /XOb#6Aect << >> /Ext#47State << >> >>", "<< >>", {},
                   {"/XOb#6Aect << /Im", "/Ext#47State << /GS"}},
        // A reference past the table, or to a free object, is null: our
        // names replace it, and a null /Contents or /Resources is no content.
        SyntaxCase{"XObjectReferencePastTheTable", "/Contents 4 0 R /Resources 5 0 R", "<< /XObject 120 0 R >>"},
        SyntaxCase{"ResourcesReferenceToAFreeObject", "/Contents [4 0 R] /Resources 7 0 R", "<< >>", "<< >>",
                   [](vtest::PdfBuilder& b) {
                       b.set(7, "<< >>");
                       b.beginUpdate();
                       b.free(7);
                   }},
        SyntaxCase{"NullContentsAndResources", "/Contents null /Resources null"},
        // An object whose "endobj" is missing ends after its value.
        SyntaxCase{"RootNodeWithoutEndobj", "/Contents 4 0 R /Resources 5 0 R", "<< >>", "<< >>",
                   [](vtest::PdfBuilder& b) { b.setRaw(2, "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n"); }},
        // A cross-reference stream with /Filter and /DecodeParms as arrays.
        SyntaxCase{"XrefStreamWithArrayDecodeParms", "/Contents 4 0 R /Resources 5 0 R", "<< >>", "<< >>", {}, {},
                   true},
        // Content written on the "stream" keyword's line with its right /Length is copied as it stands.
        // Poppler reads such data from the next line (and the bytes after it as content): MuPDF renders.
        SyntaxCase{"ContentOnTheStreamKeywordLine", "/Contents 4 0 R /Resources 5 0 R", "<< >>", "<< >>",
                   [](vtest::PdfBuilder& b) {
                       b.setRaw(4, "4 0 obj\n<< /Length 26 >>\nstream 0.6 g 150 200 200 150 re f\nendstream\nendobj\n");
                   },
                   {"<< /Length 26 >>\nstream 0.6 g 150 200 200 150 re f\nendstream"}, false, true, Renderer::MuPdf},
        // The catalog's /Pages names the page, not its node: the one page, with none of the node's attributes,
        // as poppler shows it (qpdf climbs to the node, MuPDF shows no page). Regression: nothing was stamped.
        SyntaxCase{"CatalogPagesNamesThePage", "/Contents 4 0 R /Resources 5 0 R", "<< >>", "<< >>",
                   [](vtest::PdfBuilder& b) {
                       b.set(1, "<< /Type /Catalog /Pages 3 0 R >>");
                       b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Rotate 90 >>");
                   },
                   {}, false, true, Renderer::Poppler,
                   "the catalog's /Pages names page 3, not a page tree; taken as the only page"}),
    [](const testing::TestParamInfo<SyntaxCase>& info) { return std::string(info.param.name); });

} // namespace
