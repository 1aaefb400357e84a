// What a run may touch: only its output, and that only by a complete
// replacement. Signals, full disks, the flushes around the rename, and
// another run writing the same output at once (planted links and long names
// are end-to-end rows).

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

using namespace e2e;

namespace {

const std::string kEarlier = "%PDF-1.4\nan earlier result\n";
// One pass, and eight chained passes with their intermediates: the program's arguments for the shell.
const std::string kOnePass = " -iin.pdf -oout.pdf -jstamp.jpg", kRunKinds[] = {kOnePass, kOnePass + " -crop_marks"};

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

struct SignalCase {
    const char* name;
    int signal;
    bool writing; // replacing the output rather than in a marks run
};
std::ostream& operator<<(std::ostream& out, const SignalCase& c) { return out << c.name; }
class CleanupSignal : public testing::TestWithParam<SignalCase> {};

// The signal comes with a temporary file written: a marks run's fourth
// intermediate, while the fifth pass waits to open CropmarkVertical.jpg (a
// FIFO here); or the new output, while strace holds the program in its flush.
TEST_P(CleanupSignal, RemovesTheTemporaryFileAndEndsTheRun)
{
    const SignalCase& c = GetParam();
    if (c.writing && (!vtest::haveTool("pgrep") || vtest::runCommand("strace -qq -o /dev/null true 2>&1").status != 0))
        GTEST_SKIP() << "strace or pgrep cannot run here";
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    work.write("out.pdf", kEarlier);
    std::vector<std::string> all = {vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    if (c.writing) {
        all.insert(all.begin(), {"/bin/sh", "-c",
                                 "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" exec strace -qq -o /dev/null "
                                 "-e trace=fsync -e inject=fsync:delay_enter=2000000 \"$@\"", "sh"});
    } else {
        all.push_back("-crop_marks");
        std::filesystem::remove(work.file("CropmarkVertical.jpg"));
        ASSERT_EQ(mkfifo(work.file("CropmarkVertical.jpg").c_str(), 0644), 0);
    }
    const std::set<std::string> known = names(work.path());
    const pid_t pid = startIn(work.path(), all);
    ASSERT_GT(pid, 0);
    const bool written = waitForNewName(work.path(), known);
    // Under strace the program is strace's child.
    const pid_t program = c.writing ? std::atoi(vtest::runCommand("pgrep -P " + std::to_string(pid)).output.c_str()) : pid;
    if (program > 0)
        kill(program, c.signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(written && program > 0) << "no temporary file appeared";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    EXPECT_EQ(names(work.path()), known);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), kEarlier);
}

INSTANTIATE_TEST_SUITE_P(Signals, CleanupSignal,
                         testing::Values(SignalCase{"Interrupt", SIGINT, false}, SignalCase{"Terminate", SIGTERM, false},
                                         SignalCase{"HangUp", SIGHUP, false}, SignalCase{"BrokenPipe", SIGPIPE, false},
                                         SignalCase{"TerminateWhileWriting", SIGTERM, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// One page whose content stream holds `padding` bytes of comments: copied
// unchanged, in one piece, by the system's range copy.
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
        for (const std::string& arguments : kRunKinds) {
            work.write("out.pdf", kEarlier);
            const auto before = snapshot(work.path());
            const Result run = work.shell(std::string(signal) + "ulimit -f 256 && $V" + arguments);
            EXPECT_EQ(run.status, 1) << signal << arguments;
            const std::string begun = arguments == kOnePass ? ", image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing" : "";
            EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'" + begun + "\nOutput file write error: 'out.pdf' (File too large)\n") << signal;
            EXPECT_EQ(snapshot(work.path()), before) << signal << arguments;
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
                                     "Processing\nOutput file write error: 'out.pdf' (No space left on device)\nstatus 1\nin.pdf\nstamp.jpg\n");
}

// The system calls around the rename, as strace shows them.
std::vector<std::string> syncAndRenameCalls(const Workspace& work, const std::string& arguments)
{
    // The leak checker of a sanitizer build cannot run under a tracer.
    if (work.shell("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -qq -f -o trace.txt "
                   "-e trace=fsync,fdatasync,rename,renameat,renameat2 $V" + arguments + " >/dev/null")
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
    if (vtest::runCommand("strace -qq -o /dev/null true 2>&1").status != 0)
        GTEST_SKIP() << "strace cannot run here";
    Workspace work;
    work.write("in.pdf", plainDoc(2));
    for (const std::string& arguments : kRunKinds) {
        std::filesystem::remove(work.file("out.pdf"));
        // A new output: nothing to lose, no flush.
        EXPECT_EQ(syncAndRenameCalls(work, arguments), std::vector<std::string>{"rename"}) << arguments;
        EXPECT_EQ(syncAndRenameCalls(work, arguments), (std::vector<std::string>{"fsync", "rename", "fsync"})) << arguments;
        EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    }
}

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
