// Writes the seed corpus: one file for each structure the test-PDF builder
// can make, with a few page layouts, so the fuzzers start from real documents.
#include <algorithm>
#include <cstdio>
#include <string>

#include "crypt/CSecurityHandler.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"
#include "tests/support/PdfBuilder.h"

using vtest::PdfBuilder;
using vtest::XrefKind;
using vtest::XrefStreamOptions;

namespace {

// Catalog, a Pages node and two pages with the given extras.
void addPages(PdfBuilder& b, const std::string& pageExtra, bool compressPages = false, int objStm = 0)
{
    int catalog = b.reserve(), pages = b.reserve(), page1 = b.reserve(), page2 = b.reserve();
    int content = b.addStream("", "q 1 0 0 RG 10 10 100 100 re S Q");
    int font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    int resources = b.add("<< /Font << /F1 " + std::to_string(font) + " 0 R >> >>");
    b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
    b.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page1) + " 0 R " + std::to_string(page2) +
                     " 0 R] /Count 2 /MediaBox [0 0 595 842] /Resources " + std::to_string(resources) + " 0 R >>");
    b.set(page1, "<< /Type /Page /Parent " + std::to_string(pages) + " 0 R /Contents " + std::to_string(content) +
                     " 0 R " + pageExtra + " >>");
    b.set(page2, "<< /Type /Page /Parent " + std::to_string(pages) + " 0 R /Rotate 90 /CropBox [10 10 500 800]" +
                     " /Contents [" + std::to_string(content) + " 0 R] /Resources << /XObject << >> >> >>");
    if (compressPages) {
        b.compress(page1, objStm);
        b.compress(page2, objStm);
        b.compress(resources, objStm);
    }
    b.setRoot(catalog);
}

// Encryption dictionaries qpdf wrote with the empty user password, and
// their file's first /ID, for the security handler's fuzzing.
const char* const kFirstId = "<44f07d11055b2dcc099e964b0ccc362b>";
const char* const kEncryptDicts[][2] = {
    {"rc4-128",
     "<< /Filter /Standard /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 3"
     " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 2 >>"},
    {"aes-128",
     "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /Filter /Standard /Length 128"
     " /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 4 /StmF /StdCF /StrF /StdCF"
     " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 4 >>"},
    {"aes-256",
     "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
     " /O <3f72ea429532b56d7b8e7cd9de0f4b25924d103ab2b6f3e17fbc4827a2cd8523f112e5447301fb8e09b64ab1ac962b1e>"
     " /OE <146406cb0f9ad3f0dde218fa3351b6d4d1e49baec8fdb36c6874d1cdc7f76c34> /P -4"
     " /Perms <c046345fe7739e73b7d70c56a3b02609> /R 6 /StmF /StdCF /StrF /StdCF"
     " /U <bdf84ad828981755aa3167c66711683994aedd1b503fdeb49b2c00db3674a7429864266fa0fd02fe843968253cfac6d0>"
     " /UE <c07936c84ab09549256b7f2b1fbd5c3f1b37f5e29eabefdfe0bad8797e96d680> /V 5 >>"},
};

// `text` parsed as one value, strings with their bytes.
CPdfObject parsedValue(const std::string& text)
{
    CPdfObject value;
    CPdfParser(nullptr, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()), true)
        .parseObject(value);
    return value;
}

// The data of stream object `num` in `pdf` encrypted for it, as a writer of
// an encrypted file leaves it; the /Length is made right, so with AES (which
// adds an IV and padding) the offsets after it are off and the file is rebuilt.
std::string encryptStreamData(std::string pdf, int num, const CSecurityHandler& security)
{
    const size_t object = pdf.find("\n" + std::to_string(num) + " 0 obj");
    const size_t length = pdf.find("/Length ", object) + 8;
    const size_t start = pdf.find("stream\n", object) + 7;
    const size_t end = pdf.find("\nendstream", start);
    if (object == std::string::npos || end == std::string::npos || length > start)
        return pdf;
    const std::string encrypted = security.encryptStream(num, 0, pdf.substr(start, end - start));
    pdf.replace(start, end - start, encrypted);
    return pdf.replace(length, pdf.find_first_not_of("0123456789", length) - length, std::to_string(encrypted.size()));
}

void write(const PdfBuilder& b, const std::string& folder, const std::string& name)
{
    b.writeTo(folder + "/" + name + ".pdf");
}

