// Batches as scripts run them: --keep-going, workers (--jobs), the limits
// that stop one file (--timeout, --memory-limit), the report read back as
// JSON and held against the outputs, dry runs against where the stamp really
// lands, lists from find, and the errors that end a run at once.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// Runs `script` in the workspace with the program as $V; standard error is dropped.
e2e::Run shell(const Workspace& work, const std::string& script)
{
    return vtest::runCommand("cd " + vtest::shellQuote(work.path()) +
                             " && V=" + vtest::shellQuote(vtest::vellicoBinary()) + " && " + script + " 2>/dev/null");
}

// Files a run may leave behind by mistake: temporary and pass files.
std::vector<std::string> leftovers(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().find(".vellico-") != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

std::vector<std::string> with(std::vector<std::string> arguments, const std::vector<std::string>& more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// ---- --keep-going: every kind of bad line is one failed file ----

struct ModeCase {
    const char* name;
    std::vector<std::string> options;
};
std::ostream& operator<<(std::ostream& out, const ModeCase& c) { return out << c.name; }
class KeepGoing : public testing::TestWithParam<ModeCase> {};

TEST_P(KeepGoing, ReportsEveryLineAndStampsEveryGoodFile)
{
    Workspace work;
    const std::string doc = plainDoc(2);
    std::filesystem::create_directories(work.file("in/2024"));
    std::filesystem::create_directory(work.file("dir.pdf"));
    for (const char* name : {"a.pdf", "in/2024/b.pdf", "caf\xE9.pdf"})
        work.write(name, doc);
    vtest::PdfBuilder encrypted;
    encrypted.setRoot(encrypted.add("<< /Type /Catalog /Pages 2 0 R >>"));
    encrypted.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    encrypted.setTrailerExtra("/Encrypt " + vtest::passwordEncryptDictionary() + " /ID [ <01> <01> ]");
    work.write("encrypted.pdf", encrypted.build());
    work.write("notpdf.pdf", "plain text, no PDF");
    ASSERT_EQ(mkfifo(work.file("fifo.pdf").c_str(), 0644), 0);
    const std::string absolute = work.file("a.pdf");

    // input, status, the start of its message, its output
    struct Expected {
        std::string input, status, message, output;
    };
    const std::vector<Expected> expected = {
        {"a.pdf", "stamped", "", "out/a.pdf"},
        {"missing.pdf", "failed", "Input file open error", "out/missing.pdf"},
        {"encrypted.pdf", "refused", "PDF file is encrypted", "out/encrypted.pdf"},
        {"notpdf.pdf", "refused", "PDF file was damaged", "out/notpdf.pdf"},
        {"fifo.pdf", "refused", "Input file is not a regular file: 'fifo.pdf'", "out/fifo.pdf"},
        {"dir.pdf", "refused", "Input file is not a regular file: 'dir.pdf'", "out/dir.pdf"},
        {"../outside.pdf", "failed", "The list line leads outside the output folder: '../outside.pdf'", ""},
        {"in/2024/b.pdf", "stamped", "", "out/in/2024/b.pdf"},
        {absolute, "stamped", "", "out" + absolute},
        {"caf\xE9.pdf", "stamped", "", "out/caf\xE9.pdf"},
    };
    std::string list;
    for (const Expected& e : expected)
        list += e.input + "\n";
    work.write("list.txt", list);

    const e2e::Run run = work.run(
        with({"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--report", "report.json"}, GetParam().options));
    EXPECT_EQ(run.status, 2) << run.output;
    const std::vector<ReportEntry> report = readReport(work.file("report.json"));
    ASSERT_EQ(report.size(), expected.size()) << run.output;
    for (const Expected& e : expected) {
        auto entry =
            std::find_if(report.begin(), report.end(), [&e](const ReportEntry& r) { return r.input == e.input; });
        ASSERT_NE(entry, report.end()) << e.input;
        EXPECT_EQ(entry->status, e.status) << e.input;
        EXPECT_EQ(entry->message.substr(0, e.message.size()), e.message) << e.input;
        EXPECT_EQ(entry->output, e.output) << e.input;
        // Each file's console text whole: its name, then its message on a line of its own.
        const std::string begun = "Input file: '" + e.input + "'";
        EXPECT_NE(run.output.find(e.status == "stamped" ? begun + ", image file: 'stamp.jpg', output file: '" +
                                                              e.output + "'\nProcessing\nDone.\n"
                                                        : begun + "\n" + e.message),
                  std::string::npos)
            << e.input << "\n"
            << run.output;
        if (e.status == "stamped") {
            EXPECT_EQ(qpdfProblems(work.file(e.output)), "") << e.input;
            EXPECT_EQ(entry->outputBytes, static_cast<long>(std::filesystem::file_size(work.file(e.output))));
            EXPECT_EQ(entry->pages, 2);
            EXPECT_EQ(entry->pagesStamped, 2);
        } else {
            EXPECT_TRUE(e.output.empty() || !vtest::fileExists(work.file(e.output))) << e.input;
            EXPECT_EQ(entry->pages, -1) << e.input;
        }
        EXPECT_EQ(entry->encrypted, e.input == "encrypted.pdf");
    }
    EXPECT_EQ(leftovers(work.path()), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Modes, KeepGoing,
                         testing::Values(ModeCase{"Here", {}}, ModeCase{"TwoWorkers", {"--jobs", "2"}},
                                         ModeCase{"WorkerPerCore", {"--jobs=0"}}),
                         kRowName);

// ---- Without --keep-going the first failure ends the run, as before ----

class FirstFailure : public testing::TestWithParam<ModeCase> {};

TEST_P(FirstFailure, StartsNoFurtherFileAndExitsOne)
{
    Workspace work;
    work.write("a.pdf", plainDoc(1));
    work.write("c.pdf", plainDoc(1));
    work.write("list.txt", "a.pdf\nmissing.pdf\nc.pdf\n");
    const e2e::Run run =
        work.run(with({"-ilist.txt", "-fout", "-jstamp.jpg", "--report=report.json"}, GetParam().options));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(vtest::fileExists(work.file("out/a.pdf")));
    EXPECT_FALSE(vtest::fileExists(work.file("out/c.pdf")));
    const std::vector<ReportEntry> report = readReport(work.file("report.json"));
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[1].input + " " + report[1].status, "missing.pdf failed");
}

INSTANTIATE_TEST_SUITE_P(Modes, FirstFailure,
                         testing::Values(ModeCase{"Here", {}}, ModeCase{"OneWorker", {"--jobs", "1"}}), kRowName);

// ---- --dry-run: where the stamp would go is where it goes ----

class DryRun : public testing::TestWithParam<ModeCase> {};

TEST_P(DryRun, WritesNothingAndPlacesTheStampWhereARunDraws)
{
    Workspace work;
    DocPlan plan;
    plan.pages = {
        PagePlan{}, PagePlan{90, Resources::Inline, Contents::Stream, false, false, render::Box{30, 40, 580, 760}},
        PagePlan{180}, PagePlan{270, Resources::Inline, Contents::Stream, false, false, render::Box{10, 20, 500, 700}}};
    const BuiltDoc doc = buildDoc(plan);
    work.write("in.pdf", doc.bytes);
    work.write("list.txt", "in.pdf\n");
    const std::vector<std::string> options = with({"-e3"}, GetParam().options);

    const auto before = snapshot(work.path());
    const e2e::Run dry = work.run(with({"-ilist.txt", "-fout", "-jstamp.jpg", "--dry-run", "--report", "-"}, options));
    ASSERT_EQ(dry.status, 0) << dry.output;
    EXPECT_EQ(snapshot(work.path()), before) << "no file and no folder";
    work.write("report.json", dry.output);
    const std::vector<ReportEntry> report = readReport(work.file("report.json"));
    ASSERT_EQ(report.size(), 1u) << dry.output;
    EXPECT_EQ(report[0].status + " " + std::to_string(report[0].pagesStamped) + " " +
                  std::to_string(report[0].outputBytes),
              "stamped 3 0");

    const e2e::Run real = work.run(with({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"}, options));
    ASSERT_EQ(real.status, 0) << real.output;
    std::vector<std::vector<render::ExpectedStamp>> expected(doc.views.size());
    std::istringstream stamps(report[0].stamps);
    for (std::string stamp; stamps >> stamp;) {
        int page = 0;
        render::Rect rect;
        ASSERT_EQ(std::sscanf(stamp.c_str(), "%d:%lf,%lf,%lf,%lf", &page, &rect.left, &rect.bottom, &rect.width,
                              &rect.height),
                  5);
        expected.at(static_cast<size_t>(page - 1)).push_back(redBlueStamp(rect));
    }
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), doc.views, expected), "") << report[0].stamps;
}

INSTANTIATE_TEST_SUITE_P(
    Placements, DryRun,
    testing::Values(ModeCase{"Default", {}}, ModeCase{"CentredAlignedRight", {"-pos-1,-1", "-align", "right"}},
                    ModeCase{"FlippedAndSized", {"-pos30,40", "-flipv", "-fliph", "-align", "right", "-size150,60"}},
                    ModeCase{"InAWorker", {"--timeout", "60"}}),
    kRowName);

// ---- A worker that stops making progress, or dies, fails only its file ----

struct StoppedCase {
    const char* name;
    std::string options;
    std::string action; // done to the stopped worker once the list is given
    std::string message;
};
std::ostream& operator<<(std::ostream& out, const StoppedCase& c) { return out << c.name; }
class StoppedWorker : public testing::TestWithParam<StoppedCase> {};

TEST_P(StoppedWorker, FailsItsFileAndANewWorkerStampsTheRest)
{
    const StoppedCase& c = GetParam();
    Workspace work;
    work.write("a.pdf", plainDoc(1));
    work.write("b.pdf", plainDoc(1));
    // The list comes through a FIFO: the worker exists, and is stopped, before it gets a file.
    const auto start = std::chrono::steady_clock::now();
    const e2e::Run run =
        shell(work, "mkfifo list && { $V -i- -fout -jstamp.jpg --keep-going --report r.json " + c.options +
                        " < list > console.txt & } && pid=$! && exec 3> list && "
                        "for i in $(seq 200); do w=$(pgrep -P $pid) && break; sleep 0.05; done && "
                        "kill -STOP $w && printf 'a.pdf\\nb.pdf\\n' >&3 && exec 3>&- && " +
                        c.action + " ; wait $pid");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.status, 2) << vtest::readFile(work.file("console.txt"));
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].input + " " + report[0].status + " " + report[0].message, "a.pdf failed " + c.message);
    EXPECT_EQ(report[1].input + " " + report[1].status, "b.pdf stamped");
    EXPECT_NE(vtest::readFile(work.file("console.txt")).find("Input file: 'a.pdf'\n" + c.message + "\n"),
              std::string::npos);
    EXPECT_FALSE(vtest::fileExists(work.file("out/a.pdf")));
    EXPECT_EQ(qpdfProblems(work.file("out/b.pdf")), "");
    EXPECT_LT(seconds, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, StoppedWorker,
    testing::Values(StoppedCase{"TimeLimit", "--timeout 1", "true",
                                "Stopped: the file took longer than the time limit of 1 seconds (--timeout)"},
                    StoppedCase{"Crash", "--jobs 1", "sleep 0.5 && kill -KILL $w",
                                "Stopped: the worker stamping the file ended unexpectedly (signal 9)"}),
    kRowName);

