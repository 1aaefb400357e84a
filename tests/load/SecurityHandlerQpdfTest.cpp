// The security handler against qpdf as an outside oracle, on files it
// encrypts at test time (fresh /ID each run): our file key is the one qpdf
// shows, our decryption of a string and a stream is qpdf's, and what we
// encrypt qpdf decrypts. Skipped when qpdf is not installed.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "load/CSecurityHandler.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace {

using EState = CSecurityHandler::EState;
using vtest::hex;
using vtest::qpdf;

const std::string kTitle = "Known title";
const std::string kContent = "BT /F1 12 Tf 20 20 Td (Hello, encrypted world) Tj ET";

CPdfStream* memoryStream(const std::shared_ptr<const std::string>& owner, size_t from)
{
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()) + from, owner->size() - from);
}

CPdfObject entry(const CPdfObject& dict, const char* key)
{
    CPdfObject value;
    dict.dictValue()->getValueUnresolved(key, value);
    return value;
}

// One object of a file qpdf wrote without object streams: its value (strings
// keep their bytes), the value's text, and a stream's raw data.
struct RawObject {
    CPdfObject value;
    std::string text;
    std::string data;
};

class QpdfOutput {
public:
    explicit QpdfOutput(const std::string& path) : m_bytes(std::make_shared<const std::string>(vtest::readFile(path)))
    {
        const size_t startxref = m_bytes->rfind("startxref");
        const size_t trailer = m_bytes->rfind("trailer");
        if (startxref == std::string::npos || trailer == std::string::npos)
            throw CPdfException("no trailer in qpdf's output");
        m_xref = std::stoul(m_bytes->substr(startxref + 9, 20));
        CPdfParser(nullptr, memoryStream(m_bytes, trailer + 7), true).parseObject(m_trailer);
        if (m_trailer.type() != PDF_DICT)
            throw CPdfException("no trailer dictionary in qpdf's output");
    }

    const CPdfObject& trailer() const { return m_trailer; }

    RawObject object(int num) const
    {
        // "xref\n0 N\n" and 20 bytes per entry: qpdf writes one subsection.
        const size_t entries = m_bytes->find('\n', m_bytes->find('\n', m_xref) + 1) + 1;
        const size_t offset = std::stoul(m_bytes->substr(entries + 20 * static_cast<size_t>(num), 10));
        CPdfParser parser(nullptr, memoryStream(m_bytes, offset), true);
        parser.setStreamsUnread(true);
        int n = 0, gen = 0;
        RawObject out;
        if (!parser.parseObjectHeader(n, gen) || n != num)
            throw CPdfException("object " + std::to_string(num) + " not where the table says");
        parser.parseObject(out.value);
        out.text = m_bytes->substr(offset + static_cast<size_t>(parser.valueBegin()),
                                   static_cast<size_t>(parser.valueEnd() - parser.valueBegin()));
        if (parser.currentToken().isKeyword("stream")) {
            size_t at = offset + static_cast<size_t>(parser.currentEnd());
            at += (*m_bytes)[at] == '\r';
            at += (*m_bytes)[at] == '\n';
            out.data = m_bytes->substr(at, static_cast<size_t>(entry(out.value, "Length").intValue()));
        }
        return out;
    }

private:
    std::shared_ptr<const std::string> m_bytes;
    size_t m_xref = 0;
    CPdfObject m_trailer;
};

// A one-page file with a title and an uncompressed content stream.
void writePlainFile(const std::string& path)
{
    vtest::PdfBuilder b;
    const int catalog = b.reserve(), pages = b.reserve(), page = b.reserve();
    const int contents = b.addStream("", kContent);
    const int info = b.add("<< /Title (" + kTitle + ") >>");
    b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
    b.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
    b.set(page, "<< /Type /Page /Parent " + std::to_string(pages) + " 0 R /MediaBox [0 0 200 200] /Contents " +
                    std::to_string(contents) + " 0 R >>");
    b.setRoot(catalog);
    b.setInfo(info);
    b.writeTo(path);
}

// The text after "label" up to the line end in qpdf's report.
std::string reportLine(const std::string& report, const std::string& label)
{
    const size_t at = report.find(label);
    if (at == std::string::npos)
        return "(no " + label + ")";
    const size_t begin = at + label.size();
    return report.substr(begin, report.find('\n', begin) - begin);
}

