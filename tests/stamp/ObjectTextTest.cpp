// Object text tools: cutting an object's literal text out of the input, and
// the byte searches the page rewrite and the page tree walk rely on.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "stamp/CObjectText.h"
#include "stamp/ObjectText.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

using vtest::PdfBuilder;
using vtest::XrefKind;

namespace {

// A loaded input: the raw file plus its cross-reference table.
class OpenedPdf {
public:
    explicit OpenedPdf(const std::string& bytes)
    {
        std::string path = m_dir.file("in.pdf");
        vtest::writeFile(path, bytes);
        m_file = CFileSource::open(path);
        m_doc.open(m_file);
    }
    std::string text(int num) { return readObjectText(*m_file, num, *m_doc.xref()); }
    CFileSource& file() { return *m_file; }

private:
    vtest::TempDir m_dir;
    std::shared_ptr<CFileSource> m_file;
    CPdfFile m_doc;
};

// Catalog 1 and an empty page tree 2: enough for the file to load.
PdfBuilder minimalDocument()
{
    PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.setRoot(1);
    return b;
}

// The builder always writes its xref after the objects, so a file whose last
// bytes are an object's "endobj" is put together by hand: object 3 comes
// after the trailer.
std::string fileEndingWithObject3(const std::string& object)
{
    auto entry = [](long offset) {
        char line[21];
        std::snprintf(line, sizeof line, "%010ld 00000 n \n", offset);
        return std::string(line, 20);
    };
    std::string out = "%PDF-1.4\n";
    long catalog = static_cast<long>(out.size());
    out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    long pages = static_cast<long>(out.size());
    out += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
    long xref = static_cast<long>(out.size());
    std::string table = "xref\n0 4\n0000000000 65535 f \n" + entry(catalog) + entry(pages);
    std::string tail = "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    long last = xref + static_cast<long>(table.size() + 20 + tail.size());
    return out + table + entry(last) + tail + object;
}

} // namespace

// ---------------------------------------------------------------- readObjectText

TEST(ReadObjectText, UncompressedObjectRunsThroughTheByteAfterEndobj)
{
    PdfBuilder b = minimalDocument();
    b.set(5, "<</Type/Page>>");
    OpenedPdf pdf(b.build());
    EXPECT_EQ(pdf.text(5), "5 0 obj\n<</Type/Page>>\nendobj\n");
}

TEST(ReadObjectText, ObjectAtTheEndOfTheFileStopsAtEndobj)
{
    OpenedPdf pdf(fileEndingWithObject3("3 0 obj\n<</Type/Page>>\nendobj"));
    EXPECT_EQ(pdf.text(3), "3 0 obj\n<</Type/Page>>\nendobj");
}

TEST(ReadObjectText, CompressedObjectGetsItsOwnHeaderAndTrailer)
{
    PdfBuilder b = minimalDocument();
    int objStm = b.addObjectStream();
    b.set(7, "<</Type/Page>> "); // the object's own trailing space stays
    b.compress(7, objStm);
    b.setXref(XrefKind::Stream);
    OpenedPdf pdf(b.build());
    std::string text = pdf.text(7);
    EXPECT_EQ(text, "7 0 obj\r<</Type/Page>>  endobj\r");
    EXPECT_EQ(text.size(), 31u);
}

TEST(ReadObjectText, FreeAndOutOfRangeObjectsHaveNoText)
{
    PdfBuilder b = minimalDocument();
    b.set(3, "<< >>");
    b.free(3);
    OpenedPdf pdf(b.build());
    EXPECT_EQ(pdf.text(0), "");
    EXPECT_EQ(pdf.text(3), "");
    EXPECT_EQ(pdf.text(999), "");
    EXPECT_EQ(pdf.text(-1), "");
}

