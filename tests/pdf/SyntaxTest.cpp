// The pdf layer: values and their lifetimes, dictionary lookups, the lexer
// and the parser; and the scanners that read without the parser: plain
// objects, which must read as the parser reads them, and what a run of page
// content leaves open (q, Q, BT and ET counted as operators only, wherever
// the bytes are cut).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfContentScanner.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfResolver.h"
#include "pdf/CPdfStreamEndRule.h"

namespace {

// A new stream over `owner`'s bytes; owner.use_count() drops when the stream dies.
CPdfStream* memoryStream(const std::shared_ptr<const std::string>& owner) {
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

// Bytes outside printable ASCII show as \xNN, so every row reads unambiguously.
std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

// `12`, `real 0.5`, `(str)`, `/Name`, `cmd obj`, `1 0 R`, `[1, 2]`, `<<A: 1>>`,
// `stream DATA`. Array items show resolved, so a parsed array proves it got
// the parser's table; dictionary values show unresolved.
std::string describe(const CPdfObject& v) {
    char number[64];
    switch (v.type()) {
    case PDF_BOOL: return v.boolValue() ? "true" : "false";
    case PDF_INT: return std::to_string(v.intValue());
    case PDF_REAL: std::snprintf(number, sizeof number, "real %.15g", v.realValue()); return number;
    case PDF_STRING: return "(" + escaped(v.textString()) + ")";
    case PDF_NAME: return "/" + escaped(v.textString());
    case PDF_CMD: return "cmd " + escaped(v.textString());
    case PDF_NULL: return "null";
    case PDF_ERROR: return "error";
    case PDF_REF: return std::to_string(v.refNum()) + " " + std::to_string(v.refGen()) + " R";
    case PDF_ARRAY: {
        std::string out;
        for (int i = 0; i < v.arrayValue()->count(); ++i) {
            CPdfObject item;
            v.arrayValue()->getItem(i, item);
            out += (i ? ", " : "") + describe(item);
        }
        return "[" + out + "]";
    }
    case PDF_DICT: {
        std::string out;
        for (const auto& [key, item] : v.dictValue()->entries())
            out += (out.empty() ? "" : ", ") + key + ": " + describe(item);
        return "<<" + out + ">>";
    }
    case PDF_STREAM: {
        std::string out = "stream ";
        for (int c; (c = v.streamValue()->readChar()) >= 0;)
            out += static_cast<char>(c);
        return out;
    }
    default: return "type " + std::to_string(v.type());
    }
}

// `<<0 >>17: A@3-5=int@6-7, B@8-10=ref 2 0@11-16 stream@20`: where a
// dictionary's brackets stand, each entry's key and the kind and place of its
// value, and the "stream" keyword after it.
std::string describe(const CPdfDictLayout& dict) {
    static const char* const kinds[] = {"bool", "int", "real", "string", "name", "null", "array", "dict"};
    auto span = [](int64_t begin, int64_t end) { return "@" + std::to_string(begin) + "-" + std::to_string(end); };
    std::string out = "<<" + std::to_string(dict.open) + " >>" + std::to_string(dict.close) + ":";
    for (const CPdfEntryLayout& e : dict.entries) {
        std::string kind = e.type < 8 ? kinds[e.type] : e.type == PDF_REF ? "ref" : std::to_string(e.type);
        if (e.type == PDF_REF || e.num || e.gen)
            kind += " " + std::to_string(e.num) + " " + std::to_string(e.gen);
        out += (out.back() == ':' ? " " : ", ") + escaped(e.key) + span(e.keyBegin, e.keyEnd) + "=" + kind +
               span(e.valueBegin, e.valueEnd);
    }
    return dict.streamKeyword >= 0 ? out + " stream@" + std::to_string(dict.streamKeyword) : out;
}

// Object 6 holds `7 0 R`, object 9 is missing, object 666 fails to load and
// any other object n holds the integer n + 2. Fetches are recorded.
class FakeResolver : public CPdfResolver {
public:
    std::string fetches; // "num gen, ..."
    void fetchObject(int num, int gen, CPdfObject& out) override {
        fetches += (fetches.empty() ? "" : ", ") + std::to_string(num) + " " + std::to_string(gen);
        if (num == 666)
            throw CPdfException("object 666 is broken");
        num == 6 ? out.setRef(7, 0) : num == 9 ? out.setNull() : out.setInt(num + 2);
    }
};


// Every token before the end of input, joined by ", ", each with where it
// starts and ends when `where`, and then the end itself; the end must repeat.
std::string lexAll(const std::string& input, bool where = false) {
    CPdfLexer lexer(memoryStream(std::make_shared<const std::string>(input)));
    std::string out;
    CPdfObject token;
    for (int guard = 0; guard < 1000; ++guard) {
        lexer.readToken(token);
        const std::string text = token.type() == PDF_EOF ? "end" : describe(token);
        if (where || token.type() != PDF_EOF)
            out += (out.empty() ? "" : ", ") + text +
                   (where ? "@" + std::to_string(lexer.tokenBegin()) + "-" + std::to_string(lexer.tokenEnd()) : "");
        if (token.type() == PDF_EOF)
            break;
    }
    lexer.readToken(token);
    EXPECT_EQ(token.type(), PDF_EOF);
    EXPECT_EQ(lexer.readChar(), -1);
    return out;
}

// Bytes in memory read as a file is, with the input layer's rule for where
// stream data ends in the few words the parser's own tests need: the data
// starts after the keyword's line end and runs for /Length when "endstream"
// follows there, else up to the line end before the next "endstream" (the
// rule's harder cases are the load tests'). A stream object's data is a
// window of its own, unfiltered only: filters belong to the layer above.
class FileLikeInput : public CPdfMemoryStream, public CPdfStreamEndRule {
public:
    explicit FileLikeInput(const std::shared_ptr<const std::string>& bytes)
        : CPdfMemoryStream(bytes, begin(*bytes), bytes->size()), m_bytes(bytes) {}
    int64_t seekPos(int64_t offset, int) override {
        m_next = begin(*m_bytes) + std::clamp<int64_t>(offset, 0, static_cast<int64_t>(m_bytes->size()));
        return tellPos();
    }
    CPdfStream* openStreamData(int64_t start, int64_t length, const CPdfObject& dict) override {
        CPdfObject filter;
        dict.dictValue()->getValue("Filter", filter);
        return filter.type() == PDF_NULL ? new CPdfMemoryStream(m_bytes, begin(*m_bytes) + start, length) : nullptr;
    }
    bool find(int, int64_t keywordEnd, int64_t claimedLength, CPdfStreamEnd& end) override {
        const std::string& text = *m_bytes;
        const size_t data = static_cast<size_t>(keywordEnd) + (text.compare(keywordEnd, 2, "\r\n") == 0 ? 2 : 1);
        end.dataBegin = static_cast<int64_t>(data);
        size_t dataEnd = claimedLength >= 0 ? data + static_cast<size_t>(claimedLength) : text.size();
        size_t keyword = std::min(text.find_first_not_of("\r\n", dataEnd), text.size());
        end.lengthRight = dataEnd <= text.size() && text.compare(keyword, 9, "endstream") == 0;
        if (!end.lengthRight) {
            if ((keyword = text.find("endstream", data)) == std::string::npos)
                return false;
            for (dataEnd = keyword; dataEnd > data && (text[dataEnd - 1] == '\r' || text[dataEnd - 1] == '\n');)
                --dataEnd;
        }
        end.dataEnd = static_cast<int64_t>(dataEnd);
        end.endstreamEnd = static_cast<int64_t>(keyword + 9);
        return true;
    }

private:
    static const uint8_t* begin(const std::string& bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }
    std::shared_ptr<const std::string> m_bytes;
};

// Every value of `input`, parsed as a file would be (stream data needs
// windows and the rule for where it ends) and described only once the
// parser is gone; an exception shows as "!message".
std::string parseAll(const std::string& input) {
    auto file = std::make_shared<const std::string>(input);
    FakeResolver table;
    std::vector<CPdfObject> values;
    std::string out;
    try {
        auto* fileLike = new FileLikeInput(file);
        CPdfParser parser(&table, fileLike);
        parser.setStreamEnds(fileLike);
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
    EXPECT_EQ(file.use_count(), 1) << "a stream window leaked";
    return out;
}

using Rows = std::vector<std::pair<std::string, std::string>>; // input, expected

using Owner = std::shared_ptr<const std::string>;
Owner newOwner() { return std::make_shared<const std::string>("data"); }

// A stream value holding the only reference to a new stream over `owner`.
CPdfObject streamOver(const Owner& owner) {
    CPdfStream* stream = memoryStream(owner);
    CPdfObject value;
    value.setStream(stream);
    stream->release();
    return value;
}

// An integer, or a reference when a generation is given.
CPdfObject value(int num, int gen = -1) {
    CPdfObject o;
    gen < 0 ? o.setInt(num) : o.setRef(num, gen);
    return o;
}

} // namespace

TEST(PdfLexer, Tokens) {
    const std::string longText(100000, 'x'); // no length limit on token text
    const Rows rows = {
        {"%c\r\n1%c\r2%c\n3 (a%b) %end", "1, 2, 3, (a%b)"}, // comments end at CR LF, CR, LF or the end
        {"(a(b)c)(a\\)b)", "(a(b)c), (a)b)"},              // balanced parentheses nest
        {"(\\101\\60x)(\\18)", "(A0x), (\\x018)"},         // octal escapes of one to three digits
        {"(\\1234)(\\777)", "(S4), (\\xFF)"},              // three digits at most; low 8 bits kept
        {"(a\\\r\nb)(a\\\nb)(a\\\rb)", "(ab), (ab), (ab)"}, // line continuations
        {"(a\r\nb)", "(a\\x0D\\x0Ab)"},                    // plain line ends stay
        {"(\\n\\r\\t\\b\\f\\\\\\q)", "(\\x0A\\x0D\\x09\\x08\\x0C\\x5Cq)"},
        {"(a\\000b)", "(a)"}, {"/A#00B", "/A"}, // an escaped NUL ends the value
        {"(a", "(a)"}, {"(a\\", "(a)"}, {"<41 4", "(A@)"}, // unterminated at the end of input
        {"<48 65 6C6C 6F>", "(Hello)"}, {"/A#42C", "/ABC"}, {"/ /A/B(c)", "/, /A, /B, (c)"}, {"/", "/"},
        {"<414><4G>", "(A@), (@)"}, // an odd count pads with 0; an invalid digit counts as 0
        {"/A#4 Z", "/A@Z"},         // the escape takes the next byte, even a space
        {"/A#zz", "/A#zz"},         // # without hex digits stays
        {"-5 - .5 -.5 4. . -.", "-5, 0, real 0.5, real -0.5, real 4, real 0, real 0"}, {"1.2.3", "real 1.2"},
        {"+5 +.5 +", "5, real 0.5, 0"},                      // a plus sign may lead a number
        {"12abc 1e5 1-2", "12, cmd abc, 1, cmd e5, 1, -2"},  // no exponents; a minus ends a number
        {"2147483647 2147483648", "2147483647, 2147483647"}, // saturates, never wraps
        {"-2147483648 -2147483649", "-2147483648, -2147483648"},
        {"4294967308 -99999999999999999999999999", "2147483647, -2147483648"}, // 2^32 + 12 must not wrap
        {"0000000000000000000000000012", "12"},
        {"<< >><</A 1>>[1]", "cmd <<, cmd >>, cmd <<, /A, 1, cmd >>, cmd [, 1, cmd ]"},
        {"> ) } {1", "error, error, error, error, 1"}, // the brace is consumed
        {"true false null True nullx obj<<", "true, false, null, cmd True, cmd nullx, cmd obj, cmd <<"},
        {std::string("1\0\t\f2", 5), "1, 2"}, // NUL, TAB and FF are whitespace
        {"", ""}, {"(" + longText + ") /" + longText, "(" + longText + "), /" + longText},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input.substr(0, 60)));
        EXPECT_EQ(lexAll(input), expected);
    }
}

