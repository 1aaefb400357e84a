#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "load/CFileSource.h"
#include "load/CPdfFileWindowStream.h"
#include "load/CPdfMemoryStream.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfResolver.h"
#include "pdf/CPdfStream.h"
#include "tests/support/TestUtil.h"

namespace {

CPdfStream* memoryStream(const std::string& bytes)
{
    auto owner = std::make_shared<const std::string>(bytes);
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

// A parsed value as compact text: `[ref 1 0, int 2]`, `<<A: int 1>>`.
std::string describe(const CPdfObject& value)
{
    char number[64];
    switch (value.type()) {
    case PDF_BOOL: return value.boolValue() ? "true" : "false";
    case PDF_INT: return "int " + std::to_string(value.intValue());
    case PDF_REAL:
        std::snprintf(number, sizeof number, "real %.15g", value.realValue());
        return number;
    case PDF_STRING: return "(" + value.textString() + ")";
    case PDF_NAME: return "/" + value.textString();
    case PDF_CMD: return "cmd " + value.textString();
    case PDF_NULL: return "null";
    case PDF_ERROR: return "error";
    case PDF_EOF: return "eof";
    case PDF_REF: return "ref " + std::to_string(value.refNum()) + " " + std::to_string(value.refGen());
    case PDF_STREAM: return "stream";
    case PDF_ARRAY: {
        std::string out = "[";
        for (int i = 0; i < value.arrayValue()->count(); ++i) {
            CPdfObject item;
            value.arrayValue()->getItemUnresolved(i, item);
            out += (i ? ", " : "") + describe(item);
        }
        return out + "]";
    }
    case PDF_DICT: {
        std::string out = "<<";
        bool first = true;
        for (const auto& [key, item] : value.dictValue()->entries()) {
            out += (first ? "" : ", ") + key + ": " + describe(item);
            first = false;
        }
        return out + ">>";
    }
    default: return "none";
    }
}

// Serves integers; object 666 fails to load.
class FakeResolver : public CPdfResolver {
public:
    std::map<int, int> integers;
    int fetches = 0;
    void fetchObject(int num, int, CPdfObject& out) override
    {
        ++fetches;
        if (num == 666)
            throw CPdfException("object 666 is broken");
        auto found = integers.find(num);
        if (found == integers.end())
            out.setNull();
        else
            out.setInt(found->second);
    }
};

std::string readAll(CPdfStream* stream)
{
    std::string out;
    for (int c; (c = stream->readChar()) >= 0;)
        out += static_cast<char>(c);
    return out;
}

// Bytes in a temporary file, parsed through a window over the whole file.
class FileParse {
public:
    explicit FileParse(const std::string& bytes, CPdfResolver* table = nullptr)
    {
        const std::string path = m_dir.file("input.pdf");
        vtest::writeFile(path, bytes);
        file = CFileSource::open(path);
        CPdfObject none;
        parser = std::make_unique<CPdfParser>(table, new CPdfFileWindowStream(file, 0, 0, none));
    }
    // Windows over the file besides this fixture's own handle and the parser's main window.
    long extraWindows() const { return file.use_count() - 1 - (parser ? 1 : 0); }

    vtest::TempDir m_dir;
    std::shared_ptr<CFileSource> file;
    std::unique_ptr<CPdfParser> parser;
};

} // namespace

TEST(PdfParser, ObjectsFromTokens)
{
    struct Row {
        const char* input;
        std::vector<std::string> results; // successive parseObject calls; "eof" follows
    };
    const std::vector<Row> rows = {
        {"[1 0 R 2]", {"[ref 1 0, int 2]"}},
        {"[1 2 3]", {"[int 1, int 2, int 3]"}},
        {"12 0 obj", {"int 12", "int 0", "cmd obj"}},
        {"5 R", {"int 5", "cmd R"}},
        {"1 0.5 R", {"int 1", "real 0.5", "cmd R"}},
        {"1 2 R 3 4 R", {"ref 1 2", "ref 3 4"}},
        {"1 2 3 R", {"int 1", "ref 2 3"}},
        {"<< /A 1 /B [/K] >>", {"<<A: int 1, B: [/K]>>"}},
        {"<</A 1/B<</C 2 0 R>>>>", {"<<A: int 1, B: <<C: ref 2 0>>>>"}},
        {"<< 7 /A 1 >>", {"<<A: int 1>>"}},                      // non-name key dropped
        {"<< /A ) /B 2 >>", {"<<B: int 2>>"}},                   // key dropped with its error token
        {"<< /A 1 /A 2 >>", {"<<A: int 1>>"}},                   // first value wins
        {"<< /A >> /B 1", {"<<A: cmd >>, B: int 1>>"}},          // a key without value swallows >>
        {"[1 ) 2]", {"[int 1, error, int 2]"}},
        {"[[1] [2 [3]] []]", {"[[int 1], [int 2, [int 3]], []]"}},
        {"[true null (s) /N 1.5 -3]", {"[true, null, (s), /N, real 1.5, int -3]"}},
        {"]", {"cmd ]"}},
        {">> endobj", {"cmd >>", "cmd endobj"}},
        {"<< /A (x) >> 3", {"<<A: (x)>>", "int 3"}},
        {"[1 0 R", {"[ref 1 0]"}},                               // open at end of input
        {"<< /A [1 2", {"<<A: [int 1, int 2]>>"}},
        {"<< /A", {"<<>>"}},
        {"[", {"[]"}},
        {"", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("input: ") + row.input);
        CPdfParser parser(nullptr, memoryStream(row.input));
        std::vector<std::string> results;
        for (int guard = 0; guard < 20; ++guard) {
            CPdfObject value;
            parser.parseObject(value);
            results.push_back(describe(value));
            if (value.type() == PDF_EOF)
                break;
        }
        std::vector<std::string> expected = row.results;
        expected.push_back("eof");
        EXPECT_EQ(results, expected);
    }
}

TEST(PdfParser, ContainersAreBoundToTheParsersTable)
{
    FakeResolver table;
    table.integers[4] = 44;
    CPdfParser parser(&table, memoryStream("[4 0 R << /K 4 0 R >>]"));
    CPdfObject array, item, dict, value;
    parser.parseObject(array);
    array.arrayValue()->getItem(0, item);
    EXPECT_EQ(describe(item), "int 44");
    array.arrayValue()->getItem(1, dict);
    dict.dictValue()->getValue("K", value);
    EXPECT_EQ(describe(value), "int 44");
}

TEST(PdfParser, NestingBeyondTheLimitIsDamage)
{
    const int limit = CPdfParser::kMaxNestingDepth;
    auto repeat = [](const std::string& text, int n) {
        std::string out;
        while (n-- > 0)
            out += text;
        return out;
    };
    auto arrays = [&](int depth) { return repeat("[", depth) + repeat("]", depth); };
    auto dicts = [&](int depth) { return repeat("<</A ", depth) + "1" + repeat(">>", depth); };
    struct Row {
        const char* note;
        std::string input;
        bool damaged;
    };
    const std::vector<Row> rows = {
        {"arrays at the limit", arrays(limit), false},
        {"two siblings at the limit", arrays(limit) + arrays(limit), false}, // the depth unwinds
        {"dictionaries at the limit", dicts(limit), false},
        {"arrays one past the limit", arrays(limit + 1), true},
        {"dictionaries one past the limit", dicts(limit + 1), true},
        {"mixed past the limit", repeat("[", limit / 2) + dicts(limit / 2 + 1), true},
        {"100000 open brackets", repeat("[", 100000), true},
        {"100000 open dictionaries", repeat("<</K", 100000), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        CPdfParser parser(nullptr, memoryStream(row.input));
        try {
            CPdfObject value;
            do {
                value.clear();
                parser.parseObject(value);
            } while (value.type() != PDF_EOF);
            EXPECT_FALSE(row.damaged) << "no exception";
        } catch (const CPdfException& e) {
            EXPECT_TRUE(row.damaged) << e.message();
            EXPECT_STREQ(e.message(), "PDF file was damaged");
        }
    }
}

TEST(PdfParser, StreamObjectReadsItsDataAndContinuesAfterEndstream)
{
    struct Row {
        const char* note;
        std::string afterKeyword; // line end after "stream"
    };
    const Row rows[] = {{"CR LF", "\r\n"}, {"LF", "\n"}, {"lone CR", "\r"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        FileParse in("<< /Length 5 /Type /X >> stream" + row.afterKeyword + "HELLO\nendstream 42");
        CPdfObject value;
        in.parser->parseObject(value);
        ASSERT_EQ(value.type(), PDF_STREAM);
        CPdfStream* stream = value.streamValue();
        EXPECT_EQ(stream->refCount(), 1); // the value's reference is the only one
        ASSERT_NE(stream->streamDict(), nullptr);
        CPdfObject type;
        stream->streamDict()->getValue("Type", type);
        EXPECT_EQ(describe(type), "/X");
        EXPECT_EQ(readAll(stream), "HELLO");
        EXPECT_EQ(describe(in.parser->currentToken()), "int 42");
    }
}

TEST(PdfParser, StreamLengthCases)
{
    FakeResolver table;
    table.integers[3] = 5;
    table.integers[4] = 4;
    struct Row {
        const char* note;
        std::string dict;
        bool withTable;
        std::string result;  // describe() of the value, or the exception message
        std::string current; // current token after the value
    };
    const std::vector<Row> rows = {
        {"indirect Length", "<< /Length 3 0 R >>", true, "stream", "int 42"},
        {"indirect Length too short", "<< /Length 4 0 R >>", true, "Missing 'endstream'", ""},
        {"indirect Length without a table", "<< /Length 3 0 R >>", false, "error", "cmd >>"},
        {"indirect Length to a missing object", "<< /Length 9 0 R >>", true, "error", "cmd >>"},
        {"real Length", "<< /Length 5.0 >>", false, "error", "cmd >>"},
        {"no Length", "<< >>", false, "error", "cmd >>"},
        {"negative Length", "<< /Length -5 >>", false, "error", "cmd >>"},
        {"Length too short", "<< /Length 4 >>", false, "Missing 'endstream'", ""},
        {"Length too long", "<< /Length 7 >>", false, "Missing 'endstream'", ""},
        {"Length past the end of the file", "<< /Length 999999 >>", false, "Missing 'endstream'", ""},
        {"unsupported filter", "<< /Length 5 /Filter /DCTDecode >>", false, "error", "int 42"},
        {"filter array of two", "<< /Length 5 /Filter [/Fl /Fl] >>", false, "error", "int 42"},
        {"fetch of Length fails", "<< /Length 666 0 R >>", true, "object 666 is broken", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        FileParse in(row.dict + " stream\r\nHELLO\nendstream 42", row.withTable ? &table : nullptr);
        std::string result;
        try {
            CPdfObject value;
            in.parser->parseObject(value);
            result = describe(value);
            EXPECT_EQ(describe(in.parser->currentToken()), row.current);
            if (value.type() == PDF_STREAM) {
                EXPECT_EQ(readAll(value.streamValue()), "HELLO");
            }
        } catch (const CPdfException& e) {
            result = e.message();
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(in.extraWindows(), 0) << "a stream window outlived its value";
    }
}

TEST(PdfParser, NegativeLengthCannotLeadBackToTheSameStream)
{
    // The data would start at offset S; Length -(S - 1) points back at the
    // "endstream" before the dictionary, which would make the array read the
    // same stream object again and again.
    const std::string head = "[endstream <</Length -";
    const size_t start = (head + "NN>>stream\n").size();
    FileParse in(head + std::to_string(start - 1) + ">>stream\n]");
    CPdfObject value;
    in.parser->parseObject(value);
    EXPECT_EQ(describe(value), "[cmd endstream, error, cmd >>, cmd stream]");
}

TEST(PdfParser, RawStreamsSkipTheFilters)
{
    FileParse in("<< /Length 4 /Filter /DCTDecode >> stream\nJPEG\nendstream");
    in.parser->setRawStreams(true);
    CPdfObject value;
    in.parser->parseObject(value);
    ASSERT_EQ(value.type(), PDF_STREAM);
    EXPECT_EQ(readAll(value.streamValue()), "JPEG");
}

TEST(PdfParser, StreamsNestedInContainersKeepTheirData)
{
    FileParse in("[<< /S << /Length 3 >> stream\nabc\nendstream >> << /Length 2 >> stream\nde\nendstream 7]");
    CPdfObject array;
    in.parser->parseObject(array);
    EXPECT_EQ(describe(array), "[<<S: stream>>, stream, int 7]");
    in.parser.reset();
    CPdfObject dict, inner, second;
    array.arrayValue()->getItem(0, dict);
    dict.dictValue()->getValue("S", inner);
    array.arrayValue()->getItem(1, second);
    EXPECT_EQ(readAll(inner.streamValue()), "abc");
    EXPECT_EQ(readAll(second.streamValue()), "de");
    EXPECT_EQ(in.extraWindows(), 2);
    array.clear();
    dict.clear();
    inner.clear();
    second.clear();
    EXPECT_EQ(in.extraWindows(), 0);
}

TEST(PdfParser, ExceptionWhileAStreamWindowIsHeldLeaksNothing)
{
    // The first stream is complete and owned by the array being built; the
    // second has a wrong Length. Everything must be released on the throw.
    FileParse in("[<< /Length 3 >> stream\nabc\nendstream << /Length 2 >> stream\nxyz\nendstream]");
    CPdfObject value;
    EXPECT_THROW(in.parser->parseObject(value), CPdfException);
    value.clear();
    in.parser.reset();
    EXPECT_EQ(in.extraWindows(), 0);
}

TEST(PdfParser, StreamWithoutAFileUnderneath)
{
    // Decoded data opens no windows: the stream is an error value, and the
    // tokens after it are read from where the keyword left off.
    CPdfParser empty(nullptr, memoryStream("<< /Length 0 >> stream\nendstream 7"));
    CPdfObject value;
    empty.parseObject(value);
    EXPECT_EQ(describe(value), "error");
    EXPECT_EQ(describe(empty.currentToken()), "int 7");

    CPdfParser withData(nullptr, memoryStream("<< /Length 5 >> stream\nHELLO\nendstream"));
    value.clear();
    try {
        withData.parseObject(value);
        FAIL() << "no exception";
    } catch (const CPdfException& e) {
        EXPECT_STREQ(e.message(), "Missing 'endstream'");
    }
}
