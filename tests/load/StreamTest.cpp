// Byte sources: windows over the file, bounded views, Flate decoding, the
// row predictors behind Flate and LZW, and the filters page content uses
// besides Flate.

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
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "tests/support/TestUtil.h"

namespace {

using namespace std::string_literals;

// Never repeats with a short period, so a read from the wrong place shows.
std::string pattern(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t seed = 7;
    for (char& c : bytes)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
    return bytes;
}

std::string readAll(CPdfStream* stream)
{
    std::string out;
    for (int c; (c = stream->readChar()) >= 0;)
        out += static_cast<char>(c);
    return out;
}

CPdfStream* memoryStream(const std::string& bytes)
{
    auto owner = std::make_shared<const std::string>(bytes);
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

std::string zcompress(const std::string& data, int level = Z_DEFAULT_COMPRESSION)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), level);
    return out.substr(0, size);
}

CPdfObject parse(const std::string& text)
{
    CPdfObject value;
    CPdfParser(nullptr, memoryStream(text)).parseObject(value);
    return value;
}

// `payload` compressed by `filter` (Flate or LZW), then decoded under
// `parms`; "refused" when they are.
std::string decode(const std::string& payload, const std::string& parms, const std::string& filter = "FlateDecode")
{
    CPdfStream* source = memoryStream(filter == "LZWDecode" ? vtest::lzwEncode(payload) : zcompress(payload));
    CPdfStream* decoder = createDecoder(filter, source, parse(parms));
    const std::string out = decoder ? readAll(decoder) : "refused";
    (decoder ? decoder : source)->release();
    return out;
}

// A temporary file holding `bytes`, and windows over it.
struct TestFile {
    explicit TestFile(const std::string& data) : bytes(data)
    {
        vtest::writeFile(dir.file("f"), data);
        file = CFileSource::open(dir.file("f"));
    }
    CPdfStream* window(int64_t at, int64_t n, const CPdfObject& d) { return new CPdfFileWindowStream(file, at, n, d); }
    vtest::TempDir dir;
    std::string bytes;
    std::shared_ptr<CFileSource> file;
};

constexpr int64_t kBlock = static_cast<int64_t>(CFileSource::kBlockSize);

