#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "pdf/CPdfLexer.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStreamEndRule.h"
#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;

namespace {

// Every token before the end of input, joined by ", "; the end must then repeat.
std::string lexAll(const std::string& input)
{
    CPdfLexer lexer(memoryStream(std::make_shared<const std::string>(input)));
    std::string out;
    CPdfObject token;
    for (int guard = 0; guard < 1000 && (lexer.readToken(token), token.type() != PDF_EOF); ++guard)
        out += (out.empty() ? "" : ", ") + describe(token);
    lexer.readToken(token);
    EXPECT_EQ(token.type(), PDF_EOF);
    EXPECT_EQ(lexer.readChar(), -1);
    return out;
}

// Bytes in memory read as a file's window is: positions are offsets in the
// bytes, it seeks, and a stream object's data is a window of its own over
// them (unfiltered only: filters belong to the layer above).
class FileLikeStream : public CPdfStream {
public:
    FileLikeStream(std::shared_ptr<const std::string> bytes, int64_t start, int64_t length, const CPdfObject& dict)
        : m_bytes(std::move(bytes)), m_start(start), m_length(length)
    {
        m_dict.assign(dict);
        rewind();
    }
    void rewind() override { moveTo(m_start); }
    CPdfDict* streamDict() override { return m_dict.type() == PDF_DICT ? m_dict.dictValue() : nullptr; }
    int64_t tellPos() override { return m_next ? m_next - begin() : m_parkedAt; }
    int64_t seekPos(int64_t offset, int whence) override
    {
        const int64_t target = whence == SEEK_END ? static_cast<int64_t>(m_bytes->size()) + offset : offset;
        moveTo(target < 0 ? tellPos() : target);
        return tellPos();
    }
    int64_t windowStart() override { return m_start; }
    void shiftStart(int64_t delta) override { moveTo(m_start += delta); }
    int64_t windowLength() override { return m_length; }
    CPdfStream* openWindow(int64_t start, int64_t length, const CPdfObject& dict) override
    {
        return new FileLikeStream(m_bytes, start, length, dict);
    }
    CPdfStream* openStreamData(int64_t start, int64_t length, const CPdfObject& dict) override
    {
        CPdfObject filter;
        dict.dictValue()->getValue("Filter", filter);
        return filter.type() == PDF_NULL ? openWindow(start, length, dict) : nullptr;
    }

private:
    bool refill() override { return false; } // the whole window is in view
    const uint8_t* begin() const { return reinterpret_cast<const uint8_t*>(m_bytes->data()); }
    void moveTo(int64_t position)
    {
        const int64_t size = static_cast<int64_t>(m_bytes->size());
        const int64_t end = m_length == 0 ? size : std::min(size, m_start + m_length);
        m_parkedAt = position;
        m_next = m_end = nullptr;
        if (position < end)
            m_next = begin() + position, m_end = begin() + end;
    }

