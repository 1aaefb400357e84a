// Encrypted inputs made at test time by qpdf from builder files: those that
// open with the empty password are stamped and keep their protection (qpdf
// shows the same method, key and permissions, and checks the output clean;
// the pages render with the stamp and keep their text); those that need a
// password, forbid changes or have hostile dictionaries are refused, and
// nothing is written.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

constexpr int kPages = 3;
const std::string kTitle = "Protected (title)";

// Catalog 1 with a metadata stream 10, root node 2, pages 3..5 (each with a
// string of its own, and `pageEntries`) with contents 6..8, one font 9, and
// a titled /Info 11.
vtest::PdfBuilder threePages(const std::string& pageEntries = "")
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 10 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int page = 0; page < kPages; ++page) {
        b.set(3 + page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(6 + page) +
                            " 0 R /Resources << /Font << /F1 9 0 R >> >> /PageLabel (page " +
                            std::to_string(page + 1) + ")" + pageEntries + " >>");
        b.setStream(6 + page, "",
                    "BT\n/F1 24 Tf 200 400 Td\n(Text of page " + std::to_string(page + 1) + ") Tj\nET\n");
    }
    b.set(9, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.setStream(10, "/Type /Metadata /Subtype /XML", "<?xpacket begin=''?><x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    b.set(11, "<< /Title (Protected \\(title\\)) /Producer <4275696C646572> >>");
    b.setRoot(1);
    b.setInfo(11);
    return b;
}

using vtest::qpdf;

// `qpdf --encrypt USER owner <method...> --` over `in`, written as `out`.
void encrypt(const Workspace& work, const std::string& in, const std::string& out, const std::string& user,
             const std::string& method, const std::string& objectStreams)
{
    const vtest::CommandResult made =
        qpdf("--allow-weak-crypto --object-streams=" + objectStreams + " --encrypt " + vtest::shellQuote(user) +
             " owner " + method + " -- " + vtest::shellQuote(work.file(in)) + " " + vtest::shellQuote(work.file(out)));
    ASSERT_EQ(made.status, 0) << made.output;
}

// How qpdf says the file is encrypted, its key included.
std::string encryptionOf(const std::string& pdf)
{
    return qpdf("--show-encryption --show-encryption-key " + vtest::shellQuote(pdf)).output;
}

struct EncryptionCase {
    const char* name;
    std::string method;        // qpdf's key length and options
    std::string objectStreams; // generate (strings come out of them) or disable
};

std::ostream& operator<<(std::ostream& out, const EncryptionCase& c) { return out << c.name; }

class EncryptedFile : public testing::TestWithParam<EncryptionCase> {
protected:
    void SetUp() override
    {
        if (!vtest::haveTool("qpdf"))
            GTEST_SKIP() << "qpdf is not installed";
    }
};

TEST_P(EncryptedFile, IsStampedAndKeepsItsProtection)
{
    const EncryptionCase& c = GetParam();
    Workspace work;
    work.write("clean.pdf", threePages().build());
    ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "in.pdf", "", c.method, c.objectStreams));

    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    const std::string before = encryptionOf(work.file("in.pdf"));
    EXPECT_NE(before.find("Encryption key = "), std::string::npos) << before;
    EXPECT_EQ(encryptionOf(work.file("out.pdf")), before);

    if (vtest::haveTool("pdftotext")) {
        const std::string text = vtest::runCommand("pdftotext " + vtest::shellQuote(work.file("out.pdf")) + " - 2>&1").output;
        for (int page = 1; page <= kPages; ++page)
            EXPECT_NE(text.find("Text of page " + std::to_string(page)), std::string::npos) << text;
    }
    if (vtest::haveTool("pdfinfo")) {
        const std::string info = vtest::runCommand("pdfinfo " + vtest::shellQuote(work.file("out.pdf")) + " 2>&1").output;
        EXPECT_NE(info.find("Title:           " + kTitle + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("Producer:        Builder\n"), std::string::npos) << info;
    }
    // Each page's own string, as qpdf decrypts it, is the builder's: a
    // page that came out of an object stream has it encrypted for its number.
    const vtest::CommandResult clear = qpdf("--decrypt --qdf --object-streams=disable " +
                                            vtest::shellQuote(work.file("out.pdf")) + " " +
                                            vtest::shellQuote(work.file("clear.pdf")));
    ASSERT_EQ(clear.status, 0) << clear.output;
    const std::string decrypted = vtest::readFile(work.file("clear.pdf"));
    for (int page = 1; page <= kPages; ++page)
        EXPECT_NE(decrypted.find("/PageLabel (page " + std::to_string(page) + ")"), std::string::npos);

    const render::View letter{render::Box{0, 0, 612, 792}, 0};
    const std::vector<render::ExpectedStamp> stamp = {redBlueStamp(render::Rect{20, 10, 96, 48})};
    EXPECT_EQ(compareRenders(work.file("clean.pdf"), work.file("out.pdf"), {letter, letter, letter},
                             {stamp, stamp, stamp}),
              "");
}