struct Mode {
    const char* name;
    const char* encrypt; // qpdf's --encrypt arguments after the passwords
    const char* userPassword;
    const char* ownerPassword;
    bool modifying;
    EState state;
};

const std::vector<Mode> kModes = {
    {"RC4 40", "40", "", "owner", true, EState::Open},
    {"RC4 40, changes forbidden", "40 --modify=n", "", "owner", false, EState::Open},
    {"RC4 128", "128 --use-aes=n", "", "owner", true, EState::Open},
    {"AES-128", "128 --use-aes=y", "", "owner", true, EState::Open},
    {"AES-128, clear metadata", "128 --use-aes=y --cleartext-metadata", "", "owner", true, EState::Open},
    {"AES-128, changes forbidden", "128 --use-aes=y --modify=none", "", "owner", false, EState::Open},
    {"AES-256 /R 5", "256 --force-R5", "", "owner", true, EState::Open},
    {"AES-256 /R 6", "256", "", "owner", true, EState::Open},
    {"AES-256 /R 6, changes forbidden", "256 --modify=none", "", "owner", false, EState::Open},
    {"RC4 40 with a user password", "40", "secret", "owner", true, EState::NeedsPassword},
    {"AES-128 with a user password", "128 --use-aes=y", "secret", "owner", true, EState::NeedsPassword},
    {"AES-256 with a user password", "256", "secret", "owner", true, EState::NeedsPassword},
    // qpdf makes an empty owner password the user's for /R 2 to 4, as Algorithm 3 says.
    {"AES-128 with an empty owner password", "128 --use-aes=y", "secret", "", true, EState::NeedsPassword},
    {"AES-256 /R 5 with an empty owner password", "256 --force-R5 --allow-insecure", "secret", "", true,
     EState::OpenAsOwner},
    {"AES-256 /R 6 with an empty owner password", "256 --allow-insecure", "secret", "", true, EState::OpenAsOwner},
};

// What qpdf encrypted, opened by us: the key, the title and the page's content.
struct Opened {
    QpdfOutput file;
    CSecurityHandler handler;
    int infoNum;
    int contentsNum;
    std::string encryptText;
    std::string idArray;
};

std::unique_ptr<Opened> openQpdfOutput(const std::string& path)
{
    QpdfOutput file(path);
    const CPdfObject& trailer = file.trailer();
    const RawObject encrypt = file.object(entry(trailer, "Encrypt").refNum());
    const CPdfObject ids = entry(trailer, "ID");
    CPdfObject first, second;
    ids.arrayValue()->getItem(0, first);
    ids.arrayValue()->getItem(1, second);
    const int infoNum = entry(trailer, "Info").refNum();
    const RawObject catalog = file.object(entry(trailer, "Root").refNum());
    const RawObject pages = file.object(entry(catalog.value, "Pages").refNum());
    CPdfObject kid;
    entry(pages.value, "Kids").arrayValue()->getItemUnresolved(0, kid);
    const RawObject page = file.object(kid.refNum());
    const int contentsNum = entry(page.value, "Contents").refNum();
    return std::unique_ptr<Opened>(new Opened{std::move(file), CSecurityHandler(encrypt.value, first.textString()),
                                              infoNum, contentsNum, encrypt.text,
                                              "[<" + hex(first.textString()) + "><" + hex(second.textString()) + ">]"});
}

} // namespace