    std::shared_ptr<const std::string> m_bytes;
    int64_t m_start, m_length;
    int64_t m_parkedAt = 0; // the position while it lies past the window's end
    CPdfObject m_dict;
};

// The input layer's rule for where stream data ends, in the few words the
// parser's own tests need: the data starts after the keyword's line end and
// runs for /Length when "endstream" follows there, else up to the line end
// before the next "endstream". The rule's harder cases are the load tests'.
class LengthOrKeywordRule : public CPdfStreamEndRule {
public:
    explicit LengthOrKeywordRule(std::shared_ptr<const std::string> bytes) : m_bytes(std::move(bytes)) {}
    bool find(int, int64_t keywordEnd, int64_t claimedLength, CPdfStreamEnd& end) override
    {
        const std::string& text = *m_bytes;
        size_t data = static_cast<size_t>(keywordEnd);
        data += text.compare(data, 2, "\r\n") == 0 ? 2 : data < text.size() ? 1 : 0;
        end.dataBegin = static_cast<int64_t>(data);
        const size_t claimedEnd = claimedLength >= 0 ? data + static_cast<size_t>(claimedLength) : text.size();
        size_t keyword = claimedEnd;
        while (keyword < text.size() && (text[keyword] == '\r' || text[keyword] == '\n'))
            ++keyword;
        end.lengthRight = claimedEnd <= text.size() && text.compare(keyword, 9, "endstream") == 0;
        if (!end.lengthRight) {
            keyword = text.find("endstream", data);
            if (keyword == std::string::npos)
                return false;
        }
        size_t dataEnd = end.lengthRight ? claimedEnd : keyword;
        while (!end.lengthRight && dataEnd > data && (text[dataEnd - 1] == '\r' || text[dataEnd - 1] == '\n'))
            --dataEnd;
        end.dataEnd = static_cast<int64_t>(dataEnd);
        end.endstreamEnd = static_cast<int64_t>(keyword + 9);
        return true;
    }

private:
    std::shared_ptr<const std::string> m_bytes;
};

// Every value of `input`, parsed as a file would be (stream data needs
// windows and the rule for where it ends) and described only once the
// parser is gone; an exception shows as "!message".
std::string parseAll(const std::string& input)
{
    auto file = std::make_shared<const std::string>(input);
    FakeResolver table;
    LengthOrKeywordRule ends(file);
    std::vector<CPdfObject> values;
    std::string out;
    try {
        CPdfParser parser(&table, new FileLikeStream(file, 0, 0, CPdfObject()));
        parser.setStreamEnds(&ends);
        do {
            values.emplace_back();
            parser.parseObject(values.back());
        } while (values.back().type() != PDF_EOF && values.size() < 50);
        values.pop_back();
    } catch (const CPdfException& e) {
        values.clear();
        out = std::string("!") + e.message();
    }
    for (const CPdfObject& v : values)
        out += (out.empty() ? "" : ", ") + describe(v);
    values.clear();
    // Each stream value holds a window on the file; none may outlive its value.
    EXPECT_EQ(file.use_count(), 2) << "a stream window leaked"; // ours and the rule's
    return out;
}

using Rows = std::vector<std::pair<std::string, std::string>>; // input, expected

} // namespace

TEST(PdfLexer, Tokens)
{
    const std::string longText(100000, 'x'); // no length limit on token text
    const Rows rows = {
        {"%c\r\n1%c\r2%c\n3 (a%b) %end", "1, 2, 3, (a%b)"}, // comments end at CR LF, CR, LF or the end
        {"(a(b)c)(a\\)b)", "(a(b)c), (a)b)"},         // balanced parentheses nest
        {"(\\101\\60x)(\\18)", "(A0x), (\\x018)"}, // octal escapes of one to three digits
        {"(\\1234)(\\777)", "(S4), (\\xFF)"},      // three digits at most; low 8 bits kept
        {"(a\\\r\nb)(a\\\nb)(a\\\rb)", "(ab), (ab), (ab)"}, // line continuations
        {"(a\r\nb)", "(a\\x0D\\x0Ab)"},                  // plain line ends stay
        {"(\\n\\r\\t\\b\\f\\\\\\q)", "(\\x0A\\x0D\\x09\\x08\\x0C\\x5Cq)"},
        {"(a\\000b)", "(a)"}, // an escaped NUL ends the value
        {"(a", "(a)"},        // unterminated at the end of input
        {"(a\\", "(a)"},
        {"<48 65 6C6C 6F>", "(Hello)"},
        {"<414><4G>", "(A@), (@)"}, // an odd count pads with 0; an invalid digit counts as 0
        {"<41 4", "(A@)"},    // unterminated
        {"/A#42C", "/ABC"},
        {"/A#4 Z", "/A@Z"},  // the escape takes the next byte, even a space
        {"/A#zz", "/A#zz"},  // # without hex digits stays
        {"/ /A/B(c)", "/, /A, /B, (c)"},
        {"/", "/"},
        {"/A#00B", "/A"},    // an escaped NUL ends the value
        {"-5 - .5 -.5 4. . -.", "-5, 0, real 0.5, real -0.5, real 4, real 0, real 0"},
        {"1.2.3", "real 1.2"},
        {"+5 +.5 +", "5, real 0.5, 0"}, // a plus sign may lead a number
        {"12abc 1e5 1-2", "12, cmd abc, 1, cmd e5, 1, -2"}, // no exponents; a minus ends a number
        {"2147483647 2147483648", "2147483647, 2147483647"}, // saturates, never wraps
        {"-2147483648 -2147483649", "-2147483648, -2147483648"},
        {"4294967308 -99999999999999999999999999", "2147483647, -2147483648"}, // 2^32 + 12 must not wrap
        {"0000000000000000000000000012", "12"},
        {"<< >><</A 1>>[1]", "cmd <<, cmd >>, cmd <<, /A, 1, cmd >>, cmd [, 1, cmd ]"},
        {"> ) } {1", "error, error, error, error, 1"}, // the brace is consumed
        {"true false null True nullx obj<<", "true, false, null, cmd True, cmd nullx, cmd obj, cmd <<"},
        {std::string("1\0\t\f2", 5), "1, 2"}, // NUL, TAB and FF are whitespace
        {"", ""},
        {"(" + longText + ") /" + longText, "(" + longText + "), /" + longText},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input.substr(0, 60)));
        EXPECT_EQ(lexAll(input), expected);
    }
}