// A stream's data may hold the bytes "endobj" (an embedded PDF, say); the
// object must still be copied whole.
TEST(ReadObjectText, StreamDataHoldingEndobjIsCopiedWhole)
{
    const std::string data = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\ntrailer << >>";
    PdfBuilder b = minimalDocument();
    b.setStream(3, "/Type /EmbeddedFile", data);
    // The same stream with its /Length given by reference.
    b.setRaw(4, "4 0 obj\n<< /Length 5 0 R >>\nstream\n" + data + "\nendstream\nendobj\n");
    b.set(5, std::to_string(data.size()));
    OpenedPdf pdf(b.build());

    EXPECT_EQ(pdf.text(3), "3 0 obj\n<< /Length " + std::to_string(data.size()) +
                               " /Type /EmbeddedFile >>\nstream\n" + data + "\nendstream\nendobj\n");
    EXPECT_EQ(pdf.text(4), "4 0 obj\n<< /Length 5 0 R >>\nstream\n" + data + "\nendstream\nendobj\n");
}

TEST(ReadObjectText, StreamWithWrongLengthFallsBackToTheFirstEndobj)
{
    PdfBuilder b = minimalDocument();
    b.setRaw(3, "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj xyz\nendstream\nendobj\n");
    OpenedPdf pdf(b.build());
    EXPECT_EQ(pdf.text(3), "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj ");
}

TEST(ReadObjectText, NonStreamObjectMentioningStreamEndsAtItsEndobj)
{
    PdfBuilder b = minimalDocument();
    b.set(3, "<< /Title (a stream of words) >>");
    b.set(4, "<< /Next 1 >>");
    OpenedPdf pdf(b.build());
    EXPECT_EQ(pdf.text(3), "3 0 obj\n<< /Title (a stream of words) >>\nendobj\n");
}

