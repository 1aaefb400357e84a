// Values after a space are joined to their options before anything else
// reads the arguments; everything that was read one way before still is.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct Row {
    const char* name;
    std::vector<std::string> given; // after the program name
    std::vector<std::string> joined;
};

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

class SeparatedValues : public testing::TestWithParam<Row> {};

TEST_P(SeparatedValues, AreJoinedToTheirOptions)
{
    const Row& row = GetParam();
    std::vector<const char*> vector = {"vellico"};
    for (const std::string& argument : row.given)
        vector.push_back(argument.c_str());
    std::vector<std::string> expected = {"vellico"};
    expected.insert(expected.end(), row.joined.begin(), row.joined.end());
    EXPECT_EQ(joinSeparatedValues(static_cast<int>(vector.size()), vector.data()), expected);
}

const std::vector<std::string> kHead = {"-iin.pdf", "-oout.pdf", "-jlogo.jpg"};

std::vector<std::string> head(std::vector<std::string> options)
{
    options.insert(options.begin(), kHead.begin(), kHead.end());
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SeparatedValues,
    testing::Values(
        Row{"Everything",
            {"-i", "in.pdf", "-o", "out.pdf", "-j", "logo.jpg", "-s", "2", "-e", "5", "-pos", "20,30", "-size",
             "100,50", "-opacity", "50", "-n", "3", "-send", "1", "-eend", "0"},
            head({"-s2", "-e5", "-pos20,30", "-size100,50", "-opacity50", "-n3", "-send1", "-eend0"})},
        Row{"JoinedUnchanged", head({"-s2", "-pos-1,-1", "-crop_marks"}), head({"-s2", "-pos-1,-1", "-crop_marks"})},
        Row{"Mixed", {"-iin.pdf", "-o", "out.pdf", "-jlogo.jpg", "-s2", "-e", "5"}, head({"-s2", "-e5"})},
        Row{"ListFolder", {"-i", "list.txt", "-f", "out", "-j", "logo.jpg"}, {"-ilist.txt", "-fout", "-jlogo.jpg"}},
        // A lone option before another option stays lone: -i takes an empty name, -s is ignored.
        Row{"LoneBeforeAnOption", {"-i", "-oout.pdf", "-jlogo.jpg", "-s", "-e5"},
            {"-i", "-oout.pdf", "-jlogo.jpg", "-s", "-e5"}},
        // So a negative value must be joined, as before.
        Row{"NegativeValueNotTaken", head({"-pos", "-1,-1"}), head({"-pos", "-1,-1"})},
        Row{"EmptyValueNotTaken", head({"-s", ""}), head({"-s", ""})},
        Row{"LoneAtTheEnd", head({"-opacity"}), head({"-opacity"})},
        // -align's word is taken whole and is never itself an option with a value.
        Row{"AlignWord", head({"-align", "right", "-s", "2"}), head({"-align", "right", "-s2"})},
        Row{"AlignWordLooksLikeAnOption", head({"-align", "-s", "2"}), head({"-align", "-s", "2"})},
        Row{"AlignAtTheEnd", head({"-s", "2", "-align"}), head({"-s2", "-align"})},
        // Options are joined only where they are read.
        Row{"OutputNotSecond", {"-i", "in.pdf", "-j", "logo.jpg", "-o", "out.pdf"},
            {"-iin.pdf", "-j", "logo.jpg", "-o", "out.pdf"}},
        Row{"NumericInTheHead", {"-s", "2", "-oout.pdf", "-jlogo.jpg"}, {"-s", "2", "-oout.pdf", "-jlogo.jpg"}},
        Row{"FolderNotSecond", head({"-f", "out"}), head({"-f", "out"})},
        Row{"InputAfterTheHead", head({"-i", "x.pdf"}), head({"-i", "x.pdf"})},
        // Spelled otherwise, an option is not one of them.
        Row{"NotExactlyTheOption", head({"-S", "2", "-noforce", "x"}), head({"-S", "2", "-noforce", "x"})},
        Row{"ProgramNameAlone", {}, {}}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
