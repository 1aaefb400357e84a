// Files whose cross-reference data or stream lengths are damaged the ways
// real files are: shifted, swapped, cut, converted to CR LF, written without
// a table or a trailer. Each is stamped with every object kept, says what it
// repaired, and gives an output qpdf accepts without a word.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

constexpr int kPages = 3;

// Catalog 1, root node 2, pages 3..5 with contents 6..8 and one font 9, all
// uncompressed (or, with object streams, every dictionary compressed).
vtest::PdfBuilder threePages(bool objectStreams = false)
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int page = 0; page < kPages; ++page) {
        b.set(3 + page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(6 + page) +
                            " 0 R /Resources << /Font << /F1 9 0 R >> >> >>");
        b.setStream(6 + page, "",
                    "BT\n/F1 24 Tf 200 400 Td\n(Text of page " + std::to_string(page + 1) + ") Tj\nET\n");
    }
    b.set(9, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.setRoot(1);
    if (objectStreams) {
        const int container = b.addObjectStream();
        for (int num : {1, 2, 3, 4, 5, 9})
            b.compress(num, container);
        b.setXref(vtest::XrefKind::Stream);
    }
    return b;
}

// The classic table's entry line for object `num`.
size_t entryAt(const std::string& pdf, int num)
{
    const size_t table = pdf.rfind("\nxref\n") + 1;
    const size_t firstEntry = pdf.find('\n', pdf.find('\n', table) + 1) + 1;
    return firstEntry + 20 * static_cast<size_t>(num);
}

// The first stream's (object 6's) /Length value replaced by `value`.
std::string withFirstLength(std::string pdf, const std::string& value)
{
    const size_t at = pdf.find("/Length ", pdf.find("\n6 0 obj")) + 8;
    return pdf.replace(at, pdf.find_first_not_of("0123456789", at) - at, value);
}

// The first stream's (object 6's) "endstream" replaced by `word` of its length.
std::string withFirstEndstream(std::string pdf, const std::string& word)
{
    return pdf.replace(pdf.find("endstream", pdf.find("\n6 0 obj")), word.size(), word);
}

struct DamageCase {
    const char* name;
    std::function<std::string()> damaged;
    std::vector<std::string> warnings; // lines the run prints, without "Warning: "
};

std::ostream& operator<<(std::ostream& out, const DamageCase& c) { return out << c.name; }

class DamagedFile : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFile, IsStampedWithEveryObjectAndSaysWhatWasRepaired)
{
    const DamageCase& c = GetParam();
    Workspace work;
    work.write("clean.pdf", threePages().build());
    work.write("in.pdf", c.damaged());
    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    std::string expected;
    for (const std::string& warning : c.warnings)
        expected += "\nWarning: " + warning;
    EXPECT_NE(run.output.find("Processing" + expected + "\nDone.\n"), std::string::npos) << run.output;

    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    if (vtest::haveTool("pdftotext")) {
        const vtest::CommandResult text =
            vtest::runCommand("pdftotext " + vtest::shellQuote(work.file("out.pdf")) + " - 2>&1");
        for (int page = 1; page <= kPages; ++page)
            EXPECT_NE(text.output.find("Text of page " + std::to_string(page)), std::string::npos)
                << "page " << page << " lost its text:\n" << text.output;
    }
    const render::View letter{render::Box{0, 0, 612, 792}, 0};
    const std::vector<render::ExpectedStamp> stamp = {redBlueStamp(render::Rect{20, 10, 96, 48})};
    EXPECT_EQ(compareRenders(work.file("clean.pdf"), work.file("out.pdf"), {letter, letter, letter},
                             {stamp, stamp, stamp}),
              "");
}

