// What the stamper reads from the input and writes into it: the pages, with what they inherit through the
// tree; the page rewrite byte for byte, so that every other byte stays; what the signature check reads from
// a catalog, hostile ones the careful way. What a run writes from that and the settings: mostly end-to-end rows.

#include <cstring>
#include <map>

#include "document/CSignatureCheck.h"
#include "load/CXrefTable.h"
#include "page/CStampSettings.h"
#include "stamp/CStampJob.h"
#include "stamp/CWritePlan.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

Box box(const float b[4]) { return {b[0], b[1], b[2], b[3]}; }
bool has(const char* words, const char* word) { return std::strstr(words, word); }

// The signature dictionary of a field, with a DocMDP reference when `level` is given.
std::string signature(const std::string& level = "", const std::string& ranges = "[0 10 20 30]")
{
    const std::string reference =
        level.empty() ? "" : "/Reference [<< /TransformMethod /DocMDP /TransformParams << " + level + " >> >>] ";
    return "<< /Type /Sig /ByteRange " + ranges + " /Contents <00> " + reference + ">>";
}
using Objects = std::vector<std::pair<int, std::string>>;
// Fields nested past the depth bound, a signed one at the bottom.
Objects deepFields()
{
    const int depth = CSignatureCheck::kMaxFieldDepth + 8;
    Objects objects{{3 + depth, "<< /FT /Sig /V << /ByteRange [0 1 2 3] >> >>"}};
    for (int i = 0; i < depth; ++i)
        objects.push_back({3 + i, "<< /Kids [" + std::to_string(4 + i) + " 0 R] >>"});
    return objects;
}

// clang-format off
const Box kA4 = {0, 0, 595, 842}, kOwn = {10, 20, 300, 400}, k400 = {0, 0, 400, 600}, k500 = {0, 0, 500, 700};
const char *const kA4Media = "/MediaBox [0 0 595 842]", *const kPage = "<< /Type /Page >>";
// Page 3 below node 5 below root 2, each with these entries, all three in an object stream with `objectStream`;
// a trim box of zeros is the crop box. Resources: the page's "own", or those it inherits, inline or "num gen R".
struct AttributeCase { const char *name, *root, *node, *page; int rotate = 0; Box crop = kLetter, trim = {}; const char* resources = ""; bool objectStream = false; };
const char *const kInline = "<<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>";
const AttributeCase kAttributes[] = {
    {"NoBoxAnywhereIsLetter", "", "", ""}, {"MediaBoxFromTheRoot", kA4Media, "", "", 0, kA4},
    {"OwnMediaBoxBeatsAncestors", kA4Media, "/MediaBox [0 0 9 9]", "/MediaBox [0 0 400 600]", 0, k400},
    {"AncestorCropBoxBeatsOwnMediaBox", "", "/CropBox [0 0 500 700]", "/MediaBox [0 0 9 9]", 0, k500},
    {"OwnCropBoxWins", "", "/CropBox [0 0 500 700]", "/CropBox [10 20 300 400] /MediaBox [0 0 9 9]", 0, kOwn},
    {"TrimBoxIsNotInherited", "", "/TrimBox [1 2 3 4]", "/CropBox [10 20 300 400]", 0, kOwn},
    {"BoxItemByReference", "", "", "/CropBox [0 0 10 0 R 444]", 0, {0, 0, 333, 444}},
    {"NumbersWithoutLeadingDigit", "", "", "/CropBox [.5 .25 300.5 400.75]", 0, {0.5f, 0.25f, 300.5f, 400.75f}},
    {"SwappedCornersAreNormalised", "", "", "/CropBox [300 400 10 20]", 0, kOwn},
    {"UnusableOwnCropBoxIsIgnored", kA4Media, "", "/CropBox [0 0 100]", 0, kA4},
    {"FourFifty", "", "", "/Rotate 450", 90}, {"MinusNinety", "", "", "/Rotate -90", 270},
    {"NearestAncestorWins", "/Rotate 180", "/Rotate 270", "", 270}, {"RotateByReference", "", "", "/Rotate 11 0 R", 270},
    {"NotAQuarterTurnIsNone", "", "", "/Rotate 45", 0}, {"OwnZeroBeatsInherited", "", "/Rotate 90", "/Rotate 0", 0},
    {"NearestResourcesInline", "/Resources 7 3 R", "/Resources <<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>", "", 0, kLetter, {}, kInline},
    {"InheritedInAnObjectStream", "/MediaBox [0 0 595 842]", "/Rotate -90 /Resources <<  /Font << /F1 8 0 R >> /ProcSet [/PDF]  >>", "", 270, kA4, {}, kInline, true}, {"OwnFractionalTurnStillCounts", "", "/Rotate 90", "/Rotate 90.5", 0}};
