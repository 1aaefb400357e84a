// The page rewrite, byte for byte: where each insertion lands in the
// page's text and in the objects it names, so that every other byte stays.

#include <map>

#include "load/CXrefTable.h"
#include "stamp/CStampJob.h"
#include "stamp/CStampSettings.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

// clang-format off
// Objects written byte for byte besides catalog 1 and root node 2 (which
// lists page 3, unless a row gives its own); the text of object `checked`
// expected in the output, where {G} {I} {P} {S} stand for the numbers of the
// graphics state, the image, the prefix and the stamp stream (with
// `annotatePageOne`, an update that adds the stamp to page 1 alone as an
// annotation: its appearance and annotation).
struct RewriteCase { const char* name; std::map<int, std::string> objects; int checked; std::string expected; bool annotatePageOne = false; };
const std::string kStream = "<< /Length 2 >>\nstream\nq\n\nendstream";
const RewriteCase kRewrites[] = {
    {"DirectArray", {{3, "<</Type/Page/Parent 2 0 R/Contents [4 0 R 5 0 R]/Resources <<>>>>"}, {4, kStream}, {5, kStream}},
     3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Contents [ {P} 0 R 4 0 R 5 0 R {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    {"IndirectArray", {{3, "<</Type/Page/Contents 9 0 R/Resources <<>>>>"}, {9, "[4 0 R 5 0 R]"}, {4, kStream}, {5, kStream}},
     9, "9 0 obj\n[ {P} 0 R 4 0 R 5 0 R {S} 0 R ]\nendobj\n"},
    {"NoContents", {{3, "<</Type/Page/Parent 2 0 R/Resources <<>>>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R {S} 0 R ]/Type/Page/Parent 2 0 R/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    // One stream: the list closes after the blanks on the reference's line.
    {"OneStreamBeforeAKey", {{3, "<</Contents 4 0 R/Resources 6 0 R>>"}, {4, kStream}, {6, "<</Font 7 0 R>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources 6 0 R>>\nendobj\n"},
    {"OneStreamBeforeALineEnd", {{3, "<< /Contents 4 0 R \r\n/Resources 6 0 R >>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<< /Contents [ {P} 0 R 4 0 R  {S} 0 R ]\r\n/Resources 6 0 R >>\nendobj\n"},
    {"OneStreamLast", {{3, "<</Resources 6 0 R/Contents 4 0 R>>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<</Resources 6 0 R/Contents [ {P} 0 R 4 0 R {S} 0 R ]>>\nendobj\n"},
    {"OneStreamBeforeAComment", {{3, "<</Contents 4 0 R % a /comment\n/Resources 6 0 R>>"}, {4, kStream}, {6, "<<>>"}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R % a /comment\n {S} 0 R ]/Resources 6 0 R>>\nendobj\n"},
    // Resources: our entries land after "<<", the graphics state first.
    {"IndirectResources", {{3, "<</Contents 4 0 R/Resources 6 0 R>>"}, {4, kStream}, {6, "<</Font 7 0 R>>"}},
     6, "6 0 obj\n<</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>/Font 7 0 R>>\nendobj\n"},
    {"InlineSubDictionaries", {{3, "<</Contents 4 0 R/Resources <</XObject <</X1 8 0 R>>/ExtGState <</G0 9 0 R>>>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</XObject << /Im7 {I} 0 R /X1 8 0 R>>/ExtGState << /GS7 {G} 0 R /G0 9 0 R>>>>>>\nendobj\n"},
    {"XObjectsByReference", {{3, "<</Contents 4 0 R/Resources <</XObject 10 0 R>>>>"}, {4, kStream}, {10, "<</X1 8 0 R>>"}},
     10, "10 0 obj\n<< /Im7 {I} 0 R /X1 8 0 R>>\nendobj\n"},
    // Keys found by parsing: a nested dictionary's or a string's do not count.
    {"NestedKeysDoNotCount", {{3, "<</A <</Contents (x) /Resources <<>> >> /Contents 4 0 R /Resources <<>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</A <</Contents (x) /Resources <<>> >> /Contents [ {P} 0 R 4 0 R  {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
    // A reference to nothing is null: ours replace it.
    {"ResourcesNamingNothing", {{3, "<</Contents 4 0 R/Resources 70 0 R>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources << /XObject << /Im7 {I} 0 R >> /ExtGState << /GS7 {G} 0 R >> >>>>\nendobj\n"},
    // Pages that share an /Annots array each get their own, also when the
    // pages after the last one stamped are not walked: the shared one would
    // give every page every page's stamp.
    {"SharedAnnotsArrayStaysPerPage",
     {{2, "<</Type/Pages/Kids [3 0 R 4 0 R]/Count 2>>"}, {3, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"},
      {4, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"}, {8, "<</Type/Annot/Subtype/Text/Rect [0 0 9 9]>>"}, {9, "[8 0 R]"}},
     3, "3 0 obj\n<</Type/Page/Parent 2 0 R/Annots [8 0 R {S} 0 R ]>>\nendobj\n", true},
    {"XObjectNamingNothing", {{3, "<</Contents 4 0 R/Resources <</XObject 70 0 R>>>>"}, {4, kStream}},
     3, "3 0 obj\n<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>\nendobj\n"},
};

// A page the tree lists twice (Kids [3 0 R 3 0 R]) is one object, stamped at
// its first place when that place is selected: not at its second (-s2 -e2),
// by either writer or in a dry run.
struct ListedTwiceCase { const char* name; bool incremental, dryRun; };
const ListedTwiceCase kListedTwice[] = {{"RewriteAtTheSecondPlace", false, false},
                                        {"UpdateAtTheSecondPlace", true, false},
                                        {"DryRunAtTheSecondPlace", false, true}};
// clang-format on

// A run that stamps the input into out.pdf with the test JPEG.
class JpegRun : public LoadedPdf {
protected:
    JpegRun()
    {
        settings.inputPath = path, settings.outputPath = dir.file("out.pdf");
        settings.imagePath = vtest::sourceDir() + "/tests/data/e2e/stamp.jpg";
    }
    CStampSettings settings;
    CReporter reporter; // says nothing
};
class PageRewrite : public JpegRun, public ::testing::WithParamInterface<RewriteCase> {};
class PageListedTwice : public JpegRun, public ::testing::WithParamInterface<ListedTwiceCase> {};

} // namespace

TEST_P(PageRewrite, InsertsWhereTheLayoutSays)
{
    const RewriteCase& c = GetParam();
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    for (const auto& [num, body] : c.objects)
        b.setRaw(num, std::to_string(num) + " 0 obj\n" + body + "\nendobj\n");
    load(b.build());
    const int size = doc->xref().recordCount();
    settings.resourceNumber = 7;
    if (c.annotatePageOne) {
        settings.annotation = settings.incremental = true;
        settings.endPage = 1;
    }
    CStampJob(settings, reporter, repairs).stampFile();
    std::string expected = c.expected;
    for (const auto& [name, number] : {std::pair{"{G}", size}, {"{I}", size + 1}, {"{P}", size + 2}, {"{S}", size + 3}})
        for (size_t at; (at = expected.find(name)) != std::string::npos;)
            expected.replace(at, 3, std::to_string(number));
    CInputDocument output(CFileSource::open(dir.file("out.pdf")), repairs);
    EXPECT_EQ(output.reader().text(c.checked), expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, PageRewrite, ::testing::ValuesIn(kRewrites), kRowName);

TEST_P(PageListedTwice, IsStampedAtItsFirstPlaceOnly)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
    b.setStream(4, "", "q Q\n");
    vtest::writeFile(path, b.build());
    settings.incremental = GetParam().incremental;
    settings.startPage = settings.endPage = 2;
    CStampJob job(settings, reporter, repairs);
    EXPECT_EQ((GetParam().dryRun ? job.planFile() : job.stampFile()).pagesStamped, 0);
}
INSTANTIATE_TEST_SUITE_P(Runs, PageListedTwice, ::testing::ValuesIn(kListedTwice), kRowName);
