// What a run of page content leaves open: q, Q, BT and ET counted as
// operators only, wherever the bytes are cut into pieces.

#include <gtest/gtest.h>

#include <string>

#include "pdf/CPdfContentScanner.h"

namespace {

struct ScanCase {
    const char* name;
    std::string content;
    CContentEffect expected; // lowest, depth, text
};

std::ostream& operator<<(std::ostream& out, const ScanCase& c) { return out << c.name; }

CContentEffect scanInPieces(const std::string& content, size_t piece)
{
    CPdfContentScanner scanner;
    for (size_t at = 0; at < content.size(); at += piece)
        scanner.scan(reinterpret_cast<const uint8_t*>(content.data()) + at, std::min(piece, content.size() - at));
    return scanner.finish();
}

class ContentScan : public testing::TestWithParam<ScanCase> {};

// Whole, and cut after every byte and every few bytes: a token, a string or
// inline image data that runs from one piece into the next counts the same.
TEST_P(ContentScan, CountsOnlyOperators)
{
    const ScanCase& c = GetParam();
    for (size_t piece : {c.content.size() + 1, size_t(1), size_t(2), size_t(3), size_t(7)}) {
        const CContentEffect got = scanInPieces(c.content, piece);
        EXPECT_EQ(got.lowest, c.expected.lowest) << "pieces of " << piece;
        EXPECT_EQ(got.depth, c.expected.depth) << "pieces of " << piece;
        EXPECT_EQ(got.text, c.expected.text) << "pieces of " << piece;
    }
}

constexpr auto OPEN = CContentEffect::TEXT_OPEN;
constexpr auto CLOSED = CContentEffect::TEXT_CLOSED;
constexpr auto AS_BEFORE = CContentEffect::TEXT_AS_BEFORE;

INSTANTIATE_TEST_SUITE_P(
    Operators, ContentScan,
    testing::Values(
        ScanCase{"Balanced", "q 1 0 0 1 5 5 cm 0 g 0 0 9 9 re f Q", {0, 0, AS_BEFORE}},
        ScanCase{"Empty", "", {0, 0, AS_BEFORE}},
        ScanCase{"OneExtraQ", "q 0 g Q Q", {-1, -1, AS_BEFORE}},
        ScanCase{"TwoOpen", "q 2 0 0 2 0 0 cm q 1 0 0 1 9 9 cm", {0, 2, AS_BEFORE}},
        ScanCase{"LowThenOpen", "Q q q", {-1, 1, AS_BEFORE}},
        ScanCase{"OperatorsWithoutSpaces", "q[1 2]0 d Q", {0, 0, AS_BEFORE}},
        ScanCase{"TextClosed", "BT /F1 9 Tf (x) Tj ET", {0, 0, CLOSED}},
        ScanCase{"TextLeftOpen", "BT /F1 9 Tf (x) Tj ET BT (y) Tj", {0, 0, OPEN}},
        ScanCase{"TextAtTheVeryEnd", "ET q Q BT", {0, 0, OPEN}},
        // Not operators: names, strings (nested, escaped), hex strings, comments.
        ScanCase{"Names", "/q /Q /BT /ET gs", {0, 0, AS_BEFORE}},
        ScanCase{"Strings", "(q Q \\) BT ( ET ) q) Tj", {0, 0, AS_BEFORE}},
        ScanCase{"EscapedBackslash", "(a\\\\) q", {0, 1, AS_BEFORE}},
        ScanCase{"HexString", "<51> Tj <<  /Q 1 >> BDC q", {0, 1, AS_BEFORE}},
        ScanCase{"Comment", "% q Q Q BT\nq\r% Q\rQ", {0, 0, AS_BEFORE}},
        ScanCase{"LongerTokens", "qq QQ BTX ETc q0 Q1 1q", {0, 0, AS_BEFORE}},
        // Inline image data is skipped to its "EI", whatever it holds.
        ScanCase{"InlineImage", "q BI /W 4 /H 1 /BPC 8 /CS /G ID Q Q\n BT EI Q", {0, 0, AS_BEFORE}},
        ScanCase{"InlineImageDataEndsOnlyAtASeparateEI", "BI /W 2 ID xEI EIx Q EI\nq", {0, 1, AS_BEFORE}},
        ScanCase{"IdOutsideAnInlineImage", "ID Q", {-1, -1, AS_BEFORE}}),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(ContentEffect, FollowsOneStreamWithTheNext)
{
    const CContentEffect first{0, 2, CContentEffect::TEXT_OPEN}, second{-3, -1, CContentEffect::TEXT_AS_BEFORE};
    const CContentEffect both = first.then(second);
    EXPECT_EQ(both.lowest, -1);
    EXPECT_EQ(both.depth, 1);
    EXPECT_EQ(both.text, CContentEffect::TEXT_OPEN);
    EXPECT_EQ(second.then(CContentEffect{0, 0, CContentEffect::TEXT_CLOSED}).text, CContentEffect::TEXT_CLOSED);
}

} // namespace
