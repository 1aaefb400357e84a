// The Windows program, run with Wine: one file needing only Windows, console
// output byte for byte as on this system, and outputs checked with qpdf and
// renders. Skipped when Wine or the .exe is missing.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "tests/app/E2e.h"
#include "tests/support/TestPng.h"

using namespace e2e;

namespace {

const std::string kExe = VELLICO_WINDOWS_EXE;
const std::string kHoldFile = VELLICO_HOLD_FILE_EXE;
const std::string kLinuxProgram = VELLICO_LINUX_PROGRAM;

bool haveWine() { return vtest::haveTool("wine") && vtest::fileExists(kExe); }

#define REQUIRE_WINE()                                                                                                 \
    if (!haveWine())                                                                                                   \
    GTEST_SKIP() << "needs wine and " << kExe

std::string wine(const std::string& program)
{
    return "WINEDEBUG=-all WINEPREFIX=" + vtest::shellQuote(VELLICO_WINE_PREFIX) + " wine " +
           vtest::shellQuote(program);
}

// Runs the .exe in `folder`; Wine's own messages go to standard error, which is not captured.
Run runExe(const std::string& folder, const std::vector<std::string>& arguments, const std::string& program = kExe)
{
    return vtest::runIn(folder, wine(program), arguments);
}

Run runLinux(const std::string& folder, const std::vector<std::string>& arguments)
{
    return vtest::runIn(folder, vtest::shellQuote(kLinuxProgram), arguments);
}

// Two pages, one turned, with a crop box; the stamp's place on each as the usage text promises.
struct Document {
    BuiltDoc doc;
    std::vector<std::vector<render::ExpectedStamp>> stamped;
};
Document twoPages()
{
    DocPlan plan;
    plan.pages = {PagePlan{}, PagePlan{90, Resources::Indirect, Contents::Array, false, true,
                                       render::Box{30, 40, 580, 760}}};
    Document document{buildDoc(plan), {}};
    for (size_t i = 0; i < document.doc.views.size(); ++i)
        document.stamped.push_back({redBlueStamp(render::Rect{20, 10, 96, 48})});
    return document;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

// ---- The program and the zip ----

TEST(WindowsProgram, NeedsNoLibraryBesideIt)
{
    REQUIRE_WINE();
    if (!vtest::haveTool("x86_64-w64-mingw32-objdump"))
        GTEST_SKIP() << "needs x86_64-w64-mingw32-objdump";
    vtest::CommandResult dump = vtest::runCommand("x86_64-w64-mingw32-objdump -p " + vtest::shellQuote(kExe));
    ASSERT_EQ(dump.status, 0);
    std::set<std::string> libraries;
    std::istringstream lines(dump.output);
    for (std::string line; std::getline(lines, line);)
        if (line.find("DLL Name: ") != std::string::npos)
            libraries.insert(line.substr(line.find("DLL Name: ") + 10));
    // Both ship with every Windows; libstdc++, libgcc, winpthread, zlib and libpng are inside.
    EXPECT_EQ(libraries, (std::set<std::string>{"KERNEL32.dll", "msvcrt.dll"}));
}

TEST(WindowsProgram, ZipHoldsTheProgramTheMarksTheReadmeAndTheManual)
{
    REQUIRE_WINE();
    std::string zip;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(kExe).parent_path()))
        if (entry.path().extension() == ".zip")
            zip = entry.path().string();
    ASSERT_FALSE(zip.empty()) << "no zip beside " << kExe;
    vtest::CommandResult listed = vtest::runCommand("cmake -E tar tf " + vtest::shellQuote(zip));
    ASSERT_EQ(listed.status, 0);
    std::set<std::string> entries;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);)
        entries.insert(line.substr(line.find('/') + 1));
    EXPECT_EQ(entries, (std::set<std::string>{"vellico.exe", "CropmarkHorizontal.jpg", "CropmarkVertical.jpg",
                                              "README.txt", "vellico.txt"}));
}

// ---- Console output: the same bytes as this system's program ----

struct ConsoleCase {
    const char* name;
    std::vector<std::string> arguments;
};
std::ostream& operator<<(std::ostream& out, const ConsoleCase& c) { return out << c.name; }

class Console : public testing::TestWithParam<ConsoleCase> {};

