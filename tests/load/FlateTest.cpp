#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

#include "load/CFileSource.h"
#include "load/CPdfFileWindowStream.h"
#include "load/CPdfMemoryStream.h"
#include "load/StreamFilters.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStream.h"
#include "tests/support/TestUtil.h"

namespace {

std::string zcompress(const std::string& data, int level = Z_DEFAULT_COMPRESSION)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    int result = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                           reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), level);
    if (result != Z_OK)
        throw std::runtime_error("compress failed");
    out.resize(size);
    return out;
}

// "02 0a FF" -> the three bytes.
std::string hexBytes(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 3)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string toHex(const std::string& bytes)
{
    std::string out;
    char part[4];
    for (unsigned char c : bytes) {
        std::snprintf(part, sizeof part, out.empty() ? "%02X" : " %02X", c);
        out += part;
    }
    return out;
}

std::string patternBytes(size_t size, uint32_t seed = 7)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 23);
    }
    return bytes;
}

CPdfStream* memoryStream(const std::string& bytes)
{
    auto owner = std::make_shared<const std::string>(bytes);
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

// A value parsed from PDF text ("<< /Predictor 12 >>"); null for "".
CPdfObject parseValue(const std::string& text)
{
    CPdfObject value;
    if (text.empty()) {
        value.setNull();
        return value;
    }
    CPdfParser parser(nullptr, memoryStream(text));
    parser.parseObject(value);
    return value;
}

std::string readAll(CPdfStream* stream)
{
    std::string out;
    for (int c; (c = stream->readChar()) >= 0;)
        out += static_cast<char>(c);
    return out;
}

// Decodes `payload` compressed with Flate under the given decode parameters;
// nullopt when createDecoder refuses them.
std::optional<std::string> decode(const std::string& payload, const std::string& parms)
{
    CPdfStream* source = memoryStream(zcompress(payload));
    CPdfStream* decoder = createDecoder("FlateDecode", source, parseValue(parms));
    if (!decoder) {
        source->release();
        return std::nullopt;
    }
    std::string out = readAll(decoder);
    decoder->release();
    return out;
}

// PNG row filtering written out plainly, for checking the decoder against.
std::string pngEncode(const std::string& image, size_t rowBytes, size_t pixelBytes, const std::vector<int>& tags)
{
    auto byteAt = [](const std::string& s, size_t i) { return static_cast<int>(static_cast<uint8_t>(s[i])); };
    std::string out, previous(rowBytes, '\0');
    for (size_t r = 0; r * rowBytes < image.size(); ++r) {
        const std::string row = image.substr(r * rowBytes, rowBytes);
        const int tag = tags[r % tags.size()];
        out += static_cast<char>(tag);
        for (size_t i = 0; i < rowBytes; ++i) {
            int a = i >= pixelBytes ? byteAt(row, i - pixelBytes) : 0;
            int b = byteAt(previous, i);
            int c = i >= pixelBytes ? byteAt(previous, i - pixelBytes) : 0;
            int predicted = 0;
            if (tag == 1) {
                predicted = a;
            } else if (tag == 2) {
                predicted = b;
            } else if (tag == 3) {
                predicted = (a + b) / 2;
            } else if (tag == 4) {
                int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            out += static_cast<char>((byteAt(row, i) - predicted) & 0xFF);
        }
        previous = row;
    }
    return out;
}

} // namespace

TEST(FlateFilters, AttachFiltersChoosesTheDecoder)
{
    const std::string text = "BT /F1 12 Tf (stamped) Tj ET";
    const std::string upRows = pngEncode(text.substr(0, 25), 5, 1, {2}); // five rows of five
    enum Outcome { RAW, DECODED, NONE };
    struct Row {
        const char* dict;
        std::string payload; // compressed unless the outcome is RAW
        Outcome outcome;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"<< /Length 3 >>", text, RAW, text},
        {"<< /Filter /FlateDecode >>", text, DECODED, text},
        {"<< /F /FlateDecode >>", text, DECODED, text},
        {"<< /Filter /Fl >>", text, DECODED, text},
        {"<< /Filter null /F /Fl >>", text, DECODED, text},                 // null counts as absent
        {"<< /Filter /FlateDecode /F /DCTDecode >>", text, DECODED, text},  // the full key wins
        {"<< /Filter [/FlateDecode] >>", text, DECODED, text},
        {"<< /Filter [(FlateDecode)] >>", text, DECODED, text},
        {"<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 5 >> >>", upRows, DECODED,
         text.substr(0, 25)},
        {"<< /F /FlateDecode /DP << /Predictor 12 /Columns 5 >> >>", upRows, DECODED, text.substr(0, 25)},
        {"<< /Filter /Fl /DecodeParms << /Predictor 12 /Columns 5 >> /DP << /Predictor 1 >> >>", upRows,
         DECODED, text.substr(0, 25)},
        // An array of parameter dictionaries gives the defaults: the row tags come through.
        {"<< /Filter [/Fl] /DecodeParms [<< /Predictor 12 /Columns 5 >>] >>", upRows, DECODED, upRows},
        {"<< /Filter [/FlateDecode /FlateDecode] >>", text, NONE, ""},
        {"<< /Filter [] >>", text, NONE, ""},
        {"<< /Filter /flatedecode >>", text, NONE, ""},
        {"<< /Filter /DCTDecode >>", text, NONE, ""},
        {"<< /Filter (FlateDecode) >>", text, NONE, ""},
        {"<< /Filter [7] >>", text, NONE, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dict);
        CPdfStream* raw = memoryStream(row.outcome == RAW ? row.payload : zcompress(row.payload));
        CPdfStream* result = attachFilters(raw, parseValue(row.dict));
        if (row.outcome == NONE) {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(raw->refCount(), 1); // still the caller's
            raw->release();
            continue;
        }
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result == raw, row.outcome == RAW);
        EXPECT_EQ(toHex(readAll(result)), toHex(row.expected));
        result->release();
    }
}