// Where each token starts and where the lexer stands after it: comments and
// white space belong to no token, and a token ends at the first byte that
// cannot continue it.
TEST(PdfLexer, PositionsOfTokens) {
    const Rows rows = {
        {"  /Name  ", "/Name@2-7, end@9-9"},
        {"%c\r\n12 0 R", "12@4-6, 0@7-8, cmd R@9-10, end@10-10"},
        {"<<\n/A(x)>>", "cmd <<@0-2, /A@3-5, (x)@5-8, cmd >>@8-10, end@10-10"},
        {"(a\\)b) <41>[]", "(a)b)@0-6, (A)@7-11, cmd [@11-12, cmd ]@12-13, end@13-13"},
        {"/Con#74ents 4", "/Contents@0-11, 4@12-13, end@13-13"},
        {"endobj%x\nendstream", "cmd endobj@0-6, cmd endstream@9-18, end@18-18"},
        {"-.5 +3 true", "real -0.5@0-3, 3@4-6, true@7-11, end@11-11"},
    };
    for (const auto& [input, expected] : rows)
        EXPECT_EQ(lexAll(input, true), expected) << "input " << escaped(input);
}

// Encryption keys and /ID are binary: parsed for them, strings keep their
// NUL bytes, literal and hex alike, while text() still ends at the first.
TEST(PdfParser, KeepsStringBytesWhenAsked) {
    const std::string input = "<< /O (a\\000b) /U <00FF0041> /N /A#00B >>";
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keeping" : "default");
        CPdfObject dict, o, u, n;
        CPdfParser(nullptr, memoryStream(std::make_shared<const std::string>(input)), keep).parseObject(dict);
        ASSERT_EQ(dict.type(), PDF_DICT);
        dict.dictValue()->getValue("O", o);
        dict.dictValue()->getValue("U", u);
        dict.dictValue()->getValue("N", n);
        EXPECT_EQ(o.textString(), keep ? std::string("a\0b", 3) : "a");
        EXPECT_EQ(u.textString(), keep ? std::string("\0\xFF\0A", 4) : "");
        EXPECT_STREQ(o.text(), "a");
        EXPECT_EQ(n.textString(), "A"); // names are never binary
    }
}