// Offsets count from "%PDF-": bytes before the header must not shift the cut.
TEST(ReadObjectText, JunkBeforeTheHeaderReadsAtTheRightPlace)
{
    const std::string data = "inner 9 0 obj endobj";
    PdfBuilder b = minimalDocument();
    b.setJunkPrefix("GARBAGE BEFORE THE HEADER 1 0 obj endobj\n");
    b.set(3, "<< /Type /Page /Parent 2 0 R >>");
    b.setStream(4, "", data);
    OpenedPdf pdf(b.build());
    EXPECT_EQ(pdf.text(1), "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    EXPECT_EQ(pdf.text(3), "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n");
    EXPECT_EQ(pdf.text(4), "4 0 obj\n<< /Length 20 >>\nstream\n" + data + "\nendstream\nendobj\n");
}

// ---------------------------------------------------------------- findBytes, findInFile

TEST(FindBytes, ReturnsTheIndexOfTheLastByteOfTheFirstOccurrence)
{
    EXPECT_EQ(findBytes("12 0 obj<</Pages 3 0 R>>", "/Pages"), 15u);
    EXPECT_EQ(findBytes("/Pages 1 /Pages 2", "/Pages"), 5u);
    EXPECT_EQ(findBytes("abc", "abc"), 2u);
    EXPECT_EQ(findBytes("abc", "abd"), 0u);
    EXPECT_EQ(findBytes("ab", "abc"), 0u);
    EXPECT_EQ(findBytes("", "a"), 0u);
}

TEST(FindBytes, StaysWithinTheGivenRange)
{
    const char text[] = "xx/Kids yy/Kids";
    // An occurrence that runs past `to` does not count.
    EXPECT_EQ(findBytes(text, 0, 6, "/Kids", 5), 0u);
    EXPECT_EQ(findBytes(text, 0, 7, "/Kids", 5), 6u);
    // Nor one that starts before `from`.
    EXPECT_EQ(findBytes(text, 3, sizeof text - 1, "/Kids", 5), 14u);
}

TEST(FindInFile, FindsMatchesAcrossReadBlocks)
{
    vtest::TempDir dir;
    const size_t block = CFileSource::kBlockSize;
    std::string bytes(2 * block + 100, '.');
    bytes.replace(block - 3, 6, "endobj"); // straddles the first block boundary
    bytes.replace(2 * block + 94, 6, "endobj"); // the file's last bytes
    vtest::writeFile(dir.file("f"), bytes);
    auto file = CFileSource::open(dir.file("f"));
    ASSERT_TRUE(file);
    EXPECT_EQ(findInFile(*file, 0, "endobj", 6), static_cast<int64_t>(block + 2));
    EXPECT_EQ(findInFile(*file, static_cast<int64_t>(block - 3), "endobj", 6), static_cast<int64_t>(block + 2));
    EXPECT_EQ(findInFile(*file, static_cast<int64_t>(block - 2), "endobj", 6),
              static_cast<int64_t>(2 * block + 99));
    EXPECT_EQ(findInFile(*file, static_cast<int64_t>(2 * block + 95), "endobj", 6), 0);
    EXPECT_EQ(findInFile(*file, 0, "endstream", 9), 0);
}

// ---------------------------------------------------------------- findNumberAfterKey

struct NumberAfterKeyCase {
    const char* text;
    const char* key;
    uint32_t value;
    bool isReference;
};

class FindNumberAfterKey : public ::testing::TestWithParam<NumberAfterKeyCase> {};

TEST_P(FindNumberAfterKey, ReadsTheFirstNumberAfterTheKey)
{
    const NumberAfterKeyCase& c = GetParam();
    bool isReference = !c.isReference; // must be overwritten
    EXPECT_EQ(findNumberAfterKey(c.text, c.key, isReference), c.value) << c.text;
    EXPECT_EQ(isReference, c.isReference) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FindNumberAfterKey,
    ::testing::Values(NumberAfterKeyCase{"12 0 obj<</Pages 3 0 R>>", "/Pages", 3, true},
                      NumberAfterKeyCase{"<</Rotate 270/Type/Page>>", "/Rotate", 270, false},
                      NumberAfterKeyCase{"<</Type/Page>>", "/Rotate", 0, false},
                      NumberAfterKeyCase{"<</Rotate -90>>", "/Rotate", 90, false},
                      NumberAfterKeyCase{"<</Pages 3 1 R>>", "/Pages", 3, false},
                      NumberAfterKeyCase{"<</Pages 3 0  R>>", "/Pages", 3, false},
                      NumberAfterKeyCase{"<</Pages 3 0 R", "/Pages", 3, true},
                      NumberAfterKeyCase{"<</Pages 3 0 ", "/Pages", 3, false},
                      NumberAfterKeyCase{"<</Rotate 90.5>>", "/Rotate", 90, false},
                      NumberAfterKeyCase{"<</Pages 4 0 R/Pages 5 0 R>>", "/Pages", 4, true},
                      NumberAfterKeyCase{"<</Pages 12345 0 R>>", "/Pages", 12345, true},
                      NumberAfterKeyCase{"<</Count 12", "/Count", 12, false},
                      NumberAfterKeyCase{"<</Type/Pages", "/Pages", 0, false}));

// ---------------------------------------------------------------- CObjectText

TEST(CObjectText, FindFromReturnsTheFirstOccurrenceAtOrAfterThePosition)
{
    CObjectText text(std::string("3 0 obj<</Contents 4 0 R/Contents>>"));
    EXPECT_EQ(text.findFrom("/Contents", 0), 9u);
    EXPECT_EQ(text.findFrom("/Contents", 9), 9u);
    EXPECT_EQ(text.findFrom("/Contents", 10), 24u);
    // Past the last occurrence, and past the end, give the end.
    EXPECT_EQ(text.findFrom("/Contents", 25), text.end());
    EXPECT_EQ(text.findFrom(">>", text.end() - 2), text.end() - 2);
    EXPECT_EQ(text.findFrom(">>", text.end() - 1), text.end());
    EXPECT_EQ(text.findFrom(">>", text.end() + 5), text.end());
}

TEST(CObjectText, InsertTextGoesBeforeThePosition)
{
    CObjectText text(std::string("<</A 1>>"));
    text.insertText(6, "/B 2");
    EXPECT_EQ(text.bytes(), "<</A 1/B 2>>");
    text.insertText(text.end(), "\n");
    EXPECT_EQ(text.bytes(), "<</A 1/B 2>>\n");
    text.insertText(0, "7 0 obj");
    EXPECT_EQ(text.bytes(), "7 0 obj<</A 1/B 2>>\n");
    EXPECT_EQ(text.length(), 20u);
}

// ---------------------------------------------------------------- findDictEntryValue

struct DictEntryCase {
    const char* name;
    const char* text;
    const char* key;
    const char* value; // nullptr: the key is not a top-level entry
};

class FindDictEntryValue : public ::testing::TestWithParam<DictEntryCase> {};

TEST_P(FindDictEntryValue, FindsTopLevelEntriesOnly)
{
    const DictEntryCase& c = GetParam();
    const std::string text = c.text;
    size_t begin = 0, end = 0;
    bool found = findDictEntryValue(text, c.key, begin, end);
    if (!c.value) {
        EXPECT_FALSE(found) << "found " << text.substr(begin, end - begin);
        return;
    }
    ASSERT_TRUE(found);
    ASSERT_LE(begin, end);
    ASSERT_LE(end, text.size());
    EXPECT_EQ(text.substr(begin, end - begin), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindDictEntryValue,
    ::testing::Values(
        DictEntryCase{"Reference", "3 0 obj\n<< /Type /Page /Resources 5 0 R >>\nendobj\n", "Resources", "5 0 R"},
        DictEntryCase{"ReferenceWithGeneration", "3 0 obj<</Resources 5 2 R/Type/Page>>endobj", "Resources",
                      "5 2 R"},
        DictEntryCase{"InlineDictionary",
                      "3 0 obj\n<< /Resources << /Font << /F1 7 0 R >> >> /Type /Page >>\nendobj\n", "Resources",
                      "<< /Font << /F1 7 0 R >> >>"},
        DictEntryCase{"Array", "3 0 obj\n<< /MediaBox [0 0 612 792] /Type /Page >>\nendobj\n", "MediaBox",
                      "[0 0 612 792]"},
        DictEntryCase{"NestedArray", "3 0 obj<</Kids [[1 0 R] 2 0 R]/Count 2>>endobj", "Count", "2"},
        DictEntryCase{"Name", "3 0 obj<</Type/Page>>endobj", "Type", "/Page"},
        DictEntryCase{"ReferenceBeforeEnd", "3 0 obj<</Type/Page/Resources 5 0 R>>endobj", "Resources", "5 0 R"},
        DictEntryCase{"InlineWithoutSpaces", "3 0 obj<</Resources<</Font 1 0 R>>/Type/Page>>endobj", "Resources",
                      "<</Font 1 0 R>>"},
        DictEntryCase{"String", "3 0 obj<</Title (a (nested) b)/Type/Page>>endobj", "Title", "(a (nested) b)"},
        DictEntryCase{"NumberBeforeEnd", "3 0 obj<</Count 3>>endobj", "Count", "3"},
        DictEntryCase{"CompressedForm", "7 0 obj\r<< /Resources 4 0 R >> endobj\r", "Resources", "4 0 R"},
        DictEntryCase{"AfterStringHoldingDelimiters", "3 0 obj<</T (a >> [ b) /Resources 4 0 R>>endobj",
                      "Resources", "4 0 R"},
        DictEntryCase{"AfterNestedDictWithSameKey", "3 0 obj<</A <</Resources 1 0 R>> /Resources 2 0 R>>endobj",
                      "Resources", "2 0 R"},
        DictEntryCase{"InsideStringOnly", "3 0 obj\n<< /Title (/Resources 9 0 R) /Type /Page >>\nendobj\n",
                      "Resources", nullptr},
        DictEntryCase{"InsideNestedDictOnly", "3 0 obj\n<< /Parent << /Resources 5 0 R >> >>\nendobj\n",
                      "Resources", nullptr},
        DictEntryCase{"AsAValueOnly", "3 0 obj<</Name /Resources /Other 1>>endobj", "Resources", nullptr},
        DictEntryCase{"InStreamDataOnly", "3 0 obj<</Length 16>>stream\n/Resources 1 0 R\nendstream endobj",
                      "Resources", nullptr},
        DictEntryCase{"Missing", "3 0 obj<</Type/Page>>endobj", "Resources", nullptr}),
    [](const ::testing::TestParamInfo<DictEntryCase>& info) { return std::string(info.param.name); });