// A file whose page stands in an object stream that decodes to 200 MB: its
// run really needs the memory, and only once it reads the page, when its
// output's temporary file exists.
std::string needs200Mb()
{
    vtest::PdfBuilder big;
    const int catalog = big.reserve(), pages = big.reserve(), page = big.reserve();
    const int stream = big.addObjectStream();
    big.set(catalog, "<< /Type /Catalog /Pages 2 0 R >>");
    big.set(pages, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    big.set(page,
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Padding (" + std::string(200 << 20, ' ') + ") >>");
    big.compress(page, stream);
    big.setRoot(catalog);
    big.setXref(vtest::XrefKind::Stream);
    return big.build();
}

TEST(MemoryLimit, StopsTheFileThatNeedsMoreAndLeavesNothingBehind)
{
    Workspace work;
    work.write("big.pdf", needs200Mb());
    work.write("a.pdf", plainDoc(1));
    work.write("list.txt", "big.pdf\na.pdf\n");
    const e2e::Run run =
        work.run({"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--memory-limit", "150", "--report", "r.json"});
    EXPECT_EQ(run.status, 2) << run.output;
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 2u) << run.output;
    EXPECT_EQ(report[0].input + " " + report[0].status + " " + report[0].message,
              "big.pdf failed Stopped: the file needed more memory than the limit of 150 MB (--memory-limit)");
    EXPECT_EQ(report[1].status, "stamped");
    EXPECT_EQ(leftovers(work.path()), std::vector<std::string>());
    EXPECT_FALSE(vtest::fileExists(work.file("out/big.pdf")));
}

// ---- What the report says of a file is what the run found ----

// One page; `catalog` holds more of the catalog's entries, `object` is object 4.
std::string onePage(const std::string& catalog, const std::string& object = "")
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R " + catalog + ">>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    if (!object.empty())
        b.set(4, object);
    b.setRoot(1);
    return b.build();
}

