#include "tests/support/PdfBuilder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

using vtest::PdfBuilder;
using vtest::XrefKind;
using vtest::XrefStreamOptions;

namespace {

std::string ref(int num, int gen = 0) {
    return std::to_string(num) + " " + std::to_string(gen) + " R";
}

bool haveQpdf() {
    return std::system("command -v qpdf >/dev/null 2>&1") == 0;
}

struct Output {
    int status;
    std::string text;
};

struct PipeCloser {
    void operator()(FILE* f) const { pclose(f); }
};

Output run(const std::string& command) {
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    if (!pipe)
        throw std::runtime_error("popen failed: " + command);
    std::string text;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0)
        text.append(buf.data(), n);
    const int status = pclose(pipe.release());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::filesystem::path tempDir() {
    return std::filesystem::temp_directory_path() / ("vellico-builder-test-" + std::to_string(getpid()));
}

std::string inflate(const std::string& in, std::size_t expected) {
    std::string out(expected, '\0');
    uLongf len = static_cast<uLongf>(out.size());
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(in.data()),
                   static_cast<uLong>(in.size())) != Z_OK)
        throw std::runtime_error("inflate failed");
    out.resize(len);
    return out;
}

// The builder plus what each object must read back as (in qpdf's canonical
// form: sorted keys, single spaces), so one check covers every file.
struct Doc {
    PdfBuilder b;
    std::string junk;
    std::map<int, std::pair<int, std::string>> bodies; // num -> (gen, body)
    std::map<int, std::pair<std::string, bool>> streams; // num -> (data, flate)
    std::map<int, std::pair<int, int>> packed;           // num -> (object stream, index)
    std::map<int, int> packCount;                        // object stream -> members so far
    std::set<int> freed;

    int add(const std::string& body) {
        const int n = b.add(body);
        bodies[n] = {0, body};
        return n;
    }
    void set(int n, const std::string& body, int gen = 0) {
        b.set(n, body, gen);
        forget(n);
        bodies[n] = {gen, body};
    }
    int addStream(const std::string& dict, const std::string& data, bool flate) {
        const int n = b.addStream(dict, data, flate);
        streams[n] = {data, flate};
        return n;
    }
    void compress(int n, int objStm) {
        b.compress(n, objStm);
        packed[n] = {objStm, packCount[objStm]++};
    }
    void free(int n) {
        b.free(n);
        forget(n);
        freed.insert(n);
    }
    void forget(int n) {
        bodies.erase(n);
        streams.erase(n);
        packed.erase(n);
        freed.erase(n);
    }
    void setJunk(const std::string& j) {
        junk = j;
        b.setJunkPrefix(j);
    }
};

// A one-page document; returns the catalog.
int addPageTree(Doc& d, bool flateContents = true) {
    const int pages = d.b.reserve();
    const int contents = d.addStream("", "0 0 m 100 100 l S", flateContents);
    const int page = d.add("<< /Contents " + ref(contents) + " /MediaBox [ 0 0 200 200 ] /Parent " + ref(pages) +
                           " /Type /Page >>");
    d.set(pages, "<< /Count 1 /Kids [ " + ref(page) + " ] /Type /Pages >>");
    const int catalog = d.add("<< /Pages " + ref(pages) + " /Type /Catalog >>");
    d.b.setRoot(catalog);
    return catalog;
}

