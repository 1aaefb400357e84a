// Byte sources: windows over the file, where stream data ends (and the parser
// reading stream objects by that rule), the filters and their predictors.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <zlib.h>

#include "load/CFileSource.h"
#include "load/CPdfFileWindowStream.h"
#include "load/CRepairLog.h"
#include "load/CStreamEndFinder.h"
#include "load/StreamFilters.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfResolver.h"
#include "tests/support/PdfText.h"
#include "tests/support/TestUtil.h"

namespace {

using namespace std::string_literals;
using vtest::describe;
using vtest::memoryStream;
using vtest::parse;
using vtest::readAll;

// Never repeats with a short period, so a read from the wrong place shows.
std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t seed = 7;
    for (char& c : bytes)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
    return bytes;
}

std::string zcompress(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), level);
    return out.substr(0, size);
}

struct TestFile {
    explicit TestFile(const std::string& data) : bytes(data) {
        vtest::writeFile(dir.file("f"), data);
        file = CFileSource::open(dir.file("f"));
    }
    CPdfStream* window(int64_t at, int64_t n, const CPdfObject& d) { return new CPdfFileWindowStream(file, at, n, d); }
    vtest::TempDir dir;
    std::string bytes;
    std::shared_ptr<CFileSource> file;
};

constexpr int64_t kBlock = static_cast<int64_t>(CFileSource::kBlockSize);

TEST(FileWindow, YieldsExactlyItsBytes) {
    const struct { const char* name; size_t fileSize; int64_t start, length, shift; size_t from, to; } rows[] = {
        {"start 100 length 10", 1000, 100, 10, 0, 100, 110}, {"start past the end", 1000, 1500, 10, 0, 1000, 1000},
        {"length 0 runs to the end", 1000, 100, 0, 0, 100, 1000},
        {"across a block boundary", 300000, kBlock - 10, 20, 0, kBlock - 10, kBlock + 10},
        {"across three boundaries", 300000, 1000, 200000, 0, 1000, 201000},
        {"shifted after a read: the length stays, the end moves", 1000, 100, 10, 7, 107, 117},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestFile in(pattern(row.fileSize));
        const std::string want = in.bytes.substr(row.from, row.to - row.from);
        CPdfStream* bytewise = in.window(row.start, row.length, {});
        CPdfStream* bulk = in.window(row.start, row.length, {});
        for (CPdfStream* w : {bytewise, bulk})
            if (row.shift) // moved after a read, which must not count
                w->readChar(), w->shiftStart(row.shift);
        std::string got(want.size() + 10, '\0');
        got.resize(bulk->readBytes(reinterpret_cast<uint8_t*>(&got[0]), got.size()));
        EXPECT_TRUE(readAll(bytewise) == want && got == want);
        bytewise->release();
        bulk->release();
    }
}

TEST(FileWindow, WindowsReadAlternatelyKeepTheirPlaceAndReleaseTheFile) {
    // More windows than the file caches blocks, each near the end of its own block.
    const size_t windows = CFileSource::kCachedBlocks + 8;
    TestFile in(pattern((windows + 1) * CFileSource::kBlockSize));
    std::vector<CPdfStream*> streams;
    std::vector<std::string> got(windows);
    for (size_t i = 0; i < windows; ++i)
        streams.push_back(in.window(static_cast<int64_t>(i + 1) * kBlock - 100, 0, {}));
    for (int step = 0; step < 300; ++step)
        for (size_t i = 0; i < windows; ++i)
            got[i] += static_cast<char>(streams[i]->readChar());
    streams[0]->addRef();
    for (size_t i = 0; i < windows; ++i) {
        EXPECT_TRUE(got[i] == in.bytes.substr((i + 1) * CFileSource::kBlockSize - 100, 300)) << "window " << i;
        streams[i]->release();
    }
    EXPECT_EQ(in.file.use_count(), 2); // only the window with a second reference is left
    streams[0]->release();
    EXPECT_EQ(in.file.use_count(), 1);
}

