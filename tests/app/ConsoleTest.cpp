// Every kind of run, single file or list file: what the program prints, its
// exit status, and exactly which files it writes. A failed run changes none.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const std::string kBanner = "\r\nVellico v1.05\r\n";

const std::string kUsage =
    kBanner + "Parameters:\n-i<FILENAME> input filename\n-o<OUTPUT filename> output filename\n"
    "-j<IMAGE filename> JPEG or PNG image file (a PNG's transparency is kept)\noptional parameters:\n"
    "-s(n) page to start processing at, default at 1\n"
    "-e(n) page to end processing at, default at 99999\n"
    "-useend use -send and -eend parameters instead of -s and -e\n"
    "-send(n) page to start processing at from last page backwards, default at 0, NOTE: -s must be 0\n"
    "-eend(n) page to end processing at from last page backwards, default at 0, NOTE: -e must be 0\n"
    "-n(n) only stamp page number 1 in nth e.g. -n2 would stamp pages 1,3,5,7\n"
    "-size(n),(n) image size viewed in pdf, the image viewed can be different to the image's pixel size.\n"
    "-align <TEXT> align justified image, can be 'left', 'right' or 'center', left is default. e.g. right on "
    "positions 20,20 would mean image right edge ends at that position.\n"
    "-noforce don't force portrait when landscape, if page view is rotated then calculate as unrotated.\n"
    "-pos(n),(n) h,v (horizontal, vertical) positions on page calculated from bottom left up. e.g. 20,20 would be "
    "bottom left corner. use 10,20 as default. if -1 is specified then center on page size.\n"
    "-flipv flips vertical positions so 20,20 would be top left calculated from top of page.\n"
    "-fliph flips horizontal positions so 20,20 would be bottom right from right edge of page.\n"
    "-opacity(n) opacity of the image in percent (transparency), e.g. 1-100%, default -opactity100\n"
    "-crop_marks adds crop mark images to pdf\n-trim_marks adds crop mark images to pdf\n"
    "--incremental appends the stamp to the input as an incremental update (signed files always are)\n"
    "--annotation adds the stamp as a stamp annotation instead of page content\n"
    "--password <PW> or --password=<PW> opens a file that needs a password (the owner's lifts its permissions)\n"
    "--password-file <FILE> the same, from the first line of FILE ('-' for standard input)\n"
    "--keep-going with a list: a file that fails is reported, and the run goes on with the next\n"
    "--jobs N with a list: stamp N files at once, each in a worker process of its own; 0 = one per core\n"
    "--timeout SECONDS stop a file that takes longer, and report it as failed\n"
    "--memory-limit MB stop a file whose worker needs more memory, and report it as failed\n"
    "--report FILE write a report, one JSON line per file (- for standard output)\n"
    "--dry-run load each file and print where the stamp would go on each page; write nothing\n"
    "--null (or -0) the list's names end with NUL bytes (find -print0); -i- reads the list from standard input\n"
    "\r\nExample usage:-\r\nvellico -ifilein.pdf -ofileout.pdf -jimage.jpg\r\n"
    "vellico -ifilein.pdf -foutputfolder -jimage.jpg\r\n"
    "vellico -ifilein.pdf -ofileout.pdf -jimage.jpg -s1 -e1 -size100,100\n"
    "see examples folder for all parameters usage in test.bat, list.bat and list.bat\r\n"
    "NOTE: first 3 parameters have to be -i -o -j or -i -f -j\r\n"
    "If your filename has spaces in it then use double quotes around the filename, e.g. \"c:\\my test\\test "
    "file.pdf\"\n\nWildcards * are not permitted, if you want to process many files then do: dir /B *.pdf > "
    "list.txt, then vellico -ilist.txt -fc:\\output -jimage.jpg\n\r\n\r\n";

const std::string kWildcards = "\nError! Wildcards * are not permitted, if you want to process many files then do: "
                               "dir /B *.pdf > list.txt, then vellico -ilist.txt -fc:\\test\n\n";