TEST(SecurityHandlerQpdf, DecryptsWhatQpdfEncrypts)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf not installed";
    vtest::TempDir dir;
    const std::string plain = dir.file("plain.pdf");
    writePlainFile(plain);
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        const std::string out = dir.file("encrypted.pdf");
        const std::string made =
            qpdf("--allow-weak-crypto --compress-streams=n --object-streams=disable --encrypt " +
                 vtest::shellQuote(mode.userPassword) + " " + vtest::shellQuote(mode.ownerPassword) + " " +
                 mode.encrypt + " -- " + vtest::shellQuote(plain) + " " + vtest::shellQuote(out))
                .output;
        ASSERT_TRUE(vtest::fileExists(out)) << made;
        const std::unique_ptr<Opened> opened = openQpdfOutput(out);
        const CSecurityHandler& handler = opened->handler;
        const std::string report = qpdf("--show-encryption --show-encryption-key " + vtest::shellQuote(out)).output;
        EXPECT_EQ(handler.allowsModifying(), mode.modifying);
        EXPECT_EQ(reportLine(report, "modify other: "), handler.allowsModifying() ? "allowed" : "not allowed");
        ASSERT_EQ(handler.state(), mode.state);
        if (mode.state == EState::NeedsPassword) {
            EXPECT_NE(report.find("Incorrect password"), std::string::npos) << report;
            continue;
        }
        EXPECT_EQ(hex(handler.fileKey()), reportLine(report, "Encryption key = "));

        const RawObject info = opened->file.object(opened->infoNum);
        const std::string title = handler.decryptString(opened->infoNum, 0, entry(info.value, "Title").textString());
        EXPECT_EQ(title, kTitle);
        const std::string shown =
            qpdf("--show-object=" + std::to_string(opened->infoNum) + " " + vtest::shellQuote(out)).output;
        EXPECT_NE(shown.find("/Title (" + title + ")"), std::string::npos) << shown;

        const RawObject contents = opened->file.object(opened->contentsNum);
        ASSERT_EQ(handler.streamMethodFor(contents.value), handler.streamMethod());
        EXPECT_NE(contents.data, kContent);
        const std::string data = handler.decryptStream(opened->contentsNum, 0, contents.data);
        EXPECT_EQ(data, kContent);
        EXPECT_EQ(qpdf("--show-object=" + std::to_string(opened->contentsNum) + " --raw-stream-data " +
                       vtest::shellQuote(out))
                      .output,
                  data);
    }
}

// New objects, encrypted by us for their own numbers under the dictionary
// and /ID qpdf wrote, are read back by qpdf in the clear.
TEST(SecurityHandlerQpdf, QpdfDecryptsWhatWeEncrypt)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf not installed";
    vtest::TempDir dir;
    const std::string plain = dir.file("plain.pdf");
    writePlainFile(plain);
    for (const Mode& mode : kModes) {
        if (mode.state == EState::NeedsPassword)
            continue;
        SCOPED_TRACE(mode.name);
        const std::string source = dir.file("source.pdf");
        qpdf("--allow-weak-crypto --object-streams=disable --encrypt " + vtest::shellQuote(mode.userPassword) + " " +
             vtest::shellQuote(mode.ownerPassword) + " " + mode.encrypt + " -- " +
             vtest::shellQuote(plain) + " " + vtest::shellQuote(source));
        const std::unique_ptr<Opened> opened = openQpdfOutput(source);
        const CSecurityHandler& handler = opened->handler;
        ASSERT_EQ(handler.state(), mode.state);

        // Numbers other than qpdf's, and a generation above 0, so a key made for the wrong object shows.
        vtest::PdfBuilder b;
        b.add("null");
        const int catalog = b.reserve(), pages = b.reserve(), page = b.reserve(), contents = b.reserve();
        const int info = b.reserve(), encrypt = b.reserve();
        b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
        b.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
        b.set(page, "<< /Type /Page /Parent " + std::to_string(pages) + " 0 R /MediaBox [0 0 200 200] /Contents " +
                        std::to_string(contents) + " 2 R >>");
        b.setStream(contents, "", handler.encryptStream(contents, 2, kContent), false, 2);
        b.set(info, "<< /Title <" + hex(handler.encryptString(info, 0, kTitle)) + "> >>");
        b.set(encrypt, opened->encryptText);
        b.setRoot(catalog);
        b.setInfo(info);
        b.setTrailerExtra("/Encrypt " + std::to_string(encrypt) + " 0 R /ID " + opened->idArray);
        const std::string ours = dir.file("ours.pdf");
        b.writeTo(ours);

        EXPECT_EQ(vtest::qpdfProblems(ours), "");
        EXPECT_NE(qpdf("--show-object=" + std::to_string(info) + " " + vtest::shellQuote(ours))
                      .output.find("/Title (" + kTitle + ")"),
                  std::string::npos);
        EXPECT_EQ(
            qpdf("--show-object=" + std::to_string(contents) + "," + "2 --raw-stream-data " + vtest::shellQuote(ours))
                .output,
            kContent);
    }
}