// Root node 2 with these entries, pages 3 and 4, object 8 free: the pages in order, their count and the repairs
// said. (A tree whose nodes list each other over and over, too many visits to walk, is an end-to-end row.)
struct ShapeCase { const char *name, *root; std::map<int, std::string> objects; std::vector<int> pages; int count = 0; std::string said = ""; };
const ShapeCase kShapes[] = {
    {"CountOneWithTwoPages", "/Kids [3 0 R 4 0 R] /Count 1", {}, {3}, 1}, {"MissingCount", "/Kids [3 0 R 4 0 R]", {}, {3, 4}, 2},
    {"IndirectKids", "/Kids 6 0 R /Count 2", {{6, "[3 0 R 4 0 R]"}}, {3, 4}, 2},
    {"PageListedTwice", "/Kids [3 0 R 4 0 R 3 0 R] /Count 3", {}, {3, 4, 3}, 3},
    // Kids that loop back or are not there are skipped, as readers skip them.
    {"NodeInsideItselfThroughAGrandchild", "/Kids [5 0 R]",
     {{5, "<< /Type /Pages /Kids [3 0 R 6 0 R] >>"}, {6, "<< /Type /Pages /Kids [5 0 R] >>"}}, {3}, 1,
     "page tree entry 5 is missing or loops back; skipped\n"},
    {"MissingKid", "/Kids [3 0 R 8 0 R]", {{9, "null"}}, {3}, 1, "page tree entry 8 is missing or loops back; skipped\n"},
    {"KidBeyondTheTable", "/Kids [3 0 R 4000 0 R]", {}, {3}, 1, "page tree entry 4000 is missing or loops back; skipped\n"},
    {"ManyKidsMissing", "/Kids [3 0 R 4000 0 R 4001 0 R 4002 0 R 4003 0 R 4004 0 R 4005 0 R 4006 0 R 4007 0 R 4008 0 R 4009 0 R 4010 0 R]",
     {}, {3}, 1, "11 page tree entries are missing or loop back; skipped: 4000, 4001, 4002, 4003, 4004, 4005, 4006, 4007, 4008, "
     "4009, ...\n"},
    {"CatalogWithoutPages", "/Kids [3 0 R]", {{1, "<< /Type /Catalog >>"}}, {}, 0, "the document has no page tree; copied without a stamp\n"},
    {"MissingRootNode", "/Kids [3 0 R]", {{1, "<< /Type /Catalog /Pages 8 0 R >>"}, {9, "null"}}, {}, 0,
     "the document has no page tree; copied without a stamp\n"}};
