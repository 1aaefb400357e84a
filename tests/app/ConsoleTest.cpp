// What the program prints and its exit status, and that a failed run
// leaves the files it was given as they were.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const char* const kUsage =
    "\r\nVellico v1.05\r\n"
    "Parameters:\n"
    "-i<FILENAME> input filename\n"
    "-o<OUTPUT filename> output filename\n"
    "-j<JPEG filename> jpeg file\n"
    "optional parameters:\n"
    "-s(n) page to start processing at, default at 1\n"
    "-e(n) page to end processing at, default at 99999\n"
    "-useend use -send and -eend parameters instead of -s and -e\n"
    "-send(n) page to start processing at from last page backwards, default at 0, NOTE: -s must be 0\n"
    "-eend(n) page to end processing at from last page backwards, default at 0, NOTE: -e must be 0\n"
    "-n(n) only stamp page number 1 in nth e.g. -n2 would stamp pages 1,3,5,7\n"
    "-size(n),(n) image size viewed in pdf, the image viewed can be different to the jpeg image size.\n"
    "-align <TEXT> align justified image, can be 'left', 'right' or 'center', left is default. e.g. right on "
    "positions 20,20 would mean image right edge ends at that position.\n"
    "-noforce don't force portrait when landscape, if page view is rotated then calculate as unrotated.\n"
    "-pos(n),(n) h,v (horizontal, vertical) positions on page calculated from bottom left up. e.g. 20,20 would be "
    "bottom left corner. use 10,20 as default. if -1 is specified then center on page size.\n"
    "-flipv flips vertical positions so 20,20 would be top left calculated from top of page.\n"
    "-fliph flips horizontal positions so 20,20 would be bottom right from right edge of page.\n"
    "-opacity(n) opacity of the image in percent (transparency), e.g. 1-100%, default -opactity100\n"
    "-crop_marks adds crop mark images to pdf\n"
    "-trim_marks adds crop mark images to pdf\n"
    "\r\nExample usage:-\r\n"
    "vellico -ifilein.pdf -ofileout.pdf -jimage.jpg\r\n"
    "vellico -ifilein.pdf -foutputfolder -jimage.jpg\r\n"
    "vellico -ifilein.pdf -ofileout.pdf -jimage.jpg -s1 -e1 -size100,100\n"
    "see examples folder for all parameters usage in test.bat, list.bat and list.bat\r\n"
    "NOTE: first 3 parameters have to be -i -o -j or -i -f -j\r\n"
    "If your filename has spaces in it then use double quotes around the filename, e.g. \"c:\\my test\\test "
    "file.pdf\"\n"
    "\nWildcards * are not permitted, if you want to process many files then do: dir /B *.pdf > list.txt, then "
    "vellico -ilist.txt -fc:\\output -jimage.jpg\n"
    "\r\n\r\n";

const char* const kWildcards = "\nError! Wildcards * are not permitted, if you want to process many files then do: "
                               "dir /B *.pdf > list.txt, then vellico -ilist.txt -fc:\\test\n\n";

std::string plainDoc(int pages)
{
    DocSpec spec;
    spec.pages.resize(static_cast<size_t>(pages));
    return buildDoc(spec).bytes;
}

TEST(ConsoleText, UsageWithoutArguments)
{
    Workspace work;
    e2e::Run run = work.run({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kUsage);
}

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) { return out << c.name; }