struct FieldsCase {
    const char* name;
    std::string (*input)(const Workspace& work); // its bytes; empty when they cannot be made here
    std::string limit;                           // set before the run (ulimit), or ""
    std::string status;                          // and the start of its message
    bool encrypted, repaired;
};
std::ostream& operator<<(std::ostream& out, const FieldsCase& c) { return out << c.name; }
class ReportFields : public testing::TestWithParam<FieldsCase> {};

TEST_P(ReportFields, SayWhatTheRunFound)
{
    const FieldsCase& c = GetParam();
#ifdef VELLICO_SANITIZED
    if (!c.limit.empty())
        GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
    Workspace work;
    const std::string input = c.input(work);
    if (input.empty())
        GTEST_SKIP() << "needs qpdf";
    work.write("in.pdf", input);
    const e2e::Run run = shell(work, (c.limit.empty() ? "" : "ulimit " + c.limit + " && ") +
                                         "$V -iin.pdf -oout.pdf -jstamp.jpg --report r.json");
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 1u) << run.output;
    EXPECT_EQ((report[0].status + " " + report[0].message).substr(0, c.status.size()), c.status) << run.output;
    EXPECT_EQ(report[0].encrypted, c.encrypted);
    EXPECT_EQ(report[0].repaired, c.repaired);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReportFields,
    testing::Values(
        // A warning that is no repair: the form asks for updates.
        FieldsCase{"WarnedButNotRepaired",
                   [](const Workspace&) { return onePage("/AcroForm << /Fields [] /SigFlags 2 >> "); }, "", "stamped ",
                   false, false},
        FieldsCase{"Repaired",
                   [](const Workspace&) {
                       const std::string doc = plainDoc(2);
                       return doc.substr(0, doc.size() / 2);
                   },
                   "", "stamped ", false, true},
        // Both refused for their permissions: only one of them is encrypted.
        FieldsCase{"CertifiedIsNotEncrypted",
                   [](const Workspace&) {
                       return onePage("/Perms << /DocMDP 4 0 R >> ",
                                      "<< /Type /Sig /ByteRange [0 10 20 30] /Contents <00> /Reference [<< "
                                      "/TransformMethod /DocMDP /TransformParams << /P 1 >> >>] >>");
                   },
                   "", "refused PDF file is certified", false, false},
        FieldsCase{"RestrictedIsEncrypted",
                   [](const Workspace& work) {
                       work.write("clean.pdf", plainDoc(1));
                       const std::string encrypt = "qpdf --encrypt '' o 256 --modify=none -- clean.pdf out.pdf";
                       return shell(work, encrypt).status == 0 ? vtest::readFile(work.file("out.pdf")) : std::string();
                   },
                   "", "refused PDF file is encrypted, and its permissions", true, false},
        // A failure of the run, not a refusal of the file.
        FieldsCase{"OutOfMemoryFails", [](const Workspace&) { return needs200Mb(); }, "-v 300000",
                   "failed Out of memory", false, false}),
    kRowName);