INSTANTIATE_TEST_SUITE_P(
    Methods, EncryptedFile,
    testing::Values(EncryptionCase{"Rc4Of40Bits", "40", "disable"},
                    EncryptionCase{"Rc4Of40BitsObjectStreams", "40", "generate"},
                    EncryptionCase{"Rc4Of128Bits", "128 --use-aes=n", "disable"},
                    EncryptionCase{"Rc4Of128BitsObjectStreams", "128 --use-aes=n", "generate"},
                    EncryptionCase{"Aes128", "128 --use-aes=y", "disable"},
                    EncryptionCase{"Aes128ObjectStreams", "128 --use-aes=y", "generate"},
                    EncryptionCase{"Aes128ClearMetadata", "128 --use-aes=y --cleartext-metadata", "generate"},
                    EncryptionCase{"Aes256", "256", "disable"},
                    EncryptionCase{"Aes256ObjectStreams", "256", "generate"},
                    EncryptionCase{"Aes256ClearMetadata", "256 --cleartext-metadata", "generate"},
                    // Restricted, but changes other than these are allowed.
                    EncryptionCase{"Aes256NoPrintingNorCopying", "256 --print=none --extract=n", "generate"},
                    EncryptionCase{"Rc4Of40BitsNoPrinting", "40 --print=n", "generate"}),
    [](const testing::TestParamInfo<EncryptionCase>& info) { return std::string(info.param.name); });

class EncryptedInput : public testing::Test {
protected:
    void SetUp() override
    {
        if (!vtest::haveTool("qpdf"))
            GTEST_SKIP() << "qpdf is not installed";
        work.write("clean.pdf", threePages().build());
    }
    // Runs the program on `input`: it must fail with `message` and write nothing.
    void expectRefused(const std::string& input, const std::string& message)
    {
        const e2e::Run run = work.run({"-i" + input, "-oout.pdf", "-jstamp.jpg"});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("'" + input + "'\n" + message), std::string::npos) << run.output;
        EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
    }
    Workspace work;
};

TEST_F(EncryptedInput, FileThatNeedsAPasswordIsRefused)
{
    for (const char* method : {"40", "128 --use-aes=y", "256"}) {
        SCOPED_TRACE(method);
        ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "in.pdf", "secret", method, "generate"));
        expectRefused("in.pdf", "PDF file is encrypted");
    }
}

TEST_F(EncryptedInput, FileWhosePermissionsForbidChangesIsRefused)
{
    for (const char* method : {"40 --modify=n", "128 --use-aes=n --modify=none", "256 --modify=none"}) {
        SCOPED_TRACE(method);
        ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "in.pdf", "", method, "generate"));
        expectRefused("in.pdf", "PDF file is encrypted, and its permissions do not allow changing it");
    }
}

// Dictionaries no writer makes: each gives a refusal that names the
// encryption, never a crash or an output.
TEST_F(EncryptedInput, HostileDictionariesAreRefusedCleanly)
{
    const std::string zeros(64, '0'), o = " /O <" + zeros + "> /U <" + zeros + ">";
    const std::string dictionaries[] = {
        "<< /Filter /Standard /V 2 /R 3 /Length 99999999" + o + " /P -4 >>",
        "<< /Filter /Standard /V 2 /R 3 /Length -8" + o + " /P -4 >>",
        "<< /Filter /Standard /V 99 /R 2147483647" + o + " /P -4 >>",
        "<< /Filter /Standard /V -1 /R -1" + o + " /P -4 >>",
        "<< /Filter /Standard /V 4 /R 4" + o + " /P -4 /CF << /StdCF << /CFM /AESV2 /Length 99999 >> >> "
        "/StmF /StdCF /StrF /Nowhere >>",
        "<< /Filter /Standard /V 5 /R 6 /O <00> /U <00> /OE <00> /UE <00> /Perms <00> /P -4 >>",
        "<< /Filter /PubSec /V 4 /R 4 /P -4 >>",
        "<< /V 2 >>",
        "42 0 R",
    };
    for (const std::string& dictionary : dictionaries) {
        SCOPED_TRACE(dictionary);
        vtest::PdfBuilder b = threePages();
        b.setTrailerExtra("/Encrypt " + dictionary + " /ID [ <01> <01> ]");
        work.write("in.pdf", b.build());
        const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("'in.pdf'\nPDF file is encrypted"), std::string::npos) << run.output;
        EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
    }
}

