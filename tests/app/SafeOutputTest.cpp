// What a run may touch: only its output, and that only by a complete
// replacement. Planted links, signals, full disks, long names, the flushes
// around the rename, and another run writing the same output at once.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const std::string kEarlier = "%PDF-1.4\nan earlier result\n";
// One pass, and eight chained passes with their intermediates.
const std::vector<std::vector<std::string>> kRunKinds = {{}, {"-crop_marks"}};

std::vector<std::string> stamp(const std::string& output, const std::vector<std::string>& options)
{
    std::vector<std::string> arguments = {"-iin.pdf", "-o" + output, "-jstamp.jpg"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

// ---------------------------------------------------------------- intermediates

// The names of a marks run's passes are private files: links planted there are
// never followed, and the user's files with such names stay.
TEST(PrivateIntermediates, PlantedLinksAndTheUsersFilesStay)
{
    Workspace work;
    vtest::TempDir elsewhere; // another user's target: must stay as it is
    const std::string victim = elsewhere.file("victim.txt");
    vtest::writeFile(victim, "precious\n");
    work.write("in.pdf", plainDoc(2));
    for (int pass = 0; pass < 8; ++pass) {
        const std::string name = work.file("out.pdf-" + std::to_string(pass));
        if (pass < 4)
            ASSERT_EQ(symlink(pass % 2 ? victim.c_str() : elsewhere.file("new").c_str(), name.c_str()), 0);
        else
            vtest::writeFile(name, "mine\n");
    }
    const auto before = snapshot(work.path());
    for (const char* marks : {"-crop_marks", "-trim_marks"}) {
        const Result run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", marks});
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
        auto after = snapshot(work.path());
        after.erase("out.pdf");
        EXPECT_EQ(after, before) << marks;
    }
    EXPECT_EQ(vtest::readFile(victim), "precious\n");
    EXPECT_EQ(names(elsewhere.path()), std::set<std::string>{"victim.txt"});
}

// ---------------------------------------------------------------- signals

// Starts the program in `folder` with `all` (a program's path, then its
// arguments), the signals at their defaults as a shell starts it, its output thrown away.
pid_t startIn(const std::string& folder, std::vector<std::string> all)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2})
        dup2(null, fd);
    if (chdir(folder.c_str()) != 0)
        _exit(127);
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits (up to ten seconds) until `folder` holds a name not in `known`.
bool waitForNewName(const std::string& folder, const std::set<std::string>& known)
{
    for (int tries = 0; tries < 1000; ++tries) {
        for (const std::string& name : names(folder))
            if (!known.count(name))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class CleanupSignal : public testing::TestWithParam<int> {};

// The fifth pass waits to open CropmarkVertical.jpg, a FIFO here, with the
// fourth pass's intermediate written: the signal comes then.
TEST_P(CleanupSignal, RemovesTheIntermediateAndEndsTheRun)
{
    const int signal = GetParam();
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    work.write("out.pdf", kEarlier);
    std::filesystem::remove(work.file("CropmarkVertical.jpg"));
    ASSERT_EQ(mkfifo(work.file("CropmarkVertical.jpg").c_str(), 0644), 0);
    const std::set<std::string> known = names(work.path());
    const pid_t pid = startIn(work.path(), {vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    ASSERT_GT(pid, 0);
    const bool waiting = waitForNewName(work.path(), known);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(waiting) << "no intermediate appeared";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_EQ(names(work.path()), known);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), kEarlier);
}

INSTANTIATE_TEST_SUITE_P(Signals, CleanupSignal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE),
                         [](const testing::TestParamInfo<int>& info) { return std::string(strsignal(info.param)).substr(0, 4); });

// Replacing an existing output, the program waits in the flush of the new
// file (held there by strace) with it written under its temporary name.
TEST(CleanupSignalWhileWriting, RemovesTheTemporaryOutput)
{
    if (!vtest::haveTool("strace") || !vtest::haveTool("pgrep") ||
        vtest::runCommand("strace -qq -o /dev/null true").status != 0)
        GTEST_SKIP() << "strace or pgrep cannot run here";
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    work.write("out.pdf", kEarlier);
    const std::set<std::string> known = names(work.path());
    // strace starts the program, with fsync held for two seconds.
    const pid_t tracer = startIn(
        work.path(), {"/bin/sh", "-c",
                      "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" exec strace -qq -o /dev/null "
                      "-e trace=fsync -e inject=fsync:delay_enter=2000000 \"$@\"",
                      "sh", vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg"});
    ASSERT_GT(tracer, 0);
    const bool written = waitForNewName(work.path(), known);
    // The program is strace's child.
    const pid_t program = static_cast<pid_t>(std::atoi(vtest::runCommand("pgrep -P " + std::to_string(tracer)).output.c_str()));
    if (program > 0)
        kill(program, SIGTERM);
    int status = 0;
    waitpid(tracer, &status, 0);
    ASSERT_TRUE(written) << "the new file was not flushed under its temporary name";
    ASSERT_GT(program, 0);
    EXPECT_EQ(names(work.path()), known);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), kEarlier);
}

// ---------------------------------------------------------------- write errors

// One page whose content stream holds `padding` bytes of comments: copied
// unchanged, in one piece, by the system's in-kernel copy.
std::string bigDoc(size_t padding)
{
    DocPlan plan = plainPlan(1);
    plan.pages[0].padding = padding;
    return buildDoc(plan).bytes;
}

// Under a file size limit the output cannot be written: the run fails with a
// message naming the output, and leaves nothing behind. The limit falls inside
// the content stream; with the signal ignored, the copy in the kernel sees the error.
TEST(FileSizeLimit, IsAWriteErrorNamingTheOutput)
{
    Workspace work;
    work.write("in.pdf", bigDoc(1 << 20));
    for (const char* signal : {"", "trap '' XFSZ && "}) {
        for (const std::vector<std::string>& options : kRunKinds) {
            work.write("out.pdf", kEarlier);
            const auto before = snapshot(work.path());
            const Result run = work.shell(std::string(signal) + "ulimit -f 256 && $V" + vtest::shellArguments(stamp("out.pdf", options)));
            EXPECT_EQ(run.status, 1);
            const std::string opened = options.empty()
                                           ? "Input file: 'in.pdf', image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing"
                                           : "Input file: 'in.pdf'";
            EXPECT_EQ(run.output, banner() + opened + "\nOutput file write error: 'out.pdf'\n") << signal;
            EXPECT_EQ(snapshot(work.path()), before);
        }
    }
}

// A full disk shared by the input and the output: the in-kernel copy fails, and the output is blamed.
TEST(FullDisk, IsAWriteErrorNamingTheOutput)
{
    Workspace work;
    work.write("in.pdf", bigDoc(400 * 1024));
    std::filesystem::create_directory(work.file("disk"));
    const std::string script = "mount -t tmpfs -o size=600k vellico-test disk || exit 99; cp in.pdf stamp.jpg disk/ && "
                               "cd disk && \"$0\" -iin.pdf -oout.pdf -jstamp.jpg; echo \"status $?\"; ls -A";
    const Result run = work.shell("unshare -m sh -c " + vtest::shellQuote(script) + " \"$V\" 2>/dev/null");
    if (run.status != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf', image file: 'stamp.jpg', output file: 'out.pdf'\n"
                                     "Processing\nOutput file write error: 'out.pdf'\nstatus 1\nin.pdf\nstamp.jpg\n");
}

// ---------------------------------------------------------------- durable replacement

// The system calls around the rename, as strace shows them.
std::vector<std::string> syncAndRenameCalls(const Workspace& work, const std::vector<std::string>& arguments)
{
    // The leak checker of a sanitizer build cannot run under a tracer.
    if (work.shell("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -qq -f -o trace.txt "
                   "-e trace=fsync,fdatasync,rename,renameat,renameat2 $V" + vtest::shellArguments(arguments) + " >/dev/null")
            .status != 0)
        return {"strace failed"};
    std::vector<std::string> calls;
    std::istringstream trace(vtest::readFile(work.file("trace.txt")));
    std::filesystem::remove(work.file("trace.txt"));
    for (std::string pid, call; trace >> pid >> call; trace.ignore(1 << 20, '\n'))
        if (call != "+++")
            calls.push_back(call.substr(0, call.find('(')));
    return calls;
}

TEST(DurableReplacement, FlushesTheNewFileThenRenamesThenFlushesTheFolder)
{
    if (!vtest::haveTool("strace") || vtest::runCommand("strace -qq -o /dev/null true").status != 0)
        GTEST_SKIP() << "strace cannot run here";
    Workspace work;
    work.write("in.pdf", plainDoc(2));
    for (const std::vector<std::string>& options : kRunKinds) {
        std::filesystem::remove(work.file("out.pdf"));
        // A new output: nothing to lose, no flush.
        EXPECT_EQ(syncAndRenameCalls(work, stamp("out.pdf", options)), std::vector<std::string>{"rename"});
        EXPECT_EQ(syncAndRenameCalls(work, stamp("out.pdf", options)), (std::vector<std::string>{"fsync", "rename", "fsync"}));
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
}

// ---------------------------------------------------------------- long names

TEST(LongOutputNames, AnyNameTheFileSystemTakesWorks)
{
    Workspace work;
    work.write("in.pdf", plainDoc(2));
    const long limit = pathconf(work.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(limit, 20);
    const auto before = names(work.path());
    for (size_t length : {size_t(240), size_t(241), size_t(limit)}) {
        const std::string name = std::string(length - 4, 'n') + ".pdf";
        for (const std::vector<std::string>& options : kRunKinds) {
            for (int time = 0; time < 2; ++time) { // new, then replaced
                const Result run = work.run(stamp(name, options));
                EXPECT_EQ(run.status, 0) << length << run.output;
                EXPECT_EQ(qpdfProblems(work.file(name)), "") << length;
            }
            std::filesystem::remove(work.file(name));
            EXPECT_EQ(names(work.path()), before) << length << ": nothing left but the output";
        }
    }
}

// ---------------------------------------------------------------- runs at the same time

size_t imagesDrawn(const std::string& pdf)
{
    size_t drawn = 0;
    for (size_t at = pdf.find(" Do"); at != std::string::npos; at = pdf.find(" Do", at + 1))
        ++drawn;
    return drawn;
}

// Two runs into one output differ in their input and pages, so a file that
// mixes their passes shows: run A stamps the first of 30 pages, run B all of 50.
TEST(ConcurrentRuns, IntoOneOutputBothSucceedWithAWholeFile)
{
    Workspace work;
    work.write("a.pdf", plainDoc(30));
    work.write("b.pdf", plainDoc(50));
    const std::set<std::string> known = names(work.path());
    const size_t ownA = imagesDrawn(vtest::readFile(work.file("a.pdf"))), ownB = imagesDrawn(vtest::readFile(work.file("b.pdf")));
    for (const std::string options : {"", " -crop_marks"}) {
        const size_t perStamp = options.empty() ? 1 : 8;
        for (int round = 0; round < 3; ++round) {
            work.shell("($V -ia.pdf -oout.pdf -jstamp.jpg -s1 -e1" + options + " >a.log; echo $? >a.status) & ($V "
                       "-ib.pdf -oout.pdf -jstamp.jpg" + options + " >b.log; echo $? >b.status) & wait");
            EXPECT_EQ(vtest::readFile(work.file("a.status")) + vtest::readFile(work.file("b.status")), "0\n0\n")
                << vtest::readFile(work.file("a.log")) << vtest::readFile(work.file("b.log"));
            EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
            const std::string pages = vtest::runCommand("qpdf --show-npages " + vtest::shellQuote(work.file("out.pdf"))).output;
            const size_t drawn = imagesDrawn(vtest::readFile(work.file("out.pdf")));
            EXPECT_TRUE((pages == "30\n" && drawn == ownA + perStamp) || (pages == "50\n" && drawn == ownB + 50 * perStamp))
                << pages << drawn << " images drawn";
            for (const char* file : {"a.log", "b.log", "a.status", "b.status", "out.pdf"})
                std::filesystem::remove(work.file(file));
            EXPECT_EQ(names(work.path()), known) << options << " round " << round;
        }
    }
}

} // namespace
