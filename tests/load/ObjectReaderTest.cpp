// Where objects and stream data end in the input, cutting an object's
// literal text out of it, and the layout of its entries that the page
// rewrite and the page tree walk rely on.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CRepairLog.h"
#include "load/CStreamEndFinder.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace {

// A builder file (catalog 1 names page tree root 2), written out and opened
// with an object reader over it.
class LoadedPdf : public ::testing::Test {
protected:
    LoadedPdf()
    {
        b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.setRoot(1);
    }
    void load(const std::string& bytes)
    {
        vtest::writeFile(path, bytes);
        document.open(path);
        reader = std::make_unique<CObjectReader>(*document.file(), *document.xref());
    }
    std::string text(int num) { return reader->text(num); }
    vtest::PdfBuilder b;
    vtest::TempDir dir;
    const std::string path = dir.file("in.pdf");
    CPdfFile document;
    std::unique_ptr<CObjectReader> reader;
};

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

const std::string kEmbedded = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\ntrailer << >>"; // 43 bytes
const std::string kTail = "\nstream\n" + kEmbedded + "\nendstream\nendobj\n";
// Object 3 written byte for byte, and its text (empty: all of it).
struct TextCase { const char* name; std::string object, expected; };
const TextCase kTexts[] = {
    {"ThroughTheByteAfterEndobj", "3 0 obj\n<</Type/Page>>\nendobj\r\n", "3 0 obj\n<</Type/Page>>\nendobj\r"},
    // An embedded file's "endobj" must not end the stream early.
    {"StreamHoldingEndobj", "3 0 obj\n<< /Length 43 >>" + kTail, ""},
    {"StreamHoldingEndobjLengthByReference", "3 0 obj\n<< /Length 5 0 R >>" + kTail, ""},
    // A wrong or missing /Length: the data runs to "endstream", and the text carries its real length.
    {"WrongLengthIsCorrected", "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj xyz\nendstream\nendobj\n",
     "3 0 obj\n<< /Length 14 >>\nstream\nabc endobj xyz\nendstream\nendobj\n"},
    {"MissingLengthIsAdded", "3 0 obj\n<< /Type /X >>\nstream\r\nabc\r\nendstream\nendobj\n",
     "3 0 obj\n<< /Type /X  /Length 3 >>\nstream\r\nabc\r\nendstream\nendobj\n"},
    {"LengthToNothingIsReplaced", "3 0 obj\n<< /Length 99 0 R >>\nstream\nabc\nendstream\nendobj\n",
     "3 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n"},
    // Data on the keyword's own line starts after its blanks: a right length is kept, a wrong one counts from there.
    {"DataOnTheKeywordLineKeepsItsLength",
     "3 0 obj\n<< /Length 18 >>\nstream q 1 0 0 1 0 0 cm Q\nendstream\nendobj\n", ""},
    {"WrongLengthOnTheKeywordLine", "3 0 obj\n<< /Length 2 >>\nstream q Q\nendstream\nendobj\n",
     "3 0 obj\n<< /Length 3 >>\nstream q Q\nendstream\nendobj\n"},
    // No "endstream" before the object's "endobj": the data runs to the line end before it, and the copy
    // gets the keyword and the real length. Regression for files whose stream was left out.
    {"MisspeltEndstreamIsWritten", "3 0 obj\n<< /Length 3 >>\nstream\nabc\nenxstream\nendobj\n",
     "3 0 obj\n<< /Length 13 >>\nstream\nabc\nenxstream\nendstream\nendobj\n"},
    {"MissingEndstreamOnTheEndobjLine", "3 0 obj\n<< /Length 3 >>\nstream\nabc endobj\n",
     "3 0 obj\n<< /Length 4 >>\nstream\nabc \nendstream\nendobj\n"},
    // "endobj" in a string or a comment is no keyword: the object goes on.
    {"EndobjInAString", "3 0 obj\n<< /Title (When endobj appears in a title) >>\nendobj\n", ""},
    {"EndobjInAComment", "3 0 obj\n<< /A 1 % endobj\n/B [ (endobj) ] >>\nendobj\n", ""},
    {"StreamDictionaryWithAString", "3 0 obj\n<< /Length 43 /T (stream endobj) >>" + kTail, ""}};