// The layout of a dictionary: where its brackets, keys and values stand,
// values of every kind, and what follows it.
TEST(PdfParser, LaysOutDictionaries) {
    const Rows rows = {
        {"<< /A 1 /B 2 0 R >>", "<<0 >>17: A@3-5=int@6-7, B@8-10=ref 2 0@11-16"},
        // Nested values end at their closing brackets; strings and comments hide theirs.
        {"<</K [1 (]) 2]/D<</E>>/F(x>>)>>", "<<0 >>29: K@2-4=array@5-14, D@14-16=dict@16-22, F@22-24=string@24-29"},
        {"<< % /A 9\n/A 1 >>", "<<0 >>15: A@10-12=int@13-14"},
        // A key is named with its escapes decoded; repeated keys are all listed.
        {"<< /Con#74ents 4 0 R /Contents 5 0 R >>",
         "<<0 >>37: Contents@3-14=ref 4 0@15-20, Contents@21-30=ref 5 0@31-36"},
        // No closing bracket: the dictionary ends with the input.
        {"<< /A [1 2", "<<0 >>-1: A@3-5=array@6-10"},
        {"<< /L 3 >>\nstream\nabc\nendstream", "<<0 >>8: L@3-5=int@6-7 stream@11"},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE("input " + escaped(input));
        CPdfParser parser(nullptr, memoryStream(std::make_shared<const std::string>(input)));
        parser.setShallow(true);
        parser.setStreamsUnread(true);
        CPdfDictLayout layout;
        CPdfObject value;
        parser.parseObject(value, &layout);
        EXPECT_EQ(describe(layout), expected);
        EXPECT_EQ(parser.valueBegin(), 0);
        // A stream's keyword stays the current token, for callers that find its data themselves.
        EXPECT_EQ(parser.currentToken().isKeyword("stream") ? parser.currentEnd() : -1,
                  layout.streamKeyword < 0 ? -1 : layout.streamKeyword + 6);
    }
}

