// Cutting an object's literal text out of the input, and the byte searches
// the page rewrite and the page tree walk rely on.

#include <cstdio>

#include "tests/stamp/LoadedPdf.h"

namespace {

const std::string kEmbedded = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\ntrailer << >>"; // 43 bytes
const std::string kTail = "\nstream\n" + kEmbedded + "\nendstream\nendobj\n";
// Object 3 written byte for byte, and its text (empty: all of it).
struct TextCase { const char* name; std::string object, expected; };
const TextCase kTexts[] = {
    {"ThroughTheByteAfterEndobj", "3 0 obj\n<</Type/Page>>\nendobj\r\n", "3 0 obj\n<</Type/Page>>\nendobj\r"},
    // An embedded file's "endobj" must not end the stream early.
    {"StreamHoldingEndobj", "3 0 obj\n<< /Length 43 >>" + kTail, ""},
    {"StreamHoldingEndobjLengthByReference", "3 0 obj\n<< /Length 5 0 R >>" + kTail, ""},
    {"WrongLengthFallsBackToTheFirstEndobj", "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj xyz\nendstream\nendobj\n",
     "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj "}};
struct NumberCase { const char* name; const char* text; const char* key; uint32_t value; bool isReference; };
const NumberCase kNumbers[] = {
    {"Reference", "12 0 obj<</Pages 3 0 R>>", "/Pages", 3, true},
    {"MinusSignIsSkipped", "<</Rotate -90>>", "/Rotate", 90, false},
    {"GenerationOneIsNoReference", "<</Pages 3 1 R>>", "/Pages", 3, false},
    {"FirstKeyCounts", "<</Pages 4 0 R/Pages 5 0 R>>", "/Pages", 4, true},
    {"TextEndsAfterR", "<</Pages 3 0 R", "/Pages", 3, true}, {"TextEndsBeforeR", "<</Pages 3 0 ", "/Pages", 3, false},
    {"MissingKey", "<</Type/Page>>", "/Rotate", 0, false}, {"NoNumberAfterKey", "<</Type/Pages", "/Pages", 0, false}};
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
    {"Missing", "3 0 obj<</Type/Page>>endobj", "Resources", ""}};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }
class ObjectText : public LoadedPdf, public ::testing::WithParamInterface<TextCase> {};
class FindNumberAfterKey : public ::testing::TestWithParam<NumberCase> {};
class FindDictEntryValue : public ::testing::TestWithParam<EntryCase> {};

} // namespace

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

// The index of the LAST byte of the first match; 0 stands for none.
TEST(FindBytes, GivesTheLastByteOfTheFirstMatch) {
    EXPECT_EQ(findBytes("12 0 obj<</Pages 3 0 R>>", "/Pages"), 15u);
    EXPECT_EQ(findBytes("/Pages 1 /Pages 2", "/Pages"), 5u);
    EXPECT_EQ(findBytes("ab", "abc"), 0u);
}

// The same in a file, from an offset; a match across the reader's blocks counts.
TEST(FindInFile, GivesTheLastByteOfTheFirstMatchAfterTheOffset) {
    vtest::TempDir dir;
    std::string bytes(CFileSource::kBlockSize - 3, ' ');
    bytes += "endobj endobj";
    vtest::writeFile(dir.file("f"), bytes);
    auto file = CFileSource::open(dir.file("f"));
    const int64_t first = static_cast<int64_t>(CFileSource::kBlockSize) - 3;
    EXPECT_EQ(findInFile(*file, 0, "endobj", 6), first + 5);
    EXPECT_EQ(findInFile(*file, first + 1, "endobj", 6), first + 12);
    EXPECT_EQ(findInFile(*file, first + 8, "endobj", 6), 0);
}

TEST_P(FindNumberAfterKey, ReadsTheFirstNumberAfterTheKey) {
    bool isReference = !GetParam().isReference; // must be overwritten
    EXPECT_EQ(findNumberAfterKey(GetParam().text, GetParam().key, isReference), GetParam().value);
    EXPECT_EQ(isReference, GetParam().isReference);
}
INSTANTIATE_TEST_SUITE_P(Examples, FindNumberAfterKey, ::testing::ValuesIn(kNumbers), kRowName);

TEST_P(FindDictEntryValue, FindsTopLevelEntriesOnly) {
    const std::string text = GetParam().text;
    size_t begin = 0, end = 0;
    const bool found = findDictEntryValue(text, GetParam().key, begin, end);
    EXPECT_EQ(found, *GetParam().value != '\0');
    EXPECT_EQ(found ? text.substr(begin, end - begin) : "", GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Cases, FindDictEntryValue, ::testing::ValuesIn(kEntries), kRowName);