TEST(FlateFilters, UnusablePredictorParametersGiveNoDecoder)
{
    struct Row {
        const char* parms;
        bool usable;
    };
    const Row rows[] = {
        {"<< /Predictor 12 /Columns 0 >>", false},
        {"<< /Predictor 12 /Columns -1 >>", false},
        {"<< /Predictor 12 /Colors 0 >>", false},
        {"<< /Predictor 12 /Colors -3 >>", false},
        {"<< /Predictor 12 /BitsPerComponent 0 >>", false},
        {"<< /Predictor 12 /BitsPerComponent 3 >>", false},
        {"<< /Predictor 12 /BitsPerComponent 32 >>", false},
        {"<< /Predictor 2 /BitsPerComponent 12 >>", false},
        {"<< /Predictor 12 /Columns 20000000 >>", false},                  // a 20 MB row
        {"<< /Predictor 12 /Columns 2147483647 >>", false},
        {"<< /Predictor 12 /Columns 2147483647 /Colors 2147483647 /BitsPerComponent 16 >>", false},
        {"<< /Predictor 2 /Columns 1073741824 /Colors 1073741824 /BitsPerComponent 16 >>", false},
        {"<< /Predictor 12 /Columns 1000000 /Colors 4 >>", true},          // large but sane
        {"<< /Predictor 2 /BitsPerComponent 16 >>", true},
        {"<< /Predictor 1 /Columns 0 /BitsPerComponent 3 >>", true},       // no predictor: nothing to check
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.parms);
        CPdfStream* source = memoryStream(zcompress("x"));
        CPdfStream* decoder = createDecoder("FlateDecode", source, parseValue(row.parms));
        EXPECT_EQ(decoder != nullptr, row.usable);
        if (decoder)
            decoder->release();
        else
            source->release();
    }
}

