// The strings of an object that came out of an object stream, encrypted for
// its number: found by the token rules, each written as a hex string that
// decrypts to its bytes, and every other byte left as it was.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/CSecurityHandler.h"
#include "load/StringEncryption.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"

namespace {

CPdfObject parsed(const std::string& text)
{
    CPdfObject value;
    CPdfParser(nullptr, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()), true)
        .parseObject(value);
    return value;
}

// A dictionary qpdf wrote for RC4 of 128 bits with the empty user password, and its /ID.
CSecurityHandler rc4Handler()
{
    return CSecurityHandler(
        parsed("<< /Filter /Standard /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5>"
               " /P -4 /R 3 /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 2 >>"),
        parsed("<44f07d11055b2dcc099e964b0ccc362b>").textString());
}

// The strings of `text` in order, with their bytes.
std::vector<std::string> stringsOf(const std::string& text)
{
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    lexer.setKeepStringBytes(true);
    std::vector<std::string> strings;
    for (CPdfObject token; lexer.readToken(token), token.type() != PDF_EOF;)
        if (token.type() == PDF_STRING)
            strings.push_back(token.textString());
    return strings;
}

TEST(StringEncryption, EachStringDecryptsToItsBytesForTheObjectsNumber)
{
    const CSecurityHandler security = rc4Handler();
    ASSERT_TRUE(security.opensWithoutPassword());
    const std::string text = "<< /Title (Caf\\351 \\(one\\)) /Key <00ff10> /Empty () /Nested [ (a) << /B (\\0) >> ] >>";
    const std::string encrypted = encryptObjectStrings(text, security, 12);
    const std::vector<std::string> before = stringsOf(text), after = stringsOf(encrypted);
    ASSERT_EQ(after.size(), before.size()) << encrypted;
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(security.decryptString(12, 0, after[i]), before[i]) << i;
    // RC4 for another number gives other bytes.
    EXPECT_NE(encryptObjectStrings(text, security, 13), encrypted);
}

TEST(StringEncryption, LeavesEveryOtherByteAsItWas)
{
    const CSecurityHandler security = rc4Handler();
    // Names, comments and a string's brackets inside another string are not strings.
    const std::string text = "<< /A#28b 1 % a comment (not a string)\n/C [ /D (x (y) z) ] /E 2.5 >>";
    const std::string encrypted = encryptObjectStrings(text, security, 7);
    const std::string hex = encrypted.substr(encrypted.find("/D <") + 3, encrypted.find("> ]") - encrypted.find("/D <") - 2);
    EXPECT_EQ(encrypted, "<< /A#28b 1 % a comment (not a string)\n/C [ /D " + hex + " ] /E 2.5 >>");
    EXPECT_EQ(hex.size(), 2 + 2 * std::string("x (y) z").size());
    EXPECT_EQ(encryptObjectStrings("<< /Type /Page /Count 3 >>", security, 7), "<< /Type /Page /Count 3 >>");
}

TEST(StringEncryption, AStringCutShortAtTheEndIsEncryptedAsFarAsItGoes)
{
    const CSecurityHandler security = rc4Handler();
    const std::string encrypted = encryptObjectStrings("[ (open", security, 3);
    ASSERT_EQ(encrypted.substr(0, 3), "[ <");
    EXPECT_EQ(security.decryptString(3, 0, stringsOf(encrypted).at(0)), "open");
}

} // namespace