// ---- Lists as find and PowerShell write them ----

struct ListCase {
    const char* name;
    std::string script; // runs $V with the list, the rest of the arguments in $A
};
std::ostream& operator<<(std::ostream& out, const ListCase& c) { return out << c.name; }
class ListSources : public testing::TestWithParam<ListCase> {};

TEST_P(ListSources, GiveEveryName)
{
    Workspace work;
    std::filesystem::create_directories(work.file("in/2024"));
    work.write("in/a b.pdf", plainDoc(1));
    work.write("in/2024/c.pdf", plainDoc(1));
    // What PowerShell's > writes: UTF-16 with a byte-order mark, CR LF.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("in/a b.pdf\r\nin/2024/c.pdf\r\n"))
        utf16 += std::string(1, c) + '\0';
    work.write("utf16.txt", utf16);
    const e2e::Run run = shell(work, "A='-fout -jstamp.jpg' && " + GetParam().script);
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* output : {"out/in/a b.pdf", "out/in/2024/c.pdf"})
        EXPECT_EQ(qpdfProblems(work.file(output)), "") << output << run.output;
}

INSTANTIATE_TEST_SUITE_P(Sources, ListSources,
                         testing::Values(ListCase{"FindLines", "find in -name '*.pdf' | $V -i- $A"},
                                         ListCase{"FindPrint0",
                                                  "find in -name '*.pdf' -print0 | $V -i- $A -0 --jobs 2"},
                                         ListCase{"Utf16File", "$V -iutf16.txt $A"}),
                         kRowName);

