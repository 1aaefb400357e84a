// Batches that need more than one run of the table: --keep-going over every
// kind of bad line, dry runs held against where a real run draws, workers
// stopped, killed or over their limits, progress on a terminal, and the
// README's recipe for several machines.

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

// Files a run may leave behind by mistake: temporary and pass files.
std::vector<std::string> leftovers(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().find(".vellico-") != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

struct ModeCase {
    const char* name;
    std::vector<std::string> options;
};
std::vector<std::string> with(std::vector<std::string> arguments, const std::vector<std::string>& more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// ---- --keep-going: every kind of bad line is one failed file ----

class KeepGoing : public testing::TestWithParam<ModeCase> {};

TEST_P(KeepGoing, ReportsEveryLineAndStampsEveryGoodFile)
{
    Workspace work;
    const std::string doc = plainDoc(2);
    std::filesystem::create_directories(work.file("in/2024"));
    std::filesystem::create_directory(work.file("dir.pdf"));
    for (const char* name : {"a.pdf", "in/2024/b.pdf", "caf\xE9.pdf"})
        work.write(name, doc);
    work.write("encrypted.pdf", namedDoc("encrypted").bytes);
    work.write("notpdf.pdf", "plain text, no PDF");
    ASSERT_EQ(mkfifo(work.file("fifo.pdf").c_str(), 0644), 0);
    const std::string absolute = work.file("a.pdf");
    // input, its status, the start of its message, its output
    const std::vector<std::array<std::string, 4>> expected = {
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
    for (const auto& e : expected)
        list += e[0] + "\n";
    work.write("list.txt", list);

    const Result run = work.run(
        with({"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--report", "report.json"}, GetParam().options));
    EXPECT_EQ(run.status, 2) << run.output;
    const std::vector<ReportEntry> report = readReport(work.file("report.json"));
    ASSERT_EQ(report.size(), expected.size()) << run.output;
    for (const auto& [input, status, message, output] : expected) {
        auto entry = std::find_if(report.begin(), report.end(), [&](const ReportEntry& r) { return r.input == input; });
        ASSERT_NE(entry, report.end()) << input;
        EXPECT_EQ(entry->status + " " + entry->message.substr(0, message.size()) + " " + entry->output,
                  status + " " + message + " " + output);
        // Each file's console text whole: its name, then its message on a line of its own.
        const std::string begun = "Input file: '" + input + "'";
        EXPECT_NE(run.output.find(status == "stamped" ? begun + ", image file: 'stamp.jpg', output file: '" + output +
                                                            "'\nProcessing\nDone.\n"
                                                      : begun + "\n" + message),
                  std::string::npos)
            << input << "\n" << run.output;
        if (status == "stamped") {
            EXPECT_EQ(qpdfProblems(work.file(output)), "") << input;
            EXPECT_EQ(entry->outputBytes, static_cast<long>(std::filesystem::file_size(work.file(output))));
            EXPECT_EQ(std::to_string(entry->pages) + " " + std::to_string(entry->pagesStamped), "2 2");
        } else {
            EXPECT_TRUE(output.empty() || !vtest::fileExists(work.file(output))) << input;
            EXPECT_EQ(entry->pages, -1) << input;
        }
        EXPECT_EQ(entry->encrypted, input == "encrypted.pdf");
    }
    EXPECT_EQ(leftovers(work.path()), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Modes, KeepGoing,
                         testing::Values(ModeCase{"Here", {}}, ModeCase{"TwoWorkers", {"--jobs", "2"}},
                                         ModeCase{"WorkerPerCore", {"--jobs=0"}}),
                         kRowName);

// ---- --dry-run: where the stamp would go is where it goes ----

class DryRun : public testing::TestWithParam<ModeCase> {};

TEST_P(DryRun, WritesNothingAndPlacesTheStampWhereARunDraws)
{
    Workspace work;
    const BuiltDoc doc = namedDoc("dry-run");
    work.write("in.pdf", doc.bytes);
    work.write("list.txt", "in.pdf\n");
    const std::vector<std::string> options = with({"-e3"}, GetParam().options);
    const auto before = snapshot(work.path());
    const Result dry = work.run(with({"-ilist.txt", "-fout", "-jstamp.jpg", "--dry-run", "--report", "-"}, options));
    ASSERT_EQ(dry.status, 0) << dry.output;
    EXPECT_EQ(snapshot(work.path()), before) << "no file and no folder";
    work.write("report.json", dry.output);
    const std::vector<ReportEntry> report = readReport(work.file("report.json"));
    ASSERT_EQ(report.size(), 1u) << dry.output;
    EXPECT_EQ(report[0].summary() + " " + std::to_string(report[0].outputBytes), "in.pdf stamped p4 s3:  0");

    const Result real = work.run(with({"-iin.pdf", "-oout.pdf", "-jstamp.jpg"}, options));
    ASSERT_EQ(real.status, 0) << real.output;
    std::vector<std::vector<render::ExpectedStamp>> expected(doc.views.size());
    std::istringstream stamps(report[0].stamps);
    for (std::string stamp; stamps >> stamp;) {
        int page = 0;
        render::Rect r;
        ASSERT_EQ(std::sscanf(stamp.c_str(), "%d:%lf,%lf,%lf,%lf", &page, &r.left, &r.bottom, &r.width, &r.height), 5);
        expected.at(static_cast<size_t>(page - 1)).push_back(redBlueStamp(r));
    }
    EXPECT_EQ(compareRenders(work.file("in.pdf"), work.file("out.pdf"), doc.views, expected), "") << report[0].stamps;
}

INSTANTIATE_TEST_SUITE_P(
    Placements, DryRun,
    testing::Values(ModeCase{"CentredAlignedRight", {"-pos-1,-1", "-align", "right"}},
                    ModeCase{"FlippedAndSizedInAWorker",
                             {"-pos30,40", "-flipv", "-fliph", "-align", "right", "-size150,60", "--timeout", "60"}}),
    kRowName);

// ---- A worker that stops making progress, dies or needs too much memory fails only its file ----

struct StoppedCase {
    const char* name;
    std::string options;
    std::string action; // done to the stopped worker once the list is given
    std::string message;
};
class StoppedWorker : public testing::TestWithParam<StoppedCase> {};

TEST_P(StoppedWorker, FailsItsFileAndANewWorkerStampsTheRest)
{
    const StoppedCase& c = GetParam();
    Workspace work;
    work.write("a.pdf", plainDoc(1));
    work.write("b.pdf", plainDoc(1));
    // The list comes through a FIFO: the worker exists, and is stopped, before it gets a file.
    const auto start = std::chrono::steady_clock::now();
    const Result run = work.shell("mkfifo list && { $V -i- -fout -jstamp.jpg --keep-going --report r.json " + c.options +
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

// A file whose page stands in an object stream that decodes to `megabytes`:
// its run really needs the memory, and only once it reads the page, when its
// output's temporary file exists.
std::string needsMemory(int megabytes)
{
    vtest::PdfBuilder big;
    const int catalog = big.reserve(), pages = big.reserve(), page = big.reserve();
    const int stream = big.addObjectStream();
    big.set(catalog, "<< /Type /Catalog /Pages 2 0 R >>");
    big.set(pages, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    big.set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Padding (" +
                      std::string(static_cast<size_t>(megabytes) << 20, ' ') + ") >>");
    big.compress(page, stream);
    big.setRoot(catalog);
    big.setXref(vtest::XrefKind::Stream);
    return big.build();
}

TEST(MemoryLimit, StopsTheFileThatNeedsMoreAndLeavesNothingBehind)
{
    Workspace work;
    work.write("big.pdf", needsMemory(120));
    work.write("a.pdf", plainDoc(1));
    work.write("list.txt", "big.pdf\na.pdf\n");
    const Result run =
        work.run({"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--memory-limit", "60", "--report", "r.json"});
    EXPECT_EQ(run.status, 2) << run.output;
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 2u) << run.output;
    EXPECT_EQ(report[0].input + " " + report[0].status + " " + report[0].message,
              "big.pdf failed Stopped: the file needed more memory than the limit of 60 MB (--memory-limit)");
    EXPECT_EQ(report[1].status, "stamped");
    EXPECT_EQ(leftovers(work.path()), std::vector<std::string>());
    EXPECT_FALSE(vtest::fileExists(work.file("out/big.pdf")));
}

// Out of memory is a failure of the run, not a refusal of the file.
TEST(MemoryLimit, OutOfMemoryWithoutWorkersFailsTheFile)
{
#ifdef VELLICO_SANITIZED
    GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
    Workspace work;
    work.write("in.pdf", needsMemory(120));
    work.shell("ulimit -v 160000 && $V -iin.pdf -oout.pdf -jstamp.jpg --report r.json");
    const std::vector<ReportEntry> report = readReport(work.file("r.json"));
    ASSERT_EQ(report.size(), 1u);
    const std::string failed = "in.pdf failed p- s-: Out of memory";
    EXPECT_EQ(report[0].summary().substr(0, failed.size()), failed);
    EXPECT_FALSE(vtest::fileExists(work.file("out.pdf")));
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
    const Result terminal = work.shell("script -qec \"$V -ilist.txt -fout -jstamp.jpg --jobs 2\" /dev/null");
    EXPECT_EQ(terminal.status, 0) << terminal.output;
    EXPECT_NE(terminal.output.find("2 of 2 files, "), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find(" files/s, 0:00:00 left"), std::string::npos) << terminal.output;
    const Result piped = work.run({"-ilist.txt", "-fout2", "-jstamp.jpg", "--jobs", "2"});
    EXPECT_EQ(piped.output.find("files/s"), std::string::npos) << piped.output;
}

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
    const std::vector<std::string> names = {"in/a.pdf", "in/b c.pdf", "in/2024/d.pdf", "in/e.pdf", "in/f.pdf"};
    std::filesystem::create_directories(work.file("in/2024"));
    for (const std::string& name : names)
        work.write(name, plainDoc(2));
    work.write("logo.jpg", vtest::readFile(work.file("stamp.jpg")));
    work.write("recipe.sh", recipe);
    const std::string folder = std::filesystem::path(vtest::vellicoBinary()).parent_path().string();
    const Result run = work.shell("PATH=" + vtest::shellQuote(folder) + ":$PATH bash recipe.sh >/dev/null");
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