TEST_P(Console, PrintsWhatThisSystemsProgramPrints)
{
    REQUIRE_WINE();
    if (!vtest::fileExists(kLinuxProgram))
        GTEST_SKIP() << "needs this system's program " << kLinuxProgram;
    Workspace work;
    work.write("in.pdf", twoPages().doc.bytes);
    const e2e::Run linux = runLinux(work.path(), GetParam().arguments);
    const e2e::Run windows = runExe(work.path(), GetParam().arguments);
    EXPECT_EQ(windows.output, linux.output);
    EXPECT_EQ(windows.status, linux.status);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Console,
    testing::Values(ConsoleCase{"Usage", {}}, ConsoleCase{"Help", {"--help"}}, ConsoleCase{"Version", {"--version"}},
                    // Not expanded by the C runtime before the program sees it.
                    ConsoleCase{"Wildcard", {"-i*.pdf", "-oout.pdf", "-jstamp.jpg"}},
                    ConsoleCase{"MissingInput", {"-imissing.pdf", "-oout.pdf", "-jstamp.jpg"}},
                    ConsoleCase{"MissingImage", {"-iin.pdf", "-oout.pdf", "-jmissing.jpg"}},
                    ConsoleCase{"MissingList", {"-imissing.txt", "-fout", "-jstamp.jpg"}},
                    ConsoleCase{"ListWithoutFolder", {"-ilist.txt", "-oout.pdf", "-jstamp.jpg"}},
                    ConsoleCase{"Stamp", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-s2"}},
                    ConsoleCase{"Marks", {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"}}),
    [](const testing::TestParamInfo<ConsoleCase>& info) { return std::string(info.param.name); });

// ---- Outputs ----

TEST(WindowsStamp, PlainStampRendersWhereTheOptionsSay)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("in.pdf", document.doc.bytes);
    const e2e::Run run = runExe(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), document.doc.views, document.stamped), "");
    EXPECT_EQ(names(work.path()), (std::set<std::string>{"in.pdf", "out.pdf", "stamp.jpg", "black.jpg",
                                                         "CropmarkHorizontal.jpg", "CropmarkVertical.jpg"}));
}

// PNG kinds, a turned JPEG, in a tagged file that claims PDF/A-1: the same
// console text as this system's program, and outputs that render the same.
struct ImageCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> options;
};
std::ostream& operator<<(std::ostream& out, const ImageCase& c) { return out << c.name; }

vtest::PngSpec pngSpec(vtest::PngKind kind, int depth, bool interlaced)
{
    vtest::PngSpec spec;
    spec.kind = kind;
    spec.depth = depth;
    spec.interlaced = interlaced;
    return spec;
}

class WindowsImage : public testing::TestWithParam<ImageCase> {};

TEST_P(WindowsImage, StampsAsThisSystemsProgramDoes)
{
    REQUIRE_WINE();
    if (!vtest::fileExists(kLinuxProgram))
        GTEST_SKIP() << "needs this system's program " << kLinuxProgram;
    Workspace work;
    DocPlan plan;
    plan.pages = {PagePlan{}, PagePlan{90}};
    plan.tagged = true;
    plan.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
               "<rdf:Description xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/' pdfaid:part='1'/></rdf:RDF>"
               "</x:xmpmeta>";
    plan.outputIntentComponents = 3;
    const BuiltDoc doc = buildDoc(plan);
    work.write("in.pdf", doc.bytes);
    work.write("image", GetParam().bytes);
    std::vector<std::string> windowsArguments = {"-iin.pdf", "-owindows.pdf", "-jimage", "-pos100,100"};
    std::vector<std::string> linuxArguments = {"-iin.pdf", "-olinux.pdf", "-jimage", "-pos100,100"};
    for (const std::string& option : GetParam().options) {
        windowsArguments.push_back(option);
        linuxArguments.push_back(option);
    }
    const e2e::Run windows = runExe(work.path(), windowsArguments);
    const e2e::Run linux = runLinux(work.path(), linuxArguments);
    ASSERT_EQ(windows.status, 0) << windows.output;
    EXPECT_EQ(windows.output, replaceAll(linux.output, "linux.pdf", "windows.pdf"));
    EXPECT_EQ(qpdfProblems(work.file("windows.pdf")), "");
    EXPECT_EQ(compareRenders(work.file("linux.pdf"), work.file("windows.pdf"), doc.views, {{}, {}}), "");
}