// ---- What ends a run at once, whatever --keep-going says ----

struct EndCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
};
std::ostream& operator<<(std::ostream& out, const EndCase& c) { return out << c.name; }
class RunEnds : public testing::TestWithParam<EndCase> {};

TEST_P(RunEnds, WithAMessageAndExitOne)
{
    Workspace work;
    work.write("a.pdf", plainDoc(1));
    work.write("list.txt", "a.pdf\n");
    work.write("blocker", "a file where a folder should be");
    const e2e::Run run = work.run(GetParam().arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "\r\nVellico v1.05\r\n" + GetParam().message);
    EXPECT_FALSE(vtest::fileExists(work.file("out/a.pdf")));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RunEnds,
    testing::Values(EndCase{"ListUnreadable",
                            {"-imissing.txt", "-fout", "-jstamp.jpg", "--keep-going"},
                            "Unable to open file list: 'missing.txt'\r\n"},
                    EndCase{"FolderCannotBeMade",
                            {"-ilist.txt", "-fblocker/out", "-jstamp.jpg", "--keep-going"},
                            "Unable to create the output folder: 'blocker/out'\n"},
                    EndCase{"ReportCannotBeWritten",
                            {"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--report", "no/such/r.json"},
                            "Report file create error: 'no/such/r.json'\n"},
                    EndCase{"JobsWithoutAList",
                            {"-ia.pdf", "-oout/a.pdf", "-jstamp.jpg", "--jobs", "2"},
                            "--jobs is for list files only (-i<list.txt> -f<folder>, or -i- for a list on standard "
                            "input)\n"},
                    EndCase{"BadValue",
                            {"-ilist.txt", "-fout", "-jstamp.jpg", "--timeout", "soon"},
                            "--timeout takes a number of seconds greater than 0: 'soon'\n"},
                    // The password would take the list's lines, and the list find nothing.
                    EndCase{"PasswordAndListBothFromStandardInput",
                            {"-i-", "-fout", "-jstamp.jpg", "--password-file", "-"},
                            "--password-file - cannot go with -i-: both would read standard input\n"}),
    kRowName);