TEST(PdfParser, Values) {
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
        {"5 R", "5, cmd R"}, {"1 0.5 R", "1, real 0.5, cmd R"},                // a reference takes two integers
        {"<</A 1/B<</C 2 0 R>>>>", "<<A: 1, B: <<C: 2 0 R>>>>"}, {"<< /A >> /B 1", "<<A: cmd >>, B: 1>>"},
        {"<< 7 /A 1 >>", "<<A: 1>>"},    // a key that is no name is dropped
        {"<< /A ) /B 2 >>", "<<B: 2>>"}, // so is a key followed by an error token
        {"<< /A 1 /A 2 >>", "<<A: 1>>"}, // the first value wins
        {"[1 ) 2] ] >>", "[1, error, 2], cmd ], cmd >>"},
        {"[true null (s) /N 1.5 [-3]]", "[true, null, (s), /N, real 1.5, [-3]]"},
        {"[1 0 R", "[3]"}, {"<< /A [1 2", "<<A: [1, 2]>>"}, // containers open at the end of input end there
        {"<< /A", "<<>>"}, {"", ""},                        // a key cut off by the end has no value
        {arrays(limit) + arrays(limit), arrays(limit) + ", " + arrays(limit)},
        {std::string(limit - 1, '[') + "<</K", std::string(limit - 1, '[') + "<<>>" + std::string(limit - 1, ']')},
        {arrays(limit + 1), "!PDF file was damaged"}, {std::string(limit, '[') + "<</K", "!PDF file was damaged"},
        {std::string(100000, '['), "!PDF file was damaged"}, // no stack overflow
        {dicts(100000), "!PDF file was damaged"},
        {stream("<< /Length 5 >>"), "stream HELLO, 42"},
        {stream("<< /Length 3 0 R >>"), "stream HELLO, 42"}, // object 3 holds 5
        {"<< /Length 5 >> stream\nHELLO\nendstream", "stream HELLO"},
        {"<< /Length 5 >> stream\rHELLO\nendstream", "stream HELLO"},
        {stream("<< /Length 2 0 R >>"), repaired}, {stream("<< /Length 5.0 >>"), repaired},
        {stream("<< /Length -5 >>"), repaired}, {stream("<< >>"), repaired},
        {stream("<< /Length 666 0 R >>"), "!object 666 is broken"},
        {"<< /Length 3 >> stream\nHELLO", "!Missing 'endstream'"}, // none anywhere
        {"<< >> stream\nHELLO", "error, cmd >>, cmd stream, cmd HELLO"},
        // The first keyword ends it.
        {"<< /Length 2 >> stream\r\nendstrendstream\r\nendstream 42", "stream endstr, cmd endstream, 42"},
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

// Shallow parsing keeps the top level exactly and only says what kind of
// container each nested value is.
TEST(PdfParser, ShallowKeepsTheTopLevel) {
    const Rows rows = {
        {"<< /Font << /F1 5 0 R >> /XObject 7 0 R /A [ << >> ] /B 1 >>",
         "<<A: [], B: 1, Font: <<>>, XObject: 7 0 R>>"},
        // Brackets inside strings, hex strings and comments do not count.
        {"<< /A << /S (a >> [ \\) b) /H <3e3e> % ] >>\n >> /B [ ] /C << >> /D 2 >>",
         "<<A: <<>>, B: [], C: <<>>, D: 2>>"},
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

TEST(PdfObject, TextEndsAtTheFirstNulByte) {
    for (auto set : {&CPdfObject::setString, &CPdfObject::setName, &CPdfObject::setCmd}) {
        CPdfObject text, leading;
        (text.*set)(std::string("ab\0c", 4));
        (leading.*set)(std::string("\0x", 2));
        EXPECT_EQ(text.textString(), "ab");
        EXPECT_EQ(leading.textString(), "");
    }
}

TEST(PdfObjectLifetime, SharedValuesLiveUntilTheLastHolderLetsGo) {
    const char* notes[] = {"stream", "array", "dict", "shared dict"};
    const Owner o[] = {newOwner(), newOwner(), newOwner(), newOwner()};
    CPdfObject rows[4], owner;
    rows[0] = streamOver(o[0]);
    rows[1].setNewArray(nullptr)->append(streamOver(o[1]));
    rows[2].setNewDict(nullptr)->insert("K", streamOver(o[2]));
    owner.setNewDict(nullptr)->insert("K", streamOver(o[3]));
    rows[3].setSharedDict(owner.dictValue());
    owner.clear(); // the shared dict is now held by rows[3] alone
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(notes[i]);
        CPdfObject copy(rows[i]);
        rows[i].clear();
        EXPECT_EQ(o[i].use_count(), 2) << "died with the first holder";
        copy.clear();
        EXPECT_EQ(o[i].use_count(), 1) << "outlived the last holder";
    }
}

TEST(PdfObjectLifetime, StreamValueHoldsExactlyOneReference) {
    const Owner mine = newOwner(), other = newOwner();
    CPdfObject value = streamOver(mine);
    CPdfStream* stream = value.streamValue();
    EXPECT_EQ(stream->refCount(), 1);
    CPdfObject moved(std::move(value)); // moves the reference, adds none
    moved.assign(moved);
    EXPECT_EQ(stream->refCount(), 1);
    CPdfObject target = streamOver(other);
    target = std::move(moved);
    EXPECT_EQ(other.use_count(), 1); // what the target held is released
    EXPECT_EQ(mine.use_count(), 2);
    target.setInt(1); // so is a stream replaced by a setter
    EXPECT_EQ(mine.use_count(), 1);
}

TEST(PdfDict, LookupsResolveOnlyThroughABoundTable) {
    FakeResolver table;
    const Owner discarded = newOwner(), held = newOwner();
    CPdfObject bound, unbound, out = streamOver(held);
    CPdfDict* dict = bound.setNewDict(&table);
    dict->insert("A", value(1));
    dict->insert("A", streamOver(discarded));
    EXPECT_EQ(discarded.use_count(), 1); // a later value for a key is dropped, not kept
    dict->insert("L", value(5, 0));
    dict->insert("G", value(5, 3));
    dict->insert("Chain", value(6, 0));
    dict->insert("Missing", value(9, 0));
    const struct { const char *key, *resolved, *raw, *fetches; } rows[] = {
        {"A", "1", "1", ""},                // the first value wins; direct values fetch nothing
        {"L", "7", "5 0 R", "5 0"},
        {"G", "7", "5 3 R", "5 3"},         // the generation is passed on
        {"Chain", "7 0 R", "6 0 R", "6 0"}, // one level only
        {"Missing", "null", "9 0 R", "9 0"},
        {"a", "null", "null", ""},          // an absent key; keys compare byte for byte
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        table.fetches.clear();
        dict->getValue(row.key, out);
        EXPECT_EQ(describe(out), row.resolved);
        dict->getValueUnresolved(row.key, out);
        EXPECT_EQ(describe(out), row.raw);
        EXPECT_EQ(table.fetches, row.fetches);
    }
    EXPECT_EQ(held.use_count(), 1); // what the output held before is released

    unbound.setNewDict(nullptr)->insert("L", value(5, 0));
    unbound.dictValue()->getValue("L", out);
    EXPECT_EQ(describe(out), "5 0 R"); // no table, no resolution
}

namespace {

// The keys compared, and whether the parser keeps them whole (as the page
// tree walk asks it to).
const std::pair<const char*, bool> kKeys[] = {{"MediaBox", true}, {"CropBox", true}, {"Resources", true},
                                              {"Kids", true},     {"Contents", false}, {"Rotate", false},
                                              {"Type", false},    {"XObject", false},  {"", false}};
const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources", "Kids"};

// Where everything of a head stands: the header, the value, the keyword
// after it, and each entry of its dictionary.
std::string layoutOf(const CPdfObjectHead& head) {
    return std::to_string(head.num) + " " + std::to_string(head.gen) + " type " + std::to_string(head.type) + " " +
           std::to_string(head.valueBegin) + "-" + std::to_string(head.valueEnd) + " '" + head.keyword + "' " +
           std::to_string(head.keywordBegin) + "-" + std::to_string(head.keywordEnd) + " " + describe(head.dict);
}

// The head and the kept entries' values as the walk's shallow parse reads
// them; "" when the text does not start with "N G obj" and a value.
std::string parsed(const std::string& text) {
    auto owner = std::make_shared<const std::string>(text);
    FakeResolver table;
    try {
        CPdfParser parser(&table, memoryStream(owner));
        CPdfObjectHead head;
        CPdfObject value;
        if (!parser.parseObjectHead(head, &value))
            return "";
        std::string out = layoutOf(head);
        // The values again, from a parse keeping the walk's keys whole.
        CPdfParser again(&table, memoryStream(owner));
        again.setShallow(true, kKeptWhole);
        again.setStreamsUnread(true);
        int num = 0, gen = 0;
        again.parseObjectHeader(num, gen);
        again.parseObject(value);
        if (value.type() != PDF_DICT)
            return out;
        for (const auto& [key, whole] : kKeys) {
            CPdfObject item;
            value.dictValue()->getValueUnresolved(key, item);
            out += std::string(" ") + key + ": " + describe(item) + ",";
        }
        return out;
    } catch (const CPdfException&) {
        return "";
    }
}

// The same from the scanner, or "-" when it does not accept the text.
std::string scanned(const std::string& text) {
    CPdfObjectHead head;
    if (!CPdfDictScanner::scanObjectHead(text, head) || !head.plain)
        return "-";
    std::string out = layoutOf(head);
    if (head.type != PDF_DICT)
        return out;
    if (!CPdfDictScanner::readsWhole(text, head.dict, kKeptWhole))
        return "-";
    FakeResolver table;
    for (const auto& [key, whole] : kKeys) {
        CPdfObject item;
        item.setNull();
        if (const CPdfEntryLayout* entry = head.dict.find(key))
            if (!CPdfDictScanner::makeValue(text, *entry, whole, &table, item))
                return "-";
        out += std::string(" ") + key + ": " + describe(item) + ",";
    }
    return out;
}

TEST(DictScanner, ReadsPlainObjectsAsTheParserDoes) {
    const char* texts[] = {
        "4 0 obj\n<< /Type /Page /Parent 1 0 R /MediaBox [0 0 612 792] /Resources 6 0 R "
        "/Contents [ 34021 0 R  5 0 R  6008 0 R ]>>\nendobj\n",
        "12 3 obj<</Type/Page/CropBox[-5.5 .5 595.276 842]/Rotate -90/Contents 7 0 R>>endobj",
        // Inline resources come whole, with their own containers empty.
        "5 0 obj << /Resources << /XObject << /Im1 9 0 R >> /Font 8 0 R /ProcSet [/PDF] >> >> endobj",
        // Box items that are references, names or containers, and boxes that are references.
        "5 0 obj << /MediaBox [0 1 0 R /A [1] << /B 2 >> 4] /CropBox 8 0 R >> endobj",
        // Number forms the lexer has rules for: a lone sign, a lone point, two
        // points, leading zeros, a plus sign and integers too large for 32 bits.
        "5 0 obj << /MediaBox [- . 1.2.3 0007] /Rotate 99999999999 /Type -0 /Count +3 >> endobj",
        // The first of two entries for a key counts; the layout lists both.
        "5 0 obj << /Rotate 90 /Rotate 180 /Contents [1 0 R] /Contents 3 0 R >> endobj",
        // An empty name, names ending at delimiters, brackets of either kind nested.
        "5 0 obj <</ 1/Type/Page/Kids[<</A[[]]>>[<<>>]]>> endobj",
        // A stream's head ends at its "stream" keyword; any keyword may follow a value.
        "5 0 obj << /Length 4 >>\nstream\nabcd\nendstream endobj",
        "7 0 obj << /Type /Page >> junk endobj",
        // Values other than dictionaries.
        "8 0 obj [ 4 0 R 5 0 R ] endobj", "8 0 obj 12 endobj", "8 0 obj 12 0 R endobj", "8 0 obj /Name endobj",
    };
    for (const char* text : texts) {
        const std::string fast = scanned(text);
        ASSERT_NE(fast, "-") << "not scanned: " << escaped(text);
        EXPECT_EQ(fast, parsed(text)) << escaped(text);
    }
}

TEST(DictScanner, LeavesEverythingElseToTheParser) {
    const std::string texts[] = {
        "5 0 obj << /Type (Page) >> endobj", "5 0 obj << /Kids [ (a]) ] >> endobj", // strings, one hiding a bracket
        "5 0 obj << /Kids [ <41> ] >> endobj", "5 0 obj << % note\n /Type /Page >> endobj", // a hex string, a comment
        "5 0 obj << /Ty#70e /Page >> endobj",              // an escape in a name
        "5 0 obj << /Open true >> endobj",                 // keywords
        "5 0 obj << /MediaBox [ 0 0 1 null ] >> endobj",   // (inside a box, which is read whole)
        "5 0 obj << /MediaBox [ 1 R ] >> endobj",          // R not after two integers
        "5 0 obj << /Rotate 1 2 /Type /Page >> endobj", "5 0 obj << 3 /Type /Page >> endobj", // a token for a key
        "5 0 obj << /Type >> endobj",                      // a key without a value
        "5 0 obj << /Length 4 >> % c\nstream\nabcd\nendstream endobj",
        "5 0 obj << /Kids [ 1 0 R >> ] >> endobj",         // brackets of different kinds
        "5 0 obj << /Kids [ 1 0 R ",                       // left open
        "5 0 obj << /Rotate 90R >> endobj",                // a number glued to a keyword
        "5 0 obj << /A < /B > >> endobj",
        "5 0 obj << /Type /Page >>",                       // nothing after the value
        "5 0 obj << /Type /Page >> 6 0 obj",               // no keyword after the value
        "5 0 obj 12 null",                                 // a value, not a keyword, after it
        "5 0 R obj << >> endobj", "5.0 0 obj << >> endobj", "% c\n5 0 obj << >> endobj", // no header
        // Resources are read whole, a second entry too: the parser reads the
        // token "<<" in a key's place alone, so this one ends at the first ">>"
        // and what follows is read as entries of the page.
        "4 0 obj << /Resources << /Font 5 0 R >> /Resources << << /Type /Pages >> >> >> endobj",
        "4 0 obj << /Resources << /A 1 << 2 >> /B 3 >> /Type /Page >> endobj",
        "5 0 obj << /A " + std::string(100, '[') + std::string(100, ']') + " >> endobj", // too deep
    };
    for (const std::string& text : texts)
        EXPECT_EQ(scanned(text), "-") << escaped(text);
}

// Texts made of random pieces of syntax: whenever the scanner accepts one,
// it must read what the parser reads, and find everything where it does.
TEST(DictScanner, AgreesWithTheParserOnRandomSyntax) {
    const char* pieces[] = {"/Type", "/Page", "/MediaBox", "/CropBox", "/Resources", "/Contents", "/Rotate",
                            "/XObject", "/Kids", "/", " ", "\n", "\r", "\t", "\0", "<<", ">>", "[", "]", "<",
                            ">", "(", ")", "%", "{", "}", "0", "12", "-3", "+4", "4.5", ".", "-", "R", "obj",
                            "null", "true", "#41", "stream", "endobj", "1 0 R", "99999999999", "/A#"};
    std::mt19937 random(20261207);
    int accepted = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string text = "5 0 obj << ";
        const int count = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < count; ++i) {
            const char* piece = pieces[random() % (sizeof pieces / sizeof pieces[0])];
            text += *piece ? std::string(piece) : std::string(1, '\0');
            if (random() % 2)
                text += ' ';
        }
        text += random() % 4 ? " >> endobj" : "";
        const std::string fast = scanned(text);
        if (fast == "-")
            continue;
        ++accepted;
        ASSERT_EQ(fast, parsed(text)) << escaped(text);
    }
    EXPECT_GT(accepted, 500); // the comparison must actually take place
}

constexpr auto OPEN = CContentEffect::TEXT_OPEN;
constexpr auto CLOSED = CContentEffect::TEXT_CLOSED;
constexpr auto AS_BEFORE = CContentEffect::TEXT_AS_BEFORE;

struct ScanCase { const char* name; std::string content; CContentEffect expected; }; // lowest, depth, text
const ScanCase kScans[] = {
    {"Balanced", "q 1 0 0 1 5 5 cm 0 g 0 0 9 9 re f Q", {0, 0, AS_BEFORE}}, {"Empty", "", {0, 0, AS_BEFORE}},
    {"OneExtraQ", "q 0 g Q Q", {-1, -1, AS_BEFORE}}, {"LowThenOpen", "Q q q", {-1, 1, AS_BEFORE}},
    {"TwoOpen", "q 2 0 0 2 0 0 cm q 1 0 0 1 9 9 cm", {0, 2, AS_BEFORE}},
    {"OperatorsWithoutSpaces", "q[1 2]0 d Q", {0, 0, AS_BEFORE}},
    {"TextClosed", "BT /F1 9 Tf (x) Tj ET", {0, 0, CLOSED}},
    {"TextLeftOpen", "BT /F1 9 Tf (x) Tj ET BT (y) Tj", {0, 0, OPEN}}, {"TextAtTheVeryEnd", "ET q Q BT", {0, 0, OPEN}},
    // Not operators: names, strings (nested, escaped), hex strings, comments.
    {"Names", "/q /Q /BT /ET gs", {0, 0, AS_BEFORE}}, {"Strings", "(q Q \\) BT ( ET ) q) Tj", {0, 0, AS_BEFORE}},
    {"EscapedBackslash", "(a\\\\) q", {0, 1, AS_BEFORE}}, {"HexString", "<51> Tj <<  /Q 1 >> BDC q", {0, 1, AS_BEFORE}},
    {"Comment", "% q Q Q BT\nq\r% Q\rQ", {0, 0, AS_BEFORE}},
    {"LongerTokens", "qq QQ BTX ETc q0 Q1 1q", {0, 0, AS_BEFORE}},
    // Inline image data is skipped to its "EI", whatever it holds.
    {"InlineImage", "q BI /W 4 /H 1 /BPC 8 /CS /G ID Q Q\n BT EI Q", {0, 0, AS_BEFORE}},
    {"InlineImageDataEndsOnlyAtASeparateEI", "BI /W 2 ID xEI EIx Q EI\nq", {0, 1, AS_BEFORE}},
    {"IdOutsideAnInlineImage", "ID Q", {-1, -1, AS_BEFORE}}};

} // namespace

