#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "load/CPdfMemoryStream.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfObject.h"

namespace {

CPdfStream* memoryStream(const std::string& bytes)
{
    auto owner = std::make_shared<const std::string>(bytes);
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

// One token as readable text, e.g. `int 12`, `str "a\x0Ab"`, `cmd "<<"`.
std::string describe(const CPdfObject& token)
{
    char number[64];
    switch (token.type()) {
    case PDF_BOOL: return token.boolValue() ? "bool true" : "bool false";
    case PDF_INT: return "int " + std::to_string(token.intValue());
    case PDF_REAL:
        std::snprintf(number, sizeof number, "real %.15g", token.realValue());
        return number;
    case PDF_STRING: return "str " + quoted(token.textString());
    case PDF_NAME: return "name " + quoted(token.textString());
    case PDF_CMD: return "cmd " + quoted(token.textString());
    case PDF_NULL: return "null";
    case PDF_ERROR: return "error";
    case PDF_EOF: return "eof";
    default: return "kind " + std::to_string(token.type());
    }
}

// Every token up to and including the first end of input.
std::vector<std::string> tokenize(const std::string& input)
{
    CPdfLexer lexer(memoryStream(input));
    std::vector<std::string> tokens;
    for (int guard = 0; guard < 1000; ++guard) {
        CPdfObject token;
        lexer.readToken(token);
        tokens.push_back(describe(token));
        if (token.type() == PDF_EOF)
            break;
    }
    return tokens;
}

struct LexRow {
    const char* note;
    std::string input;
    std::vector<std::string> tokens; // "eof" is appended by the test
};

void checkRows(const std::vector<LexRow>& rows)
{
    for (const LexRow& row : rows) {
        SCOPED_TRACE(std::string(row.note) + ": input " + quoted(row.input));
        std::vector<std::string> expected = row.tokens;
        expected.push_back("eof");
        EXPECT_EQ(tokenize(row.input), expected);
    }
}

} // namespace

TEST(PdfLexer, LiteralStrings)
{
    checkRows({
        {"balanced parentheses nest", "(a(b)c)", {"str \"a(b)c\""}},
        {"escaped close parenthesis", "(a\\)b)", {"str \"a)b\""}},
        {"unterminated at end of input", "(a", {"str \"a\""}},
        {"backslash at end of input", "(a\\", {"str \"a\""}},
        {"octal escapes of one to three digits", "(\\101\\60x)", {"str \"A0x\""}},
        {"three octal digits at most", "(\\1234)", {"str \"S4\""}},
        {"octal value keeps its low 8 bits", "(\\777)", {"str \"\\xFF\""}},
        {"octal escape stops at 8", "(\\18)", {"str \"\\x018\""}},
        {"line continuation CR LF", "(a\\\r\nb)", {"str \"ab\""}},
        {"line continuation LF", "(a\\\nb)", {"str \"ab\""}},
        {"line continuation lone CR", "(a\\\rb)", {"str \"ab\""}},
        {"line ends kept as they are", "(a\r\nb)", {"str \"a\\x0D\\x0Ab\""}},
        {"named escapes", "(\\n\\r\\t\\b\\f\\\\\\()", {"str \"\\x0A\\x0D\\x09\\x08\\x0C\\x5C(\""}},
        {"unknown escape drops the backslash", "(\\q)", {"str \"q\""}},
        {"escaped NUL ends the value", "(a\\000b)", {"str \"a\""}},
        {"empty string", "()", {"str \"\""}},
        {"two strings in a row", "(a)(b)", {"str \"a\"", "str \"b\""}},
        {"high bytes pass through", "(\xE2\x80\xA6)", {"str \"\\xE2\\x80\\xA6\""}},
    });
}

TEST(PdfLexer, HexStrings)
{
    checkRows({
        {"whitespace between digits", "<48 65 6C6C 6F>", {"str \"Hello\""}},
        {"odd digit count pads with 0", "<414>", {"str \"A@\""}},
        {"non-hex byte counts as 0", "<4G>", {"str \"@\""}},
        {"both cases", "<4a4A>", {"str \"JJ\""}},
        {"unterminated at end of input", "<", {"str \"\""}},
        {"unterminated with digits", "<41 4", {"str \"A@\""}},
        {"empty", "<>", {"str \"\""}},
    });
}

TEST(PdfLexer, Names)
{
    checkRows({
        {"hex escape", "/A#42C", {"name \"ABC\""}},
        {"escape takes the next byte even a space", "/A#4 Z", {"name \"A@Z\""}},
        {"# without hex digit stays", "/A#zz", {"name \"A#zz\""}},
        {"lone slash before space", "/ ", {"name \"\""}},
        {"lone slash at end of input", "/", {"name \"\""}},
        {"delimiter ends a name", "/A/B(c)", {"name \"A\"", "name \"B\"", "str \"c\""}},
        {"escaped NUL ends the value", "/A#00B", {"name \"A\""}},
        {"high bytes are regular", "/\xC3\xA9t\xC3\xA9", {"name \"\\xC3\\xA9t\\xC3\\xA9\""}},
    });
}

TEST(PdfLexer, Numbers)
{
    checkRows({
        {"negative integer", "-5", {"int -5"}},
        {"lone minus", "- ", {"int 0"}},
        {"reals", "3.5 .5 -.5 4.", {"real 3.5", "real 0.5", "real -0.5", "real 4"}},
        {"lone point and minus point", ". -.", {"real 0", "real 0"}},
        {"second point ends the value", "1.2.3", {"real 1.2"}},
        {"plus starts a keyword", "+5", {"cmd \"+5\""}},
        {"letters end a number", "12abc", {"int 12", "cmd \"abc\""}},
        {"no exponents", "1e5", {"int 1", "cmd \"e5\""}},
        {"minus ends a number", "1-2", {"int 1", "int -2"}},
        {"leading zeros", "007 -000", {"int 7", "int 0"}},
    });
}

TEST(PdfLexer, KeywordsDelimitersAndErrors)
{
    checkRows({
        {"dictionary brackets", "<< >>", {"cmd \"<<\"", "cmd \">>\""}},
        {"dictionary brackets without spaces", "<</A 1>>", {"cmd \"<<\"", "name \"A\"", "int 1", "cmd \">>\""}},
        {"array brackets", "[1]", {"cmd \"[\"", "int 1", "cmd \"]\""}},
        {"lone > is an error", "> ", {"error"}},
        {"brace is consumed", "{1", {"error", "int 1"}},
        {"stray closers", ") }", {"error", "error"}},
        {"literals", "true false null", {"bool true", "bool false", "null"}},
        {"case and suffix make keywords", "True nullx", {"cmd \"True\"", "cmd \"nullx\""}},
        {"keyword ends at a delimiter", "obj<<", {"cmd \"obj\"", "cmd \"<<\""}},
        {"high bytes make a keyword", "\x80\xFF", {"cmd \"\\x80\\xFF\""}},
    });
}

TEST(PdfLexer, WhitespaceAndComments)
{
    checkRows({
        {"comment ended by CR LF", "% comment\r\n12", {"int 12"}},
        {"comment ended by lone CR", "%c\r7", {"int 7"}},
        {"comment between tokens", "12%c\n13", {"int 12", "int 13"}},
        {"comment at end of input", "1 %only", {"int 1"}},
        {"percent inside a string is no comment", "(a%b)", {"str \"a%b\""}},
        {"NUL TAB FF are whitespace", std::string("1\0\t\f2", 5), {"int 1", "int 2"}},
        {"empty input", "", {}},
        {"whitespace only", " \r\n\t", {}},
    });
}

TEST(PdfLexer, IntegersBeyond32BitsSaturate)
{
    struct Row {
        const char* text;
        int expected;
    };
    const Row rows[] = {
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999999999", INT_MIN},
        {"00000000000000000000000000012", 12}, // long, but small
        {"4294967308", INT_MAX},               // 2^32 + 12 must not wrap to 12
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(tokenize(row.text), (std::vector<std::string>{"int " + std::to_string(row.expected), "eof"}));
    }
}

TEST(PdfLexer, TokensHaveNoLengthLimit)
{
    const std::string longText(100000, 'x');
    CPdfLexer lexer(memoryStream("(" + longText + ") /" + longText + " " + longText));
    CPdfObject string, name, keyword;
    lexer.readToken(string);
    lexer.readToken(name);
    lexer.readToken(keyword);
    EXPECT_EQ(string.textString(), longText);
    EXPECT_EQ(name.textString(), longText);
    EXPECT_EQ(keyword.textString(), longText);
}

TEST(PdfLexer, EndOfInputRepeats)
{
    for (const char* input : {"", "12", "(open", "/N"}) {
        SCOPED_TRACE(input);
        CPdfLexer lexer(memoryStream(input));
        CPdfObject token;
        lexer.readToken(token);
        for (int i = 0; i < 3; ++i) {
            token.clear();
            lexer.readToken(token);
            EXPECT_EQ(token.type(), PDF_EOF);
        }
        EXPECT_EQ(lexer.readChar(), -1);
        EXPECT_EQ(lexer.peekChar(), -1);
    }
}

TEST(PdfLexer, SkipToLineEndConsumesOneLineEnd)
{
    struct Row {
        const char* note;
        std::string input;
        int next; // first byte after the skip
    };
    const Row rows[] = {
        {"CR LF", "abc\r\nX", 'X'},
        {"LF", "abc\nX", 'X'},
        {"lone CR", "abc\rX", 'X'},
        {"CR then CR", "\r\rX", '\r'},
        {"LF CR is one LF only", "\n\rX", '\r'},
        {"no line end", "abc", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        CPdfLexer lexer(memoryStream(row.input));
        lexer.skipToLineEnd();
        EXPECT_EQ(lexer.readChar(), row.next);
    }
}