// The encryption dictionary written in the trailer itself: the output's
// trailer holds the same text.
TEST_F(EncryptedInput, InlineEncryptionDictionaryIsStampedAndKept)
{
    ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "byref.pdf", "", "128 --use-aes=y", "disable"));
    std::string pdf = vtest::readFile(work.file("byref.pdf"));
    const size_t trailer = pdf.rfind("trailer");
    const size_t entry = pdf.find("/Encrypt ", trailer);
    ASSERT_NE(entry, std::string::npos);
    const size_t refEnd = pdf.find(" R", entry) + 2;
    const std::string header = pdf.substr(entry + 9, refEnd - 2 - entry - 9) + " obj\n";
    const size_t object = pdf.find("\n" + header) + 1 + header.size();
    const std::string dictionary = pdf.substr(object, pdf.find("\nendobj", object) - object);
    // The table stands before the trailer: its offsets stay right.
    work.write("in.pdf", pdf.replace(entry, refEnd - entry, "/Encrypt " + dictionary));

    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    EXPECT_EQ(encryptionOf(work.file("out.pdf")), encryptionOf(work.file("byref.pdf")));
    const std::string out = vtest::readFile(work.file("out.pdf"));
    EXPECT_NE(out.find("/Encrypt " + dictionary, out.rfind("trailer")), std::string::npos);
}

// Regression: the encryption dictionary's values each held in an object of
// their own, the crypt filter too, as the PDF rules allow for any value; the
// file was refused as damaged. qpdf's objects are written again by the
// builder with the values moved out: the file is stamped, and the dictionary
// and its objects are copied as they stand. qpdf decrypts an /O or /U held
// apart and then fails; poppler and MuPDF read them as written, as we do.
TEST_F(EncryptedInput, ValuesHeldByReferenceAreStampedAndKept)
{
    ASSERT_NO_FATAL_FAILURE(
        encrypt(work, "clean.pdf", "qpdf.pdf", "", "128 --use-aes=y --cleartext-metadata", "disable"));
    const std::string pdf = vtest::readFile(work.file("qpdf.pdf"));
    const std::string trailer = pdf.substr(pdf.rfind("trailer"));
    auto number = [&](const char* key) {
        std::smatch found;
        return std::regex_search(trailer, found, std::regex(std::string("/") + key + " ([0-9]+) 0 R"))
                   ? std::stoi(found[1])
                   : 0;
    };
    const int encrypt = number("Encrypt");
    std::smatch id;
    ASSERT_TRUE(std::regex_search(trailer, id, std::regex("/ID \\[[^\\]]*\\]")));
    // Every object of qpdf's one table, from its header to the next one's.
    const size_t table = pdf.rfind("\nxref\n") + 1, entries = pdf.find('\n', table + 5) + 1;
    const int count = std::stoi(pdf.substr(pdf.find(' ', table) + 1));
    std::map<long, int> numbers; // by offset
    for (int num = 1; num < count; ++num)
        if (pdf[entries + 20 * num + 17] == 'n')
            numbers[std::stol(pdf.substr(entries + 20 * num, 10))] = num;

    struct Row {
        std::vector<const char*> keys; // the crypt filter before /CF, which then holds its reference
        bool qpdfReads;
    };
    for (const Row& row : {Row{{"StdCF", "CF", "P", "Length", "EncryptMetadata"}, true}, Row{{"O", "U"}, false}}) {
        SCOPED_TRACE(row.keys.front());
        vtest::PdfBuilder b;
        std::string dictionary;
        for (auto it = numbers.begin(); it != numbers.end(); ++it) {
            const long end = std::next(it) == numbers.end() ? static_cast<long>(table) : std::next(it)->first;
            const std::string text = pdf.substr(it->first, end - it->first);
            if (it->second == encrypt)
                dictionary = text.substr(text.find("<<"), text.rfind(">>") + 2 - text.find("<<"));
            else
                b.setRaw(it->second, text);
        }
        std::vector<std::string> moved;
        for (const char* key : row.keys) {
            std::smatch found;
            ASSERT_TRUE(std::regex_search(dictionary, found,
                                          std::regex(std::string("/") + key + " (<<[^<>]*>>|<[0-9a-f]*>|[^ /<>]+)")))
                << key;
            const int num = 100 + static_cast<int>(moved.size());
            moved.push_back(found[1]);
            b.set(num, moved.back());
            dictionary.replace(static_cast<size_t>(found.position(1)), static_cast<size_t>(found.length(1)),
                               std::to_string(num) + " 0 R");
        }
        b.set(encrypt, dictionary);
        b.setRoot(number("Root"));
        b.setInfo(number("Info"));
        b.setTrailerExtra("/Encrypt " + std::to_string(encrypt) + " 0 R " + id.str());
        work.write("in.pdf", b.build());

        const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
        ASSERT_EQ(run.status, 0) << run.output;
        const std::string out = vtest::readFile(work.file("out.pdf"));
        EXPECT_NE(out.find(std::to_string(encrypt) + " 0 obj\n" + dictionary + "\nendobj"), std::string::npos);
        for (size_t i = 0; i < moved.size(); ++i)
            EXPECT_NE(out.find(std::to_string(100 + i) + " 0 obj\n" + moved[i] + "\nendobj"), std::string::npos)
                << moved[i];
        if (row.qpdfReads) {
            EXPECT_EQ(encryptionOf(work.file("in.pdf")), encryptionOf(work.file("qpdf.pdf")));
            EXPECT_EQ(encryptionOf(work.file("out.pdf")), encryptionOf(work.file("in.pdf")));
            EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
        }
        const render::View letter{render::Box{0, 0, 612, 792}, 0};
        const std::vector<render::ExpectedStamp> stamp = {redBlueStamp(render::Rect{20, 10, 96, 48})};
        EXPECT_EQ(compareRenders(work.file("clean.pdf"), work.file("out.pdf"), {letter, letter, letter},
                                 {stamp, stamp, stamp}),
                  "");
    }
}

