// Signed and certified inputs, and passwords: signed files made at test time
// with pdfsig and a self-signed certificate keep every signature valid after
// the stamp, which is appended as an update; certified files (built here and
// signed with openssl cms over their byte ranges) are refused or annotated
// as their level says; passwords open what they open and are never shown.
// Skipped without poppler's pdfsig, NSS's tools and openssl.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const render::View kLetter{render::Box{0, 0, 612, 792}, 0};
const std::vector<render::ExpectedStamp> kStamp = {redBlueStamp(render::Rect{20, 10, 96, 48})};

vtest::CommandResult shell(const std::string& command) { return vtest::runCommand(command + " 2>&1"); }
std::string q(const std::string& text) { return vtest::shellQuote(text); }

// A self-signed test certificate, as a key and certificate for openssl and in
// an NSS database for pdfsig; made once for the suite.
class SigningKit {
public:
    SigningKit()
    {
        const std::string key = q(m_folder.file("key.pem")), cert = q(m_folder.file("cert.pem"));
        const std::string p12 = q(m_folder.file("cert.p12")), nss = q("sql:" + m_folder.file("nss"));
        m_ready =
            shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Vellico-Test -keyout " + key + " -out " +
                  cert)
                    .status == 0 &&
            shell("openssl pkcs12 -export -passout pass: -name test -inkey " + key + " -in " + cert + " -out " + p12)
                    .status == 0 &&
            shell("mkdir " + q(m_folder.file("nss")) + " && certutil -N --empty-password -d " + nss).status == 0 &&
            shell("pk12util -W '' -i " + p12 + " -d " + nss).status == 0;
    }
    bool ready() const { return m_ready; }
    // pdfsig's signature over `in`, appended as `out`; `password` opens an encrypted `in`.
    void sign(const std::string& in, const std::string& out, const std::string& password = "") const
    {
        const vtest::CommandResult made =
            shell("pdfsig -add-signature -nssdir " + q("sql:" + m_folder.file("nss")) + " -nick test" +
                  (password.empty() ? "" : " -upw " + q(password)) + " " + q(in) + " " + q(out));
        ASSERT_TRUE(vtest::fileExists(out)) << made.output;
    }
    // The CMS signature openssl makes over `data`, as DER.
    std::string cms(const std::string& data) const
    {
        vtest::writeFile(m_folder.file("data.bin"), data);
        shell("openssl cms -sign -binary -outform DER -in " + q(m_folder.file("data.bin")) + " -signer " +
              q(m_folder.file("cert.pem")) + " -inkey " + q(m_folder.file("key.pem")) + " -out " +
              q(m_folder.file("sig.der")));
        return vtest::readFile(m_folder.file("sig.der"));
    }

private:
    vtest::TempDir m_folder;
    bool m_ready = false;
};

const SigningKit* kit = nullptr;

class Signing : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!kit && vtest::haveTool("pdfsig") && vtest::haveTool("certutil") && vtest::haveTool("pk12util") &&
            vtest::haveTool("openssl") && vtest::haveTool("qpdf"))
            kit = new SigningKit();
    }
    void SetUp() override
    {
        if (!kit || !kit->ready())
            GTEST_SKIP() << "pdfsig, certutil, pk12util, openssl or qpdf missing";
    }
};

// What pdfsig says of each signature of `pdf`: "V" valid, "X" anything else.
std::string signatures(const std::string& pdf, const std::string& password = "")
{
    const std::string report =
        shell("pdfsig -nocert " + (password.empty() ? "" : "-upw " + q(password) + " ") + q(pdf)).output;
    std::string verdicts;
    std::regex line("Signature Validation: (.*)");
    for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it)
        verdicts += (*it)[1] == "Signature is Valid." ? "V" : "X";
    return verdicts;
}