class PdfBuilderTest : public ::testing::Test {
protected:
    // Checks the bytes on their own, then (when qpdf is around) that qpdf
    // accepts the file and reads every object back as written.
    void verify(const Doc& d, const std::string& name) {
        const std::string bytes = d.b.build();
        ASSERT_EQ(bytes, d.b.build()) << "build() must be deterministic";
        ASSERT_EQ(bytes.compare(0, d.junk.size(), d.junk), 0);
        const std::string file = bytes.substr(d.junk.size()); // offsets count from here
        ASSERT_EQ(file.compare(0, 5, "%PDF-"), 0);

        auto expectObjectAt = [&](int num, int gen) {
            const long off = d.b.objectOffset(num);
            ASSERT_GE(off, 0) << "object " << num;
            const std::string head = std::to_string(num) + " " + std::to_string(gen) + " obj";
            EXPECT_EQ(file.compare(static_cast<std::size_t>(off), head.size(), head), 0) << "object " << num;
        };
        for (const auto& [num, body] : d.bodies)
            if (!d.packed.count(num))
                expectObjectAt(num, body.first);
        for (const auto& [num, s] : d.streams)
            expectObjectAt(num, 0);
        for (const auto& [num, where] : d.packed)
            EXPECT_EQ(d.b.objectOffset(num), -1) << "object " << num;
        const std::string tail = file.substr(static_cast<std::size_t>(d.b.lastXrefOffset()));
        EXPECT_TRUE(tail.compare(0, 5, "xref\n") == 0 || std::regex_search(tail, std::regex("^\\d+ 0 obj")));

        if (!haveQpdf())
            GTEST_SKIP() << "qpdf not on PATH";
        std::filesystem::create_directories(tempDir());
        const std::string path = (tempDir() / (name + ".pdf")).string();
        std::ofstream(path, std::ios::binary) << bytes;
        const std::string q = " '" + path + "'";

        const Output check = run("qpdf --check" + q + " 2>&1");
        EXPECT_EQ(check.status, 0) << check.text;
        EXPECT_NE(check.text.find("No syntax or stream encoding errors"), std::string::npos) << check.text;

        for (const auto& [num, body] : d.bodies) {
            const std::string obj = std::to_string(num) + "," + std::to_string(body.first);
            EXPECT_EQ(run("qpdf --show-object=" + obj + q).text, body.second + "\n") << "object " << num;
        }
        for (const auto& [num, s] : d.streams) {
            const std::string show = "qpdf --show-object=" + std::to_string(num) + q;
            EXPECT_EQ(run(show + " --filtered-stream-data").text, s.first) << "object " << num;
            const std::string raw = run(show + " --raw-stream-data").text;
            if (s.second)
                EXPECT_NE(bytes.find("stream\n" + raw + "\nendstream"), std::string::npos) << "object " << num;
            else
                EXPECT_EQ(raw, s.first) << "object " << num;
        }
        for (int num : d.freed)
            EXPECT_EQ(run("qpdf --show-object=" + std::to_string(num) + q).text, "null\n") << "object " << num;

        // qpdf's view of the cross-reference data must match where things landed.
        std::set<int> seen;
        std::istringstream xref(run("qpdf --show-xref" + q).text);
        const std::regex plain(R"((\d+)/(\d+): uncompressed; offset = (\d+))");
        const std::regex inStream(R"((\d+)/0: compressed; stream = (\d+), index = (\d+))");
        for (std::string line; std::getline(xref, line);) {
            std::smatch m;
            if (std::regex_match(line, m, plain)) {
                EXPECT_EQ(std::stol(m[3]), d.b.objectOffset(std::stoi(m[1]))) << line;
            } else if (std::regex_match(line, m, inStream)) {
                auto it = d.packed.find(std::stoi(m[1]));
                ASSERT_NE(it, d.packed.end()) << line;
                EXPECT_EQ(it->second, std::make_pair(std::stoi(m[2]), std::stoi(m[3]))) << line;
            } else {
                ADD_FAILURE() << "unexpected xref line: " << line;
                continue;
            }
            seen.insert(std::stoi(m[1]));
        }
        for (const auto& [num, body] : d.bodies)
            EXPECT_TRUE(seen.count(num)) << "object " << num << " missing from the xref";
        for (int num : d.freed)
            EXPECT_FALSE(seen.count(num)) << "freed object " << num << " still listed";

        // Keep the file of a failing test for a look; otherwise tidy up.
        if (!HasFailure()) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            std::filesystem::remove(tempDir(), ignored); // only goes when empty
        }
    }
};