class CommandLineError : public testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineError, PrintsTheMessageAndFailsWithoutWriting)
{
    Workspace work;
    work.write("in.pdf", plainDoc(1));
    const std::vector<std::string> before = listFolder(work.path());
    e2e::Run run = work.run(GetParam().arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + GetParam().message);
    EXPECT_EQ(listFolder(work.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CommandLineError,
    testing::Values(
        ParseCase{"OneArgument", {"-iin.pdf"}, "Error parameter"},
        // A lone argument is not checked for wildcards.
        ParseCase{"OneArgumentWithAStar", {"-i*.pdf"}, "Error parameter"},
        ParseCase{"InputNotFirst", {"-xin.pdf", "-oout.pdf", "-jstamp.jpg"}, "-i parameter missing"},
        ParseCase{"BareNameFirst", {"list.pdf", "-oout.pdf", "-jstamp.jpg"}, "-i parameter missing"},
        ParseCase{"OutputNotSecond", {"-iin.pdf", "-jstamp.jpg", "-oout.pdf"}, "-o parameter missing"},
        ParseCase{"FolderOutsideListMode", {"-iin.pdf", "-fout", "-jstamp.jpg"}, "-o parameter missing"},
        ParseCase{"NoJpeg", {"-iin.pdf", "-oout.pdf"}, "-j parameter missing"},
        ParseCase{"JpegNotThird", {"-iin.pdf", "-oout.pdf", "-s2", "-jstamp.jpg"}, "-j parameter missing"},
        ParseCase{"BareArgumentAmongOptions",
                  {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "list.pdf"},
                  "Error in parameter: list.pdf\n"},
        ParseCase{"EmptyArgumentAmongOptions", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", ""}, "Error in parameter: \n"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ConsoleText, WildcardsAreRefusedBeforeTheBanner)
{
    Workspace work;
    work.write("in.pdf", plainDoc(1));
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"-i*.pdf", "-oout.pdf", "-jstamp.jpg"},
             {"-i*.pdf", "-oout.pdf"},
             {"-iin.pdf", "-o*.pdf", "-jstamp.jpg"},
             {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "-x*"}}) {
        e2e::Run run = work.run(arguments);
        EXPECT_EQ(run.status, 1) << arguments.back();
        EXPECT_EQ(run.output, kWildcards) << arguments.back();
    }
    EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
}

// One "." for every sixth page, whether the page is stamped or not.
class ProgressDots : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ProgressDots, PlainRunPrintsBannerFilesAndDots)
{
    const auto [pages, dots] = GetParam();
    Workspace work;
    work.write("in.pdf", plainDoc(pages));
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "-e3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf', image file: 'stamp.jpg', output file: 'out.pdf'\n" +
                              "Processing" + std::string(static_cast<size_t>(dots), '.') + "\nDone.\n");
    if (haveQpdf()) {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
}

INSTANTIATE_TEST_SUITE_P(PageCounts, ProgressDots,
                         testing::Values(std::make_pair(1, 0), std::make_pair(5, 0), std::make_pair(6, 1),
                                         std::make_pair(11, 1), std::make_pair(12, 2), std::make_pair(13, 2)));

TEST(ConsoleText, CountingFromTheEndParsesFirst)
{
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s0", "-useend"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, banner() + "Parsing file: in.pdfInput file: 'in.pdf', image file: 'stamp.jpg', output "
                                     "file: 'out.pdf'\nProcessing\nDone.\n");
    if (haveQpdf()) {
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
}

TEST(ConsoleText, CountingFromTheEndOfAMissingFile)
{
    Workspace work;
    e2e::Run run = work.run({"-imissing.pdf", "-oout.pdf", "-jstamp.jpg", "-s0", "-useend"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "\nProblem with -send or -eend parameters/processing.\n");
    EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
}

// ---- Failures: message, status 1, nothing written, an existing output kept ----

struct FailureCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string message; // after the banner
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.name; }

class FailedRun : public testing::TestWithParam<FailureCase> {
protected:
    void prepare(const Workspace& work)
    {
        work.write("in.pdf", plainDoc(2));
        vtest::PdfBuilder encrypted;
        int pages = encrypted.reserve();
        int page = encrypted.add("<< /Type /Page /Parent " + std::to_string(pages) + " 0 R >>");
        encrypted.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
        int catalog = encrypted.add("<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
        int dictionary = encrypted.add("<< /Filter /Standard /V 1 /R 2 /O (x) /U (y) /P -4 >>");
        encrypted.setRoot(catalog);
        encrypted.setTrailerExtra("/Encrypt " + std::to_string(dictionary) + " 0 R /ID [(a) (a)]");
        work.write("encrypted.pdf", encrypted.build());
        std::string doc = plainDoc(3);
        work.write("truncated.pdf", doc.substr(0, doc.size() / 2));
        work.write("garbage.pdf", "This is not a PDF file at all.\n");
        // A page tree whose second kid is a free object: found only after the output was begun.
        vtest::PdfBuilder broken;
        int root = broken.reserve();
        int first = broken.add("<< /Type /Page /Parent " + std::to_string(root) + " 0 R >>");
        int gone = broken.add("<< /Type /Page /Parent " + std::to_string(root) + " 0 R >>");
        broken.set(root, "<< /Type /Pages /Kids [" + std::to_string(first) + " 0 R " + std::to_string(gone) +
                             " 0 R] /Count 2 >>");
        broken.setRoot(broken.add("<< /Type /Catalog /Pages " + std::to_string(root) + " 0 R >>"));
        broken.free(gone);
        work.write("brokentree.pdf", broken.build());
        // Starts like a JPEG but has no frame header.
        const char noFrame[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9";
        work.write("noframe.jpg", std::string(noFrame, sizeof noFrame - 1));
        std::filesystem::create_directory(work.file("folder.pdf"));
    }
};

TEST_P(FailedRun, LeavesNoOutputAndExitsWithOne)
{
    Workspace work;
    prepare(work);
    const std::vector<std::string> before = listFolder(work.path());
    e2e::Run run = work.run(GetParam().arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + GetParam().message);
    EXPECT_EQ(listFolder(work.path()), before);
}

TEST_P(FailedRun, KeepsAnExistingOutputByteForByte)
{
    Workspace work;
    prepare(work);
    const std::string precious = "%PDF-1.4\nan earlier result that must survive\n";
    work.write("out.pdf", precious);
    const std::vector<std::string> before = listFolder(work.path());
    e2e::Run run = work.run(GetParam().arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + GetParam().message);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), precious);
    EXPECT_EQ(listFolder(work.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FailedRun,
    testing::Values(
        FailureCase{"MissingInput", {"-imissing.pdf", "-oout.pdf", "-jstamp.jpg"},
                    "Input file: 'missing.pdf'Input file open error\n"},
        FailureCase{"MissingJpeg", {"-iin.pdf", "-oout.pdf", "-jmissing.jpg"},
                    "Input file: 'in.pdf'\nInput image file error: 'missing.jpg'\n"},
        FailureCase{"JpegWithoutFrameHeader", {"-iin.pdf", "-oout.pdf", "-jnoframe.jpg"},
                    "Input file: 'in.pdf'\nInput image file is not a JPEG image (no frame header found): "
                    "'noframe.jpg'\n"},
        FailureCase{"EncryptedInput", {"-iencrypted.pdf", "-oout.pdf", "-jstamp.jpg"},
                    "Input file: 'encrypted.pdf'PDF file is encrypted"},
        FailureCase{"TruncatedInput", {"-itruncated.pdf", "-oout.pdf", "-jstamp.jpg"},
                    "Input file: 'truncated.pdf'PDF file was damaged"},
        FailureCase{"NotAPdf", {"-igarbage.pdf", "-oout.pdf", "-jstamp.jpg"},
                    "Input file: 'garbage.pdf'PDF file was damaged"},
        FailureCase{"PageTreeNamesAFreeObject", {"-ibrokentree.pdf", "-oout.pdf", "-jstamp.jpg"},
                    "Input file: 'brokentree.pdf', image file: 'stamp.jpg', output file: 'out.pdf'\n"
                    "ProcessingPDF file was damaged"},
        FailureCase{"OutputFolderMissing", {"-iin.pdf", "-ono/such/folder/out.pdf", "-jstamp.jpg"},
                    "Input file: 'in.pdf'\nOutput file create error: 'no/such/folder/out.pdf'\n"},
        FailureCase{"OutputIsAFolder", {"-iin.pdf", "-ofolder.pdf", "-jstamp.jpg"},
                    "Input file: 'in.pdf'\nOutput file create error: 'folder.pdf'\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- An output that is the input ----

class OutputIsTheInput : public testing::TestWithParam<std::string> {};

TEST_P(OutputIsTheInput, IsRefusedAndTheInputKept)
{
    Workspace work;
    std::filesystem::create_directory(work.file("dir"));
    const std::string doc = plainDoc(2);
    work.write("in.pdf", doc);
    ASSERT_EQ(symlink("in.pdf", work.file("link.pdf").c_str()), 0);
    ASSERT_EQ(link(work.file("in.pdf").c_str(), work.file("hard.pdf").c_str()), 0);
    const std::string output = GetParam() == "ABSOLUTE" ? work.file("in.pdf") : GetParam();
    const std::vector<std::string> before = listFolder(work.path());

    e2e::Run run = work.run({"-iin.pdf", "-o" + output, "-jstamp.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'\nOutput file is the input file: '" + output + "'\n");
    EXPECT_EQ(vtest::readFile(work.file("in.pdf")), doc);
    EXPECT_EQ(listFolder(work.path()), before);

    // The mark passes check before the first of them runs.
    work.write("CropmarkHorizontal.jpg", vtest::readFile(fixture("black.jpg")));
    work.write("CropmarkVertical.jpg", vtest::readFile(fixture("black.jpg")));
    const std::vector<std::string> withMarks = listFolder(work.path());
    run = work.run({"-iin.pdf", "-o" + output, "-jstamp.jpg", "-crop_marks"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'\nOutput file is the input file: '" + output + "'\n");
    EXPECT_EQ(vtest::readFile(work.file("in.pdf")), doc);
    EXPECT_EQ(listFolder(work.path()), withMarks);
}

std::string spellingName(const testing::TestParamInfo<std::string>& info)
{
    static const char* const names[] = {"SamePath", "DotSlash", "UpAndBack", "Absolute", "Symlink", "HardLink"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Spellings, OutputIsTheInput,
                         testing::Values("in.pdf", "./in.pdf", "./dir/../in.pdf", "ABSOLUTE", "link.pdf", "hard.pdf"),
                         spellingName);

// A marks run writes out.pdf-0 .. out.pdf-7 first: none of them may be the input either.
TEST(OutputIsTheInputInAMarksRun, IntermediateNameIsRefused)
{
    Workspace work;
    copyMarkImages(work.path());
    const std::string doc = plainDoc(1);
    work.write("out.pdf-3", doc);
    const std::vector<std::string> before = listFolder(work.path());
    e2e::Run run = work.run({"-iout.pdf-3", "-oout.pdf", "-jstamp.jpg", "-trim_marks"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'out.pdf-3'\nOutput file is the input file: 'out.pdf-3'\n");
    EXPECT_EQ(vtest::readFile(work.file("out.pdf-3")), doc);
    EXPECT_EQ(listFolder(work.path()), before);
}

} // namespace