// Whole, and cut after every byte and every few bytes: a token, a string or
// inline image data that runs from one piece into the next counts the same.
TEST(ContentScan, CountsOnlyOperators) {
    for (const ScanCase& c : kScans)
        for (size_t piece : {c.content.size() + 1, size_t(1), size_t(2), size_t(3), size_t(7)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            CPdfContentScanner scanner;
            const auto* bytes = reinterpret_cast<const uint8_t*>(c.content.data());
            for (size_t at = 0; at < c.content.size(); at += piece)
                scanner.scan(bytes + at, std::min(piece, c.content.size() - at));
            const CContentEffect got = scanner.finish();
            EXPECT_EQ(got.lowest, c.expected.lowest);
            EXPECT_EQ(got.depth, c.expected.depth);
            EXPECT_EQ(got.text, c.expected.text);
        }
}

TEST(ContentEffect, FollowsOneStreamWithTheNext) {
    const CContentEffect first{0, 2, OPEN}, second{-3, -1, AS_BEFORE}, closing{0, 0, CLOSED};
    const CContentEffect both = first.then(second);
    EXPECT_EQ(both.lowest, -1);
    EXPECT_EQ(both.depth, 1);
    EXPECT_EQ(both.text, OPEN);
    EXPECT_EQ(second.then(closing).text, CLOSED);
}