// Names that make every path of one list run longer than 300 characters.
const std::string kDir(120, 'd'), kName = kDir + "/" + std::string(200, 'n') + ".pdf", kFolder(180, 'f');
const std::string kList = kDir + "/" + std::string(200, 'l') + ".txt";
const std::string kJpeg = kDir + "/" + std::string(200, 'j') + ".jpg";

struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::vector<std::string> made = {}; // files and folders it writes; a PDF among them must pass qpdf
    std::string list = "";              // written first to the file the first argument names
    const char* missing = "none";       // a file removed first
    const char* notJpeg = "";           // a file replaced first by one that is not a JPEG
    // The input's page tree names a kid that is not there; qpdf warns of it in the output as in the input.
    bool kidMissing = false;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

class Console : public testing::TestWithParam<Case> {};

TEST_P(Console, PrintsAndWritesExactlyThis)
{
    const Case& c = GetParam();
    Workspace work;
    const std::string doc = plainDoc(2);
    for (const char* name : {"in.pdf", "a.pdf", "c.pdf", "x.pdf-3"})
        work.write(name, doc);
    for (int pages : {5, 6, 11, 12})
        work.write(std::to_string(pages) + ".pdf", plainDoc(pages));
    // Encrypted with a user password: the dictionary by reference, or written inline.
    for (bool inlined : {false, true}) {
        vtest::PdfBuilder encrypted;
        encrypted.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        encrypted.set(2, "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>");
        encrypted.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 200 200 ] >>");
        encrypted.setRoot(1);
        if (inlined) {
            encrypted.setTrailerExtra("/Encrypt " + vtest::passwordEncryptDictionary() + " /ID [ <01> <01> ]");
        } else {
            encrypted.set(4, vtest::passwordEncryptDictionary());
            encrypted.setTrailerExtra("/Encrypt 4 0 R /ID [ <01> <01> ]");
        }
        work.write(inlined ? "encryptedinline.pdf" : "encrypted.pdf", encrypted.build());
    }
    work.write("truncated.pdf", doc.substr(0, doc.size() / 2));
    vtest::PdfBuilder broken; // the tree's second kid is free: skipped
    broken.set(broken.reserve(), "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>");
    broken.add("<< /Type /Page /Parent 1 0 R >>");
    const int gone = broken.add("<< /Type /Page /Parent 1 0 R >>");
    broken.setRoot(broken.add("<< /Type /Catalog /Pages 1 0 R >>"));
    broken.free(gone);
    work.write("brokentree.pdf", broken.build());
    vtest::PdfBuilder endless; // nodes that list the next one over and over: found once the output was begun
    endless.setRoot(endless.add("<< /Type /Catalog /Pages 2 0 R >>"));
    for (int node = 2; node < 40; ++node) {
        const std::string kid = std::to_string(node + 1) + " 0 R ";
        endless.set(node, "<< /Type /Pages /Kids [" + kid + kid + kid + kid + "] >>");
    }
    endless.set(40, "<< /Type /Page >>");
    work.write("endlesstree.pdf", endless.build());
    const char noFrame[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9";
    work.write("noframe.jpg", std::string(noFrame, sizeof noFrame - 1));
    for (const std::string& folder : {std::string("folder.pdf"), std::string("folder.txt"), std::string("dir"), kDir,
                                      kFolder, kFolder + "/" + kDir})
        std::filesystem::create_directory(work.file(folder));
    work.write(kName, doc);
    work.write(kJpeg, vtest::readFile(fixture("stamp.jpg")));
    const std::string jpeg = vtest::readFile(fixture("stamp.jpg"));
    work.write("cut.jpg", jpeg.substr(0, jpeg.size() - 40));
    work.write("trailing.jpg", jpeg + "bytes after the end\n");
    work.write("target.pdf", "old\n");
    ASSERT_EQ(symlink("stamp.jpg", work.file("jpeglink.jpg").c_str()), 0);
    ASSERT_EQ(symlink("target.pdf", work.file("outlink.pdf").c_str()), 0);
    ASSERT_EQ(symlink("in.pdf", work.file("link.pdf").c_str()), 0);
    ASSERT_EQ(link(work.file("in.pdf").c_str(), work.file("hard.pdf").c_str()), 0);
    std::filesystem::remove(work.file(c.missing));
    if (*c.notJpeg)
        work.write(c.notJpeg, vtest::readFile(work.file("noframe.jpg")));
    if (!c.list.empty())
        work.write(c.arguments[0] == "-i" ? c.arguments[1] : c.arguments[0].substr(2), c.list);

    // Once with no out.pdf there, once with an earlier one, which must survive a failure.
    for (const char* earlier : {"", "%PDF-1.4\nan earlier result\n"}) {
        if (*earlier)
            work.write("out.pdf", earlier);
        auto before = snapshot(work.path());
        auto run = work.run(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.output, c.output);
        auto after = snapshot(work.path());
        for (const std::string& made : c.made) {
            EXPECT_EQ(after.count(made), 1u) << made;
            if (std::filesystem::path(made).extension() == ".pdf" && !c.kidMissing) {
                EXPECT_EQ(qpdfProblems(work.file(made)), "") << made;
            }
            before[made] = after[made];
        }
        EXPECT_EQ(after, before);
    }
}