TEST(FlatePredictors, DecodedRowsMatchTheExamples)
{
    struct Row {
        const char* note;
        const char* parms;
        std::string input, output; // inflated bytes and decoded bytes, in hex
    };
    const std::vector<Row> rows = {
        {"PNG Up", "<< /Predictor 12 /Columns 4 >>", "02 01 02 03 04 02 01 01 01 01", "01 02 03 04 02 03 04 05"},
        {"tag 0 under Predictor 10", "<< /Predictor 10 /Columns 3 >>", "00 01 02 03", "01 02 03"},
        {"tag 0 under Predictor 15", "<< /Predictor 15 /Columns 3 >>", "00 01 02 03", "01 02 03"},
        {"unknown tag 7 passes the row, which is then 'up'", "<< /Predictor 12 /Columns 3 >>",
         "07 05 06 07 02 01 01 01", "05 06 07 06 07 08"},
        {"the tag decides, not the Predictor value", "<< /Predictor 14 /Columns 3 >>", "01 05 01 01", "05 06 07"},
        {"PNG Sub over 2-byte pixels", "<< /Predictor 11 /BitsPerComponent 16 /Columns 2 >>", "01 00 10 00 01",
         "00 10 00 11"},
        {"a row cut short is dropped", "<< /Predictor 12 /Columns 4 >>", "02 01 02 03 04 02 01",
         "01 02 03 04"},
        {"TIFF 8 bits", "<< /Predictor 2 /Columns 3 >>", "05 01 01", "05 06 07"},
        {"TIFF rows start afresh", "<< /Predictor 2 /Columns 2 >>", "05 01 05 01", "05 06 05 06"},
        {"TIFF three colours", "<< /Predictor 2 /Colors 3 /Columns 2 >>", "10 20 30 01 02 03",
         "10 20 30 11 22 33"},
        {"TIFF wraps modulo 256", "<< /Predictor 2 /Columns 2 >>", "FF 02", "FF 01"},
        {"TIFF 1 bit", "<< /Predictor 2 /BitsPerComponent 1 /Columns 8 >>", "80", "FF"},
        {"TIFF 1 bit over two bytes", "<< /Predictor 2 /BitsPerComponent 1 /Columns 16 >>", "80 00", "FF FF"},
        {"TIFF 1 bit row ending inside a byte", "<< /Predictor 2 /BitsPerComponent 1 /Columns 10 >>", "80 3F",
         "FF C0"},
        {"TIFF 2 bits", "<< /Predictor 2 /BitsPerComponent 2 /Columns 4 >>", "55", "6C"},
        {"TIFF 4 bits two colours", "<< /Predictor 2 /BitsPerComponent 4 /Colors 2 /Columns 2 >>", "12 34",
         "12 46"},
        {"TIFF 16 bits big-endian with carry", "<< /Predictor 2 /BitsPerComponent 16 /Columns 3 >>",
         "00 FF 00 01 FF FF", "00 FF 01 00 00 FF"},
        {"TIFF 16 bits two colours", "<< /Predictor 2 /BitsPerComponent 16 /Colors 2 /Columns 2 >>",
         "00 01 00 02 00 03 00 04", "00 01 00 02 00 04 00 06"},
        {"Columns as a real is ignored", "<< /Predictor 2 /Columns 3.0 >>", "05 01 01", "05 01 01"},
        {"Predictor 1", "<< /Predictor 1 /Columns 4 >>", "02 01 02", "02 01 02"},
        {"other Predictor below 10 passes rows", "<< /Predictor 3 /Columns 2 >>", "05 01", "05 01"},
        {"no parameters", "", "02 01", "02 01"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.note) + " " + row.parms);
        std::optional<std::string> out = decode(hexBytes(row.input), row.parms);
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(toHex(*out), row.output);
    }
}