// The bytes after a "stream" keyword, the /Length claimed (-1: none) and the data the rule
// finds: "(repaired)" for a wrong length, "no endobj" when another token follows.
struct EndCase { const char* name; std::string afterKeyword; int claimed; const char* expected; };
const EndCase kEnds[] = {
    {"LineFeed", "\nHELLO\nendstream\nendobj", 5, "HELLO"},
    {"CarriageReturnOnly", "\rHELLO\nendstream endobj", 5, "HELLO"},
    {"BlanksBeforeTheLineEnd", " \t\r\nHELLO\nendstream endobj", 5, "HELLO"},
    {"CommentBeforeEndstream", "\nHELLO\n% note\nendstream endobj", 5, "HELLO"},
    {"NoEndobj", "\nHELLO\nendstream\n2 0 obj", 5, "HELLO no endobj"},
    // Data on the keyword's own line, as lenient readers take it; the line below first.
    {"DataOnTheKeywordLine", " q 1 0 0 1 0 0 cm Q\nendstream\nendobj", 18, "q 1 0 0 1 0 0 cm Q"},
    {"DataRightAfterTheKeyword", "(x) Tj\nendstream endobj", 6, "(x) Tj"},
    {"LengthRightFromTheLineBelow", " q Q\nendstream endobj", 0, ""},
    // A wrong or missing length (too short or long: end-to-end rows): data runs to the line end before "endstream".
    {"LongerByTheLineEnd", "\r\nHELLO\r\nendstream endobj", 7, "HELLO\r\n"},
    {"PastTheEndOfTheFile", "\nHELLO\nendstream endobj", 999999, "HELLO (repaired)"},
    {"Missing", "\nHELLO\nendstream endobj", -1, "HELLO (repaired)"},
    {"WrongOnTheKeywordLine", " q Q\nendstream endobj", 9, "q Q (repaired)"},
    {"KeywordRightAfterTheData", "\nHELLOendstream endobj", -1, "HELLO (repaired)"},
    {"OnlyALineEnd", "\n\nendstream endobj", -1, " (repaired)"},
    // No "endstream" before an "endobj" that ends the object: the data runs to its line end.
    {"EndstreamOnlyInsideAWord", "\nabc\nendstreamx endobj", -1, "abc\nendstreamx  (repaired) no endstream"},
    {"EndobjBeforeTheCrossReferenceTable", "\nHELLO\nendobj\nxref", -1, "HELLO (repaired) no endstream"},
    // An "endobj" followed by no object's end is data; a right length is believed.
    {"EndobjFollowedByData", "\nHELLO\nendobj x\nendstream\nendobj", -1, "HELLO\nendobj x (repaired)"},
    {"EndobjEndingAnObjectInDataOfTheRightLength", "\nendobj\n8 0 obj\nendstream\nendobj", 14, "endobj\n8 0 obj"},
    {"NoEndstream", "\nHELLO", 5, "no end"},
    {"NoEndstreamNorEndobj", "\nHELLO\n8 0 obj\n<< >>", 5, "no end"}};

// Where "endstream" (or where it belongs) and "endobj" stand too; a wrong length is logged.
TEST(StreamEnd, FollowsTheOneRule) {
    for (const EndCase& c : kEnds) {
        SCOPED_TRACE(c.name);
        TestFile in("7 0 obj\n<< >>\nstream" + c.afterKeyword);
        const std::string& bytes = in.bytes;
        CRepairLog log;
        CStreamEndFinder ends(in.file, log);
        CPdfStreamEnd end;
        std::string found = "no end";
        if (ends.find(7, 20, c.claimed, end)) {
            found = bytes.substr(end.dataBegin, end.dataEnd - end.dataBegin) + (end.lengthRight ? "" : " (repaired)") +
                    (end.endstreamMissing ? " no endstream" : "") + (end.endobjBegin < 0 ? " no endobj" : "");
            EXPECT_EQ(end.endstreamMissing ? std::string("endstream") : bytes.substr(end.endstreamEnd - 9, 9),
                      "endstream");
            EXPECT_EQ(end.endstreamEnd, end.endstreamMissing ? end.dataEnd : end.endstreamEnd);
            EXPECT_EQ(end.endobjBegin < 0 ? "endobj" : bytes.substr(end.endobjBegin, 6), "endobj");
            EXPECT_EQ(log.lines().size(), end.lengthRight ? 0u : 1u);
        }
        EXPECT_EQ(found, c.expected);
    }
}

struct Lengths final : CPdfResolver {
    void fetchObject(int num, int, CPdfObject& out) override {
        num == 666 ? throw CPdfException("object 666 is broken") : out.setInt(5);
    }
    CPdfRefPtr<CPdfStream> streamData(int, int, const CPdfObject&, int64_t) override { return {}; }
};