void writeBytes(const std::string& bytes, const std::string& folder, const std::string& name)
{
    std::FILE* file = std::fopen((folder + "/" + name + ".pdf").c_str(), "wb");
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// The same document damaged the ways real files are, so that the repair
// path (the scan, the rebuilt table, corrected lengths) is fuzzed too.
void writeDamaged(const PdfBuilder& b, const std::string& folder, const std::string& name)
{
    const std::string pdf = b.build();
    const size_t table = pdf.rfind("\nxref\n");
    const size_t middle = pdf.size() / 2;
    writeBytes(pdf.substr(0, middle), folder, name + "-cut");
    writeBytes(pdf.substr(0, middle) + "\n% inserted\n" + pdf.substr(middle), folder, name + "-shifted");
    if (table != std::string::npos) {
        writeBytes(pdf.substr(0, table + 1), folder, name + "-no-table");
        std::string swapped = pdf;
        const size_t first = swapped.find(" n", table) - 16;
        if (first + 40 < swapped.size())
            std::swap_ranges(swapped.begin() + static_cast<std::ptrdiff_t>(first),
                             swapped.begin() + static_cast<std::ptrdiff_t>(first + 20),
                             swapped.begin() + static_cast<std::ptrdiff_t>(first + 20));
        writeBytes(swapped, folder, name + "-swapped");
    }
    std::string length = pdf;
    const size_t at = length.find("/Length ");
    if (at != std::string::npos)
        length.replace(at + 8, 1, "9");
    writeBytes(length, folder, name + "-length");
    std::string crlf;
    for (char c : pdf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    writeBytes(crlf, folder, name + "-crlf");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    {
        PdfBuilder b;
        addPages(b, "/Resources << /Font << >> >>");
        write(b, folder, "classic");
        writeDamaged(b, folder, "classic");
    }
    {
        PdfBuilder b;
        addPages(b, "");
        b.beginUpdate();
        b.setInfo(b.add("<< /Producer (update) >>"));
        write(b, folder, "update");
    }
    for (bool png : {false, true}) {
        PdfBuilder b;
        XrefStreamOptions options;
        options.pngUp = png;
        options.index = png;
        b.setXref(XrefKind::Stream, options);
        int objStm = b.addObjectStream();
        addPages(b, "/TrimBox [20 20 575 822]", true, objStm);
        write(b, folder, png ? "xref-stream-png" : "xref-stream");
        writeDamaged(b, folder, png ? "xref-stream-png" : "xref-stream");
    }
    {
        PdfBuilder b;
        b.setXref(XrefKind::Hybrid);
        int objStm = b.addObjectStream();
        addPages(b, "", true, objStm);
        write(b, folder, "hybrid");
    }
    {
        PdfBuilder b;
        b.setJunkPrefix("JUNK\r\n");
        addPages(b, "/Rotate -90 /MediaBox 9 0 R");
        write(b, folder, "junk-prefix");
    }
    for (const auto& [name, dict] : kEncryptDicts) {
        PdfBuilder b;
        addPages(b, "");
        const int encrypt = b.add(dict);
        b.setTrailerExtra("/Encrypt " + std::to_string(encrypt) + " 0 R /ID [" + kFirstId + kFirstId + "]");
        write(b, folder, std::string("encrypted-") + name);

        // Pages with strings in an object stream whose data is encrypted.
        PdfBuilder compressed;
        compressed.setXref(XrefKind::Stream);
        const int objStm = compressed.addObjectStream();
        addPages(compressed, "/PageLabel (one) /Note <0041>", true, objStm);
        const int dictionary = compressed.add(dict);
        compressed.setTrailerExtra("/Encrypt " + std::to_string(dictionary) + " 0 R /ID [" + kFirstId + kFirstId + "]");
        try {
            const CSecurityHandler security(parsedValue(dict), parsedValue(kFirstId).textString());
            writeBytes(encryptStreamData(compressed.build(), objStm, security), folder,
                       std::string("encrypted-objstm-") + name);
        } catch (const CPdfException&) {
        }
    }
    // Object texts as the page tree walk and the resource edit read them,
    // for the parser target's comparison with the dictionary scanner.
    const char* objects[] = {
        "4 0 obj\n<< /Type /Page /Parent 1 0 R /MediaBox [0 0 612 792] /Resources 6 0 R "
        "/Contents [ 31 0 R 5 0 R 32 0 R ]>>\nendobj\n",
        "6 0 obj\n<</ExtGState << /GS1 34 0 R >>/XObject << /Im1 35 0 R >> /Font << /F1 2 0 R >> "
        "/ProcSet [/PDF /Text] >>\nendobj\n",
        "7 0 obj<</Type/Page/CropBox[-5.5 .5 595.276 842]/Rotate -90/Resources<</XObject 8 0 R>>>>endobj",
    };
    int index = 0;
    for (const char* text : objects) {
        std::FILE* file = std::fopen((folder + "/object-" + std::to_string(index++) + ".txt").c_str(), "wb");
        if (file) {
            std::fputs(text, file);
            std::fclose(file);
        }
    }
    return 0;
}
