// Writes the benchmark inputs into a folder:
//   text-2000.pdf               2000 pages of Flate text, own /Resources each, Letter and A4, some /Rotate 90
//   text-2000-objstm.pdf        the same with a cross-reference stream and object streams
//   text-20000.pdf              20000 such pages
//   images-100.pdf              100 pages, each showing its own 1 MB JPEG
//   shared-resources-5000.pdf   5000 pages sharing one /Resources dictionary and one font set
// The files are deterministic; a JPEG to embed is given on the command line.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

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

std::string deflate(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 6);
    out.resize(size);
    return out;
}

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

// Collects objects and writes them with a classic table, or with object
// streams and a cross-reference stream.
class CWriter {
public:
    int reserve() { return m_next++; }
    void set(int num, std::string body) { m_bodies[num] = std::move(body); }
    void setStream(int num, const std::string& dict, const std::string& data)
    {
        std::string body = "<< /Length " + std::to_string(data.size()) + " " + dict + " >>\nstream\n";
        body += data;
        body += "\nendstream";
        m_bodies[num] = std::move(body);
        m_streams.push_back(num);
    }
    void write(const std::string& path, int root, bool objectStreams)
    {
        std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        std::vector<long> offsets(m_next + 64, 0);
        std::vector<std::pair<int, int>> compressed(m_next + 64, {0, 0}); // object stream, index
        std::vector<bool> isStream(m_next + 64, false);
        for (int num : m_streams)
            isStream[num] = true;
        int size = m_next;
        if (objectStreams) {
            // 100 objects per object stream; streams stay outside.
            std::vector<int> batch;
            auto flush = [&]() {
                if (batch.empty())
                    return;
                std::string header, data;
                for (int num : batch) {
                    header += std::to_string(num) + " " + std::to_string(data.size()) + " ";
                    data += m_bodies[num] + "\n";
                }
                int container = size++;
                for (size_t k = 0; k < batch.size(); ++k)
                    compressed[batch[k]] = {container, static_cast<int>(k)};
                std::string packed = deflate(header + data);
                offsets.resize(size + 2, 0);
                compressed.resize(size + 2, {0, 0});
                offsets[container] = static_cast<long>(out.size());
                out += std::to_string(container) + " 0 obj\n<< /Type /ObjStm /N " + std::to_string(batch.size()) +
                       " /First " + std::to_string(header.size()) + " /Filter /FlateDecode /Length " +
                       std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream\nendobj\n";
                batch.clear();
            };
            for (auto& [num, body] : m_bodies) {
                if (isStream[num]) {
                    offsets[num] = static_cast<long>(out.size());
                    out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
                } else {
                    batch.push_back(num);
                    if (batch.size() == 100)
                        flush();
                }
            }
            flush();
            // Cross-reference stream with rows of 1 + 4 + 2 bytes, PNG Up predicted.
            int xrefNum = size++;
            offsets.resize(size + 1, 0);
            compressed.resize(size + 1, {0, 0});
            long xrefOffset = static_cast<long>(out.size());
            offsets[xrefNum] = xrefOffset;
            std::string rows;
            std::string previous(7, '\0');
            for (int num = 0; num < size; ++num) {
                unsigned char row[7] = {0, 0, 0, 0, 0, 0, 0};
                if (num == 0) {
                    row[5] = row[6] = 0xFF;
                } else if (compressed[num].first) {
                    row[0] = 2;
                    uint32_t v = static_cast<uint32_t>(compressed[num].first);
                    row[1] = v >> 24, row[2] = v >> 16, row[3] = v >> 8, row[4] = v;
                    row[5] = compressed[num].second >> 8, row[6] = compressed[num].second & 0xFF;
                } else if (offsets[num]) {
                    row[0] = 1;
                    uint32_t v = static_cast<uint32_t>(offsets[num]);
                    row[1] = v >> 24, row[2] = v >> 16, row[3] = v >> 8, row[4] = v;
                }
                rows += '\x02';
                for (int i = 0; i < 7; ++i)
                    rows += static_cast<char>(row[i] - static_cast<unsigned char>(previous[i]));
                previous.assign(reinterpret_cast<char*>(row), 7);
            }
            std::string packed = deflate(rows);
            out += std::to_string(xrefNum) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) +
                   " /Root " + std::to_string(root) +
                   " 0 R /W [1 4 2] /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 7 >> /Length " +
                   std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream\nendobj\n";
            out += "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
        } else {
            for (auto& [num, body] : m_bodies) {
                offsets[num] = static_cast<long>(out.size());
                out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
            }
            long xrefOffset = static_cast<long>(out.size());
            out += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
            char entry[32];
            for (int num = 1; num < size; ++num) {
                std::snprintf(entry, sizeof entry, "%010ld 00000 %c \n", offsets[num], offsets[num] ? 'n' : 'f');
                out += entry;
            }
            out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) +
                   " 0 R >>\nstartxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
        }
        std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
        std::printf("%s: %.1f MB\n", path.c_str(), out.size() / 1048576.0);
    }