// The parser reads stream data by the rule from windows of the file: every value
// ("!message" when it throws) shown once the parser is gone; no window outlives its value.
TEST(StreamEnd, ParserReadsStreamObjectsByTheRule) {
    auto stream = [](const std::string& dict) { return dict + " stream\r\nHELLO\nendstream 42"; };
    const std::string hello = "<<>> stream HELLO, 42";
    const std::pair<std::string, std::string> rows[] = {
        {stream("<< /Length 5 >>"), hello}, {stream("<< /Length 3 0 R >>"), hello},
        // A /Length that is no integer, or negative, is none.
        {stream("<< /Length 5.0 >>"), hello}, {stream("<< /Length -5 >>"), hello},
        {stream("<< /Length 666 0 R >>"), "!object 666 is broken"},
        {"<< /Length 3 >> stream\nHELLO", "!Missing 'endstream'"}, // no end anywhere
        {"<< >> stream\nHELLO", "error, cmd >>, cmd stream, cmd HELLO"},
        {"<< /Length 2 >> stream\r\nendstrendstream\r\nendstream 42", "<<>> stream endstr, cmd endstream, 42"},
        {stream("<< /Length 5 /Filter /DCTDecode >>"), "error, 42"}, // no decoder
        // /Length 0 holds nothing, though a window of length 0 runs to the end.
        {"<< /Length 0 /Filter /FlateDecode >> stream\r\n\nendstream 1", "<<>> stream , 1"},
        {"[<< /S << /Length 3 >> stream\nabc\nendstream >> << /Length 2 >> stream\nde\nendstream 7]",
         "[<<S: <<>> stream abc>>, <<>> stream de, 7]"},
        // The array already owns a complete stream when the second one fails.
        {"[<< /Length 3 >> stream\nabc\nendstream << /Length 2 >> stream\nxyz]", "!Missing 'endstream'"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(vtest::escaped(input));
        TestFile in(input);
        CRepairLog log;
        Lengths table;
        std::vector<CPdfObject> values;
        std::string got;
        try {
            CStreamEndFinder ends(in.file, log);
            CPdfParser parser(&table, in.window(0, 0, {}));
            parser.setStreamEnds(&ends);
            do
                parser.parseObject(values.emplace_back());
            while (values.back().type() != PDF_EOF && values.size() < 50);
            values.pop_back();
        } catch (const CPdfException& e) {
            values.clear();
            got = "!" + std::string(e.message());
        }
        for (const CPdfObject& v : values)
            got += (got.empty() ? "" : ", ") + describe(v);
        values.clear();
        EXPECT_EQ(got, expected);
        EXPECT_EQ(in.file.use_count(), 1) << "a stream window leaked";
    }
}

// A stream dictionary (what follows it names the row), data and what it decodes to; "refused": no decoder.
struct Decoding { std::string dict, input, output; };

// An image of `rows` rows of `columns` pixels, `colors` x `bits` each, PNG-encoded by
// a plain encoder with `tags` cycling over the rows.
Decoding png(int columns, int colors, int bits, int rows, const std::vector<int>& tags) {
    const std::string parms = "<< /Predictor 15 /Columns " + std::to_string(columns) + " /Colors " +
                              std::to_string(colors) + " /BitsPerComponent " + std::to_string(bits) + " >>";
    const size_t rowBytes = static_cast<size_t>(columns * colors * bits + 7) / 8;
    const size_t pixelBytes = static_cast<size_t>(colors * bits + 7) / 8;
    const std::string image = pattern(rowBytes * static_cast<size_t>(rows));
    std::string out, previous(rowBytes, '\0');
    for (size_t r = 0; r * rowBytes < image.size(); ++r) {
        const std::string row = image.substr(r * rowBytes, rowBytes);
        const int tag = tags[r % tags.size()];
        out += static_cast<char>(tag);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= pixelBytes ? static_cast<uint8_t>(row[i - pixelBytes]) : 0;
            const int b = static_cast<uint8_t>(previous[i]);
            const int c = i >= pixelBytes ? static_cast<uint8_t>(previous[i - pixelBytes]) : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            out += static_cast<char>(row[i] - predicted[tag]);
        }
        previous = row;
    }
    return {parms + " tags " + testing::PrintToString(tags), out, image};
}
Decoding refused(const std::string& parms) { return {parms, "x", "refused"}; }

