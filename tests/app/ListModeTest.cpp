// List-file mode: "-i<list>.txt -f<folder>" stamps every file the list names
// into the folder, with the options that follow.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

std::string done(const std::string& input, const std::string& output)
{
    return "Input file: '" + input + "', image file: 'stamp.jpg', output file: '" + output +
           "'\nProcessing\nDone.\n";
}

class ListMode : public testing::Test {
protected:
    void SetUp() override
    {
        DocSpec spec;
        spec.pages.resize(2);
        doc = buildDoc(spec).bytes;
        work.write("a.pdf", doc);
        work.write("c.pdf", doc);
    }
    void expectValid(const std::string& path)
    {
        ASSERT_TRUE(vtest::fileExists(path)) << path;
        if (haveQpdf()) {
            EXPECT_EQ(qpdfProblems(path), "");
        }
    }
    Workspace work;
    std::string doc;
};

TEST_F(ListMode, StopsAtTheFirstFailingLine)
{
    work.write("list.txt", "a.pdf\nmissing.pdf\nc.pdf\n");
    e2e::Run run = work.run({"-ilist.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + done("a.pdf", "out/a.pdf") + "Input file: 'missing.pdf'Input file open error\n");
    expectValid(work.file("out/a.pdf"));
    EXPECT_EQ(listFolder(work.file("out")), std::vector<std::string>{"a.pdf"});
}

TEST_F(ListMode, CrLfLineEnds)
{
    work.write("list.txt", "a.pdf\r\nc.pdf\r\n");
    e2e::Run run = work.run({"-ilist.txt", "-fout", "-jstamp.jpg", "-s2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, banner() + done("a.pdf", "out/a.pdf") + done("c.pdf", "out/c.pdf"));
    expectValid(work.file("out/a.pdf"));
    expectValid(work.file("out/c.pdf"));
}

TEST_F(ListMode, LastLineWithoutLineEnd)
{
    work.write("list.txt", "a.pdf\nc.pdf");
    e2e::Run run = work.run({"-ilist.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, banner() + done("a.pdf", "out/a.pdf") + done("c.pdf", "out/c.pdf"));
    expectValid(work.file("out/a.pdf"));
    expectValid(work.file("out/c.pdf"));
}

// An empty line names an empty input file, which ends the run like any other failure.
TEST_F(ListMode, EmptyLineIsAnInputThatCannotBeOpened)
{
    work.write("list.txt", "a.pdf\n\nc.pdf\n");
    e2e::Run run = work.run({"-ilist.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + done("a.pdf", "out/a.pdf") + "Input file: ''Input file open error\n");
    EXPECT_EQ(listFolder(work.file("out")), std::vector<std::string>{"a.pdf"});
}

TEST_F(ListMode, FolderOptionMissing)
{
    work.write("list.txt", "a.pdf\n");
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"-ilist.txt", "-oout", "-jstamp.jpg"}, {"-ilist.txt"}}) {
        e2e::Run run = work.run(arguments);
        EXPECT_EQ(run.status, 1) << arguments.size();
        EXPECT_EQ(run.output, banner() + "please specify -f for output folder, e.g. -fc:\\test\n") << arguments.size();
    }
    EXPECT_FALSE(vtest::fileExists(work.file("out")));
}

TEST_F(ListMode, ListFileMissing)
{
    e2e::Run run = work.run({"-imissing.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Unable to open file list: 'missing.txt'\r\n");
}

TEST_F(ListMode, ListIsAFolder)
{
    std::filesystem::create_directory(work.file("folder.txt"));
    e2e::Run run = work.run({"-ifolder.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Unable to open file list: 'folder.txt'\r\n");
}

// Only the name's ending decides; its first two characters are dropped whatever they are.
TEST_F(ListMode, WhatCountsAsAListFile)
{
    work.write("list.txt", "a.pdf\n");
    work.write("LIST.TXT", "a.pdf\n");
    e2e::Run run = work.run({"-xlist.txt", "-fout", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, banner() + done("a.pdf", "out/a.pdf"));
    expectValid(work.file("out/a.pdf"));

    run = work.run({"-iLIST.TXT", "-fupper", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "-o parameter missing");
    EXPECT_FALSE(vtest::fileExists(work.file("upper")));
}

TEST_F(ListMode, JpegMissingFailsTheFirstLine)
{
    work.write("list.txt", "a.pdf\nc.pdf\n");
    e2e::Run run = work.run({"-ilist.txt", "-fout", "-s2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "-j parameter missing");
    EXPECT_EQ(listFolder(work.file("out")), std::vector<std::string>{});
}

TEST_F(ListMode, LineWhoseOutputIsTheInputIsRefused)
{
    work.write("list.txt", "a.pdf\n");
    e2e::Run run = work.run({"-ilist.txt", "-f.", "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'a.pdf'\nOutput file is the input file: './a.pdf'\n");
    EXPECT_EQ(vtest::readFile(work.file("a.pdf")), doc);
}

// Folder and line together, and the paths of a single run, run far past 256 characters.
TEST_F(ListMode, LongFolderAndLines)
{
    const std::string name = std::string(200, 'n') + ".pdf";
    work.write(name, doc);
    work.write("list.txt", "a.pdf\n" + name + "\n");
    const std::string folder = work.file(std::string(180, 'f'));
    e2e::Run run = work.run({"-ilist.txt", "-f" + folder, "-jstamp.jpg"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, banner() + done("a.pdf", folder + "/a.pdf") + done(name, folder + "/" + name));
    ASSERT_GT((folder + "/" + name).size(), 300u);
    expectValid(folder + "/a.pdf");
    expectValid(folder + "/" + name);
}

TEST_F(ListMode, LongPathsInASingleRun)
{
    std::string deep = work.path();
    for (char c : {'x', 'y', 'z'}) {
        deep += "/" + std::string(120, c);
        std::filesystem::create_directory(deep);
    }
    const std::string input = deep + "/" + std::string(150, 'i') + ".pdf";
    const std::string output = deep + "/" + std::string(150, 'o') + ".pdf";
    const std::string image = deep + "/" + std::string(150, 'j') + ".jpg";
    vtest::writeFile(input, doc);
    copyFile(fixture("stamp.jpg"), image);
    e2e::Run run = work.run({"-i" + input, "-o" + output, "-j" + image});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, banner() + "Input file: '" + input + "', image file: '" + image + "', output file: '" +
                              output + "'\nProcessing\nDone.\n");
    expectValid(output);
}

} // namespace