// Encryption keys and /ID are binary: parsed for them, strings keep their
// NUL bytes, literal and hex alike, while text() still ends at the first.
TEST(PdfParser, KeepsStringBytesWhenAsked)
{
    const std::string input = "<< /O (a\\000b) /U <00FF0041> /N /A#00B >>";
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keeping" : "default");
        CPdfObject dict;
        CPdfParser(nullptr, memoryStream(std::make_shared<const std::string>(input)), keep).parseObject(dict);
        ASSERT_EQ(dict.type(), PDF_DICT);
        CPdfObject o, u, n;
        dict.dictValue()->getValue("O", o);
        dict.dictValue()->getValue("U", u);
        dict.dictValue()->getValue("N", n);
        EXPECT_EQ(o.textString(), keep ? std::string("a\0b", 3) : "a");
        EXPECT_EQ(u.textString(), keep ? std::string("\0\xFF\0A", 4) : "");
        EXPECT_STREQ(o.text(), "a");
        EXPECT_EQ(n.textString(), "A"); // names are never binary
    }
}

// Where each token starts and where the lexer stands after it: comments and
// white space belong to no token, and a token ends at the first byte that
// cannot continue it.
TEST(PdfLexer, PositionsOfTokens)
{
    const Rows rows = {
        {"  /Name  ", "/Name@2-7, end@9-9"},
        {"%c\r\n12 0 R", "12@4-6, 0@7-8, cmd R@9-10, end@10-10"},
        {"<<\n/A(x)>>", "cmd <<@0-2, /A@3-5, (x)@5-8, cmd >>@8-10, end@10-10"},
        {"(a\\)b) <41>[]", "(a)b)@0-6, (A)@7-11, cmd [@11-12, cmd ]@12-13, end@13-13"},
        {"/Con#74ents 4", "/Contents@0-11, 4@12-13, end@13-13"},
        {"endobj%x\nendstream", "cmd endobj@0-6, cmd endstream@9-18, end@18-18"},
        {"-.5 +3 true", "real -0.5@0-3, 3@4-6, true@7-11, end@11-11"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input));
        CPdfLexer lexer(memoryStream(std::make_shared<const std::string>(input)));
        std::string out;
        CPdfObject token;
        do {
            lexer.readToken(token);
            out += (out.empty() ? "" : ", ") + (token.type() == PDF_EOF ? std::string("end") : describe(token)) + "@" +
                   std::to_string(lexer.tokenBegin()) + "-" + std::to_string(lexer.tokenEnd());
        } while (token.type() != PDF_EOF);
        EXPECT_EQ(out, expected);
    }
}

