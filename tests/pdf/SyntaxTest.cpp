// The pdf layer: the lexer, the parser, values and dictionary lookups; and the
// scanners that read without the parser: plain objects, which must read as the
// parser reads them, and what a run of page content leaves open.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pdf/CPdfContentScanner.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfResolver.h"
#include "tests/support/PdfText.h"

namespace {

using vtest::describe;
using vtest::escaped;
using vtest::memoryStream;
using vtest::parse;

// `<<0 >>17: A@3-5=int@6-7, B@8-10=ref 2 0@11-16 stream@20`: where the brackets,
// each key and the kind and place of its value stand, and a "stream" keyword after.
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

// Object 6 holds `7 0 R`, object 9 is missing and any other object n holds
// the integer n + 2. Fetches are recorded.
class FakeResolver : public CPdfResolver {
public:
    std::string fetches; // "num gen, ..."
    void fetchObject(int num, int gen, CPdfObject& out) override {
        fetches += (fetches.empty() ? "" : ", ") + std::to_string(num) + " " + std::to_string(gen);
        num == 6 ? out.setRef(7, 0) : num == 9 ? out.setNull() : out.setInt(num + 2);
    }
    CPdfRefPtr<CPdfStream> streamData(int, int, const CPdfObject&, int64_t) override { return {}; }
};

// Every token, with where it starts and ends when `where` (then the end too, which must repeat).
std::string lexAll(const std::string& input, bool where = false) {
    CPdfLexer lexer(memoryStream(input));
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

// Every value, keeping string bytes when `keep`, shallow but for /MediaBox and
// /Resources when `shallow`; "!message" when it throws.
std::string parseAll(const std::string& input, bool keep, bool shallow) {
    FakeResolver table;
    std::string out;
    try {
        CPdfParser parser(&table, memoryStream(input), keep);
        parser.setShallow(shallow, {"MediaBox", "Resources"});
        CPdfObject value;
        for (int guard = 0; guard < 50 && (parser.parseObject(value), value.type() != PDF_EOF); ++guard)
            out += (out.empty() ? "" : ", ") + describe(value);
    } catch (const CPdfException& e) {
        return std::string("!") + e.message();
    }
    return out;
}

using Rows = std::vector<std::pair<std::string, std::string>>; // input, expected
using Owner = std::shared_ptr<const std::string>;
Owner newOwner() { return std::make_shared<const std::string>("data"); }

// A stream value holding the only reference to a new stream over `owner`.
CPdfObject streamOver(const Owner& owner) {
    CPdfObject value;
    value.setStream(memoryStream(owner));
    value.streamValue()->release();
    return value;
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
    // Where each token starts and ends: comments and white space belong to none.
    const Rows positions = {
        {"  /Name  ", "/Name@2-7, end@9-9"}, {"%c\r\n12 0 R", "12@4-6, 0@7-8, cmd R@9-10, end@10-10"},
        {"<<\n/A(x)>>", "cmd <<@0-2, /A@3-5, (x)@5-8, cmd >>@8-10, end@10-10"},
        {"(a\\)b) <41>[]", "(a)b)@0-6, (A)@7-11, cmd [@11-12, cmd ]@12-13, end@13-13"},
        {"/Con#74ents 4", "/Contents@0-11, 4@12-13, end@13-13"},
        {"-.5 +3 true", "real -0.5@0-3, 3@4-6, true@7-11, end@11-11"},
        {"endobj%x\nendstream", "cmd endobj@0-6, cmd endstream@9-18, end@18-18"},
    };
    for (const auto& [input, expected] : positions)
        EXPECT_EQ(lexAll(input, true), expected) << "input " << escaped(input);
}

TEST(PdfParser, Values) {
    const int limit = CPdfParser::kMaxNestingDepth;
    auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    std::string dicts;
    for (int depth = 0; depth < 100000; ++depth)
        dicts += "<</K";
    const std::string binary = "<< /O (a\\000b) /U <00FF0041> /N /A#00B >>";
    const struct { std::string input, expected; bool keep = false, shallow = false; } rows[] = {
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
        {std::string(100000, '['), "!PDF file was damaged"}, {dicts, "!PDF file was damaged"}, // no stack overflow
        // Strings keep their NUL bytes when asked (keys and /ID are binary); names never do.
        {binary, "<<N: /A, O: (a), U: ()>>"}, {binary, "<<N: /A, O: (a\\x00b), U: (\\x00\\xFF\\x00A)>>", true},
        // Without the input's rule for where stream data ends, a stream is an error (load tests read them).
        {"<< /Length 5 >> stream\r\nHELLO\nendstream 42", "error, cmd stream, cmd HELLO, cmd endstream, 42"},
        // Shallow: nested containers come empty (their brackets hidden in strings and comments), kept keys whole.
        {"<< /Font << /F1 5 0 R >> /XObject 7 0 R /A [ << >> ] /B 1 >>", "<<A: [], B: 1, Font: <<>>, XObject: 7 0 R>>",
         false, true},
        {"<< /A << /S (a >> [ \\) b) /H <3e3e> % ] >>\n >> /B [ ] /C << >> /D 2 >>",
         "<<A: <<>>, B: [], C: <<>>, D: 2>>", false, true},
        {"<< /MediaBox [0 0 612 792] /Resources << /Font << /F 1 0 R >> /XObject 4 0 R >> /Contents [1 0 R] >>",
         "<<Contents: [], MediaBox: [0, 0, 612, 792], Resources: <<Font: <<>>, XObject: 4 0 R>>>>", false, true},
        {"<< /A [ [ [ ] ] ] /B (open", "<<A: [], B: (open)>>", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("input " + escaped(row.input.substr(0, 80)));
        EXPECT_EQ(parseAll(row.input, row.keep, row.shallow), row.expected);
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
    dict->insert("A", parse("1"));
    dict->insert("A", streamOver(discarded));
    EXPECT_EQ(discarded.use_count(), 1); // a later value for a key is dropped, not kept
    dict->insert("L", parse("5 0 R")), dict->insert("G", parse("5 3 R"));
    dict->insert("Chain", parse("6 0 R")), dict->insert("Missing", parse("9 0 R"));
    const struct { const char *key, *resolved, *raw, *fetches; } rows[] = {
        {"A", "1", "1", ""}, {"L", "7", "5 0 R", "5 0"}, // the first value wins; direct values fetch nothing
        {"G", "7", "5 3 R", "5 3"}, {"Chain", "7 0 R", "6 0 R", "6 0"}, // the generation is passed on; one level only
        {"Missing", "null", "9 0 R", "9 0"}, {"a", "null", "null", ""}, // an absent key; keys compare byte for byte
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
    unbound.setNewDict(nullptr)->insert("L", parse("5 0 R"));
    unbound.dictValue()->getValue("L", out);
    EXPECT_EQ(describe(out), "5 0 R"); // no table, no resolution
    CPdfObject list;
    list.setNewArray(&table)->append(parse("5 0 R"));
    list.arrayValue()->getItemUnresolved(0, out);
    EXPECT_EQ(describe(out), "5 0 R"); // an array's item, read unresolved
}

namespace {

// The keys compared, and whether they are kept whole (as the page tree walk asks).
const std::pair<const char*, bool> kKeys[] = {{"MediaBox", true}, {"CropBox", true}, {"Resources", true},
                                              {"Kids", true},     {"Contents", false}, {"Rotate", false},
                                              {"Type", false},    {"XObject", false},  {"", false}};
const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources", "Kids"};

std::string layoutOf(const CPdfObjectHead& head) {
    return std::to_string(head.num) + " " + std::to_string(head.gen) + " type " + std::to_string(head.type) + " " +
           std::to_string(head.valueBegin) + "-" + std::to_string(head.valueEnd) + " '" + head.keyword + "' " +
           std::to_string(head.keywordBegin) + "-" + std::to_string(head.keywordEnd) + " " + describe(head.dict);
}

// The head and the keys' values as the walk's parse reads them; "" when it is no object.
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
        // Number forms: a lone sign or point, two points, leading zeros, a plus, past 32 bits.
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
    // Everything else is the parser's. (Strings, comments, escapes, keywords, stray or unclosed brackets and
    // values that end the text: the random rows below meet them.)
    const std::string others[] = {
        "5 0 obj 12 null",                                 // a value, not a keyword, after it
        "5 0 R obj << >> endobj", "5.0 0 obj << >> endobj", "% c\n5 0 obj << >> endobj", // no header
        // Resources read whole, a second entry too: "<<" in a key's place is a token alone.
        "4 0 obj << /Resources << /Font 5 0 R >> /Resources << << /Type /Pages >> >> >> endobj",
        "4 0 obj << /Resources << /A 1 << 2 >> /B 3 >> /Type /Page >> endobj",
        "5 0 obj << /A " + std::string(100, '[') + std::string(100, ']') + " >> endobj", // too deep
    };
    for (const std::string& text : others)
        EXPECT_EQ(scanned(text), "-") << escaped(text);
}

// Whenever the scanner accepts random syntax, it must read what the parser reads.
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
    {"EscapedBackslash", "(a\\\\) q", {0, 1, AS_BEFORE}},
    {"HexString", "<5 q> Tj <<  /Q 1 >> BDC q", {0, 1, AS_BEFORE}}, // its last byte is no token
    {"Comment", "% q Q Q BT\nq\r% Q\rQ", {0, 0, AS_BEFORE}},
    {"LongerTokens", "qq QQ BTX ETc q0 Q1 1q", {0, 0, AS_BEFORE}},
    // Inline image data is skipped to its "EI", whatever it holds.
    {"InlineImage", "q BI /W 4 /H 1 /BPC 8 /CS /G ID Q Q\n BT EI Q", {0, 0, AS_BEFORE}},
    {"InlineImageDataEndsOnlyAtASeparateEI", "BI /W 2 ID xEI EIx Q EI\nq", {0, 1, AS_BEFORE}},
    {"IdOutsideAnInlineImage", "ID Q", {-1, -1, AS_BEFORE}}};

} // namespace

// Whole and in pieces: what runs from one piece into the next counts the same.
TEST(ContentScan, CountsOnlyOperators) {
    for (const ScanCase& c : kScans)
        for (size_t piece : {c.content.size() + 1, size_t(1), size_t(2), size_t(3), size_t(7)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            CPdfContentScanner scanner;
            const auto* bytes = reinterpret_cast<const uint8_t*>(c.content.data());
            for (size_t at = 0; at < c.content.size(); at += piece)
                scanner.scan(bytes + at, std::min(piece, c.content.size() - at));
            const CContentEffect got = scanner.finish(), want = c.expected;
            EXPECT_EQ(std::tuple(got.lowest, got.depth, got.text), std::tuple(want.lowest, want.depth, want.text));
        }
}
