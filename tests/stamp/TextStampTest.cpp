// A text stamp's template filled for a file, and its characters in the standard font's encoding (WinAnsiEncoding,
// as the PDF reference's Appendix D lists it) with Helvetica's widths (its AFM).

#include <gtest/gtest.h>

#include "text/CTextTemplate.h"
#include "text/HelveticaText.h"

namespace {

struct TemplateRow {
    const char* text;
    std::vector<std::string> lines;
    const char* date = "2024-02-29 13:05:09";
};

TEST(TextTemplate, FillsFieldsAndEscapes)
{
    const TemplateRow rows[] = {
        {"a{pages}b{file}", {"a7bin.pdf"}},
        {"{{x}}\\n\\\\{pages}\\n", {"{x}", "\\7", ""}},
        {"\\t\\", {"\\t\\"}}, // other backslashes are themselves
        // The names and days as GNU date gives them.
        {"{date}|{date:%A %a %B %b %j %y %H:%M:%S %%}", {"2024-02-29|Thursday Thu February Feb 060 24 13:05:09 %"}},
        {"{date:%A %j}", {"Monday 001"}, "0001-01-01"},
        {"{date:%A %j}", {"Friday 365"}, "9999-12-31"},
        {"{page}/{label}|{bates}", {"3/iii|B-0042"}},
    };
    for (const TemplateRow& row : rows)
        EXPECT_EQ(CTextTemplate(row.text).lines({7, "in.pdf", row.date}, {3, "iii", "B-0042"}), row.lines) << row.text;
}

struct EncodingRow {
    const char* utf8;
    std::string codes; // when it can be shown
    char32_t missing;  // else the character reported
};

TEST(HelveticaText, EncodesWinAnsiAndRefusesTheRest)
{
    const EncodingRow rows[] = {
        {"A\xC3\xA9\xE2\x82\xAC\xE2\x80\x93\xC5\xB8", "A\xE9\x80\x96\x9F", 0}, // é € – Ÿ
        {"a\xD0\x96", "", 0x416},                                              // Ж
        {"\xF0\x9F\x98\x80", "", 0x1F600},                                     // four bytes
        {"\xC3", "", 0xFFFD},                                                  // cut off
        {"\xC0\xAF", "", 0xFFFD},                                              // overlong
        {"\xED\xA0\x80", "", 0xFFFD},                                          // a surrogate
        {"\xF8\x88\x80\x80\x80", "", 0xFFFD},                                  // no lead byte
        {"\x7F", "", 0x7F},
    };
    for (const EncodingRow& row : rows) {
        std::string codes;
        char32_t missing = 0;
        EXPECT_EQ(toWinAnsi(row.utf8, codes, missing), row.missing == 0) << row.utf8;
        EXPECT_EQ(row.missing == 0 ? codes : std::string(), row.codes) << row.utf8;
        EXPECT_EQ(missing, row.missing) << row.utf8;
    }
    EXPECT_EQ(helveticaWidth('W') + helveticaWidth('i') + helveticaWidth(0xE9) + helveticaWidth(0x80),
              944 + 222 + 556 + 556);
}

} // namespace
