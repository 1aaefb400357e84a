// Writes the benchmark inputs into a folder:
//   text-2000.pdf               2000 pages of Flate text, own /Resources each, Letter and A4, some /Rotate 90
//   text-2000-objstm.pdf        the same with a cross-reference stream and object streams
//   text-20000.pdf              20000 such pages
//   images-100.pdf              100 pages, each showing its own 1 MB JPEG
//   shared-resources-5000.pdf   5000 pages sharing one /Resources dictionary and one font set
//   batch/doc-N.pdf             2000 small documents (three pages each), listed in batch-list.txt
// The files are deterministic; a JPEG to embed is given on the command line.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/PdfBuilder.h"
#include "tests/support/TestPng.h"

namespace {

using vtest::PdfBuilder;
using vtest::XrefKind;
using vtest::XrefStreamOptions;

// Small deterministic generator, so every run writes the same bytes.
struct CRandom {
    uint64_t state = 0x2545F4914F6CDD1DULL;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16);
    }
};

// Text content of one page: lines of made-up words set with two fonts,
// about 3 KB once compressed, like a page of ordinary prose.
std::string pageText(CRandom& random, int page)
{
    std::ostringstream text;
    text << "BT /F1 18 Tf 72 740 Td (Page " << page << ") Tj ET\n";
    for (int line = 0; line < 62; ++line) {
        text << "BT /F" << (line % 3 == 0 ? 2 : 1) << " 9 Tf 72 " << (724 - line * 11) << " Td (";
        for (int word = 0; word < 11; ++word) {
            int letters = 2 + random.next() % 8;
            for (int i = 0; i < letters; ++i)
                text << static_cast<char>('a' + random.next() % 26);
            text << ' ';
        }
        text << ") Tj ET\n";
    }
    return text.str();
}

// Writes the document with a classic table, or with its plain objects packed
// 100 to an object stream and a PNG-predicted cross-reference stream.
void writeDocument(PdfBuilder& b, const std::string& path, int root, const std::vector<int>& plainObjects,
                   bool objectStreams, bool announce = true)
{
    b.setRoot(root);
    if (objectStreams) {
        int container = 0;
        for (size_t k = 0; k < plainObjects.size(); ++k) {
            if (k % 100 == 0)
                container = b.addObjectStream();
            b.compress(plainObjects[k], container);
        }
        XrefStreamOptions options;
        options.pngUp = true;
        b.setXref(XrefKind::Stream, options);
    }
    const std::string bytes = b.build();
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (announce)
        std::printf("%s: %.1f MB\n", path.c_str(), bytes.size() / 1048576.0);
}

// A catalog and a flat page tree over `kids`; returns the catalog.
int addTree(PdfBuilder& b, int pagesNum, const std::vector<int>& kids)
{
    std::string list;
    for (int kid : kids)
        list += std::to_string(kid) + " 0 R ";
    b.set(pagesNum, "<< /Type /Pages /Kids [" + list + "] /Count " + std::to_string(kids.size()) + " >>");
    return b.add("<< /Type /Catalog /Pages " + std::to_string(pagesNum) + " 0 R >>");
}

void textDocument(const std::string& path, int pageCount, bool objectStreams, bool sharedResources,
                  bool announce = true)
{
    CRandom random;
    PdfBuilder b;
    int pagesNum = b.reserve();
    int font1 = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    int font2 = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
    std::vector<int> plain = {pagesNum, font1, font2};
    const std::string fonts = "/Font << /F1 " + std::to_string(font1) + " 0 R /F2 " + std::to_string(font2) + " 0 R >>";
    const std::string resourceDict = "<< " + fonts + " /ProcSet [/PDF /Text] >>";
    int shared = 0;
    if (sharedResources) {
        shared = b.add(resourceDict);
        plain.push_back(shared);
    }
    std::vector<int> kids;
    for (int page = 1; page <= pageCount; ++page) {
        int pageNum = b.reserve();
        int content = b.addStream("", pageText(random, page), true);
        int resources = sharedResources ? shared : b.add(resourceDict);
        if (!sharedResources)
            plain.push_back(resources);
        const char* box = page % 2 ? "[0 0 612 792]" : "[0 0 595.276 841.89]";
        std::string rotate = page % 7 == 0 ? " /Rotate 90" : "";
        b.set(pageNum, "<< /Type /Page /Parent " + std::to_string(pagesNum) + " 0 R /MediaBox " + box + rotate +
                           " /Resources " + std::to_string(resources) + " 0 R /Contents " +
                           std::to_string(content) + " 0 R >>");
        plain.push_back(pageNum);
        kids.push_back(pageNum);
    }
    int catalog = addTree(b, pagesNum, kids);
    plain.push_back(catalog);
    writeDocument(b, path, catalog, plain, objectStreams, announce);
}