TEST_F(PdfBuilderTest, ClassicSingleSection) {
    Doc d;
    addPageTree(d);
    d.b.setInfo(d.add("<< /Producer (vtest) /Title (Classic) >>"));
    const int later = d.b.reserve();
    d.set(later, "[ 1 2.5 /Name (text) true null ]", 2); // generation other than 0
    const int raw = d.b.reserve();
    d.b.setRaw(raw, std::to_string(raw) + " 0 obj<</Kind/Raw>>endobj");
    d.bodies[raw] = {0, "<< /Kind /Raw >>"};
    d.addStream("/Kind /Plain", "plain bytes", false);

    const std::string bytes = d.b.build();
    EXPECT_NE(bytes.find("xref\n0 9\n0000000000 65535 f\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("/Prev"), std::string::npos);
    verify(d, "classic");
}

TEST_F(PdfBuilderTest, IncrementalUpdateRedefinesAndFrees) {
    Doc d;
    addPageTree(d);
    const int info = d.add("<< /Title (Before) >>");
    d.b.setInfo(info);
    const int doomed = d.add("<< /Note (to be freed) >>");
    d.b.build();
    const long firstXref = d.b.lastXrefOffset();

    d.b.beginUpdate();
    d.set(info, "<< /Title (After) >>");
    d.free(doomed);
    const int fresh = d.add("<< /Note (new in the update) >>");

    const std::string bytes = d.b.build();
    EXPECT_NE(bytes.find("/Prev " + std::to_string(firstXref)), std::string::npos);
    // Subsections only for what the update touches: the info, then the freed and new objects.
    const std::string update = bytes.substr(static_cast<std::size_t>(d.b.lastXrefOffset()));
    EXPECT_EQ(update.rfind("xref\n" + std::to_string(info) + " 3\n", 0), 0u) << update;
    EXPECT_NE(update.find("0000000000 00001 f\r\n"), std::string::npos);
    EXPECT_NE(update.find("/Size " + std::to_string(fresh + 1)), std::string::npos);
    verify(d, "incremental");
}

TEST_F(PdfBuilderTest, IncrementalUpdateWithXrefStreamAndObjectStream) {
    // Without /Index the update's stream lists 0..Size-1, so untouched objects
    // must keep their old rows rather than turn free.
    for (bool index : {true, false}) {
        SCOPED_TRACE(index ? "with /Index" : "without /Index");
        Doc d;
        addPageTree(d);
        const int info = d.add("<< /Title (Before) >>");
        d.b.setInfo(info);
        const int doomed = d.add("<< /Note (to be freed) >>");
        d.b.setXref(XrefKind::Stream);

        d.b.beginUpdate();
        XrefStreamOptions o;
        o.index = index;
        o.pngUp = !index;
        d.b.setXref(XrefKind::Stream, o);
        const int objStm = d.b.addObjectStream();
        d.set(info, "<< /Title (After) >>");
        d.compress(info, objStm);
        d.compress(d.add("<< /Note (packed in the update) >>"), objStm);
        d.free(doomed);
        verify(d, index ? "incremental-stream-index" : "incremental-stream-full");
    }
}

struct StreamCase {
    const char* name;
    XrefStreamOptions o;
};

// Keeps ctest's test names readable.
void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class XrefStreamLayout : public PdfBuilderTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(XrefStreamLayout, ReadsBack) {
    Doc d;
    addPageTree(d, GetParam().o.flate);
    d.b.setInfo(d.add("<< /Title (Xref stream) >>"));
    d.addStream("/Kind /Plain", "plain bytes", false);
    d.b.setXref(XrefKind::Stream, GetParam().o);

    const std::string bytes = d.b.build();
    const XrefStreamOptions& o = GetParam().o;
    const std::string w = "/W [ " + std::to_string(o.w0) + " " + std::to_string(o.w1) + " " +
                          std::to_string(o.w2) + " ]";
    EXPECT_NE(bytes.find(w), std::string::npos);
    EXPECT_EQ(bytes.find("/Index") != std::string::npos, o.index);
    EXPECT_EQ(bytes.find("/Predictor 12") != std::string::npos, o.pngUp);
    EXPECT_EQ(bytes.find("\nxref\n"), std::string::npos);
    verify(d, std::string("stream-") + GetParam().name);
}

XrefStreamOptions opts(int w0, int w1, int w2, bool flate, bool pngUp, bool index) {
    XrefStreamOptions o;
    o.w0 = w0, o.w1 = w1, o.w2 = w2, o.flate = flate, o.pngUp = pngUp, o.index = index;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Widths, XrefStreamLayout,
    ::testing::Values(StreamCase{"w121_plain", opts(1, 2, 1, false, false, false)},
                      StreamCase{"w121_plain_index", opts(1, 2, 1, false, false, true)},
                      StreamCase{"w121_flate", opts(1, 2, 1, true, false, false)},
                      StreamCase{"w121_png", opts(1, 2, 1, true, true, false)},
                      StreamCase{"w121_png_index", opts(1, 2, 1, true, true, true)},
                      StreamCase{"w142_flate", opts(1, 4, 2, true, false, false)},
                      StreamCase{"w142_plain_index", opts(1, 4, 2, false, false, true)},
                      StreamCase{"w142_png_index", opts(1, 4, 2, true, true, true)},
                      StreamCase{"w040_flate_index", opts(0, 4, 0, true, false, true)},
                      StreamCase{"w040_plain_index", opts(0, 4, 0, false, false, true)},
                      StreamCase{"w030_png_index", opts(0, 3, 0, true, true, true)}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// Decodes the rows by hand, independently of qpdf, to pin the exact layout.
TEST_F(PdfBuilderTest, XrefStreamRowsHonourWidths) {
    auto rowsOf = [](const XrefStreamOptions& o, std::string& expected) {
        Doc d;
        addPageTree(d);
        d.b.setXref(XrefKind::Stream, o);
        const std::string bytes = d.b.build();
        const std::size_t start = bytes.find("stream\n", static_cast<std::size_t>(d.b.lastXrefOffset())) + 7;
        const std::size_t end = bytes.rfind("\nendstream");
        // Rows 0..Size-1: free head, then objects 1..5 with the xref stream itself last.
        expected.clear();
        auto put = [&](unsigned long v, int width) {
            for (int i = width - 1; i >= 0; --i)
                expected += static_cast<char>((v >> (8 * i)) & 0xFF);
        };
        put(0, o.w0);
        put(0, o.w1);
        put(255, o.w2); // 65535 clamped to one byte
        for (int n = 1; n <= 5; ++n) {
            put(1, o.w0);
            put(static_cast<unsigned long>(d.b.objectOffset(n)), o.w1);
            put(0, o.w2);
        }
        return bytes.substr(start, end - start);
    };
    std::string expected;
    const std::string plain = rowsOf(opts(1, 2, 1, false, false, false), expected);
    EXPECT_EQ(plain, expected);

    const std::size_t columns = 4;
    const std::string png = inflate(rowsOf(opts(1, 2, 1, true, true, false), expected), 1000);
    ASSERT_EQ(png.size(), expected.size() / columns * (columns + 1));
    std::string above(columns, '\0'), decoded;
    for (std::size_t at = 0; at < png.size(); at += columns + 1) {
        EXPECT_EQ(png[at], '\x02');
        for (std::size_t i = 0; i < columns; ++i)
            above[i] = static_cast<char>(static_cast<unsigned char>(png[at + 1 + i]) +
                                         static_cast<unsigned char>(above[i]));
        decoded += above;
    }
    EXPECT_EQ(decoded, expected);
}

TEST_F(PdfBuilderTest, TwoObjectStreamsAlternate) {
    Doc d;
    addPageTree(d);
    const int first = d.b.addObjectStream();
    const int second = d.b.addObjectStream(false);
    for (int i = 0; i < 6; ++i) {
        const int n = d.add("<< /Seq " + std::to_string(i) + " /Text (member " + std::to_string(i) + ") >>");
        d.compress(n, i % 2 ? second : first);
    }
    const int info = d.add("<< /Title (Packed info) >>");
    d.compress(info, second);
    d.b.setInfo(info);
    d.b.setXref(XrefKind::Stream);
    EXPECT_EQ(d.packed.size(), 7u);
    verify(d, "objstm");
}

TEST_F(PdfBuilderTest, Hybrid) {
    Doc d;
    addPageTree(d);
    const int objStm = d.b.addObjectStream();
    const int info = d.add("<< /Title (Hybrid) >>");
    d.compress(info, objStm);
    d.compress(d.add("<< /Note (also packed) >>"), objStm);
    d.b.setInfo(info);
    d.b.setXref(XrefKind::Hybrid);

    const std::string bytes = d.b.build();
    EXPECT_NE(bytes.find("/XRefStm " + std::to_string(d.b.objectOffset(info + 2))), std::string::npos);
    EXPECT_NE(bytes.find("/Index [ " + std::to_string(info) + " 2 ]"), std::string::npos);
    // Old readers see the packed objects as free.
    const std::string table = bytes.substr(static_cast<std::size_t>(d.b.lastXrefOffset()));
    EXPECT_EQ(table.rfind("xref\n0 " + std::to_string(info + 3) + "\n", 0), 0u);
    EXPECT_NE(table.find("0000000000 00000 f\r\n0000000000 00000 f\r\n"), std::string::npos);
    verify(d, "hybrid");
}

TEST_F(PdfBuilderTest, JunkPrefixDoesNotShiftOffsets) {
    for (XrefKind kind : {XrefKind::Classic, XrefKind::Stream}) {
        SCOPED_TRACE(kind == XrefKind::Classic ? "classic" : "stream");
        Doc d;
        d.setJunk("JUNKJUNK\n");
        addPageTree(d);
        d.b.setInfo(d.add("<< /Title (Junk) >>"));
        d.b.setXref(kind);
        const std::string bytes = d.b.build();
        EXPECT_EQ(bytes.rfind("JUNKJUNK\n%PDF-1.7\n", 0), 0u);
        EXPECT_EQ(d.b.objectOffset(1), 15); // "%PDF-1.7\n" + 6-byte binary comment line
        verify(d, kind == XrefKind::Classic ? "junk" : "junk-stream");
    }
}

TEST_F(PdfBuilderTest, LargeFileWithPadding) {
    Doc d;
    addPageTree(d);
    d.b.setPadding(70000);
    const std::string bytes = d.b.build();
    EXPECT_GT(bytes.size(), 65536u);
    EXPECT_GT(d.b.lastXrefOffset(), 70000);
    EXPECT_LT(bytes.size() - static_cast<std::size_t>(d.b.lastXrefOffset()), 1024u);
    verify(d, "large");
}

TEST_F(PdfBuilderTest, EncryptedTrailerBuilds) {
    PdfBuilder b;
    const int catalog = b.add("<< /Type /Catalog >>");
    b.setRoot(catalog);
    b.setTrailerExtra("/Encrypt 9 0 R");
    std::string bytes;
    EXPECT_NO_THROW(bytes = b.build());
    EXPECT_NE(bytes.find("trailer\n<< /Size 2 /Root 1 0 R /Encrypt 9 0 R >>"), std::string::npos);
}

TEST_F(PdfBuilderTest, MisuseIsRejected) {
    {
        PdfBuilder b;
        const int n = b.add("1");
        b.compress(n, b.addObjectStream()); // revision stays Classic
        EXPECT_THROW(b.build(), std::logic_error);
    }
    {
        PdfBuilder b;
        b.add("1");
        b.setXref(XrefKind::Stream, opts(0, 4, 0, true, false, false)); // row 0 is free
        EXPECT_THROW(b.build(), std::logic_error);
    }
    {
        PdfBuilder b;
        const int n = b.add("1");
        b.compress(n, b.addObjectStream());
        b.setXref(XrefKind::Hybrid, opts(0, 4, 0, true, false, true)); // type 2 rows need a type field
        EXPECT_THROW(b.build(), std::logic_error);
    }
    {
        PdfBuilder b;
        b.add("1");
        b.setPadding(70000);
        b.setXref(XrefKind::Stream, opts(1, 2, 1, true, false, false)); // offset needs 3 bytes
        EXPECT_THROW(b.build(), std::logic_error);
    }
    {
        PdfBuilder b;
        const int n = b.add("1");
        EXPECT_THROW(b.compress(n, n), std::logic_error);
        EXPECT_THROW(b.setXref(XrefKind::Stream, opts(1, 4, 2, false, true, false)), std::logic_error);
        b.setXref(XrefKind::Stream);
        const int undefined = b.reserve();
        b.compress(undefined, b.addObjectStream());
        EXPECT_THROW(b.build(), std::logic_error);
    }
}

} // namespace