INSTANTIATE_TEST_SUITE_P(
    Images, WindowsImage,
    testing::Values(ImageCase{"RgbAlpha16Interlaced", vtest::bandPng(pngSpec(vtest::PngKind::RgbAlpha, 16, true)),
                              {"-opacity50"}},
                    ImageCase{"PaletteAlpha", vtest::bandPng(pngSpec(vtest::PngKind::PaletteAlpha, 4, false)), {}},
                    ImageCase{"GreyKey16", vtest::bandPng(pngSpec(vtest::PngKind::GreyKey, 16, false)), {}},
                    ImageCase{"Rgb", vtest::bandPng(pngSpec(vtest::PngKind::Rgb, 8, false)), {"-crop_marks"}},
                    ImageCase{"TurnedJpeg",
                              vtest::withApp1(vtest::readFile(e2e::fixture("stamp.jpg")), vtest::exifWithOrientation(6)),
                              {"-align", "right"}}),
    [](const testing::TestParamInfo<ImageCase>& info) { return std::string(info.param.name); });

TEST(WindowsStamp, MarksRunLooksAsOnThisSystemAndLeavesNoPassFiles)
{
    REQUIRE_WINE();
    if (!vtest::fileExists(kLinuxProgram))
        GTEST_SKIP() << "needs this system's program " << kLinuxProgram;
    Workspace work;
    const Document document = twoPages();
    work.write("in.pdf", document.doc.bytes);
    const auto before = names(work.path());
    const e2e::Run run = runExe(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    auto after = names(work.path());
    after.erase("out.pdf");
    EXPECT_EQ(after, before) << "out.pdf-0 .. out.pdf-7 are gone";
    ASSERT_EQ(runLinux(work.path(), {"-iin.pdf", "-olinux.pdf", "-jstamp.jpg", "-crop_marks"}).status, 0);
    // The marks lie outside the crop box: the whole media box, as this system's output shows it.
    std::vector<render::View> views;
    for (const render::View& view : document.doc.views)
        views.push_back(render::View{render::Box{0, 0, 612, 792}, view.rotate});
    EXPECT_EQ(compareRenders(work.file("linux.pdf"), work.file("out.pdf"), views, {{}, {}}, 72, false), "");
    EXPECT_NE(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views, {{}, {}}, 72, false), "")
        << "the marks are drawn";
}

TEST(WindowsStamp, OutputThatIsTheInputIsRefusedHoweverItIsWritten)
{
    REQUIRE_WINE();
    Workspace work;
    const std::string input = twoPages().doc.bytes;
    work.write("in.pdf", input);
    // The same file by another spelling: Windows names ignore case and take either slash.
    for (const std::string output : {"in.pdf", "IN.PDF", ".\\in.pdf", "./in.pdf"}) {
        for (const bool marks : {false, true}) {
            std::vector<std::string> arguments = {"-iin.pdf", "-o" + output, "-jstamp.jpg"};
            if (marks)
                arguments.push_back("-crop_marks");
            const e2e::Run run = runExe(work.path(), arguments);
            EXPECT_EQ(run.status, 1) << output << run.output;
            EXPECT_NE(run.output.find("Output file is the input file: '" + output + "'"), std::string::npos)
                << output << run.output;
            EXPECT_EQ(vtest::readFile(work.file("in.pdf")), input) << output;
        }
    }
    EXPECT_EQ(names(work.path()).size(), 5u) << "nothing was left beside the input";
}

// Windows' C runtime gives every file the inode 0: marks runs took any
// existing output for the input and refused it.
TEST(WindowsStamp, ExistingOutputIsReplacedNotTakenForTheInput)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("in.pdf", document.doc.bytes);
    for (const bool marks : {false, true}) {
        work.write("out.pdf", "an older output");
        std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
        if (marks)
            arguments.push_back("-crop_marks");
        const e2e::Run run = runExe(work.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
        if (!marks) {
            EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), document.doc.views, document.stamped),
                      "");
        }
        EXPECT_EQ(names(work.path()).size(), 6u) << "nothing is left beside the output";
    }
}