size_t count(const std::string& text, const std::string& word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

BuiltDoc twoPages(Layout layout)
{
    DocPlan plan;
    plan.layout = layout;
    plan.pages = {PagePlan{}, PagePlan{}};
    return buildDoc(plan);
}

struct SignedCase {
    const char* name;
    Layout layout;
    int signatures;
    std::string encryption = ""; // qpdf's method, user password "u"
    std::vector<std::string> options = {};
};

std::ostream& operator<<(std::ostream& out, const SignedCase& c) { return out << c.name; }

class SignedFile : public Signing, public testing::WithParamInterface<SignedCase> {};

TEST_P(SignedFile, KeepsEverySignatureValid)
{
    const SignedCase& c = GetParam();
    Workspace work;
    const BuiltDoc doc = twoPages(c.layout);
    work.write("clean.pdf", doc.bytes);
    std::string source = "clean.pdf";
    const std::string password = c.encryption.empty() ? "" : "u";
    if (!password.empty()) {
        ASSERT_EQ(shell("qpdf --allow-weak-crypto --encrypt u o " + c.encryption + " -- " + q(work.file("clean.pdf")) +
                        " " + q(work.file("encrypted.pdf")))
                      .status,
                  0);
        source = "encrypted.pdf";
    }
    for (int i = 1; i <= c.signatures; ++i) {
        ASSERT_NO_FATAL_FAILURE(
            kit->sign(work.file(source), work.file("signed" + std::to_string(i) + ".pdf"), password));
        source = "signed" + std::to_string(i) + ".pdf";
    }
    const std::string input = vtest::readFile(work.file(source));
    ASSERT_EQ(signatures(work.file(source), password), std::string(static_cast<size_t>(c.signatures), 'V'));

    std::vector<std::string> arguments = {"-i" + source, "-oout.pdf", "-jstamp.jpg"};
    if (!password.empty())
        arguments.push_back("--password=u");
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const e2e::Run run = work.run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Warning: the file is signed; stamped by an incremental update, which keeps its "
                              "signatures valid for the revisions they sign\n"),
              std::string::npos)
        << run.output;
    const std::string output = vtest::readFile(work.file("out.pdf"));
    ASSERT_EQ(output.compare(0, input.size(), input), 0) << "the signed bytes come first, unchanged";
    EXPECT_EQ(count(output, "startxref"), count(input, "startxref") + 1) << "one revision appended";
    EXPECT_EQ(signatures(work.file("out.pdf"), password), std::string(static_cast<size_t>(c.signatures), 'V'));
    const std::string check = shell("qpdf --password=" + password + " --check " + q(work.file("out.pdf"))).output;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
    if (c.options.empty() || c.options[0] == "--annotation") {
        std::string shown = work.file("out.pdf");
        if (!password.empty()) {
            shown = work.file("clear.pdf");
            ASSERT_EQ(shell("qpdf --password=u --decrypt " + q(work.file("out.pdf")) + " " + q(shown)).status, 0);
        }
        for (Renderer renderer : {Renderer::Poppler, Renderer::MuPdf})
            EXPECT_EQ(compareRenders(work.file("clean.pdf"), shown, doc.views, {kStamp, kStamp}, 36, true, renderer),
                      "")
                << rendererTool(renderer);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SignedFile,
    testing::Values(SignedCase{"OneSignature", Layout::Classic, 1}, SignedCase{"TwoSignatures", Layout::Classic, 2},
                    SignedCase{"TwoSignaturesXrefStream", Layout::ObjectStreams, 2},
                    SignedCase{"TwoSignaturesAes256", Layout::Classic, 2, "256"},
                    SignedCase{"OneSignatureRc4ObjectStreams", Layout::ObjectStreams, 1, "128 --use-aes=n"},
                    SignedCase{"AsAnnotation", Layout::Classic, 2, "", {"--annotation"}},
                    // The eight marks in one revision.
                    SignedCase{"Marks", Layout::XrefStream, 1, "", {"-crop_marks"}}),
    [](const testing::TestParamInfo<SignedCase>& info) { return std::string(info.param.name); });

// A one-page file certified at `level` (the /P written, "" for none), its
// signature openssl's over the byte ranges; `extra` goes into the catalog.
std::string certified(const std::string& level, const std::string& extra = "")
{
    vtest::PdfBuilder b;
    const std::string params = level.empty() ? "" : "/P " + level + " ";
    b.set(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /SigFlags 3 >> /Perms << /DocMDP 6 0 R >>" +
                 extra + " >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [5 0 R] >>");
    b.setStream(4, "", "0 0 1 rg 100 600 200 100 re f\n");
    b.set(5,
          "<< /FT /Sig /T (Certification) /V 6 0 R /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /F 132 /P 3 0 R >>");
    b.set(6, "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /ByteRange [0 0000000000 "
             "0000000000 0000000000] /Contents <" +
                 std::string(8192, '0') +
                 "> /Reference [<< /Type /SigRef /TransformMethod /DocMDP /TransformParams << /Type /TransformParams " +
                 params + "/V /1.2 >> >>] /M (D:20240101000000Z) >>");
    b.setRoot(1);
    std::string bytes = b.build();
    // The signature covers everything but its own /Contents string.
    const size_t object = static_cast<size_t>(b.objectOffset(6));
    const size_t open = bytes.find("/Contents <", object) + 10, close = bytes.find('>', open) + 1;
    const size_t ranges = bytes.find("[0 0000000000", object) + 3;
    char numbers[40];
    std::snprintf(numbers, sizeof numbers, "%010zu %010zu %010zu", open, close, bytes.size() - close);
    bytes.replace(ranges, 32, numbers);
    const std::string der = kit->cms(bytes.substr(0, open) + bytes.substr(close));
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < der.size() && 2 * i + 2 < close - open; ++i) {
        bytes[open + 1 + 2 * i] = digits[static_cast<unsigned char>(der[i]) >> 4];
        bytes[open + 2 + 2 * i] = digits[static_cast<unsigned char>(der[i]) & 15];
    }
    return bytes;
}

