#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfParser.h"
#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;

namespace {

// The keys compared, and whether the parser keeps them whole (as the page
// tree walk asks it to).
const std::pair<const char*, bool> kKeys[] = {{"MediaBox", true}, {"CropBox", true}, {"Resources", true},
                                              {"Kids", true},     {"Contents", false}, {"Rotate", false},
                                              {"Type", false},    {"XObject", false},  {"", false}};
const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources", "Kids"};

// Where everything of a head stands: the header, the value, the keyword
// after it, and each entry of its dictionary.
std::string layoutOf(const CPdfObjectHead& head)
{
    auto span = [](int64_t begin, int64_t end) { return std::to_string(begin) + "-" + std::to_string(end); };
    std::string out = std::to_string(head.num) + " " + std::to_string(head.gen) + " type " +
                      std::to_string(head.type) + " " + span(head.valueBegin, head.valueEnd) + " '" + head.keyword +
                      "' " + span(head.keywordBegin, head.keywordEnd);
    const CPdfDictLayout& dict = head.dict;
    out += " << " + std::to_string(dict.open) + " >> " + std::to_string(dict.close) + " stream " +
           std::to_string(dict.streamKeyword) + ":";
    for (const CPdfEntryLayout& entry : dict.entries)
        out += " /" + escaped(entry.key) + " " + span(entry.keyBegin, entry.keyEnd) + " " + std::to_string(entry.type) +
               " " + span(entry.valueBegin, entry.valueEnd) + " " + std::to_string(entry.num) + " " +
               std::to_string(entry.gen);
    return out;
}

// The head and the kept entries' values as the walk's shallow parse reads
// them; "" when the text does not start with "N G obj" and a value.
std::string parsed(const std::string& text)
{
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
std::string scanned(const std::string& text)
{
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

void expectSameAsParser(const std::string& text)
{
    const std::string fast = scanned(text);
    ASSERT_NE(fast, "-") << "not scanned: " << escaped(text);
    EXPECT_EQ(fast, parsed(text)) << escaped(text);
}

void expectNotScanned(const std::string& text) { EXPECT_EQ(scanned(text), "-") << escaped(text); }

TEST(DictScanner, ReadsPlainObjectsAsTheParserDoes)
{
    expectSameAsParser("4 0 obj\n<< /Type /Page /Parent 1 0 R /MediaBox [0 0 612 792] /Resources 6 0 R "
                       "/Contents [ 34021 0 R  5 0 R  6008 0 R ]>>\nendobj\n");
    expectSameAsParser("12 3 obj<</Type/Page/CropBox[-5.5 .5 595.276 842]/Rotate -90/Contents 7 0 R>>endobj");
    // Inline resources come whole, with their own containers empty.
    expectSameAsParser("5 0 obj << /Resources << /XObject << /Im1 9 0 R >> /Font 8 0 R /ProcSet [/PDF] >> >> endobj");
    // Box items that are references, names or containers, and boxes that are references.
    expectSameAsParser("5 0 obj << /MediaBox [0 1 0 R /A [1] << /B 2 >> 4] /CropBox 8 0 R >> endobj");
    // Number forms the lexer has rules for: a lone sign, a lone point, two
    // points, leading zeros, a plus sign and integers too large for 32 bits.
    expectSameAsParser("5 0 obj << /MediaBox [- . 1.2.3 0007] /Rotate 99999999999 /Type -0 /Count +3 >> endobj");
    // The first of two entries for a key counts; the layout lists both.
    expectSameAsParser("5 0 obj << /Rotate 90 /Rotate 180 /Contents [1 0 R] /Contents 3 0 R >> endobj");
    // An empty name, names ending at delimiters, brackets of either kind nested.
    expectSameAsParser("5 0 obj <</ 1/Type/Page/Kids[<</A[[]]>>[<<>>]]>> endobj");
    // A stream's head ends at its "stream" keyword; any keyword may follow a value.
    expectSameAsParser("5 0 obj << /Length 4 >>\nstream\nabcd\nendstream endobj");
    expectSameAsParser("7 0 obj << /Type /Page >> junk endobj");
    // Values other than dictionaries.
    expectSameAsParser("8 0 obj [ 4 0 R 5 0 R ] endobj");
    expectSameAsParser("8 0 obj 12 endobj");
    expectSameAsParser("8 0 obj 12 0 R endobj");
    expectSameAsParser("8 0 obj /Name endobj");
}

TEST(DictScanner, LeavesEverythingElseToTheParser)
{
    const char* texts[] = {
        "5 0 obj << /Type (Page) >> endobj",            // a string
        "5 0 obj << /Kids [ (a]) ] >> endobj",          // a string hiding a bracket
        "5 0 obj << /Kids [ <41> ] >> endobj",          // a hex string
        "5 0 obj << % note\n /Type /Page >> endobj",    // a comment
        "5 0 obj << /Ty#70e /Page >> endobj",           // an escape in a name
        "5 0 obj << /Open true >> endobj",              // keywords
        "5 0 obj << /MediaBox [ 0 0 1 null ] >> endobj", // (inside a box, which is read whole)
        "5 0 obj << /MediaBox [ 1 R ] >> endobj",       // R not after two integers
        "5 0 obj << /Rotate 1 2 /Type /Page >> endobj", // a token where a key belongs
        "5 0 obj << 3 /Type /Page >> endobj",
        "5 0 obj << /Type >> endobj",                   // a key without a value
        "5 0 obj << /Length 4 >> % c\nstream\nabcd\nendstream endobj",
        "5 0 obj << /Kids [ 1 0 R >> ] >> endobj",      // brackets of different kinds
        "5 0 obj << /Kids [ 1 0 R ",                    // left open
        "5 0 obj << /Rotate 90R >> endobj",             // a number glued to a keyword
        "5 0 obj << /A < /B > >> endobj",
        "5 0 obj << /Type /Page >>",                    // nothing after the value
        "5 0 obj << /Type /Page >> 6 0 obj",            // no keyword after the value
        "5 0 obj 12 null",                              // a value, not a keyword, after it
        "5 0 R obj << >> endobj",                       // no header
        "5.0 0 obj << >> endobj",
        "% c\n5 0 obj << >> endobj",
    };
    for (const char* text : texts)
        expectNotScanned(text);

    // Resources are read whole, a second entry too: the parser reads the
    // token "<<" in a key's place alone, so this one ends at the first ">>"
    // and what follows is read as entries of the page.
    expectNotScanned("4 0 obj << /Resources << /Font 5 0 R >> /Resources << << /Type /Pages >> >> >> endobj");
    expectNotScanned("4 0 obj << /Resources << /A 1 << 2 >> /B 3 >> /Type /Page >> endobj");

    std::string deep = "5 0 obj << /A ";
    for (int i = 0; i < 100; ++i)
        deep += "[";
    for (int i = 0; i < 100; ++i)
        deep += "]";
    expectNotScanned(deep + " >> endobj");
}

// Texts made of random pieces of syntax: whenever the scanner accepts one,
// it must read what the parser reads, and find everything where it does.
TEST(DictScanner, AgreesWithTheParserOnRandomSyntax)
{
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

} // namespace