// The batch row's files: many small documents, half with object streams, and their list.
constexpr int kBatchFiles = 2000;

void batchFiles(const std::string& folder)
{
    std::filesystem::create_directories(folder + "/batch");
    std::ofstream list(folder + "/batch-list.txt");
    for (int file = 0; file < kBatchFiles; ++file) {
        const std::string name = "batch/doc-" + std::to_string(file) + ".pdf";
        textDocument(folder + "/" + name, 3, file % 2 == 1, false, false);
        list << name << "\n";
    }
    std::printf("%s/batch: %d files\n", folder.c_str(), kBatchFiles);
}

// The given JPEG made about 1 MB long with comment segments of varying
// bytes, so each page shows its own, real, image.
std::string bigJpeg(const std::string& jpeg, CRandom& random)
{
    std::string out = jpeg.substr(0, 2); // SOI
    for (int segment = 0; segment < 16; ++segment) {
        out += "\xFF\xFE";
        const int length = 65533;
        out += static_cast<char>((length + 2) >> 8);
        out += static_cast<char>((length + 2) & 0xFF);
        for (int i = 0; i < length; ++i)
            out += static_cast<char>(random.next() & 0xFF);
    }
    out += jpeg.substr(2);
    return out;
}

void imageDocument(const std::string& path, const std::string& jpeg, int pageCount)
{
    CRandom random;
    PdfBuilder b;
    int pagesNum = b.reserve();
    std::vector<int> kids;
    for (int page = 1; page <= pageCount; ++page) {
        int pageNum = b.reserve();
        int image = b.addStream("/Type /XObject /Subtype /Image /Width 254 /Height 63 /ColorSpace /DeviceRGB "
                                "/BitsPerComponent 8 /Filter /DCTDecode",
                                bigJpeg(jpeg, random));
        int content = b.addStream("", "q 500 0 0 124 56 600 cm /I1 Do Q");
        b.set(pageNum, "<< /Type /Page /Parent " + std::to_string(pagesNum) +
                           " 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /I1 " + std::to_string(image) +
                           " 0 R >> >> /Contents " + std::to_string(content) + " 0 R >>");
        kids.push_back(pageNum);
    }
    writeDocument(b, path, addTree(b, pagesNum, kids), {}, false);
}

// The pixel size in a JPEG's first frame header; 100 x 100 when there is none.
std::pair<int, int> jpegSize(const std::string& jpeg)
{
    for (size_t at = 2; at + 9 < jpeg.size();) {
        const int marker = static_cast<unsigned char>(jpeg[at + 1]);
        auto number = [&jpeg](size_t i) { return static_cast<unsigned char>(jpeg[i]) << 8 | static_cast<unsigned char>(jpeg[i + 1]); };
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return {number(at + 7), number(at + 5)};
        at += 2 + static_cast<size_t>(number(at + 2));
    }
    return {100, 100};
}

// PNG stamps of the JPEG's pixel size, their colours varied as a photo's:
// opaque RGB, and RGB with alpha.
void pngStamps(const std::string& folder, const std::string& jpeg)
{
    vtest::PngPlan plan;
    plan.noise = true;
    std::tie(plan.width, plan.height) = jpegSize(jpeg);
    std::ofstream(folder + "/logo-opaque.png", std::ios::binary) << vtest::bandPng(plan);
    plan.kind = vtest::PngKind::RgbAlpha;
    std::ofstream(folder + "/logo-alpha.png", std::ios::binary) << vtest::bandPng(plan);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_inputs FOLDER JPEG\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    textDocument(folder + "/text-2000.pdf", 2000, false, false);
    textDocument(folder + "/text-2000-objstm.pdf", 2000, true, false);
    textDocument(folder + "/text-20000.pdf", 20000, false, false);
    imageDocument(folder + "/images-100.pdf", jpeg, 100);
    textDocument(folder + "/shared-resources-5000.pdf", 5000, false, true);
    pngStamps(folder, jpeg);
    batchFiles(folder); // last: its list tells that the inputs are complete
    return 0;
}