// As the zip lays them out: the program alone in a folder with the two mark
// images, run from a folder that has none.
TEST(WindowsStamp, MarksRunReadsTheMarkImagesBesideTheProgram)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("in.pdf", document.doc.bytes);
    std::filesystem::create_directory(work.file("Program Files"));
    const std::string program = work.file("Program Files/vellico.exe");
    std::filesystem::copy_file(kExe, program);
    for (const char* mark : {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"})
        std::filesystem::remove(work.file(mark));

    const e2e::Run missing = runExe(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"}, program);
    EXPECT_EQ(missing.status, 1);
    const std::string folder = replaceAll("Z:" + work.file("Program Files"), "/", "\\");
    EXPECT_NE(missing.output.find("\nInput image file error: 'CropmarkHorizontal.jpg' is neither in the current "
                                  "folder nor in '" + folder + "'\n"),
              std::string::npos)
        << missing.output;

    for (const char* mark : {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"})
        std::filesystem::copy_file(vtest::sourceDir() + "/data/" + mark, work.file(std::string("Program Files/") + mark));
    const e2e::Run run = runExe(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"}, program);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    std::vector<render::View> views;
    for (const render::View& view : document.doc.views)
        views.push_back(render::View{render::Box{0, 0, 612, 792}, view.rotate});
    EXPECT_NE(compareRenders(work.file("in.pdf"), work.file("out.pdf"), views, {{}, {}}, 72, false), "")
        << "the marks are drawn";
}

class HeldOutput : public testing::TestWithParam<bool> {};

// A viewer holding the output open: a clear message, the held file as it
// was, and neither the temporary nor a mark pass's file left behind.
TEST_P(HeldOutput, IsNamedAsOpenInAnotherProgramAndTheTemporaryRemoved)
{
    REQUIRE_WINE();
    if (!vtest::fileExists(kHoldFile))
        GTEST_SKIP() << "needs " << kHoldFile;
    Workspace work;
    work.write("in.pdf", twoPages().doc.bytes);
    work.write("out.pdf", "held by a viewer");
    const auto before = names(work.path());
    std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    if (GetParam())
        arguments.push_back("-crop_marks");
    const std::string script = "cd " + vtest::shellQuote(work.path()) + " && " +
                               "{ (while [ ! -e release ]; do sleep 0.1; done) | " + wine(kHoldFile) +
                               " out.pdf > held 2>/dev/null & } && " +
                               "for i in $(seq 600); do grep -q held held 2>/dev/null && break; sleep 0.1; done; " +
                               wine(kExe) + vtest::shellArguments(arguments) +
                               " </dev/null; status=$?; touch release; wait; rm -f held release; exit $status";
    const vtest::CommandResult run = vtest::runCommand(script);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("\nOutput file is open in another program: 'out.pdf'\n"), std::string::npos)
        << run.output;
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), "held by a viewer");
    EXPECT_EQ(names(work.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Runs, HeldOutput, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Marks" : "Stamp"; });

// ---- Names and paths ----

TEST(WindowsNames, NonAsciiInputOutputAndImageNames)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("Prüfung.pdf", document.doc.bytes);
    work.write("印章.jpg", vtest::readFile(work.file("stamp.jpg")));
    const e2e::Run run = runExe(work.path(), {"-iPrüfung.pdf", "-o合同.pdf", "-j印章.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    // The names reach the console as the UTF-8 they were given in.
    EXPECT_NE(run.output.find("Input file: 'Prüfung.pdf', image file: '印章.jpg', output file: '合同.pdf'\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(qpdfProblems(work.file("合同.pdf")), "");
    EXPECT_EQ(compareRenders(work.file("Prüfung.pdf"), work.file("合同.pdf"), document.doc.views, document.stamped),
              "");
}

// Longer than the classic 260-character limit, by a relative and by an absolute Windows path.
TEST(WindowsNames, PathsLongerThan260Characters)
{
    REQUIRE_WINE();
    Workspace work;
    std::string folder;
    for (int i = 0; i < 12; ++i)
        folder += "a-folder-with-a-long-name-" + std::to_string(i) + "/";
    std::filesystem::create_directories(work.file(folder));
    const Document document = twoPages();
    work.write(folder + "in.pdf", document.doc.bytes);
    work.write(folder + "stamp.jpg", vtest::readFile(work.file("stamp.jpg")));
    const std::string absolute = replaceAll("Z:" + work.file(folder), "/", "\\");
    ASSERT_GT(absolute.size(), 300u);
    for (const std::string& base : {folder, absolute}) {
        const e2e::Run run = runExe(work.path(), {"-i" + base + "in.pdf", "-o" + base + "合同.pdf", "-j" + base + "stamp.jpg"});
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(qpdfProblems(work.file(folder + "合同.pdf")), "") << base;
        EXPECT_EQ(compareRenders(work.file(folder + "in.pdf"), work.file(folder + "合同.pdf"), document.doc.views,
                                 document.stamped),
                  "")
            << base;
        std::filesystem::remove(work.file(folder + "合同.pdf"));
    }
    // A list read from the long folder; the output folder is made at its end.
    work.write("in.pdf", document.doc.bytes);
    work.write(folder + "list.txt", "in.pdf\r\n");
    const e2e::Run run = runExe(work.path(), {"-i" + absolute + "list.txt", "-f" + absolute + "out", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("output file: '" + absolute + "out\\in.pdf'"), std::string::npos) << run.output;
    EXPECT_EQ(qpdfProblems(work.file(folder + "out/in.pdf")), "") << run.output;
}

// ---- List files ----

struct ListCase {
    const char* name;
    std::string bytes;
};
std::ostream& operator<<(std::ostream& out, const ListCase& c) { return out << c.name; }

class WindowsList : public testing::TestWithParam<ListCase> {};

// CR LF and LF line ends; names joined to the folder with a backslash; each
// output as the usage text promises.
TEST_P(WindowsList, ReadsEveryNameAndJoinsItWithABackslash)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("plain.pdf", document.doc.bytes);
    work.write("Prüfung.pdf", document.doc.bytes);
    work.write("list.txt", GetParam().bytes);
    const e2e::Run run = runExe(work.path(), {"-ilist.txt", "-fout", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    for (const std::string name : {"plain.pdf", "Prüfung.pdf"}) {
        EXPECT_NE(run.output.find("Input file: '" + name + "', image file: 'stamp.jpg', output file: 'out\\" + name +
                                  "'\nProcessing\nDone.\n"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(qpdfProblems(work.file("out/" + name)), "") << name;
        EXPECT_EQ(compareRenders(work.file(name), work.file("out/" + name), document.doc.views, document.stamped), "")
            << name;
    }
    EXPECT_EQ(names(work.file("out")), (std::set<std::string>{"plain.pdf", "Prüfung.pdf"}));
}

// UTF-8 with or without a byte-order mark; text that is not UTF-8 is read in
// the ANSI code page (Wine's is 1252 here, where ü is the byte FC).
INSTANTIATE_TEST_SUITE_P(
    Encodings, WindowsList,
    testing::Values(ListCase{"Utf8CrLf", "plain.pdf\r\nPr\xC3\xBC" "fung.pdf\r\n"},
                    ListCase{"Utf8WithMarkLfLastLineOpen", "\xEF\xBB\xBFplain.pdf\nPr\xC3\xBC" "fung.pdf"},
                    ListCase{"AnsiCodePage", "plain.pdf\r\nPr\xFC" "fung.pdf\r\n"}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(WindowsListNames, ChineseNamesInAUtf8ListAndFolder)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    work.write("合同.pdf", document.doc.bytes);
    work.write("list.txt", "合同.pdf\r\n");
    const e2e::Run run = runExe(work.path(), {"-ilist.txt", "-f输出", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("output file: '输出\\合同.pdf'"), std::string::npos) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("输出/合同.pdf")), "");
}

// ---- Batches: workers started with the Windows calls ----

// --keep-going over bad lines in two workers; absolute names, with a drive
// letter or a server, are mirrored below the folder without their root.
TEST(WindowsBatch, KeepGoingInWorkersWithAReport)
{
    REQUIRE_WINE();
    Workspace work;
    const Document document = twoPages();
    std::filesystem::create_directories(work.file("sub"));
    for (const char* name : {"a.pdf", "sub/c.pdf", "Prüfung.pdf"})
        work.write(name, document.doc.bytes);
    const std::string absolute = replaceAll("Z:" + work.file("a.pdf"), "/", "\\");
    const std::string mirrored = "out\\Z" + replaceAll(work.file("a.pdf"), "/", "\\");
    work.write("list.txt", "a.pdf\r\nmissing.pdf\r\nsub\\c.pdf\r\n" + absolute + "\r\n..\\x.pdf\r\nPrüfung.pdf\r\n");
    const e2e::Run run = runExe(work.path(), {"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--jobs", "2",
                                              "--report", "r.json"});
    EXPECT_EQ(run.status, 2) << run.output;
    std::map<std::string, std::string> statuses;
    for (const ReportEntry& entry : readReport(work.file("r.json")))
        statuses[entry.input] = entry.status + " " + entry.output;
    EXPECT_EQ(statuses, (std::map<std::string, std::string>{{"a.pdf", "stamped out\\a.pdf"},
                                                            {"missing.pdf", "failed out\\missing.pdf"},
                                                            {"sub\\c.pdf", "stamped out\\sub\\c.pdf"},
                                                            {absolute, "stamped " + mirrored},
                                                            {"..\\x.pdf", "failed "},
                                                            {"Prüfung.pdf", "stamped out\\Prüfung.pdf"}}))
        << run.output;
    for (const std::string output : {"out/a.pdf", "out/sub/c.pdf", "out/Prüfung.pdf"})
        EXPECT_EQ(qpdfProblems(work.file(output)), "") << output;
    EXPECT_EQ(qpdfProblems(work.file(replaceAll(mirrored.substr(4), "\\", "/").insert(0, "out/"))), "");
}

// What Windows PowerShell's > writes: UTF-16 with a byte-order mark.
TEST(WindowsBatch, ListInUtf16)
{
    REQUIRE_WINE();
    Workspace work;
    work.write("合同.pdf", twoPages().doc.bytes);
    std::string list = "\xFF\xFE";
    for (unsigned unit : {0x5408u, 0x540Cu, 0x2Eu, 0x70u, 0x64u, 0x66u, 0x0Du, 0x0Au}) // 合同.pdf CR LF
        list += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    work.write("list.txt", list);
    const e2e::Run run = runExe(work.path(), {"-ilist.txt", "-fout", "-jstamp.jpg"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out/合同.pdf")), "");
}

// A worker that stops making progress is ended with TerminateProcess when
// its file is past the time limit; a new one stamps the next file.
TEST(WindowsBatch, TimeLimitEndsAStoppedWorker)
{
    REQUIRE_WINE();
    Workspace work;
    const std::string doc = twoPages().doc.bytes;
    work.write("a.pdf", doc);
    work.write("b.pdf", doc);
    // The program's own copy: its workers' command lines name this folder, which no other test's do.
    std::filesystem::copy_file(kExe, work.file("vellico.exe"));
    const std::string folder = std::filesystem::path(work.path()).filename().string();
    const std::string script =
        "cd " + vtest::shellQuote(work.path()) + " && mkfifo list && { " + wine(work.file("vellico.exe")) +
        " -i- -fout -jstamp.jpg --keep-going --timeout 2 --report r.json < list > console.txt 2>/dev/null & } && "
        // The pattern is split so that it does not match this shell's own command line.
        "p='" + folder + ".vellico.exe --vellico-internal-'\"worker\" && exec 3> list && "
        "for i in $(seq 600); do w=$(pgrep -f \"$p\") && break; sleep 0.1; done && "
        // Wine sets a new process's command line while it starts: the one that has settled.
        "sleep 1 && w=$(pgrep -f \"$p\") && kill -STOP $w && "
        "printf 'a.pdf\\r\\nb.pdf\\r\\n' >&3 && exec 3>&- && "
        "for i in $(seq 600); do [ $(cat r.json 2>/dev/null | wc -l) -ge 2 ] && break; sleep 0.1; done; "
        "kill -CONT $w 2>/dev/null; true";
    vtest::runCommand(script);
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 2u) << vtest::readFile(work.file("console.txt"));
    EXPECT_EQ(report[0].input + " " + report[0].status + " " + report[0].message,
              "a.pdf failed Stopped: the file took longer than the time limit of 2 seconds (--timeout)");
    EXPECT_EQ(report[1].input + " " + report[1].status, "b.pdf stamped");
    EXPECT_FALSE(vtest::fileExists(work.file("out/a.pdf")));
}

// Names of 5,000 characters: a file's frame to a worker, and its result
// back, are larger than a pipe's default buffer of 4 KB. With such buffers
// we waited on the worker's input while the worker waited on its output.
TEST(WindowsBatch, LongNamesPassThroughTheWorkerChannel)
{
    REQUIRE_WINE();
    Workspace work;
    std::string list;
    for (char first : {'a', 'b', 'c', 'd'})
        list += first + std::string(5000, 'x') + ".pdf\r\n";
    work.write("list.txt", list);
    const vtest::CommandResult run =
        vtest::runCommand("cd " + vtest::shellQuote(work.path()) + " && timeout 120 env " + wine(kExe) +
                          " -ilist.txt -fout -jstamp.jpg --keep-going --jobs 1 --report r.json </dev/null");
    EXPECT_EQ(run.status, 2) << run.output.substr(0, 500);
    EXPECT_EQ(readReport(work.file("r.json")).size(), 4u);
}
