// Opacity is a percentage: values outside 0..100 are clamped, so the output
// never holds a /ca that PDF does not allow.

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/app/E2e.h"
#include "app/CConsoleReporter.h"
#include "stamp/CStampSettings.h"

using namespace e2e;

namespace {

struct OpacityCase {
    const char* argument;
    int percent;     // as the job keeps it
    const char* ca;  // as the output's graphics state writes it
};

std::ostream& operator<<(std::ostream& out, const OpacityCase& c) { return out << c.argument; }

class Opacity : public testing::TestWithParam<OpacityCase> {};

TEST_P(Opacity, IsClampedToAPercentage)
{
    const OpacityCase& c = GetParam();
    const char* arguments[] = {"vellico", "-iin.pdf", "-oout.pdf", "-jstamp.jpg", c.argument};
    std::string console;
    CConsoleReporter reporter(console);
    EXPECT_EQ(parseArguments(5, arguments, reporter).opacity, c.percent);

    Workspace work;
    DocPlan plan;
    plan.pages.resize(1);
    work.write("in.pdf", buildDoc(plan).bytes);
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", c.argument});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(vtest::readFile(work.file("out.pdf")).find(std::string("/ca ") + c.ca + ">>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Values, Opacity,
                         testing::Values(OpacityCase{"-opacity50", 50, "0.50"}, OpacityCase{"-opacity0", 0, "0.00"},
                                         OpacityCase{"-opacity100", 100, "1.00"},
                                         OpacityCase{"-opacity150", 100, "1.00"},
                                         OpacityCase{"-opacity-5", 0, "0.00"},
                                         // saturated by the scan, then clamped
                                         OpacityCase{"-opacity99999999999", 100, "1.00"}));

} // namespace