// The value's text; empty: no top-level entry.
struct EntryCase { const char* name; const char* text; const char* key; const char* value; };
const EntryCase kEntries[] = {
    {"Reference", "3 0 obj\n<< /Type /Page /Resources 5 0 R >>\nendobj\n", "Resources", "5 0 R"},
    {"Inline", "3 0 obj<< /Resources << /Font << /F1 7 0 R >> >> >>", "Resources", "<< /Font << /F1 7 0 R >> >>"},
    {"CompressedForm", "7 0 obj\r<< /Resources 4 0 R >> endobj\r", "Resources", "4 0 R"},
    {"AfterStringHoldingDelimiters", "3 0 obj<</T (a >> [ b) /Resources 4 0 R>>", "Resources", "4 0 R"},
    {"AfterNestedDictWithTheKey", "3 0 obj<</A <</Resources 1 0 R>> /Resources 2 0 R>>", "Resources", "2 0 R"},
    {"InsideStringOnly", "3 0 obj<< /Title (/Resources 9 0 R) >>endobj", "Resources", ""},
    {"InsideNestedDictOnly", "3 0 obj<< /Parent << /Resources 5 0 R >> >>endobj", "Resources", ""},
    {"AsAValueOnly", "3 0 obj<</Name /Resources /Other 1>>endobj", "Resources", ""},
    {"InStreamDataOnly", "3 0 obj<</Length 16>>stream\n/Resources 1 0 R\nendstream endobj", "Resources", ""},
    {"Missing", "3 0 obj<</Type/Page>>endobj", "Resources", ""},
    // Keys compare after their escapes are decoded; a comment hides what it holds.
    {"EscapedKey", "3 0 obj<< /Res#6Fur#63es 4 0 R >>endobj", "Resources", "4 0 R"},
    {"AfterACommentHoldingTheKey", "3 0 obj<< % /Resources 9 0 R\n/Resources 4 0 R >>endobj", "Resources", "4 0 R"}};

// The bytes after a "stream" keyword and the /Length claimed (-1: none),
// and the data the rule finds: "(repaired)" when the length was wrong,
// "no endobj" when another token follows "endstream", "no end" when none.
struct EndCase { const char* name; std::string afterKeyword; int claimed; const char* expected; };
const EndCase kEnds[] = {
    {"LineFeed", "\nHELLO\nendstream\nendobj", 5, "HELLO"},
    {"CarriageReturnLineFeed", "\r\nHELLO\r\nendstream endobj", 5, "HELLO"},
    {"CarriageReturnOnly", "\rHELLO\nendstream endobj", 5, "HELLO"},
    {"BlanksBeforeTheLineEnd", " \t\r\nHELLO\nendstream endobj", 5, "HELLO"},
    {"CommentBeforeEndstream", "\nHELLO\n% note\nendstream endobj", 5, "HELLO"},
    {"NoEndobj", "\nHELLO\nendstream\n2 0 obj", 5, "HELLO no endobj"},
    // Data on the keyword's own line, as lenient readers take it; the line below is tried first.
    {"DataOnTheKeywordLine", " q 1 0 0 1 0 0 cm Q\nendstream\nendobj", 18, "q 1 0 0 1 0 0 cm Q"},
    {"DataRightAfterTheKeyword", "(x) Tj\nendstream endobj", 6, "(x) Tj"},
    {"LengthRightFromTheLineBelow", " q Q\nendstream endobj", 0, ""},
    // A wrong or missing length: the data runs to the line end before "endstream".
    {"TooShort", "\nHELLO\nendstream endobj", 3, "HELLO (repaired)"},
    {"TooLong", "\nHELLO\nendstream endobj", 7, "HELLO (repaired)"},
    {"LongerByTheLineEnd", "\r\nHELLO\r\nendstream endobj", 7, "HELLO\r\n"},
    {"PastTheEndOfTheFile", "\nHELLO\nendstream endobj", 999999, "HELLO (repaired)"},
    {"Missing", "\nHELLO\nendstream endobj", -1, "HELLO (repaired)"},
    {"WrongOnTheKeywordLine", " q Q\nendstream endobj", 9, "q Q (repaired)"},
    {"KeywordRightAfterTheData", "\nHELLOendstream endobj", -1, "HELLO (repaired)"},
    // No "endstream" (missing or misspelt) before an "endobj" that ends the object: the data runs to its line end.
    {"EndstreamMisspelt", "\nHELLO\nenxstream\nendobj", 5, "HELLO\nenxstream (repaired) no endstream"},
    {"EndstreamMissing", "\r\nHELLO\r\nendobj\r\n8 0 obj\n<< >>\nendobj", 5, "HELLO (repaired) no endstream"},
    {"EndstreamOnlyInsideAWord", "\nabc\nendstreamx endobj", -1, "abc\nendstreamx  (repaired) no endstream"},
    {"EndobjBeforeTheCrossReferenceTable", "\nHELLO\nendobj\nxref", -1, "HELLO (repaired) no endstream"},
    // An "endobj" that is followed by no object's end is data; a right length is believed whatever it holds.
    {"EndobjFollowedByData", "\nHELLO\nendobj x\nendstream\nendobj", -1, "HELLO\nendobj x (repaired)"},
    {"EndobjEndingAnObjectInDataOfTheRightLength", "\nendobj\n8 0 obj\nendstream\nendobj", 14, "endobj\n8 0 obj"},
    {"NoEndstream", "\nHELLO", 5, "no end"},
    {"NoEndstreamNorEndobj", "\nHELLO\n8 0 obj\n<< >>", 5, "no end"}};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