// Objects written as given besides catalog 1 and root 2 (listing page 3 unless a row redefines it); object
// `checked` as expected, {G} {I} {P} {S} standing for the numbers of the graphics state, the image, the prefix and
// the stamp stream (with "annotate", of the appearance and annotation an update adds to page 1 alone; with
// "second", nothing stamped on page 2 alone, by the update with "update").
struct RewriteCase { const char* name; std::map<int, std::string> objects; int checked; std::string expected; const char* run = ""; };
const std::string kStream = "<< /Length 2 >>\nstream\nq\n\nendstream";
const std::map<int, std::string> kListedTwice = {{2, "<</Type/Pages/Kids [3 0 R 3 0 R]/Count 2>>"}, {3, "<</Type/Page/Parent 2 0 R/Contents 4 0 R>>"}, {4, kStream}};
const RewriteCase kRewrites[] = {
    // One stream: the list closes after the blanks on the reference's line.
    {"OneStreamBeforeAKey", {{3, "<</Contents 4 0 R/Resources 6 0 R>>"}, {4, kStream}, {6, "<</Font 7 0 R>>"}},
     3, "<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources 6 0 R>>"},
    {"OneStreamBeforeALineEnd", {{3, "<< /Contents 4 0 R \r\n/Resources 6 0 R >>"}, {4, kStream}, {6, "<<>>"}},
     3, "<< /Contents [ {P} 0 R 4 0 R  {S} 0 R ]\r\n/Resources 6 0 R >>"},
    {"OneStreamLast", {{3, "<</Resources 6 0 R/Contents 4 0 R>>"}, {4, kStream}, {6, "<<>>"}},
     3, "<</Resources 6 0 R/Contents [ {P} 0 R 4 0 R {S} 0 R ]>>"},
    // Resources: our entries land after "<<", the graphics state first.
    {"InlineSubDictionaries", {{3, "<</Contents 4 0 R/Resources <</XObject <</X1 8 0 R>>/ExtGState <</G0 9 0 R>>>>>>"}, {4, kStream}},
     3, "<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</XObject << /Im7 {I} 0 R /X1 8 0 R>>/ExtGState << /GS7 {G} 0 R /G0 9 0 R>>>>>>"},
    // A name the page's category dictionary holds already, inline or by reference, is not taken again: 7 and 8 are.
    {"NamesThePageHoldsAreNotTaken", {{3, "<</Contents 4 0 R/Resources <</XObject <</Im7 8 0 R>>/ExtGState 6 0 R>>>>"}, {4, kStream},
     {6, "<</GS8 9 0 R>>"}},
     3, "<</Contents [ {P} 0 R 4 0 R {S} 0 R ]/Resources <</XObject << /Im9 {I} 0 R /Im7 8 0 R>>/ExtGState 6 0 R>>>>"},
    // Keys found by parsing: a nested dictionary's or a string's do not count.
    {"NestedKeysDoNotCount", {{3, "<</A <</Contents (x) /Resources <<>> >> /Contents 4 0 R /Resources <<>>>>"}, {4, kStream}},
     3, "<</A <</Contents (x) /Resources <<>> >> /Contents [ {P} 0 R 4 0 R  {S} 0 R ]/Resources <</ExtGState << /GS7 {G} 0 R >>/XObject << /Im7 {I} 0 R >>>>>>"},
    // Pages that share an /Annots array each get their own, also when the pages after the last one
    // stamped are not walked: the shared one would give every page every page's stamp.
    {"SharedAnnotsArrayStaysPerPage",
     {{2, "<</Type/Pages/Kids [3 0 R 4 0 R]/Count 2>>"}, {3, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"},
      {4, "<</Type/Page/Parent 2 0 R/Annots 9 0 R>>"}, {8, "<</Type/Annot/Subtype/Text/Rect [0 0 9 9]>>"}, {9, "[8 0 R]"}},
     3, "<</Type/Page/Parent 2 0 R/Annots [8 0 R {S} 0 R ]>>", "annotate"},
    // A page the tree lists twice is stamped at its first place only, by either writer or in a dry run.
    {"ListedTwiceRewriteAtTheSecondPlace", kListedTwice, 3, "<</Type/Page/Parent 2 0 R/Contents 4 0 R>>", "second"},
    {"ListedTwiceUpdateAtTheSecondPlace", kListedTwice, 3, "<</Type/Page/Parent 2 0 R/Contents 4 0 R>>", "second update"}};
// Entries added to catalog 1 (2 is the page tree); objects from 3 on, all compressed with `objectStreams`.
struct CheckCase { const char *name, *catalog; Objects objects; bool isSigned, appendOnly; int certification; size_t doubts; bool objectStreams = false; };
const char *const kField = "/AcroForm << /Fields [3 0 R] >>", *const kDocMdp = "/Perms << /DocMDP 3 0 R >>",
           *const kTwoFields = "/AcroForm << /Fields [3 0 R 5 0 R] >> /Perms << /DocMDP 4 0 R >>";
// Field 3 signed by signature 4; field 5 by signature 6.
const std::pair<int, std::string> kField3{3, "<< /FT /Sig /V 4 0 R >>"}, kSig4{4, signature()},
    kField5{5, "<< /FT /Sig /V 6 0 R >>"}, kSig6{6, signature()};
CheckCase badRange(const char* name, const char* ranges) { return {name, kField, {kField3, {4, signature("", ranges)}}, true, false, 0, 1}; }
const CheckCase kChecks[] = {
    {"NoForm", "", {}, false, false, 0, 0}, {"SignedField", kField, {kField3, kSig4}, true, false, 0, 0},
    {"UnsignedField", kField, {{3, "<< /FT /Sig /T (a) >>"}}, false, false, 0, 0},
    {"SignedFieldInObjectStream", "/AcroForm 5 0 R", {kField3, kSig4, {5, "<< /Fields [3 0 R] >>"}}, true, false, 0, 0, true},
    {"TypeFromTheParent", kField, {{3, "<< /FT /Sig /Kids [4 0 R] >>"}, {4, "<< /Parent 3 0 R /V << /ByteRange [0 1 2 3] >> >>"}}, true, false, 0, 0},
    // A value several fields name is read for each: only fields are visited once.
    {"FieldsSharingAnIndirectType", "/AcroForm << /Fields [3 0 R 5 0 R] >>",
     {{3, "<< /FT 7 0 R /T (a) >>"}, {5, "<< /FT 7 0 R /V 6 0 R >>"}, kSig6, {7, "/Sig"}}, true, false, 0, 0},
    {"OtherTypeWithAValue", kField, {{3, "<< /FT /Tx /V (text) >>"}}, false, false, 0, 0},
    {"SignaturesExist", "/AcroForm << /Fields [] /SigFlags 1 >>", {}, true, false, 0, 0},
    {"AppendOnly", "/AcroForm << /Fields [] /SigFlags 2 >>", {}, false, true, 0, 0},
    {"FlagsByReference", "/AcroForm << /SigFlags 3 0 R >>", {{3, "3"}}, true, true, 0, 0},
    {"CertifiedNoChanges", kDocMdp, {{3, signature("/P 1")}}, true, false, 1, 0}, // level 3: an end-to-end row
    {"CertifiedWithoutP", kDocMdp, {{3, signature("/V /1.2")}}, true, false, 2, 0},
    {"CertifiedInField", "/AcroForm << /Fields [3 0 R] >> /Perms << /DocMDP 4 0 R >>", {kField3, {4, signature("/P 3")}}, true, false, 3, 0},
    {"FieldLock", kField, {{3, "<< /FT /Sig /V 4 0 R /Lock << /Action /All /P 2 >> >>"}, kSig4}, true, false, 2, 0},
    {"UsageRights", "/Perms << /UR3 3 0 R >>", {{3, signature()}}, true, false, 0, 0},
    // Hostile or damaged: read the careful way, with a note.
    {"POutOfRange", kDocMdp, {{3, signature("/P 9")}}, true, false, 1, 1},
    {"PNotAnInteger", kDocMdp, {{3, signature("/P (2)")}}, true, false, 1, 1},
    {"PermsToNothing", "/Perms 9 0 R", {}, true, false, 0, 1},
    {"DocMdpToNothing", "/Perms << /DocMDP 9 0 R >>", {}, true, false, 1, 1},
    {"SignatureNoDictionary", kField, {{3, "<< /FT /Sig /V 42 >>"}}, true, false, 0, 1},
    badRange("ByteRangeBeyondTheFile", "[0 10 20 99999999]"), badRange("ByteRangeOverlapping", "[0 50 20 30]"),
    badRange("ByteRangeNegative", "[0 -10 20 30]"), badRange("ByteRangeNotNumbers", "[0 (10) 20 30]"),
    // An approval signature after the certification changes neither its level nor its count.
    {"CertifiedThenSigned", kTwoFields, {kField3, {4, signature("/P 2")}, kField5, kSig6}, true, false, 2, 0},
    {"TwoCertifications", kTwoFields, {kField3, {4, signature("/P 3")}, kField5, {6, signature("/P 2")}}, true, false, 2, 1},
    {"FieldsLoopBack", kField, {{3, "<< /Kids [4 0 R] >>"}, {4, "<< /Kids [3 0 R 4 0 R] >>"}}, false, false, 0, 0},
    // Fields nested past the bound are not read: the check ends, whatever the tree.
    {"StopsAtTheDepthBound", kField, deepFields(), false, false, 0, 0}};

// clang-format on
class PageAttributes : public LoadedPdf, public ::testing::WithParamInterface<AttributeCase> {};
class PageTreeShape : public LoadedPdf, public ::testing::WithParamInterface<ShapeCase> {};
class PageRewrite : public LoadedPdf, public ::testing::WithParamInterface<RewriteCase> {};
class SignatureCheck : public LoadedPdf, public testing::WithParamInterface<CheckCase> {};

TEST_P(PageAttributes, AreInheritedAndNormalised)
{
    const AttributeCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages /Kids [5 0 R] /Count 1 ") + c.root + " >>");
    b.set(5, std::string("<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] ") + c.node + " >>");
    b.set(3, std::string("<< /Type /Page /Parent 5 0 R ") + c.page + " >>");
    b.set(10, "333"), b.set(11, "270"), b.set(7, "<< >>", 3);
    if (c.objectStream) {
        const int objStm = b.addObjectStream();
        for (int num : {2, 5, 3})
            b.compress(num, objStm);
        b.setXref(vtest::XrefKind::Stream);
    }
    walk();
    ASSERT_EQ(pages.size(), 1u);
    const auto& up = pages[0].inheritedResources;
    const std::string resources = pages[0].resources.type == PDF_DICT ? "own"
                                  : !up                               ? ""
                                  : up->kind == CInheritedResources::INLINE
                                      ? up->text
                                      : std::to_string(up->num) + " " + std::to_string(up->gen) + " R";
    EXPECT_EQ(std::make_tuple(box(pages[0].cropBox), box(pages[0].trimBox), pages[0].rotate, resources),
              std::make_tuple(c.crop, c.trim == Box{} ? c.crop : c.trim, c.rotate, std::string(c.resources)));
}
INSTANTIATE_TEST_SUITE_P(BoxesAndRotations, PageAttributes, ::testing::ValuesIn(kAttributes), kRowName);

TEST_P(PageTreeShape, GivesThePagesInReadingOrder)
{
    const ShapeCase& c = GetParam();
    b.set(2, std::string("<< /Type /Pages ") + c.root + " >>");
    b.set(3, kPage), b.set(4, kPage), b.free(8);
    for (const auto& [num, body] : c.objects)
        b.set(num, body);
    walk();
    std::vector<int> numbers;
    for (const CPageRecord& page : pages)
        numbers.push_back(page.objectNumber);
    EXPECT_EQ(std::make_pair(numbers, pageCount), std::make_pair(c.pages, c.count));
    EXPECT_EQ(CPageTreeWalker(doc->reader()).countDocument(), c.count) << "the count read without the walk";
    std::string said;
    for (const std::string& line : repairs.lines())
        said += line + "\n";
    EXPECT_EQ(said, c.said);
}
INSTANTIATE_TEST_SUITE_P(Trees, PageTreeShape, ::testing::ValuesIn(kShapes), kRowName);

TEST_P(PageRewrite, InsertsWhereTheLayoutSays)
{
    const RewriteCase& c = GetParam();
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    for (const auto& [num, body] : c.objects)
        b.setRaw(num, std::to_string(num) + " 0 obj\n" + body + "\nendobj\n");
    load(b.build());
    const int size = doc->xref().recordCount();
    CStampSettings settings; // stamps the input into out.pdf with the test JPEG
    settings.inputPath = path, settings.outputPath = dir.file("out.pdf");
    settings.imagePath = vtest::sourceDir() + "/tests/data/e2e/stamp.jpg";
    CReporter reporter;                       // says nothing
    const bool second = has(c.run, "second"); // nothing stamped: names derived from the input
    settings.resourceNumber = second ? std::nullopt : std::optional(7), settings.annotation = has(c.run, "annotate");
    settings.incremental = settings.annotation || has(c.run, "update");
    settings.startPage = second ? 2 : 1, settings.endPage = second ? 2 : settings.annotation ? 1 : settings.endPage;
    EXPECT_EQ(CStampJob(settings, reporter, repairs).planFile().pagesStamped, second ? 0 : 1) << "in a dry run";
    EXPECT_EQ(CStampJob(settings, reporter, repairs).stampFile().pagesStamped, second ? 0 : 1);
    std::string expected = c.expected;
    for (const auto& [name, number] : {std::pair{"{G}", size}, {"{I}", size + 1}, {"{P}", size + 2}, {"{S}", size + 3}})
        for (size_t at; (at = expected.find(name)) != std::string::npos;)
            expected.replace(at, 3, std::to_string(number));
    CPdfFile output(CFileSource::open(dir.file("out.pdf")), repairs);
    EXPECT_EQ(output.reader().text(c.checked), std::to_string(c.checked) + " 0 obj\n" + expected + "\nendobj\n");
}
INSTANTIATE_TEST_SUITE_P(Texts, PageRewrite, ::testing::ValuesIn(kRewrites), kRowName);

TEST_P(SignatureCheck, ReadsWhatTheCatalogSays)
{
    const CheckCase& c = GetParam();
    b.set(1, std::string("<< /Type /Catalog /Pages 2 0 R ") + c.catalog + " >>");
    b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (const auto& [num, text] : c.objects)
        b.set(num, text);
    if (c.objectStreams) {
        const int objStm = b.addObjectStream();
        for (const auto& entry : c.objects)
            b.compress(entry.first, objStm);
        b.setXref(vtest::XrefKind::Stream);
    }
    load(b.build());
    const CSignatureFindings found = CSignatureCheck(doc->xref(), doc->file().size()).inspect();
    EXPECT_EQ(std::make_tuple(found.isSigned(), found.appendOnly, found.certification, found.doubts.size()),
              std::make_tuple(c.isSigned, c.appendOnly, c.certification, c.doubts))
        << (found.doubts.empty() ? "" : found.doubts.front());
}
INSTANTIATE_TEST_SUITE_P(Catalogs, SignatureCheck, testing::ValuesIn(kChecks), kRowName);

// A form asking for appended changes is updated, with a warning; the other plans are end-to-end rows.
TEST(WritePlan, AppendOnlyFormIsUpdated)
{
    const CWritePlan plan = CWritePlan::decide(CStampSettings(), {false, false, true, false, 0, {}}, false, "in.pdf");
    EXPECT_EQ(std::make_pair(plan.update, plan.warnings.size()), std::make_pair(true, size_t(1)));
}

} // namespace