std::string opened(const std::string& in) { return kBanner + "Input file: '" + in + "'"; }
std::string isInput(const std::string& out)
{
    return opened("in.pdf") + "\nOutput file is the input file: '" + out + "'\n";
}
std::string done(const std::string& in, const std::string& out, const std::string& image = "stamp.jpg", int dots = 0)
{
    return "Input file: '" + in + "', image file: '" + image + "', output file: '" + out + "'\nProcessing" +
           std::string(static_cast<size_t>(dots), '.') + "\nDone.\n";
}
const std::string kOpenError = "\nInput file open error\n", kDamaged = "\nPDF file was damaged\n";
const std::string kNoFolder = kBanner + "please specify -f for output folder, e.g. -fc:\\test\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, Console,
    testing::Values(
        Case{"Usage", {}, 0, kUsage},
        Case{"Help", {"--help"}, 0, kUsage},
        Case{"HelpShort", {"-h"}, 0, kUsage},
        // What follows is not looked at, wildcards included.
        Case{"HelpBeforeOtherArguments", {"--help", "-i*.pdf", "-oout.pdf"}, 0, kUsage},
        Case{"Version", {"--version"}, 0, "vellico 1.05\n"},
        Case{"VersionBeforeOtherArguments", {"--version", "-iin.pdf", "-oout.pdf", "-jstamp.jpg"}, 0,
             "vellico 1.05\n"},
        // After the first argument they are unknown options, ignored as before.
        Case{"HelpAfterTheFirstThree", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-h", "--version"}, 0,
             kBanner + "Warning: unknown option '-h' ignored\nWarning: unknown option '--version' ignored\n" +
                 done("in.pdf", "out.pdf"),
             {"out.pdf"}},
        // One dash: its first two letters are taken for -i's, as before.
        Case{"HelpWordWithOneDash", {"-help"}, 1, kBanner + "Error parameter\n"},
        Case{"OneArgument", {"-iin.pdf"}, 1, kBanner + "Error parameter\n"},
        // A lone argument is not checked for wildcards.
        Case{"OneArgumentWithAStar", {"-i*.pdf"}, 1, kBanner + "Error parameter\n"},
        Case{"InputNotFirst", {"-xin.pdf", "-oout.pdf", "-jstamp.jpg"}, 1, kBanner + "-i parameter missing\n"},
        Case{"OutputNotSecond", {"-iin.pdf", "-jstamp.jpg", "-oout.pdf"}, 1, kBanner + "-o parameter missing\n"},
        Case{"FolderOutsideListMode", {"-iin.pdf", "-fout", "-jstamp.jpg"}, 1, kBanner + "-o parameter missing\n"},
        Case{"NoJpeg", {"-iin.pdf", "-oout.pdf"}, 1, kBanner + "-j parameter missing\n"},
        Case{"JpegNotThird", {"-iin.pdf", "-oout.pdf", "-s2", "-jstamp.jpg"}, 1, kBanner + "-j parameter missing\n"},
        Case{"BareArgument", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "a.pdf"}, 1,
             kBanner + "Error in parameter: a.pdf\n"},
        Case{"EmptyArgument", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", ""}, 1, kBanner + "Error in parameter: \n"},
        Case{"AnnotationWithMarks", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "--annotation", "-trim_marks"}, 1,
             kBanner + "--annotation does not go with -crop_marks or -trim_marks: marks are page content\n"},
        // Values after a space: the same runs as joined; lone options stay as they were read before.
        Case{"ValuesAfterASpace", {"-i", "in.pdf", "-o", "out.pdf", "-j", "stamp.jpg", "-s", "2", "-e", "5"}, 0,
             kBanner + done("in.pdf", "out.pdf"), {"out.pdf"}},
        Case{"MarksAfterASpace", {"-i", "in.pdf", "-o", "out.pdf", "-j", "stamp.jpg", "-crop_marks", "-s", "2"}, 0,
             opened("in.pdf") + ", output file: 'out.pdf'\n\nDone.\n", {"out.pdf"}},
        Case{"ListAfterASpace", {"-i", "list.txt", "-f", "out", "-j", "stamp.jpg", "-s", "2"}, 0,
             kBanner + done("a.pdf", "out/a.pdf"), {"out", "out/a.pdf"}, "a.pdf\n"},
        Case{"InputAloneAfterASpace", {"-i", "in.pdf"}, 1, kBanner + "Error parameter\n"},
        Case{"LoneInputBeforeAnOption", {"-i", "-oout.pdf", "-jstamp.jpg"}, 1, opened("") + kOpenError},
        Case{"LoneOptionBeforeAnOption", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s", "-e1"}, 0,
             kBanner + "Warning: unknown option '-s' ignored\n" + done("in.pdf", "out.pdf"), {"out.pdf"}},
        Case{"AlignTakesItsWordWhole", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-align", "-s", "2"}, 1,
             kBanner + "Error in parameter: 2\n"},
        Case{"EmptyValueAfterASpace", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s", ""}, 1,
             kBanner + "Warning: unknown option '-s' ignored\nError in parameter: \n"},
        Case{"OutputAfterASpaceNotSecond", {"-i", "in.pdf", "-j", "stamp.jpg", "-o", "out.pdf"}, 1,
             kBanner + "-o parameter missing\n"},
        // The wildcard rule reads the arguments as given: two here.
        Case{"WildcardAfterASpace", {"-i", "*.pdf"}, 1, kWildcards},
        Case{"WildcardInInput", {"-i*.pdf", "-oout.pdf", "-jstamp.jpg"}, 1, kWildcards},
        Case{"WildcardInTwoArguments", {"-i*.pdf", "-oout.pdf"}, 1, kWildcards},
        Case{"WildcardInOutput", {"-iin.pdf", "-o*.pdf", "-jstamp.jpg"}, 1, kWildcards},
        Case{"WildcardInAnOption", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "-x*"}, 1, kWildcards},
        // One "." per six pages met, selected or not.
        Case{"FivePages", {"-i5.pdf", "-oout.pdf", "-jstamp.jpg", "-s2"}, 0, kBanner + done("5.pdf", "out.pdf"),
             {"out.pdf"}},
        Case{"SixPages", {"-i6.pdf", "-oout.pdf", "-jstamp.jpg", "-e3"}, 0,
             kBanner + done("6.pdf", "out.pdf", "stamp.jpg", 1), {"out.pdf"}},
        Case{"ElevenPages", {"-i11.pdf", "-oout.pdf", "-jstamp.jpg"}, 0,
             kBanner + done("11.pdf", "out.pdf", "stamp.jpg", 1), {"out.pdf"}},
        Case{"TwelvePages", {"-i12.pdf", "-oout.pdf", "-jstamp.jpg", "-s2", "-e3"}, 0,
             kBanner + done("12.pdf", "out.pdf", "stamp.jpg", 2), {"out.pdf"}},
        Case{"CountingFromTheEndParsesFirst", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s0", "-useend"}, 0,
             kBanner + "Parsing file: in.pdf\n" + done("in.pdf", "out.pdf"), {"out.pdf"}},
        // Through a link, one pass or eight: the link stays, the file it names is replaced.
        Case{"OutputThroughALink", {"-iin.pdf", "-ooutlink.pdf", "-jstamp.jpg"}, 0,
             kBanner + done("in.pdf", "outlink.pdf"), {"target.pdf"}},
        Case{"MarksThroughALink", {"-iin.pdf", "-ooutlink.pdf", "-jstamp.jpg", "-crop_marks"}, 0,
             opened("in.pdf") + ", output file: 'outlink.pdf'\n\nDone.\n", {"target.pdf"}},
        Case{"MissingInput", {"-imissing.pdf", "-oout.pdf", "-jstamp.jpg"}, 1, opened("missing.pdf") + kOpenError},
        Case{"MissingInputCountedFromTheEnd", {"-imissing.pdf", "-oout.pdf", "-jstamp.jpg", "-s0", "-useend"}, 1,
             kBanner + "Problem with -send or -eend parameters/processing.\n"},
        Case{"MissingJpeg", {"-iin.pdf", "-oout.pdf", "-jmissing.jpg"}, 1,
             opened("in.pdf") + "\nInput image file error: 'missing.jpg'\n"},
        Case{"JpegWithoutFrameHeader", {"-iin.pdf", "-oout.pdf", "-jnoframe.jpg"}, 1,
             opened("in.pdf") + "\nInput image file is not a JPEG image (no frame header found): 'noframe.jpg'\n"},
        Case{"Encrypted", {"-iencrypted.pdf", "-oout.pdf", "-jstamp.jpg"}, 1,
             opened("encrypted.pdf") + "\nPDF file is encrypted\n"},
        Case{"EncryptedInline", {"-iencryptedinline.pdf", "-oout.pdf", "-jstamp.jpg"}, 1,
             opened("encryptedinline.pdf") + "\nPDF file is encrypted\n"},
        // Rebuilt from the objects it still holds; the page that was cut off is left out, and said so.
        Case{"Truncated", {"-itruncated.pdf", "-oout.pdf", "-jstamp.jpg"}, 0,
             opened("truncated.pdf") + ", image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing\n"
             "Warning: cross-reference data damaged (no startxref); rebuilt from 10 objects found in the file\n"
             "Warning: object 10 could not be read; left out\n"
             "Warning: page tree entry 11 is missing or loops back; skipped\nDone.\n",
             {"out.pdf"}, "", "none", "", true},
        Case{"NotAPdf", {"-inoframe.jpg", "-oout.pdf", "-jstamp.jpg"}, 1, opened("noframe.jpg") + kDamaged},
        Case{"PageTreeKidMissing", {"-ibrokentree.pdf", "-oout.pdf", "-jstamp.jpg"}, 0,
             opened("brokentree.pdf") + ", image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing\n"
             "Warning: page tree entry 3 is missing or loops back; skipped\nDone.\n",
             {"out.pdf"}, "", "none", "", true},
        Case{"EndlessPageTree", {"-iendlesstree.pdf", "-oout.pdf", "-jstamp.jpg"}, 1,
             opened("endlesstree.pdf") + ", image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing" + kDamaged},
        Case{"OutputFolderMissing", {"-iin.pdf", "-ono/such/out.pdf", "-jstamp.jpg"}, 1,
             opened("in.pdf") + "\nOutput file create error: 'no/such/out.pdf'\n"},
        Case{"OutputIsAFolder", {"-iin.pdf", "-ofolder.pdf", "-jstamp.jpg"}, 1,
             opened("in.pdf") + "\nOutput file create error: 'folder.pdf'\n"},
        Case{"OutputIsTheInput", {"-iin.pdf", "-oin.pdf", "-jstamp.jpg"}, 1, isInput("in.pdf")},
        Case{"OutputIsTheInputSpelledOtherwise", {"-iin.pdf", "-o./dir/../in.pdf", "-jstamp.jpg"}, 1,
             isInput("./dir/../in.pdf")},
        Case{"OutputLinksToTheInput", {"-iin.pdf", "-olink.pdf", "-jstamp.jpg"}, 1, isInput("link.pdf")},
        Case{"OutputIsAHardLinkOfTheInput", {"-iin.pdf", "-ohard.pdf", "-jstamp.jpg"}, 1, isInput("hard.pdf")},
        // Mark runs check before their first pass, their intermediate names too.
        Case{"MarksOutputLinksToTheInput", {"-iin.pdf", "-olink.pdf", "-jstamp.jpg", "-crop_marks"}, 1,
             isInput("link.pdf")},
        // Intermediates are private files: names like theirs are the user's.
        Case{"MarksInputNamedLikeAnIntermediate", {"-ix.pdf-3", "-ox.pdf", "-jstamp.jpg", "-trim_marks"}, 0,
             opened("x.pdf-3") + ", output file: 'x.pdf'\n\nDone.\n", {"x.pdf"}},
        Case{"MarksLeaveFilesNamedLikeIntermediates", {"-iin.pdf", "-ox.pdf", "-jstamp.jpg", "-crop_marks"}, 0,
             opened("in.pdf") + ", output file: 'x.pdf'\n\nDone.\n", {"x.pdf"}},
        // The images are inputs too, by any name.
        Case{"OutputIsTheJpeg", {"-iin.pdf", "-ostamp.jpg", "-jstamp.jpg"}, 1, isInput("stamp.jpg")},
        Case{"OutputLinksToTheJpeg", {"-iin.pdf", "-ojpeglink.jpg", "-j./stamp.jpg"}, 1, isInput("jpeglink.jpg")},
        Case{"MarksOutputIsTheJpeg", {"-iin.pdf", "-ojpeglink.jpg", "-jstamp.jpg", "-trim_marks"}, 1,
             isInput("jpeglink.jpg")},
        Case{"MarksOutputIsAMarkImage", {"-iin.pdf", "-o./CropmarkVertical.jpg", "-jstamp.jpg", "-crop_marks"}, 1,
             isInput("./CropmarkVertical.jpg")},
        // Refused before the output is begun.
        Case{"TruncatedJpeg", {"-iin.pdf", "-oout.pdf", "-jcut.jpg"}, 1,
             opened("in.pdf") + "\nInput image file error (the data ends before the end-of-image marker): 'cut.jpg'\n"},
        Case{"JpegWithBytesAfterItsEnd", {"-iin.pdf", "-oout.pdf", "-jtrailing.jpg"}, 0,
             kBanner + done("in.pdf", "out.pdf", "trailing.jpg"), {"out.pdf"}},
        // The run goes on without them.
        Case{"UnknownOptionsWarned", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-opactiy50", "-s2", "-crop_mark"}, 0,
             kBanner + "Warning: unknown option '-opactiy50' ignored\nWarning: unknown option '-crop_mark' ignored\n" +
                 done("in.pdf", "out.pdf"),
             {"out.pdf"}},
        // Four passes are done when the fifth fails: their files go too. The
        // current folder's mark image is read even when it is broken.
        Case{"MarksPassFails", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-trim_marks"}, 1,
             opened("in.pdf") +
                 "\nInput image file is not a JPEG image (no frame header found): 'CropmarkVertical.jpg'\n",
             {}, "", "none", "CropmarkVertical.jpg"},
        // A list stops at its first failing line.
        Case{"ListStopsAtAFailure", {"-ilist.txt", "-fout", "-jstamp.jpg"}, 1,
             kBanner + done("a.pdf", "out/a.pdf") + "Input file: 'missing.pdf'" + kOpenError, {"out", "out/a.pdf"},
             "a.pdf\nmissing.pdf\nc.pdf\n"},
        Case{"ListCrLfWithoutAFinalLineEnd", {"-ilist.txt", "-fout", "-jstamp.jpg", "-s2"}, 0,
             kBanner + done("a.pdf", "out/a.pdf") + done("c.pdf", "out/c.pdf"), {"out", "out/a.pdf", "out/c.pdf"},
             "a.pdf\r\nc.pdf"},
        // An empty line names an empty input file.
        Case{"ListEmptyLine", {"-ilist.txt", "-fout", "-jstamp.jpg"}, 1,
             kBanner + done("a.pdf", "out/a.pdf") + "Input file: ''" + kOpenError, {"out", "out/a.pdf"},
             "a.pdf\n\nc.pdf\n"},
        Case{"ListWithoutFolder", {"-ilist.txt", "-oout", "-jstamp.jpg"}, 1, kNoFolder, {}, "a.pdf\n"},
        Case{"ListAlone", {"-ilist.txt"}, 1, kNoFolder, {}, "a.pdf\n"},
        Case{"ListMissing", {"-imissing.txt", "-fout", "-jstamp.jpg"}, 1,
             kBanner + "Unable to open file list: 'missing.txt'\r\n", {"out"}},
        Case{"ListIsAFolder", {"-ifolder.txt", "-fout", "-jstamp.jpg"}, 1,
             kBanner + "Unable to open file list: 'folder.txt'\r\n", {"out"}},
        // Only the ending decides; the first two characters are dropped whatever they are.
        Case{"ListAfterAnyOption", {"-xlist.txt", "-fout", "-jstamp.jpg"}, 0, kBanner + done("a.pdf", "out/a.pdf"),
             {"out", "out/a.pdf"}, "a.pdf\n"},
        Case{"ListUpperCaseEnding", {"-iLIST.TXT", "-fout", "-jstamp.jpg"}, 1, kBanner + "-o parameter missing\n", {},
             "a.pdf\n"},
        Case{"ListWithoutJpeg", {"-ilist.txt", "-fout", "-s2"}, 1, kBanner + "-j parameter missing\n", {"out"},
             "a.pdf\nc.pdf\n"},
        Case{"ListOutputIsTheInput", {"-ilist.txt", "-f.", "-jstamp.jpg"}, 1,
             kBanner + "Input file: 'a.pdf'\nOutput file is the input file: './a.pdf'\n", {}, "a.pdf\n"},
        // An empty folder is the current one (not "/a.pdf").
        Case{"ListEmptyFolder", {"-ilist.txt", "-f", "-jstamp.jpg"}, 1,
             kBanner + "Input file: 'a.pdf'\nOutput file is the input file: 'a.pdf'\n", {}, "a.pdf\n"},
        Case{"ListPathsLongerThan300", {"-i" + kList, "-f" + kFolder, "-j" + kJpeg}, 0,
             kBanner + done("a.pdf", kFolder + "/a.pdf", kJpeg) + done(kName, kFolder + "/" + kName, kJpeg),
             {kFolder + "/a.pdf", kFolder + "/" + kName}, "a.pdf\n" + kName + "\n"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The project's version in CMakeLists.txt is the only one: the program's
// answers must follow it when it changes.
TEST(Version, IsTheProjectVersion)
{
    const std::string cmake = vtest::readFile(vtest::sourceDir() + "/CMakeLists.txt");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(cmake, found, std::regex(R"(project\(Vellico VERSION ([0-9.]+))")));
    const std::string version = found[1];
    Workspace work;
    EXPECT_EQ(work.run({"--version"}).output, "vellico " + version + "\n");
    EXPECT_EQ(work.run({"-h"}).output.substr(0, 13 + version.size()), "\r\nVellico v" + version + "\r\n");
}

} // namespace
