// What the stamp's frame is for what a page's content leaves open, and how
// the reader learns that from the content streams a page lists.

#include "stamp/CContentReader.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

using E = CContentEffect;
constexpr auto OPEN = E::TEXT_OPEN, CLOSED = E::TEXT_CLOSED, AS_BEFORE = E::TEXT_AS_BEFORE;
constexpr int kMax = CContentReader::kMaxRestores;
struct FrameCase { const char* name; std::optional<CContentEffect> effect; int saves, restores; bool endText; };
const FrameCase kFrames[] = {
    {"Unknown", std::nullopt, 4, 1, false}, {"Balanced", E{0, 0, CLOSED}, 4, 1, false},
    {"ThreeExtraQ", E{-3, -3, AS_BEFORE}, 4, 1, false}, {"FourExtraQ", E{-4, -4, AS_BEFORE}, 5, 1, false},
    {"TwoOpen", E{0, 2, AS_BEFORE}, 4, 3, false}, {"ExtraQThenOpen", E{-1, 1, AS_BEFORE}, 4, 3, false},
    {"TextOpen", E{0, 0, OPEN}, 4, 1, true},
    // Counts past the limit are damage: the default frame.
    {"TooManyOpen", E{0, kMax, AS_BEFORE}, 4, 1, false}, {"TooManyExtraQ", E{-kMax, -kMax, OPEN}, 4, 1, false}};
class StampFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(StampFrame, ClosesWhatThePageLeavesOpen)
{
    const CStampFrame frame = CContentReader::frameFor(GetParam().effect);
    EXPECT_EQ(frame.saves, GetParam().saves);
    EXPECT_EQ(frame.restores, GetParam().restores);
    EXPECT_EQ(frame.endText, GetParam().endText);
}
INSTANTIATE_TEST_SUITE_P(Effects, StampFrame, testing::ValuesIn(kFrames), kRowName);

// Pages 0 and 1 list the same stream 5 (36 bytes decoded; two states left
// open); page 2 an array of it and stream 7 (21 bytes; one more state, and a
// text object, left open). Each step reads a page's frame, then the budget left.
struct Step { size_t page; int restores; bool endText; int64_t left; };
struct ReadCase { const char* name; int64_t budget; bool earlierStamp7; std::vector<Step> steps; };
const ReadCase kReads[] = {
    // A stream that pages share is decoded once: only the first page spends budget on it.
    {"ReadsASharedStreamOnce", 1000, false, {{0, 3, false, 964}, {1, 3, false, 964}, {2, 4, true, 943}}},
    // Once the budget is spent, pages keep the default frame.
    {"StopsAtItsBudget", 41, false, {{0, 3, false, 5}, {2, 1, false, 0}}},
    // Content that ends with a stamp an earlier mark pass wrote ends in the
    // initial state: nothing is read.
    {"TrustsAnEarlierPassesStamp", 1000, true, {{2, 1, false, 1000}}}};
class ContentReading : public LoadedPdf, public testing::WithParamInterface<ReadCase> {};

TEST_P(ContentReading, SpendsItsBudgetOnEachStreamOnce)
{
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R] /Count 3 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
    b.set(4, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
    b.setStream(5, "", "q 2 0 0 2 0 0 cm q 0 g 0 0 9 9 re f\n", true);
    b.set(6, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] >>");
    b.setStream(7, "", "q BT /F1 9 Tf (x) Tj\n");
    walk();
    const std::function<bool(int)> none, seven = [](int num) { return num == 7; };
    CContentReader reader(doc->reader(), GetParam().budget, GetParam().earlierStamp7 ? seven : none);
    for (const Step& step : GetParam().steps) {
        const CPageRecord& record = pages.at(step.page);
        const CStampFrame frame = reader.frameFor(text(record.objectNumber), record);
        EXPECT_EQ(frame.restores, step.restores) << "page " << step.page;
        EXPECT_EQ(frame.endText, step.endText) << "page " << step.page;
        EXPECT_EQ(reader.budgetLeft(), step.left) << "page " << step.page;
    }
}
INSTANTIATE_TEST_SUITE_P(Budgets, ContentReading, testing::ValuesIn(kReads), kRowName);

} // namespace