// The layout of a dictionary: where its brackets, keys and values stand,
// values of every kind, and what follows it.
TEST(PdfParser, LaysOutDictionaries)
{
    const Rows rows = {
        {"<< /A 1 /B 2 0 R >>", "<<0 >>17: A@3-5=1@6-7, B@8-10=ref 2 0@11-16"},
        // Nested values end at their closing brackets; strings and comments hide theirs.
        {"<</K [1 (]) 2]/D<</E>>/F(x>>)>>", "<<0 >>29: K@2-4=array@5-14, D@14-16=dict@16-22, F@22-24=string@24-29"},
        {"<< % /A 9\n/A 1 >>", "<<0 >>15: A@10-12=1@13-14"},
        // A key is named with its escapes decoded; repeated keys are all listed.
        {"<< /Con#74ents 4 0 R /Contents 5 0 R >>", "<<0 >>37: Contents@3-14=ref 4 0@15-20, Contents@21-30=ref 5 0@31-36"},
        // No closing bracket: the dictionary ends with the input.
        {"<< /A [1 2", "<<0 >>-1: A@3-5=array@6-10"},
        {"<< /L 3 >>\nstream\nabc\nendstream", "<<0 >>8: L@3-5=3@6-7 stream@11"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input));
        CPdfParser parser(nullptr, memoryStream(std::make_shared<const std::string>(input)));
        parser.setShallow(true);
        parser.setStreamsUnread(true);
        CPdfDictLayout layout;
        CPdfObject value;
        parser.parseObject(value, &layout);
        std::string out = "<<" + std::to_string(layout.open) + " >>" + std::to_string(layout.close) + ":";
        for (const CPdfEntryLayout& entry : layout.entries) {
            const char* kinds[] = {"bool", "int", "real", "string", "name", "null", "array", "dict"};
            std::string kind = entry.type == PDF_REF ? "ref " + std::to_string(entry.num) + " " + std::to_string(entry.gen)
                               : entry.type == PDF_INT ? "1"
                               : entry.type < 8      ? kinds[entry.type]
                                                     : std::to_string(entry.type);
            if (entry.type == PDF_INT)
                kind = std::string(input, static_cast<size_t>(entry.valueBegin),
                                   static_cast<size_t>(entry.valueEnd - entry.valueBegin));
            out += std::string(out.back() == ':' ? " " : ", ") + entry.key + "@" + std::to_string(entry.keyBegin) +
                   "-" + std::to_string(entry.keyEnd) + "=" + kind + "@" + std::to_string(entry.valueBegin) + "-" +
                   std::to_string(entry.valueEnd);
        }
        if (layout.streamKeyword >= 0)
            out += " stream@" + std::to_string(layout.streamKeyword);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(parser.valueBegin(), 0);
    }
}