struct CertifiedCase {
    const char* name;
    std::string level;
    std::vector<std::string> options;
    std::string message; // the refusal's, or "" when stamped as an annotation
};

std::ostream& operator<<(std::ostream& out, const CertifiedCase& c) { return out << c.name; }

class CertifiedFile : public Signing, public testing::WithParamInterface<CertifiedCase> {};

TEST_P(CertifiedFile, IsRefusedOrAnnotatedAsItsLevelSays)
{
    const CertifiedCase& c = GetParam();
    Workspace work;
    work.write("in.pdf", certified(c.level));
    ASSERT_EQ(signatures(work.file("in.pdf")), "V");
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const e2e::Run run = work.run(arguments);
    if (!c.message.empty()) {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("'in.pdf'"), std::string::npos) << run.output;
        EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
        return;
    }
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Warning: the file is certified to allow annotations only; the stamp is added as a "
                              "stamp annotation in an incremental update"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(signatures(work.file("out.pdf")), "V");
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    const std::string update =
        vtest::readFile(work.file("out.pdf")).substr(vtest::readFile(work.file("in.pdf")).size());
    EXPECT_NE(update.find("/Subtype /Stamp"), std::string::npos);
    EXPECT_EQ(update.find(" 4 0 obj"), std::string::npos) << "the page's content is not changed";
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), {kLetter}, {kStamp}), "");
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CertifiedFile,
    testing::Values(
        CertifiedCase{"NoChanges", "1", {}, "certification (no changes) forbids changing the pages"},
        CertifiedCase{"FormFillingWithoutP", "", {}, "certification (form filling and signing only) forbids"},
        CertifiedCase{"LevelOutOfRangeCountsAsNoChanges", "7", {}, "certification (no changes) forbids"},
        CertifiedCase{"Annotations", "3", {}, ""},
        CertifiedCase{"AnnotationsAskedFor", "3", {"--annotation", "--incremental"}, ""},
        CertifiedCase{"AnnotationsButMarks", "3", {"-crop_marks"}, "marks are page content"},
        // A dry run refuses what the run refuses.
        CertifiedCase{"MarksDryRunRefusesCertified", "1", {"-crop_marks", "--dry-run"}, "(no changes) forbids"}),
    [](const testing::TestParamInfo<CertifiedCase>& info) { return std::string(info.param.name); });