// Each filter by its full and short name, alone and chained, with parameters, and on
// damaged data (what decoded before the damage is delivered).
TEST(Filters, DecodeWhatTheirWritersWrite) {
    const std::string text = "012345678", up = "\2" "012" "\2\3\3\3" "\2\3\3\3"; // PNG Up rows of 3 bytes
    const std::string large = pattern(20000) + std::string(9000, 'a') + pattern(30000);
    // Stored blocks: a 2-byte header, then per block a header byte, LEN, NLEN and the bytes.
    const std::string data = pattern(150000), stored = zcompress(data, 0);
    const size_t first = static_cast<uint8_t>(stored[3]) | static_cast<uint8_t>(stored[4]) << 8;
    std::string corrupt = stored;
    corrupt[7 + first + 3] ^= 0x01; // the second block's NLEN no longer matches its LEN
    const std::string predicted = "/DecodeParms << /Predictor 12 /Columns 3 >>";
    std::vector<Decoding> rows = {
        {"<< /Length 3 >> no filter: the raw stream itself", text, text}, {"<< /Filter [] >>", text, text},
        {"<< /Filter /FlateDecode >>", zcompress(text), text}, {"<< /F /Fl >>", zcompress(text), text},
        {"<< /Filter /FlateDecode /F /DCTDecode >>", zcompress(text), text}, // the full key wins
        {"<< /Filter /Fl " + predicted + " >>", zcompress(up), text},
        {"<< /F /Fl /DP << /Predictor 12 /Columns 3 >> >>", zcompress(up), text},
        {"<< /Filter /Fl " + predicted + " /DP << /Predictor 1 >> >>", zcompress(up), text},
        // Arrays of parameters pair with arrays of filters, item by item.
        {"<< /Filter /FlateDecode /DecodeParms [<< /Predictor 12 /Columns 3 >>] >>", zcompress(up), text},
        {"<< /Filter [(FlateDecode)] >> a string for a name", zcompress(text), text},
        {"<< /Filter [/Fl /Fl] /DecodeParms [null << /Predictor 12 /Columns 3 >>] >>", zcompress(zcompress(up)), text},
        {"<< /Filter [/FlateDecode /DCTDecode] >>", zcompress(text), "refused"},
        {"<< /Filter [/FlateDecode 1] >>", zcompress(text), "refused"}, {"<< /Filter /flatedecode >>", "x", "refused"},
        {"<< /Filter /Fl >> corrupt second block", corrupt, data.substr(0, first)},
        {"<< /Filter /Fl >> cut in the first block", stored.substr(0, 1007), data.substr(0, 1000)},
        // The LZW example the format's own description gives.
        {"<< /Filter /LZWDecode >>", "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01"s, "-----A---B"},
        {"<< /Filter /LZW >>", vtest::lzwEncode(large, 1), large},
        {"<< /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> >>", vtest::lzwEncode(large, 0), large},
        // Cut short: 44 bytes hold the clear code and 38 codes of 9 bits, runs of 1 to 38 q's.
        {"<< /Filter /LZW >> cut short", vtest::lzwEncode(std::string(3000, 'q'), 1).substr(0, 44), std::string(741, 'q')},
        {"<< /Filter /ASCII85Decode >>", "87cURD_*#TD\nfTZ)+T~>", "Hello, world!"},
        {"<< /Filter /A85 >> zeros", "z@:E^~>", "\0\0\0\0abc"s},
        {"<< /Filter /A85 >> without its end", "87cURD_*#TDfTZ)+T", "Hello, world!"},
        {"<< /Filter /A85 >> damaged", "87cURD_*#T{DfTZ)+T~>", "Hello, w"},
        {"<< /Filter /ASCIIHexDecode >>", "48 65 6C\r\n6c 6F>", "Hello"},
        {"<< /Filter /AHx >> odd", "486>", "H`"}, {"<< /Filter /AHx >> damaged", "4865x6c>", "He"},
        {"<< /Filter /RunLengthDecode >>", "\x02" "abc" "\xFD" "x" "\x00" "y" "\x80" "zz"s, "abcxxxxy"},
        {"<< /Filter /RL >> long runs", std::string(200, '\x81'), std::string(100 * 128, '\x81')},
        {"<< /Filter /RL >> cut short", "\x05" "ab"s, "ab"},
    };
    // The predictor is a stage of its own: the same rows decode behind either filter.
    const Decoding predictors[] = {
        {"<< /Predictor 15 /Columns 3 >> tag 0", "\0\1\2\3"s, "\1\2\3"s},
        {"<< /Predictor 12 /Columns 3 >> unknown tag 7 passes its row", "\7\5\6\7\2\1\1\1"s, "\5\6\7\6\7\x08"s},
        {"<< /Predictor 2 /Columns 2 >> TIFF 8 bits, rows start afresh", "\5\1\5\xFF"s, "\5\6\5\4"s},
        {"<< /Predictor 2 /Colors 3 /Columns 2 >> TIFF three colours", "\x10\x20\x30\1\2\3"s,
         "\x10\x20\x30\x11\x22\x33"s},
        {"<< /Predictor 2 /BitsPerComponent 1 /Columns 16 >> TIFF 1 bit over two bytes", "\x80\0"s, "\xFF\xFF"s},
        {"<< /Predictor 2 /BitsPerComponent 16 /Columns 3 >> TIFF 16 bits big-endian", "\0\xFF\0\1\xFF\xFF"s,
         "\0\xFF\1\0\0\xFF"s},
        // Sub, Average and Paeth, mixed, over pixels of several sizes.
        png(7, 3, 8, 10, {0, 1, 2, 3, 4}), png(3, 4, 16, 8, {4, 3, 1, 2}), png(13, 1, 1, 5, {1, 4, 3}),
        png(1000, 3, 8, 60, {0, 1, 2, 3, 4}), // many pieces of inflated output
        png(7000, 3, 8, 3, {2, 4}),           // rows larger than a piece
        {"<< /Predictor 12 /Columns 1000000 /Colors 4 >> large but sane", "x", ""},
        refused("<< /Predictor 12 /Columns 0 >>"), refused("<< /Predictor 2 /Colors -3 >>"),
        refused("<< /Predictor 12 /BitsPerComponent 3 >>"), refused("<< /Predictor 12 /Columns 20000000 >>"), // 20 MB
        refused("<< /Predictor 12 /Columns 2147483647 /Colors 2147483647 /BitsPerComponent 16 >>"),
    };
    for (const Decoding& p : predictors)
        for (const std::string filter : {"FlateDecode", "LZWDecode"}) {
            const size_t end = p.dict.rfind(">>") + 2; // the parameters, then the row's name
            const std::string encoded = filter[0] == 'L' ? vtest::lzwEncode(p.input) : zcompress(p.input);
            rows.push_back({"<< /Filter /" + filter + " /DecodeParms " + p.dict.substr(0, end) + " >>" +
                                p.dict.substr(end), encoded, p.output});
        }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dict);
        CPdfStream* source = memoryStream(row.input);
        CPdfStream* result = attachFilters(source, parse(row.dict));
        EXPECT_EQ(result == source, row.input == row.output);
        EXPECT_TRUE((result ? readAll(result) : "refused") == row.output);
        EXPECT_EQ(result ? 1 : source->refCount(), 1) << "without a decoder, the source is still the caller's";
        (result ? result : source)->release();
    }
    // A decoder refuses what attachFilters checks first; the source stays the caller's.
    CPdfStream* source = memoryStream("x");
    EXPECT_EQ(createDecoder("LZWDecode", source, parse("<< /Predictor 12 /Columns 0 >>")), nullptr);
    source->release();
}

TEST(Flate, HostileLengthReadsOnlyWhatTheFileHolds) {
    const std::string payload(100000, 'q');
    TestFile in(zcompress(payload) + std::string(1024 - zcompress(payload).size(), ' ')); // 1 KB
#ifndef _WIN32 // peak memory is measured where getrusage is; elsewhere only the result is checked
    struct rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
#endif
    const CPdfObject dict = parse("<< /Length 2000000000 /Filter /FlateDecode >>");
    CPdfStream* decoded = attachFilters(in.window(0, 2000000000, dict), dict);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(readAll(decoded) == payload);
    decoded->release();
#ifndef _WIN32
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024) << "peak memory grew by more than 256 MB";
#endif
}

} // namespace