TEST(PdfParser, Values)
{
    const int limit = CPdfParser::kMaxNestingDepth;
    auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    auto dicts = [](int depth) {
        std::string out;
        while (depth-- > 0)
            out += "<</K";
        return out;
    };
    auto stream = [](const std::string& dict) { return dict + " stream\r\nHELLO\nendstream 42"; };
    // A stream whose /Length is unusable ends at its "endstream" (the rule's
    // other cases are the load layer's tests).
    const std::string repaired = "stream HELLO, 42";
    const Rows rows = {
        {"[1 0 R 2] 1 2 3 R 12 0 obj", "[3, 2], 1, 2 3 R, 12, 0, cmd obj"}, // object 1 holds 3
        {"5 R", "5, cmd R"}, // a reference takes two integers
        {"1 0.5 R", "1, real 0.5, cmd R"},
        {"<</A 1/B<</C 2 0 R>>>>", "<<A: 1, B: <<C: 2 0 R>>>>"},
        {"<< 7 /A 1 >>", "<<A: 1>>"},         // a key that is no name is dropped
        {"<< /A ) /B 2 >>", "<<B: 2>>"},      // so is a key followed by an error token
        {"<< /A 1 /A 2 >>", "<<A: 1>>"},      // the first value wins
        {"<< /A >> /B 1", "<<A: cmd >>, B: 1>>"},
        {"[1 ) 2] ] >>", "[1, error, 2], cmd ], cmd >>"},
        {"[true null (s) /N 1.5 [-3]]", "[true, null, (s), /N, real 1.5, [-3]]"},
        {"[1 0 R", "[3]"},                    // containers open at the end of input end there
        {"<< /A [1 2", "<<A: [1, 2]>>"},
        {"<< /A", "<<>>"},                    // a key cut off by the end has no value
        {"", ""},
        {arrays(limit) + arrays(limit), arrays(limit) + ", " + arrays(limit)},
        {std::string(limit - 1, '[') + "<</K", std::string(limit - 1, '[') + "<<>>" + std::string(limit - 1, ']')},
        {arrays(limit + 1), "!PDF file was damaged"},
        {std::string(limit, '[') + "<</K", "!PDF file was damaged"},
        {std::string(100000, '['), "!PDF file was damaged"}, // no stack overflow
        {dicts(100000), "!PDF file was damaged"},
        {stream("<< /Length 5 >>"), "stream HELLO, 42"},
        {"<< /Length 5 >> stream\nHELLO\nendstream", "stream HELLO"},
        {"<< /Length 5 >> stream\rHELLO\nendstream", "stream HELLO"},
        {stream("<< /Length 3 0 R >>"), "stream HELLO, 42"}, // object 3 holds 5
        {stream("<< /Length 2 0 R >>"), repaired},
        {stream("<< /Length 666 0 R >>"), "!object 666 is broken"},
        {stream("<< /Length 5.0 >>"), repaired},
        {stream("<< /Length -5 >>"), repaired},
        {stream("<< >>"), repaired},
        {"<< /Length 3 >> stream\nHELLO", "!Missing 'endstream'"}, // none anywhere
        {"<< >> stream\nHELLO", "error, cmd >>, cmd stream, cmd HELLO"},
        {"<< /Length 2 >> stream\r\nendstrendstream\r\nendstream 42", "stream endstr, cmd endstream, 42"}, // the first keyword ends it
        {stream("<< /Length 5 /Filter /DCTDecode >>"), "error, 42"}, // unsupported filter
        {"[<< /S << /Length 3 >> stream\nabc\nendstream >> << /Length 2 >> stream\nde\nendstream 7]",
         "[<<S: stream abc>>, stream de, 7]"},
        {"[<< /Length 3 >> stream\nabc\nendstream << /Length 2 >> stream\nxyz\nendstream]", "[stream abc, stream xyz]"},
        // The array already owns a complete stream when the second one fails.
        {"[<< /Length 3 >> stream\nabc\nendstream << /Length 2 >> stream\nxyz]", "!Missing 'endstream'"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input.substr(0, 80)));
        EXPECT_EQ(parseAll(input), expected);
    }
    // Text in memory holds no stream data: without the input's rule a stream is an error.
    CPdfObject inMemory;
    CPdfParser(nullptr, memoryStream(std::make_shared<const std::string>(stream("<< /Length 5 >>"))))
        .parseObject(inMemory);
    EXPECT_EQ(inMemory.type(), PDF_ERROR);
}

namespace {

// Shallow parsing keeps the top level exactly and only says what kind of
// container each nested value is.
TEST(PdfParser, ShallowKeepsTheTopLevel)
{
    const Rows rows = {
        {"<< /Font << /F1 5 0 R >> /XObject 7 0 R /A [ << >> ] /B 1 >>",
         "<<A: [], B: 1, Font: <<>>, XObject: 7 0 R>>"},
        // Brackets inside strings, hex strings and comments do not count.
        {"<< /A << /S (a >> [ \\) b) /H <3e3e> % ] >>\n >> /B [ ] /C << >> /D 2 >>", "<<A: <<>>, B: [], C: <<>>, D: 2>>"},
        // Kept keys are parsed one level further.
        {"<< /MediaBox [0 0 612 792] /Resources << /Font << /F 1 0 R >> /XObject 4 0 R >> /Contents [1 0 R] >>",
         "<<Contents: [], MediaBox: [0, 0, 612, 792], Resources: <<Font: <<>>, XObject: 4 0 R>>>>"},
        {"<< /A [ [ [ ] ] ] /B (open", "<<A: [], B: (open)>>"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        CPdfParser parser(nullptr, memoryStream(std::make_shared<const std::string>(input)));
        parser.setShallow(true, {"MediaBox", "Resources"});
        CPdfObject value;
        parser.parseObject(value);
        EXPECT_EQ(describe(value), expected);
    }
}

} // namespace