// A signed file whose table had to be rebuilt cannot take an update.
TEST_F(Signing, DamagedSignedFileIsRefused)
{
    Workspace work;
    work.write("clean.pdf", twoPages(Layout::Classic).bytes);
    ASSERT_NO_FATAL_FAILURE(kit->sign(work.file("clean.pdf"), work.file("signed.pdf")));
    std::string bytes = vtest::readFile(work.file("signed.pdf"));
    bytes.replace(bytes.rfind("startxref"), 9, "startxreF");
    work.write("damaged.pdf", bytes);
    for (const auto& [input, message] :
         {std::pair<std::string, std::string>{"damaged.pdf", "its signatures could not be kept"}, {"clean.pdf", ""}}) {
        const e2e::Run run = work.run({"-i" + input, "-oout.pdf", "-jstamp.jpg", "--incremental"});
        if (message.empty()) {
            EXPECT_EQ(run.status, 0) << run.output;
            continue;
        }
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
    bytes = vtest::readFile(work.file("clean.pdf"));
    bytes.replace(bytes.rfind("startxref"), 9, "startxreF");
    work.write("damaged-clean.pdf", bytes);
    const e2e::Run run = work.run({"-idamaged-clean.pdf", "-oout2.pdf", "-jstamp.jpg", "--incremental"});
    EXPECT_NE(run.output.find("was rebuilt, so it cannot be updated incrementally: 'damaged-clean.pdf'"),
              std::string::npos)
        << run.output;
}

struct PasswordCase {
    const char* name;
    std::string encryption;           // qpdf's method after the passwords "pässwort" (user) and "o" (owner)
    std::vector<std::string> options; // how the password is given
    std::string refusal;              // "" when stamped
};

std::ostream& operator<<(std::ostream& out, const PasswordCase& c) { return out << c.name; }

class Password : public testing::TestWithParam<PasswordCase> {};

TEST_P(Password, OpensWhatItOpensAndIsNeverShown)
{
    const PasswordCase& c = GetParam();
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    Workspace work;
    work.write("clean.pdf", twoPages(Layout::Classic).bytes);
    work.write("password.txt", "\xEF\xBB\xBFo\r\nsecond line\r\n");
    ASSERT_EQ(shell("qpdf --allow-weak-crypto --encrypt 'p\xC3\xA4sswort' o " + c.encryption + " -- " +
                    q(work.file("clean.pdf")) + " " + q(work.file("in.pdf")))
                  .status,
              0);
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const e2e::Run run = work.run(arguments);
    for (const char* secret : {"p\xC3\xA4sswort", "s3cret", "wrong"})
        EXPECT_EQ(run.output.find(secret), std::string::npos) << run.output;
    if (!c.refusal.empty()) {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(c.refusal), std::string::npos) << run.output;
        EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
        return;
    }
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string check = shell("qpdf --password=o --check " + q(work.file("out.pdf"))).output;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
    EXPECT_EQ(shell("qpdf --password=o --show-encryption " + q(work.file("out.pdf"))).output,
              shell("qpdf --password=o --show-encryption " + q(work.file("in.pdf"))).output);
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, Password,
    testing::Values(
        // The user's password, in PDFDocEncoding or after SASLprep.
        PasswordCase{"UserRc4", "128 --use-aes=n", {"--password", "p\xC3\xA4sswort"}, ""},
        PasswordCase{"UserAes128", "128 --use-aes=y", {"--password=p\xC3\xA4sswort"}, ""},
        PasswordCase{"UserAes256", "256", {"--password", "p\xC3\xA4sswort"}, ""},
        PasswordCase{"Owner", "256", {"--password=o"}, ""},
        PasswordCase{"OwnerFromAFile", "40", {"--password-file", "password.txt"}, ""},
        // The owner's password lifts the permissions; the user's does not.
        PasswordCase{"OwnerOfRestricted", "256 --modify=none", {"--password", "o"}, ""},
        PasswordCase{"UserOfRestricted",
                     "128 --modify=none",
                     {"--password", "p\xC3\xA4sswort"},
                     "permissions do not allow changing it"},
        PasswordCase{"Wrong", "256", {"--password", "wrong"}, "the password given does not open it"},
        PasswordCase{"NotInPdfDocEncoding", "128 --use-aes=y", {"--password=\xE4\xB8\xAD"}, "PDFDocEncoding"},
        PasswordCase{"None", "256", {}, "PDF file is encrypted"},
        PasswordCase{"Misspelt", "256", {"--pasword", "s3cret"}, "Error in parameter after --pasword"},
        PasswordCase{"MisspeltJoined", "256", {"--pasword=s3cret"}, "PDF file is encrypted"}),
    [](const testing::TestParamInfo<PasswordCase>& info) { return std::string(info.param.name); });

// A password file that has no size to ask for: read once, by a list run too.
struct PipedPasswordCase {
    const char* name;
    std::string script; // runs $V with the password file's option last
};
std::ostream& operator<<(std::ostream& out, const PipedPasswordCase& c) { return out << c.name; }
class PipedPassword : public testing::TestWithParam<PipedPasswordCase> {};

TEST_P(PipedPassword, OpensTheFile)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    Workspace work;
    work.write("clean.pdf", twoPages(Layout::Classic).bytes);
    ASSERT_EQ(shell("qpdf --encrypt u o 256 -- " + q(work.file("clean.pdf")) + " " + q(work.file("in.pdf"))).status, 0);
    work.write("list.txt", "in.pdf\n");
    const vtest::CommandResult run = shell("cd " + q(work.path()) + " && V=" + q(vtest::vellicoBinary()) +
                                           " && A='-ilist.txt -fout -jstamp.jpg' && " + GetParam().script);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string check = shell("qpdf --password=u --check " + q(work.file("out/in.pdf"))).output;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PipedPassword,
    testing::Values(PipedPasswordCase{"StandardInput", "printf 'u\\n' | $V $A --password-file -"},
                    // As a shell's <(echo u) gives it: once sized by its length, 0, it read as empty.
                    PipedPasswordCase{"Fifo", "mkfifo pw && { printf 'u\\n' > pw & } && $V $A --password-file pw"}),
    [](const testing::TestParamInfo<PipedPasswordCase>& info) { return std::string(info.param.name); });

} // namespace