TEST(FlatePredictors, PngRowsMatchAPlainEncoder)
{
    struct Row {
        int columns, colors, bits, rows, predictor;
        std::vector<int> tags; // cycled over the rows
    };
    const Row rows[] = {
        {5, 1, 8, 6, 11, {1}},
        {5, 1, 8, 6, 13, {3}},
        {5, 1, 8, 6, 14, {4}},
        {7, 3, 8, 10, 15, {0, 1, 2, 3, 4}},
        {3, 4, 16, 8, 12, {4, 3, 1, 2}},
        {13, 1, 1, 5, 10, {1, 4, 3}},
        {6, 2, 4, 5, 14, {4, 3}},
        {1000, 3, 8, 60, 15, {0, 1, 2, 3, 4}}, // many pieces of inflated output
    };
    for (const Row& row : rows) {
        char note[128];
        std::snprintf(note, sizeof note, "Columns %d Colors %d bits %d rows %d", row.columns, row.colors, row.bits,
                      row.rows);
        SCOPED_TRACE(note);
        const size_t rowBytes = (static_cast<size_t>(row.columns) * row.colors * row.bits + 7) / 8;
        const size_t pixelBytes = (static_cast<size_t>(row.colors) * row.bits + 7) / 8;
        const std::string image = patternBytes(rowBytes * row.rows, static_cast<uint32_t>(row.columns));
        char parms[160];
        std::snprintf(parms, sizeof parms, "<< /Predictor %d /Columns %d /Colors %d /BitsPerComponent %d >>",
                      row.predictor, row.columns, row.colors, row.bits);
        std::optional<std::string> out = decode(pngEncode(image, rowBytes, pixelBytes, row.tags), parms);
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(*out == image) << "decoded " << out->size() << " of " << image.size() << " bytes";
    }
}

TEST(FlateStream, PeekThenReadGiveTheSameByte)
{
    const std::string image = patternBytes(40000);
    struct Row {
        const char* parms;
        std::string payload;
    };
    const Row rows[] = {
        {"", image},
        {"<< /Predictor 12 /Columns 100 >>", pngEncode(image, 100, 1, {0, 1, 2, 3, 4})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.parms);
        CPdfStream* decoder = createDecoder("FlateDecode", memoryStream(zcompress(row.payload)), parseValue(row.parms));
        ASSERT_NE(decoder, nullptr);
        std::string out;
        for (;;) {
            int peeked = decoder->peekChar();
            ASSERT_EQ(decoder->peekChar(), peeked);
            int c = decoder->readChar();
            ASSERT_EQ(c, peeked) << "at byte " << out.size();
            if (c < 0)
                break;
            out += static_cast<char>(c);
        }
        EXPECT_TRUE(out == image);
        decoder->release();
    }
}

TEST(FlateStream, RawCharsAreTheBytesBeforeThePredictor)
{
    const std::string rows = hexBytes("02 01 02 03 04 02 01 01 01 01");
    CPdfStream* plain = createDecoder("Fl", memoryStream(zcompress(rows)), parseValue(""));
    CPdfStream* predicted = createDecoder("Fl", memoryStream(zcompress(rows)), parseValue("<< /Predictor 12 /Columns 4 >>"));
    std::string plainRaw, predictedRaw;
    for (int c; (c = plain->getRawChar()) >= 0;)
        plainRaw += static_cast<char>(c);
    for (int c; (c = predicted->getRawChar()) >= 0;)
        predictedRaw += static_cast<char>(c);
    EXPECT_EQ(toHex(plainRaw), toHex(rows));
    EXPECT_EQ(toHex(predictedRaw), toHex(rows)); // tags included, nothing undone
    plain->release();
    predicted->release();
}

TEST(FlateStream, DecoderOwnsItsSourceAndAnswersForIt)
{
    auto owner = std::make_shared<const std::string>(zcompress("abc"));
    CPdfStream* source = new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
    CPdfStream* decoder = createDecoder("FlateDecode", source, parseValue(""));
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(source->refCount(), 1); // taken over, not added to
    EXPECT_EQ(decoder->windowLength(), static_cast<int64_t>(owner->size()));
    EXPECT_EQ(readAll(decoder), "abc");
    EXPECT_EQ(decoder->readChar(), -1);
    decoder->release();
    EXPECT_EQ(owner.use_count(), 1); // the source went with it

    CPdfStream* kept = memoryStream("abc");
    EXPECT_EQ(createDecoder("DCTDecode", kept, parseValue("")), nullptr);
    EXPECT_EQ(kept->refCount(), 1);
    EXPECT_EQ(kept->readChar(), 'a');
    kept->release();
}