class ObjectText : public LoadedPdf, public ::testing::WithParamInterface<TextCase> {};
class TopLevelEntry : public ::testing::TestWithParam<EntryCase> {};
class StreamEnd : public ::testing::TestWithParam<EndCase> {};

} // namespace

// Where "endstream" (or where it belongs) and "endobj" stand is reported too,
// and a wrong length is recorded for the object named.
TEST_P(StreamEnd, FollowsTheOneRule) {
    const std::string bytes = "7 0 obj\n<< >>\nstream" + GetParam().afterKeyword;
    vtest::TempDir dir;
    vtest::writeFile(dir.file("in.pdf"), bytes);
    CRepairLog log;
    CStreamEndFinder ends(CFileSource::open(dir.file("in.pdf")), log);
    CPdfStreamEnd end;
    std::string found = "no end";
    if (ends.find(7, 20, GetParam().claimed, end)) {
        found = bytes.substr(end.dataBegin, end.dataEnd - end.dataBegin) + (end.lengthRight ? "" : " (repaired)") +
                (end.endstreamMissing ? " no endstream" : "") + (end.endobjBegin < 0 ? " no endobj" : "");
        if (end.endstreamMissing) {
            EXPECT_EQ(end.endstreamEnd, end.dataEnd);
        } else {
            EXPECT_EQ(bytes.substr(end.endstreamEnd - 9, 9), "endstream");
        }
        if (end.endobjBegin >= 0) {
            EXPECT_EQ(bytes.substr(end.endobjBegin, 6), "endobj");
        }
        EXPECT_EQ(log.lines().size(), end.lengthRight ? 0u : 1u);
    }
    EXPECT_EQ(found, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Streams, StreamEnd, ::testing::ValuesIn(kEnds), kRowName);

// Junk before the header throughout: offsets, /Length included, count from "%PDF-".
TEST_P(ObjectText, IsCutFromTheFile) {
    b.setJunkPrefix("JUNK 3 0 obj endobj\n");
    b.setRaw(3, GetParam().object);
    b.set(5, std::to_string(kEmbedded.size()));
    load(b.build());
    EXPECT_EQ(text(3), GetParam().expected.empty() ? GetParam().object : GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Objects, ObjectText, ::testing::ValuesIn(kTexts), kRowName);

TEST_F(ObjectText, ObjectAtTheEndOfTheFileStopsAtEndobj) {
    b.set(3, "null"); // moved behind the xref, which the builder writes last
    std::string bytes = b.build();
    char was[24], now[24];
    std::snprintf(was, sizeof was, "%010ld 00000 n", b.objectOffset(3));
    std::snprintf(now, sizeof now, "%010zu", bytes.size());
    load(bytes.replace(bytes.find(was), 10, now) + "3 0 obj\n<</Type/Page>>\nendobj");
    EXPECT_EQ(text(3), "3 0 obj\n<</Type/Page>>\nendobj");
}

TEST_F(ObjectText, CompressedObjectIsFramedWithCarriageReturns) {
    b.set(7, "<</Type/Page>> "); // its own trailing space stays
    b.compress(7, b.addObjectStream());
    b.setXref(vtest::XrefKind::Stream);
    load(b.build());
    EXPECT_EQ(text(7), "7 0 obj\r<</Type/Page>>  endobj\r");
    EXPECT_EQ(text(7).size(), 31u);
}

// The parser's layout (or the scanner's, for plain text) gives the value's
// exact bytes; keys elsewhere in the text do not count.
TEST_P(TopLevelEntry, IsFoundByItsLayout) {
    const std::string text = GetParam().text;
    CPdfObjectHead head;
    ASSERT_TRUE(CObjectReader::headOfText(text, head));
    const CPdfEntryLayout* entry = head.dict.find(GetParam().key);
    EXPECT_EQ(entry != nullptr, *GetParam().value != '\0');
    EXPECT_EQ(entry ? text.substr(entry->valueBegin, entry->valueEnd - entry->valueBegin) : "", GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Cases, TopLevelEntry, ::testing::ValuesIn(kEntries), kRowName);