private:
    int m_next = 1;
    std::map<int, std::string> m_bodies;
    std::vector<int> m_streams;
};

// A catalog and a flat page tree over `kids`.
int addTree(CWriter& w, int pagesNum, const std::vector<int>& kids)
{
    std::string list;
    for (int kid : kids)
        list += std::to_string(kid) + " 0 R ";
    w.set(pagesNum, "<< /Type /Pages /Kids [" + list + "] /Count " + std::to_string(kids.size()) + " >>");
    int catalog = w.reserve();
    w.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(pagesNum) + " 0 R >>");
    return catalog;
}

void textDocument(const std::string& path, int pageCount, bool objectStreams, bool sharedResources)
{
    CRandom random;
    CWriter w;
    int pagesNum = w.reserve();
    int font1 = w.reserve(), font2 = w.reserve();
    w.set(font1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    w.set(font2, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
    const std::string fonts = "/Font << /F1 " + std::to_string(font1) + " 0 R /F2 " + std::to_string(font2) + " 0 R >>";
    int shared = 0;
    if (sharedResources) {
        shared = w.reserve();
        w.set(shared, "<< " + fonts + " /ProcSet [/PDF /Text] >>");
    }
    std::vector<int> kids;
    for (int page = 1; page <= pageCount; ++page) {
        int pageNum = w.reserve(), content = w.reserve();
        int resources = shared;
        if (!sharedResources) {
            resources = w.reserve();
            w.set(resources, "<< " + fonts + " /ProcSet [/PDF /Text] >>");
        }
        w.setStream(content, "/Filter /FlateDecode", deflate(pageText(random, page)));
        const char* box = page % 2 ? "[0 0 612 792]" : "[0 0 595.276 841.89]";
        std::string rotate = page % 7 == 0 ? " /Rotate 90" : "";
        w.set(pageNum, "<< /Type /Page /Parent " + std::to_string(pagesNum) + " 0 R /MediaBox " + box + rotate +
                           " /Resources " + std::to_string(resources) + " 0 R /Contents " +
                           std::to_string(content) + " 0 R >>");
        kids.push_back(pageNum);
    }
    w.write(path, addTree(w, pagesNum, kids), objectStreams);
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
    CWriter w;
    int pagesNum = w.reserve();
    std::vector<int> kids;
    for (int page = 1; page <= pageCount; ++page) {
        int pageNum = w.reserve(), content = w.reserve(), image = w.reserve();
        std::string data = bigJpeg(jpeg, random);
        w.setStream(image, "/Type /XObject /Subtype /Image /Width 254 /Height 63 /ColorSpace /DeviceRGB "
                           "/BitsPerComponent 8 /Filter /DCTDecode", data);
        w.setStream(content, "", "q 500 0 0 124 56 600 cm /I1 Do Q");
        w.set(pageNum, "<< /Type /Page /Parent " + std::to_string(pagesNum) +
                           " 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /I1 " + std::to_string(image) +
                           " 0 R >> >> /Contents " + std::to_string(content) + " 0 R >>");
        kids.push_back(pageNum);
    }
    w.write(path, addTree(w, pagesNum, kids), false);
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
    return 0;
}