// A single file has its report line too; with the report on standard output
// the console text goes to standard error.
TEST(SingleFile, ReportOnStandardOutputInAWorker)
{
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    const e2e::Run run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "--report", "-", "--timeout", "60", "-s2"});
    ASSERT_EQ(run.status, 0) << run.output;
    work.write("r.json", run.output);
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 1u) << run.output;
    EXPECT_EQ(report[0].output + " " + std::to_string(report[0].pages) + " " + std::to_string(report[0].pagesStamped),
              "out.pdf 3 2");
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
}

// ---- Progress on a terminal ----

TEST(Progress, OneUpdatingLineOnATerminalOnly)
{
    if (!vtest::haveTool("script"))
        GTEST_SKIP() << "needs script (util-linux) for a pseudo-terminal";
    Workspace work;
    work.write("a.pdf", plainDoc(1));
    work.write("b.pdf", plainDoc(1));
    work.write("list.txt", "a.pdf\nb.pdf\n");
    const e2e::Run terminal = shell(work, "script -qec \"$V -ilist.txt -fout -jstamp.jpg --jobs 2\" /dev/null");
    EXPECT_EQ(terminal.status, 0) << terminal.output;
    EXPECT_NE(terminal.output.find("2 of 2 files, "), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find(" files/s, 0:00:00 left"), std::string::npos) << terminal.output;
    const e2e::Run piped = work.run({"-ilist.txt", "-fout2", "-jstamp.jpg", "--jobs", "2"});
    EXPECT_EQ(piped.output.find("files/s"), std::string::npos) << piped.output;
}

} // namespace

namespace {

// ---- Beyond one machine: the README's recipe, with local workers only ----

TEST(SeveralMachines, ReadmeRecipeRunsWithLocalWorkers)
{
    if (!vtest::haveTool("parallel") || !vtest::haveTool("tar"))
        GTEST_SKIP() << "needs GNU parallel and tar";
    const std::string readme = vtest::readFile(vtest::sourceDir() + "/README.md");
    const size_t marker = readme.find("<!-- several machines -->\n```sh\n");
    ASSERT_NE(marker, std::string::npos);
    const size_t begin = readme.find('\n', readme.find("```sh", marker)) + 1;
    std::string recipe = readme.substr(begin, readme.find("```\n", begin) - begin);
    // This machine alone, two parts at once.
    recipe.replace(recipe.find("hosts="), recipe.find('\n') - recipe.find("hosts="), "hosts=2/:");
    Workspace work;
    std::filesystem::create_directories(work.file("in/2024"));
    const std::vector<std::string> names = {"in/a.pdf", "in/b c.pdf", "in/2024/d.pdf", "in/e.pdf", "in/f.pdf"};
    for (const std::string& name : names)
        work.write(name, plainDoc(2));
    work.write("logo.jpg", vtest::readFile(work.file("stamp.jpg")));
    work.write("recipe.sh", recipe);
    const std::string folder = std::filesystem::path(vtest::vellicoBinary()).parent_path().string();
    const e2e::Run run = shell(work, "PATH=" + vtest::shellQuote(folder) + ":$PATH bash recipe.sh >/dev/null");
    ASSERT_EQ(run.status, 0) << run.output;
    std::map<std::string, std::string> report;
    for (const ReportEntry& entry : readReport(work.file("report.json")))
        report[entry.input] = entry.status + " " + entry.output;
    ASSERT_EQ(report.size(), names.size());
    for (const std::string& name : names) {
        EXPECT_EQ(report[name], "stamped out/" + name);
        EXPECT_EQ(qpdfProblems(work.file("out/" + name)), "") << name;
    }
}

} // namespace
