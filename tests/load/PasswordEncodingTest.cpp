// Passwords as each revision hashes them: PDFDocEncoding before /R 5 (its
// own codes where it differs from Latin-1), SASLprep from /R 5 on.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "load/PasswordEncoding.h"

namespace {

struct EncodingCase {
    const char* name;
    std::string utf8;
    std::optional<std::string> pdfDoc;
    std::optional<std::string> saslPrep;
};

std::ostream& operator<<(std::ostream& out, const EncodingCase& c) { return out << c.name; }

class PasswordEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(PasswordEncoding, GivesTheBytesEachRevisionHashes)
{
    const EncodingCase& c = GetParam();
    EXPECT_EQ(password::toPdfDocEncoding(c.utf8), c.pdfDoc);
    EXPECT_EQ(password::toSaslPrep(c.utf8), c.saslPrep);
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, PasswordEncoding,
    testing::Values(EncodingCase{"Ascii", "s3cret", "s3cret", "s3cret"}, EncodingCase{"Empty", "", "", ""},
                    EncodingCase{"Latin1", "p\xC3\xA4sswort", "p\xE4sswort", "p\xC3\xA4sswort"},
                    EncodingCase{"EuroAtA0", "\xE2\x82\xAC", "\xA0", "\xE2\x82\xAC"},
                    EncodingCase{"BulletAt80", "\xE2\x80\xA2", "\x80", "\xE2\x80\xA2"},
                    EncodingCase{"BreveAt18", "\xCB\x98", "\x18", " \xCC\x86"}, // NFKC: a space and the combining breve
                    // SASLprep maps a soft hyphen to nothing and a Roman numeral to letters (NFKC).
                    EncodingCase{"SoftHyphen", "I\xC2\xADX", std::nullopt, "IX"},
                    EncodingCase{"RomanNumeralNine", "\xE2\x85\xA8", std::nullopt, "IX"},
                    EncodingCase{"NonBreakingSpace", "a\xC2\xA0z", std::nullopt, "a z"},
                    EncodingCase{"Chinese", "\xE4\xB8\xAD", std::nullopt, "\xE4\xB8\xAD"},
                    EncodingCase{"ControlCharacter", "a\x07z", std::nullopt, std::nullopt},
                    EncodingCase{"NotUtf8", "a\xFFz", std::nullopt, std::nullopt},
                    EncodingCase{"CutUtf8", "a\xC3", std::nullopt, std::nullopt},
                    EncodingCase{"LongCutTo127Bytes", std::string(200, 'x'), std::string(200, 'x'),
                                 std::string(127, 'x')}),
    [](const testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

} // namespace