// The rebuild's warning, with why the sections could not be used.
std::string rebuilt(const std::string& why, int objects = 9)
{
    return "cross-reference data damaged (" + why + "); rebuilt from " + std::to_string(objects) +
           " objects found in the file";
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedFile,
    testing::Values(
        DamageCase{"ShiftedOffsetWithStartxrefRight",
                   [] {
                       std::string pdf = threePages().build();
                       const size_t entry = entryAt(pdf, 6);
                       std::string digits = std::to_string(std::stol(pdf.substr(entry, 10)) + 3);
                       return pdf.replace(entry, 10, std::string(10 - digits.size(), '0') + digits);
                   },
                   {"object 6 was not where the cross-reference data says; found by scanning"}},
        DamageCase{"MostOffsetsShifted",
                   [] {
                       std::string pdf = threePages().build();
                       for (int num = 2; num <= 9; ++num) {
                           const size_t entry = entryAt(pdf, num);
                           std::string digits = std::to_string(std::stol(pdf.substr(entry, 10)) + 2);
                           pdf.replace(entry, 10, std::string(10 - digits.size(), '0') + digits);
                       }
                       return pdf;
                   },
                   {"8 objects were not where the cross-reference data says; found by scanning: 2, 3, 4, 5, 6 and 3 "
                    "more"}},
        DamageCase{"LineInsertedBeforeAnObjectAndStartxrefWrong",
                   [] {
                       std::string pdf = threePages().build();
                       return pdf.insert(pdf.find("\n7 0 obj") + 1, "% a line an editor added\n");
                   },
                   {rebuilt("no cross-reference section at offset 872")}},
        DamageCase{"SwappedEntries",
                   [] {
                       std::string pdf = threePages().build();
                       const size_t a = entryAt(pdf, 6), b = entryAt(pdf, 9);
                       const std::string first = pdf.substr(a, 20), second = pdf.substr(b, 20);
                       pdf.replace(a, 20, second);
                       return pdf.replace(b, 20, first);
                   },
                   {"2 objects were not where the cross-reference data says; found by scanning: 6, 9"}},
        DamageCase{"NoTableAtAll",
                   [] {
                       const std::string pdf = threePages().build();
                       return pdf.substr(0, pdf.rfind("\nxref\n") + 1) + "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
                   },
                   {rebuilt("no startxref")}},
        DamageCase{"NoTrailerCatalogFoundByItsType",
                   [] {
                       const std::string pdf = threePages().build();
                       return pdf.substr(0, pdf.rfind("\nxref\n") + 1);
                   },
                   {rebuilt("no startxref")}},
        DamageCase{"CutAfterTheLastObject",
                   [] {
                       const std::string pdf = threePages().build();
                       return pdf.substr(0, pdf.rfind("endobj") + 7);
                   },
                   {rebuilt("no startxref")}},
        DamageCase{"ConvertedToCrLf",
                   [] {
                       std::string pdf = threePages().build(), converted;
                       for (char c : pdf)
                           converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
                       return converted;
                   },
                   {rebuilt("no cross-reference section at offset 872"),
                    "3 streams have a wrong /Length; corrected: 6, 7, 8"}},
        DamageCase{"LengthTooShort", [] { return withFirstLength(threePages().build(), "20"); },
                   {"stream 6 has a wrong /Length; corrected"}},
        DamageCase{"LengthTooLong", [] { return withFirstLength(threePages().build(), "99"); },
                   {"stream 6 has a wrong /Length; corrected"}},
        // No "endstream" before the content's "endobj": its data runs to there, and the copy gets the keyword.
        DamageCase{"EndstreamMisspelt", [] { return withFirstEndstream(threePages().build(), "enxstream"); },
                   {"stream 6 has no endstream; corrected"}},
        DamageCase{"EndstreamMissing", [] { return withFirstEndstream(threePages().build(), "         "); },
                   {"stream 6 has no endstream; corrected"}},
        DamageCase{"LengthToAMissingObject",
                   [] { return withFirstLength(threePages().build(), "77 0 R"); }, // longer: later offsets move
                   {rebuilt("no cross-reference section at offset 872"), "stream 6 has a wrong /Length; corrected"}},
        DamageCase{"ObjectNamedInUseButMissing",
                   [] {
                       vtest::PdfBuilder b = threePages();
                       b.set(10, "<< /Unused true >>");
                       std::string pdf = b.build();
                       const size_t at = pdf.find("10 0 obj");
                       return pdf.replace(at, 8, "% gone  ");
                   },
                   {"object 10 is named in the cross-reference data but missing from the file"}},
        DamageCase{"PrevPointingAtGarbage",
                   [] {
                       vtest::PdfBuilder b = threePages();
                       b.beginUpdate();
                       b.set(9, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Name /F1 >>");
                       std::string pdf = b.build();
                       const size_t prev = pdf.rfind("/Prev ") + 6;
                       return pdf.replace(prev, pdf.find_first_not_of("0123456789", prev) - prev, "17");
                   },
                   {rebuilt("no cross-reference section at offset 17")}},
        DamageCase{"RootNamingNoObjectCatalogFoundByItsType",
                   [] {
                       std::string pdf = threePages().build();
                       return pdf.replace(pdf.rfind("/Root 1 0 R"), 11, "/Root 7 1 R");
                   },
                   {rebuilt("the catalog, object 7, cannot be read")}},
        DamageCase{"ObjectStreamsWithStartxrefWrong",
                   [] {
                       std::string pdf = threePages(true).build();
                       const size_t number = pdf.rfind("startxref\n") + 10;
                       return pdf.replace(number, pdf.find('\n', number) - number, "12");
                   },
                   {rebuilt("no cross-reference section at offset 12", 11)}}));

// Hostile repetitions of what the scan of a damaged file meets, inserted
// before object 10: each stays quick, and the scan still finds object 10
// after them.
struct RepetitionCase {
    const char* name;
    std::string junk;
    int objectsFound;      // what the rebuild says it found
    bool qpdfClean = true; // false: copied objects keep data on their keyword's line, which qpdf warns of
};

std::ostream& operator<<(std::ostream& out, const RepetitionCase& c) { return out << c.name; }

std::string repeated(int count, const std::function<std::string(int)>& piece)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece(i);
    return text;
}