// Mark passes read what the pass before wrote, encrypted too: the marks of
// an encrypted file render exactly as those of the file in the clear.
TEST_F(EncryptedInput, MarksRenderAsOnTheFileInTheClear)
{
    if (!vtest::haveTool("pdftoppm"))
        GTEST_SKIP() << "pdftoppm is not installed";
    // The marks stand outside the crop box, within the media box rendered.
    work.write("clean.pdf", threePages(" /CropBox [60 60 552 732]").build());
    ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "in.pdf", "", "256", "generate"));
    for (const char* input : {"clean.pdf", "in.pdf"}) {
        const e2e::Run run =
            work.run({std::string("-i") + input, std::string("-omarked-") + input, "-jstamp.jpg", "-crop_marks"});
        ASSERT_EQ(run.status, 0) << run.output;
        const vtest::CommandResult rendered = vtest::runCommand(
            "pdftoppm -r 24 -png " + vtest::shellQuote(work.file(std::string("marked-") + input)) + " " +
            vtest::shellQuote(work.file(std::string("render-") + input)) + " 2>&1");
        ASSERT_EQ(rendered.status, 0) << rendered.output;
    }
    EXPECT_EQ(qpdfProblems(work.file("marked-in.pdf")), "");
    EXPECT_EQ(encryptionOf(work.file("marked-in.pdf")), encryptionOf(work.file("in.pdf")));
    for (int page = 1; page <= kPages; ++page) {
        const std::string suffix = "-" + std::to_string(page) + ".png";
        EXPECT_EQ(vtest::readFile(work.file("render-in.pdf" + suffix)), vtest::readFile(work.file("render-clean.pdf" + suffix)))
            << "page " << page;
    }
}

// A damaged encrypted file is rebuilt from its objects: its object streams
// decrypt with the key of the trailer found, and the output keeps the protection.
TEST_F(EncryptedInput, DamagedEncryptedFileIsRebuiltAndKeepsItsProtection)
{
    ASSERT_NO_FATAL_FAILURE(encrypt(work, "clean.pdf", "whole.pdf", "", "128 --use-aes=y", "generate"));
    std::string pdf = vtest::readFile(work.file("whole.pdf"));
    const size_t startxref = pdf.rfind("startxref");
    ASSERT_NE(startxref, std::string::npos);
    work.write("in.pdf", pdf.replace(startxref, std::string::npos, "startxref\n7\n%%EOF\n"));
    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("rebuilt from"), std::string::npos) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    EXPECT_EQ(encryptionOf(work.file("out.pdf")), encryptionOf(work.file("whole.pdf")));
    const render::View letter{render::Box{0, 0, 612, 792}, 0};
    const std::vector<render::ExpectedStamp> stamp = {redBlueStamp(render::Rect{20, 10, 96, 48})};
    EXPECT_EQ(compareRenders(work.file("clean.pdf"), work.file("out.pdf"), {letter, letter, letter},
                             {stamp, stamp, stamp}),
              "");
}

} // namespace
