// What the stamp's frame is for what a page's content leaves open, and how
// the reader learns that from the content streams a page lists.

#include <gtest/gtest.h>

#include "stamp/CContentReader.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

struct FrameCase {
    const char* name;
    std::optional<CContentEffect> effect;
    int saves, restores;
    bool endText;
};

std::ostream& operator<<(std::ostream& out, const FrameCase& c) { return out << c.name; }

class StampFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(StampFrame, ClosesWhatThePageLeavesOpen)
{
    const CStampFrame frame = CContentReader::frameFor(GetParam().effect);
    EXPECT_EQ(frame.saves, GetParam().saves);
    EXPECT_EQ(frame.restores, GetParam().restores);
    EXPECT_EQ(frame.endText, GetParam().endText);
}

constexpr auto OPEN = CContentEffect::TEXT_OPEN;
constexpr auto CLOSED = CContentEffect::TEXT_CLOSED;
constexpr auto AS_BEFORE = CContentEffect::TEXT_AS_BEFORE;

INSTANTIATE_TEST_SUITE_P(
    Effects, StampFrame,
    testing::Values(FrameCase{"Unknown", std::nullopt, 4, 1, false},
                    FrameCase{"Balanced", CContentEffect{0, 0, CLOSED}, 4, 1, false},
                    FrameCase{"ThreeExtraQ", CContentEffect{-3, -3, AS_BEFORE}, 4, 1, false},
                    FrameCase{"FourExtraQ", CContentEffect{-4, -4, AS_BEFORE}, 5, 1, false},
                    FrameCase{"TwoOpen", CContentEffect{0, 2, AS_BEFORE}, 4, 3, false},
                    FrameCase{"ExtraQThenOpen", CContentEffect{-1, 1, AS_BEFORE}, 4, 3, false},
                    FrameCase{"TextOpen", CContentEffect{0, 0, OPEN}, 4, 1, true},
                    // Counts past the limit are damage: the default frame.
                    FrameCase{"TooManyOpen", CContentEffect{0, CContentReader::kMaxRestores, AS_BEFORE}, 4, 1,
                              false},
                    FrameCase{"TooManyExtraQ",
                              CContentEffect{-CContentReader::kMaxRestores, -CContentReader::kMaxRestores, OPEN}, 4,
                              1, false}),
    [](const testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

class ContentReading : public LoadedPdf {
protected:
    // Pages 3 and 4 list the same stream 5 (two states left open); page 6 an
    // array of it and stream 7 (one more state, and a text object, left open).
    void build()
    {
        b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R] /Count 3 >>");
        b.set(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
        b.set(4, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
        b.setStream(5, "", "q 2 0 0 2 0 0 cm q 0 g 0 0 9 9 re f\n", true);
        b.set(6, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] >>");
        b.setStream(7, "", "q BT /F1 9 Tf (x) Tj\n");
        walk();
    }
    CStampFrame frame(CContentReader& reader, size_t page)
    {
        const CPageRecord& record = pages.at(page);
        return reader.frameFor(text(record.objectNumber), record);
    }
    static constexpr int64_t kStream5 = 36; // decoded bytes
};

// A stream that pages share is decoded once: only the first page spends budget on it.
TEST_F(ContentReading, ReadsASharedStreamOnce)
{
    build();
    CContentReader reader(doc->reader(), 1000, {});
    EXPECT_EQ(frame(reader, 0).restores, 3);
    EXPECT_EQ(reader.budgetLeft(), 1000 - kStream5);
    EXPECT_EQ(frame(reader, 1).restores, 3);
    EXPECT_EQ(reader.budgetLeft(), 1000 - kStream5);
    const CStampFrame third = frame(reader, 2);
    EXPECT_EQ(third.restores, 4);
    EXPECT_TRUE(third.endText);
}

// Once the budget is spent, pages keep the default frame.
TEST_F(ContentReading, StopsAtItsBudget)
{
    build();
    CContentReader reader(doc->reader(), kStream5 + 5, {});
    EXPECT_EQ(frame(reader, 0).restores, 3);
    const CStampFrame third = frame(reader, 2);
    EXPECT_EQ(third.restores, 1);
    EXPECT_FALSE(third.endText);
    EXPECT_EQ(reader.budgetLeft(), 0);
}

// Content that ends with a stamp an earlier mark pass wrote ends in the
// initial state: nothing is read.
TEST_F(ContentReading, TrustsAnEarlierPassesStamp)
{
    build();
    CContentReader reader(doc->reader(), 1000, [](int num) { return num == 7; });
    EXPECT_EQ(frame(reader, 2).restores, 1);
    EXPECT_EQ(reader.budgetLeft(), 1000);
}

} // namespace