TEST(FlateStream, CorruptOrShortDataDeliversWhatDecodedFirst)
{
    const std::string data = patternBytes(150000);
    // Stored blocks put the data at known offsets: 2-byte zlib header, then
    // per block one header byte, LEN and NLEN (little-endian), the bytes.
    const std::string stored = zcompress(data, 0);
    ASSERT_EQ(stored[2] & 0x06, 0) << "first block is not stored";
    const size_t firstLength = static_cast<uint8_t>(stored[3]) | static_cast<uint8_t>(stored[4]) << 8;
    ASSERT_GT(firstLength, 1000u);
    ASSERT_LT(firstLength, data.size());
    const size_t secondHeader = 7 + firstLength;

    std::string badSecondBlock = stored;
    badSecondBlock[secondHeader + 3] ^= 0x01; // NLEN no longer matches LEN
    std::string badChecksum = stored;
    badChecksum[stored.size() - 1] ^= 0x01;

    struct Row {
        const char* note;
        std::string compressed;
        size_t decoded; // bytes of `data` expected
    };
    const Row rows[] = {
        {"corrupt second block", badSecondBlock, firstLength},
        {"corrupt checksum", badChecksum, data.size()},
        {"cut inside the first block", stored.substr(0, 7 + 1000), 1000},
        {"cut after the first block's header", stored.substr(0, 7), 0},
        {"cut inside the zlib header", stored.substr(0, 1), 0},
        {"no data at all", "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        CPdfStream* decoder = createDecoder("FlateDecode", memoryStream(row.compressed), parseValue(""));
        std::string out = readAll(decoder);
        EXPECT_EQ(out.size(), row.decoded);
        EXPECT_TRUE(out == data.substr(0, row.decoded));
        EXPECT_EQ(decoder->readChar(), -1);
        decoder->release();
    }
}

TEST(FlateStreamObject, DecodesThroughTheParser)
{
    const std::string payload = "q 1 0 0 1 0 0 cm /Im0 Do Q\n";
    const std::string z = zcompress(payload);
    struct Row {
        const char* note;
        std::string data;  // the stream's data as written, counted in Length
        std::string expected;
    };
    const Row rows[] = {
        {"exact data", z, payload},
        {"line end after the zlib trailer", z + "\r\n", payload},
        {"Length 0 holds nothing", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        vtest::TempDir dir;
        const std::string path = dir.file("in.pdf");
        // With Length 0 the raw window runs to the end of the file, over a
        // valid Flate stream; none of it may be decoded.
        vtest::writeFile(path, "<< /Length " + std::to_string(row.data.size()) +
                                   " /Filter /FlateDecode >> stream\r\n" + row.data + "\nendstream 9\n" + z);
        auto file = CFileSource::open(path);
        CPdfObject none;
        CPdfParser parser(nullptr, new CPdfFileWindowStream(file, 0, 0, none));
        CPdfObject value;
        parser.parseObject(value);
        ASSERT_EQ(value.type(), PDF_STREAM);
        EXPECT_EQ(parser.currentToken().type(), PDF_INT);
        EXPECT_EQ(readAll(value.streamValue()), row.expected);
        EXPECT_EQ(value.streamValue()->readChar(), -1);
    }
}

TEST(FlateStreamObject, HostileLengthReadsOnlyWhatTheFileHolds)
{
    std::string payload;
    for (int i = 0; i < 400; ++i)
        payload += std::to_string(i) + " 0 obj << /Type /Page >> endobj\n";
    std::string bytes = zcompress(payload) + "\nendstream\nendobj\n";
    ASSERT_LT(bytes.size(), 1024u);
    bytes.resize(1024, ' ');
    vtest::TempDir dir;
    const std::string path = dir.file("hostile.pdf");
    vtest::writeFile(path, bytes);
    auto file = CFileSource::open(path);

    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    CPdfObject dict = parseValue("<< /Length 2000000000 /Filter /FlateDecode >>");
    CPdfStream* decoded = attachFilters(new CPdfFileWindowStream(file, 0, 2000000000, dict), dict);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->windowLength(), 2000000000);
    EXPECT_TRUE(readAll(decoded) == payload);
    decoded->release();
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024) << "peak memory grew by more than 256 MB";
}
