// Batches that need more than a run of the end-to-end table: workers over
// their memory limit, and the README's recipe for several machines (shards, their reports merged).

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

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
    EXPECT_EQ(report[1].outputBytes, static_cast<long>(std::filesystem::file_size(work.file("out/a.pdf"))));
    EXPECT_EQ(names(work.file("out")), std::set<std::string>{"a.pdf"}) << "no temporary file is left";
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

// ---- Beyond one machine: the README's recipe, with local workers only ----

TEST(SeveralMachines, ReadmeRecipeRunsWithLocalWorkers)
{
    if (!vtest::haveTool("parallel") || !vtest::haveTool("tar"))
        GTEST_SKIP() << "needs GNU parallel and tar";
    Workspace work;
    const std::vector<std::string> names = {"in/a.pdf", "in/b c.pdf", "in/2024/d.pdf", "in/e.pdf", "in/f.pdf"};
    std::filesystem::create_directories(work.file("in/2024"));
    for (const std::string& name : names)
        work.write(name, plainDoc(2));
    work.write("logo.jpg", vtest::readFile(work.file("stamp.jpg")));
    // The recipe as it stands, for this machine alone with two parts at once.
    const std::string recipe = "sed -n '/^<!-- several machines -->$/,/^```$/p' " + vtest::shellQuote(vtest::sourceDir() + "/README.md") +
                               " | sed '1,2d;$d;s#^hosts=[^ ]*#hosts=2/:#' > recipe.sh && grep -q parallel recipe.sh";
    const std::string folder = std::filesystem::path(vtest::vellicoBinary()).parent_path().string();
    const Result run = work.shell(recipe + " && PATH=" + vtest::shellQuote(folder) + ":$PATH bash recipe.sh >/dev/null");
    ASSERT_EQ(run.status, 0) << run.output;
    // The shards' reports, merged, are in list order.
    std::string inOrder;
    std::map<std::string, std::string> report;
    for (const ReportEntry& entry : readReport(work.file("report.json"))) {
        report[entry.input] = entry.status + " " + entry.output;
        inOrder += entry.input + "\n";
    }
    EXPECT_EQ(inOrder, vtest::readFile(work.file("all.txt")));
    ASSERT_EQ(report.size(), names.size());
    for (const std::string& name : names) {
        EXPECT_EQ(report[name], "stamped out/" + name);
        EXPECT_EQ(qpdfProblems(work.file("out/" + name)), "") << name;
    }
}

} // namespace