class HostileRepetition : public testing::TestWithParam<RepetitionCase> {};

// Each run is linear work of well under a second, sanitized too; the
// quadratic ones these rows pin took 7 to 14 seconds unsanitized.
constexpr double kLinearSeconds = 5;

TEST_P(HostileRepetition, StaysLinear)
{
    vtest::PdfBuilder b = threePages();
    b.set(10, "<< /Junk (" + std::string(10, 'j') + ") >>");
    std::string pdf = b.build();
    pdf.insert(pdf.find("10 0 obj"), GetParam().junk);
    Workspace work;
    work.write("in.pdf", pdf);
    const auto start = std::chrono::steady_clock::now();
    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), kLinearSeconds);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("; rebuilt from " + std::to_string(GetParam().objectsFound) + " objects found"),
              std::string::npos)
        << run.output;
    if (GetParam().qpdfClean) {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileRepetition,
    testing::Values(
        // Many streams without "endstream", and many headers for one number:
        // searches already made answer the later ones, though the streams'
        // data ends at object 10's "endobj".
        RepetitionCase{"BrokenStreams",
                       repeated(20000, [](int) { return "99 0 obj\n<< /Length 1 >>\nstream\nxx\n"; }) +
                           // as many on one line, data on their keywords' line
                           repeated(20000, [](int) { return "<< >> stream xx "; }) +
                           // as many "endobj" words that end no object, each before a string
                           repeated(20000, [](int) { return "stream\nendobj ("; }),
                       11},
        // Whole streams on one long line: the line end after each keyword is
        // looked for only a little way.
        RepetitionCase{"StreamsOnOneLineStayLinear",
                       repeated(20000,
                                [](int i) {
                                    return std::to_string(100 + i) +
                                           " 0 obj << /Length 2 >> stream xx endstream endobj ";
                                }) +
                           "\n",
                       20010, false}),
    [](const testing::TestParamInfo<RepetitionCase>& info) { return std::string(info.param.name); });

} // namespace