TEST(FileWindow, YieldsExactlyItsBytes)
{
    const struct { const char* name; size_t fileSize; int64_t start, length, shift; size_t from, to; } rows[] = {
        {"start 100 length 10", 1000, 100, 10, 0, 100, 110},
        {"length 0 runs to the end", 1000, 100, 0, 0, 100, 1000},
        {"start past the end", 1000, 1500, 10, 0, 1000, 1000},
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

TEST(FileWindow, WindowsReadAlternatelyKeepTheirPlaceAndReleaseTheFile)
{
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

TEST(Flate, AttachFiltersChoosesTheDecoder)
{
    const std::string text = "012345678", up = "\2" "012" "\2\3\3\3" "\2\3\3\3"; // PNG Up rows of 3 bytes
    // `flates`: how many times the payload is compressed; `predicted`: PNG rows inside.
    const struct { const char* dict; int flates; bool predicted; bool decoder; } rows[] = {
        {"<< /Length 3 >>", 0, false, true}, // no filter: the raw stream itself
        {"<< /Filter [] >>", 0, false, true},
        {"<< /Filter /FlateDecode >>", 1, false, true}, {"<< /F /Fl >>", 1, false, true},
        {"<< /Filter [/FlateDecode] >>", 1, false, true},
        {"<< /Filter /FlateDecode /F /DCTDecode >>", 1, false, true}, // the full key wins
        {"<< /Filter /Fl /DecodeParms << /Predictor 12 /Columns 3 >> >>", 1, true, true},
        {"<< /F /Fl /DP << /Predictor 12 /Columns 3 >> >>", 1, true, true},
        {"<< /Filter /Fl /DecodeParms << /Predictor 12 /Columns 3 >> /DP << /Predictor 1 >> >>", 1, true, true},
        // Arrays of parameters pair with arrays of filters, item by item.
        {"<< /Filter [/FlateDecode] /DecodeParms [<< /Predictor 12 /Columns 3 >>] >>", 1, true, true},
        {"<< /Filter /FlateDecode /DecodeParms [<< /Predictor 12 /Columns 3 >>] >>", 1, true, true},
        {"<< /Filter [/FlateDecode /FlateDecode] >>", 2, false, true},
        {"<< /Filter [/Fl /Fl] /DecodeParms [null << /Predictor 12 /Columns 3 >>] >>", 2, true, true},
        {"<< /Filter [/FlateDecode /DCTDecode] >>", 1, false, false},
        {"<< /Filter [/FlateDecode 1] >>", 1, false, false},
        {"<< /Filter /flatedecode >>", 1, false, false}, {"<< /Filter /DCTDecode >>", 1, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dict);
        std::string payload = row.predicted ? up : text;
        for (int i = 0; i < row.flates; ++i)
            payload = zcompress(payload);
        CPdfStream* source = memoryStream(payload);
        CPdfStream* result = attachFilters(source, parse(row.dict));
        EXPECT_EQ(result == source, row.flates == 0);
        EXPECT_EQ(result ? readAll(result) : std::to_string(source->refCount()), row.decoder ? text : "1");
        (result ? result : source)->release(); // without a decoder, the source is still the caller's
    }
}

struct Decoding { std::string name, parms, input, output; }; // output "refused": no decoder for the parameters

// An image of `rows` rows of `columns` pixels, `colors` x `bits` each, and its
// rows PNG-encoded by a plain encoder with `tags` cycling over the rows.
Decoding png(int columns, int colors, int bits, int rows, const std::vector<int>& tags)
{
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
    return {parms + " tags " + testing::PrintToString(tags), parms, out, image};
}
Decoding refused(const std::string& parms) { return {parms, parms, "x", "refused"}; }

// The predictor is a stage of its own: the same rows decode behind either filter.
TEST(FlateAndLzw, Predictors)
{
    const Decoding rows[] = {
        {"PNG Up", "<< /Predictor 12 /Columns 4 >>", "\2\1\2\3\4\2\1\1\1\1"s, "\1\2\3\4\2\3\4\5"s},
        {"tag 0", "<< /Predictor 15 /Columns 3 >>", "\0\1\2\3"s, "\1\2\3"s},
        {"unknown tag 7 passes its row", "<< /Predictor 12 /Columns 3 >>", "\7\5\6\7\2\1\1\1"s, "\5\6\7\6\7\x08"s},
        {"TIFF 8 bits, rows start afresh", "<< /Predictor 2 /Columns 2 >>", "\5\1\5\xFF"s, "\5\6\5\4"s},
        {"TIFF three colours", "<< /Predictor 2 /Colors 3 /Columns 2 >>", "\x10\x20\x30\1\2\3"s,
         "\x10\x20\x30\x11\x22\x33"s},
        {"TIFF 1 bit", "<< /Predictor 2 /BitsPerComponent 1 /Columns 8 >>", "\x80"s, "\xFF"s},
        {"TIFF 1 bit over two bytes", "<< /Predictor 2 /BitsPerComponent 1 /Columns 16 >>", "\x80\0"s, "\xFF\xFF"s},
        {"TIFF 16 bits big-endian", "<< /Predictor 2 /BitsPerComponent 16 /Columns 3 >>", "\0\xFF\0\1\xFF\xFF"s,
         "\0\xFF\1\0\0\xFF"s},
        // Sub, Average and Paeth, alone and mixed, over pixels of several sizes.
        png(5, 1, 8, 6, {1}), png(5, 1, 8, 6, {3}), png(5, 1, 8, 6, {4}), png(7, 3, 8, 10, {0, 1, 2, 3, 4}),
        png(3, 4, 16, 8, {4, 3, 1, 2}), png(13, 1, 1, 5, {1, 4, 3}),
        png(1000, 3, 8, 60, {0, 1, 2, 3, 4}), // many pieces of inflated output
        png(7000, 3, 8, 3, {2, 4}),           // rows larger than a piece
        {"large but sane", "<< /Predictor 12 /Columns 1000000 /Colors 4 >>", "x", ""},
        refused("<< /Predictor 12 /Columns 0 >>"), refused("<< /Predictor 12 /Columns -1 >>"),
        refused("<< /Predictor 12 /Colors 0 >>"), refused("<< /Predictor 2 /Colors -3 >>"),
        refused("<< /Predictor 12 /BitsPerComponent 3 >>"), refused("<< /Predictor 2 /BitsPerComponent 32 >>"),
        refused("<< /Predictor 12 /Columns 20000000 >>"), // a 20 MB row
        refused("<< /Predictor 12 /Columns 2147483647 /Colors 2147483647 /BitsPerComponent 16 >>"),
        refused("<< /Predictor 2 /Columns 1073741824 /Colors 1073741824 /BitsPerComponent 16 >>"),
    };
    for (const auto& row : rows)
        for (const char* filter : {"FlateDecode", "LZWDecode"})
            EXPECT_TRUE(decode(row.input, row.parms, filter) == row.output) << row.name << " behind " << filter;
}

TEST(Flate, CorruptDataDeliversWhatDecodedBefore)
{
    // Stored blocks put the data at known offsets: a 2-byte zlib header, then
    // per block one header byte, LEN and NLEN, the bytes.
    const std::string data = pattern(150000), stored = zcompress(data, 0);
    const size_t first = static_cast<uint8_t>(stored[3]) | static_cast<uint8_t>(stored[4]) << 8;
    std::string corrupt = stored;
    corrupt[7 + first + 3] ^= 0x01; // the second block's NLEN no longer matches its LEN
    const std::tuple<const char*, std::string, size_t> rows[] = {
        {"corrupt second block", corrupt, first}, {"cut in the first block", stored.substr(0, 1007), 1000}};
    for (const auto& [name, compressed, decoded] : rows) {
        CPdfStream* decoder = createDecoder("FlateDecode", memoryStream(compressed), CPdfObject());
        EXPECT_TRUE(readAll(decoder) == data.substr(0, decoded)) << name;
        decoder->release();
    }
}

TEST(Flate, LengthZeroHoldsNothing)
{
    // The raw window would run to the end of the file, over a valid Flate stream.
    TestFile in("<< /Length 0 /Filter /FlateDecode >> stream\r\n\nendstream\n" + zcompress("x"));
    CRepairLog log;
    CStreamEndFinder ends(in.file, log);
    CPdfParser parser(nullptr, in.window(0, 0, {}));
    parser.setStreamEnds(&ends);
    CPdfObject value;
    parser.parseObject(value);
    ASSERT_EQ(value.type(), PDF_STREAM);
    EXPECT_EQ(value.streamValue()->readChar(), -1);
}

TEST(Flate, HostileLengthReadsOnlyWhatTheFileHolds)
{
    const std::string payload(100000, 'q');
    TestFile in(zcompress(payload) + std::string(1024 - zcompress(payload).size(), ' ')); // 1 KB
#ifdef _WIN32
    // Peak memory is measured where getrusage is; here only the result is checked.
    const CPdfObject dict = parse("<< /Length 2000000000 /Filter /FlateDecode >>");
    CPdfStream* decoded = attachFilters(in.window(0, 2000000000, dict), dict);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(readAll(decoded) == payload);
    decoded->release();
#else
    struct rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    const CPdfObject dict = parse("<< /Length 2000000000 /Filter /FlateDecode >>");
    CPdfStream* decoded = attachFilters(in.window(0, 2000000000, dict), dict);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(readAll(decoded) == payload);
    decoded->release();
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024) << "peak memory grew by more than 256 MB";
#endif
}

struct Filtered {
    const char* name;
    std::string dict, input, output; // output "refused": no decoder for the dictionary
};

// Each filter by its full and its short name, in a chain with Flate, and on
// damaged data (what decoded before the damage is delivered).
TEST(ContentFilters, DecodeWhatTheirWritersWrite)
{
    const std::string text = "q 1 0 0 1 50 50 cm BT /F1 12 Tf (Hello, world!) Tj ET Q\n";
    const std::string large = pattern(20000) + std::string(9000, 'a') + pattern(30000);
    std::string hexOfFlate;
    for (unsigned char c : zcompress(text)) {
        static const char digits[] = "0123456789abcdef";
        hexOfFlate += digits[c >> 4];
        hexOfFlate += digits[c & 15];
    }
    hexOfFlate += '>';
    const Filtered rows[] = {
        // The example of LZW encoding that the format's description gives.
        {"LZW example", "<< /Filter /LZWDecode >>", "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01"s, "-----A---B"},
        {"LZW round trip", "<< /Filter /LZW >>", vtest::lzwEncode(large, 1), large},
        {"LZW without early change", "<< /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> >>",
         vtest::lzwEncode(large, 0), large},
        {"ASCII85", "<< /Filter /ASCII85Decode >>", "87cURD_*#TD\nfTZ)+T~>", "Hello, world!"},
        {"ASCII85 zeros", "<< /Filter /A85 >>", "z@:E^~>", "\0\0\0\0abc"s},
        {"ASCII85 without its end", "<< /Filter /A85 >>", "87cURD_*#TDfTZ)+T", "Hello, world!"},
        {"ASCII85 damaged", "<< /Filter /A85 >>", "87cURD_*#T{DfTZ)+T~>", "Hello, w"},
        {"ASCIIHex", "<< /Filter /ASCIIHexDecode >>", "48 65 6C\r\n6c 6F>", "Hello"},
        {"ASCIIHex odd", "<< /Filter /AHx >>", "486>", "H`"},
        {"ASCIIHex damaged", "<< /Filter /AHx >>", "4865x6c>", "He"},
        {"RunLength", "<< /Filter /RunLengthDecode >>", "\x02" "abc" "\xFD" "x" "\x00" "y" "\x80" "zz"s, "abcxxxxy"},
        {"RunLength long runs", "<< /Filter /RL >>", std::string(200, '\x81'), std::string(100 * 128, '\x81')},
        {"RunLength cut short", "<< /Filter /RL >>", "\x05" "ab"s, "ab"},
        {"ASCIIHex over Flate", "<< /Filter [/AHx /Fl] >>", hexOfFlate, text},
        {"unknown name", "<< /Filter /JBIG2Decode >>", "x", "refused"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CPdfObject dict = parse(row.dict);
        CPdfStream* source = memoryStream(row.input);
        CPdfStream* decoded = attachFilters(source, dict);
        if (!decoded) {
            EXPECT_EQ(row.output, "refused");
            source->release();
            continue;
        }
        EXPECT_TRUE(readAll(decoded) == row.output);
        decoded->release();
    }
}

TEST(ContentFilters, LzwCutShortDeliversWhatDecodedBefore)
{
    const std::string text(3000, 'q');
    const std::string encoded = vtest::lzwEncode(text, 1);
    CPdfStream* decoded = createDecoder("LZWDecode", memoryStream(encoded.substr(0, encoded.size() / 2)), CPdfObject());
    const std::string got = readAll(decoded);
    decoded->release();
    EXPECT_FALSE(got.empty());
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
}

} // namespace
