// What a run may touch: only its output, and that only by a complete
// replacement. Planted links, special files, the images it reads, signals,
// full disks, long names and other runs writing the same output at once.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

using namespace e2e;

namespace {

const std::string kBanner = "\r\nVellico v1.05\r\n";

// One page whose content stream holds `padding` bytes of comments: copied
// unchanged, in one piece, by the system's in-kernel copy.
std::string bigDoc(size_t padding)
{
    vtest::PdfBuilder pdf;
    const int pages = pdf.reserve();
    std::string content = "0 0 1 rg 10 10 50 50 re f\n";
    while (content.size() < padding)
        content += "% padding padding padding padding padding padding padding padding padding\n";
    const int stream = pdf.addStream("", content);
    const int page = pdf.add("<< /Type /Page /Parent " + std::to_string(pages) +
                             " 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(stream) + " 0 R >>");
    pdf.set(pages, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
    pdf.setRoot(pdf.add("<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>"));
    return pdf.build();
}

std::string kindOf(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return "missing";
    if (S_ISFIFO(info.st_mode))
        return "fifo";
    if (S_ISSOCK(info.st_mode))
        return "socket";
    if (S_ISCHR(info.st_mode))
        return "device";
    if (S_ISLNK(info.st_mode))
        return "link";
    return S_ISREG(info.st_mode) ? "file" : "other";
}

std::string pageCount(const std::string& pdf)
{
    return vtest::runCommand("qpdf --show-npages " + vtest::shellQuote(pdf) + " 2>&1").output;
}

const std::vector<std::string> kMarks = {"-crop_marks"};
// One pass, and eight chained passes with their intermediates.
const std::vector<std::vector<std::string>> kRunKinds = {{}, kMarks};

// ---------------------------------------------------------------- intermediates

TEST(PrivateIntermediates, LinksPlantedAtTheOldNamesAreNeverFollowed)
{
    Workspace work;
    vtest::TempDir elsewhere; // another user's target: must stay as it is
    const std::string victim = elsewhere.file("victim.txt");
    vtest::writeFile(victim, "precious\n");
    work.write("in.pdf", plainDoc(2));
    for (int pass = 0; pass < 8; ++pass) {
        std::string name = work.file("out.pdf-" + std::to_string(pass));
        if (pass % 2 == 0)
            ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
        else
            ASSERT_EQ(symlink(elsewhere.file("new-" + std::to_string(pass)).c_str(), name.c_str()), 0);
    }
    auto before = snapshot(work.path());
    auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(vtest::readFile(victim), "precious\n");
    EXPECT_EQ(names(elsewhere.path()), std::set<std::string>{"victim.txt"});
    auto after = snapshot(work.path());
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    after.erase("out.pdf");
    EXPECT_EQ(after, before); // the links, and nothing else left behind
}

TEST(PrivateIntermediates, TheUsersFilesWithThoseNamesStay)
{
    Workspace work;
    work.write("in.pdf", plainDoc(2));
    for (int pass = 0; pass < 8; ++pass)
        work.write("out.pdf-" + std::to_string(pass), "mine " + std::to_string(pass) + "\n");
    auto before = snapshot(work.path());
    for (const char* marks : {"-crop_marks", "-trim_marks"}) {
        auto run = work.run({"-iin.pdf", "-oout.pdf", "-jstamp.jpg", marks});
        EXPECT_EQ(run.status, 0) << run.output;
        auto after = snapshot(work.path());
        after.erase("out.pdf");
        EXPECT_EQ(after, before) << marks;
    }
}

// ---------------------------------------------------------------- non-regular outputs

struct SpecialOutput {
    const char* name;
    std::vector<std::string> options;
};

class NonRegularOutput : public testing::TestWithParam<SpecialOutput> {};

TEST_P(NonRegularOutput, IsRefusedAndStays)
{
    Workspace work;
    work.write("in.pdf", plainDoc(2));
    ASSERT_EQ(mkfifo(work.file("fifo.pdf").c_str(), 0644), 0);
    ASSERT_EQ(symlink("fifo.pdf", work.file("fifolink.pdf").c_str()), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = work.file("socket.pdf");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(sock);
    // A device of our own (the null device's numbers) needs root to make.
    const bool device = mknod(work.file("null.pdf").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"fifo.pdf", "fifo"}, {"fifolink.pdf", "link"}, {"socket.pdf", "socket"}, {"null.pdf", "device"}};
    for (const auto& [output, kind] : outputs) {
        if (output == "null.pdf" && !device)
            continue;
        auto before = names(work.path());
        std::vector<std::string> arguments = {"-iin.pdf", "-o" + output, "-jstamp.jpg"};
        for (const std::string& option : GetParam().options)
            arguments.push_back(option);
        auto run = work.run(arguments);
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_EQ(run.output, kBanner + "Input file: 'in.pdf'\nOutput file is not a regular file: '" + output + "'\n")
            << output;
        EXPECT_EQ(kindOf(work.file(output)), kind) << output;
        EXPECT_EQ(names(work.path()), before) << output;
    }
    EXPECT_EQ(kindOf(work.file("fifo.pdf")), "fifo");
    if (!device)
        GTEST_SKIP() << "making a device needs root; FIFO, socket and link were checked";
}

INSTANTIATE_TEST_SUITE_P(Runs, NonRegularOutput,
                         testing::Values(SpecialOutput{"OnePass", {}}, SpecialOutput{"Marks", kMarks}),
                         [](const testing::TestParamInfo<SpecialOutput>& info) { return info.param.name; });

// ---------------------------------------------------------------- signals

// Starts `all` (a program's path, then its arguments) in `folder` with the
// signals at their defaults, as a shell would start it, its output thrown away.
pid_t startIn(const std::string& folder, std::vector<std::string> all)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
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
    work.write("out.pdf", "%PDF-1.4\nan earlier result\n");
    std::filesystem::remove(work.file("CropmarkVertical.jpg"));
    ASSERT_EQ(mkfifo(work.file("CropmarkVertical.jpg").c_str(), 0644), 0);
    const std::set<std::string> known = names(work.path());
    pid_t pid = startIn(work.path(), {vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    ASSERT_GT(pid, 0);
    const bool waiting = waitForNewName(work.path(), known);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(waiting) << "no intermediate appeared";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_EQ(names(work.path()), known);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), "%PDF-1.4\nan earlier result\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, CleanupSignal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT    ? "Interrupt"
                                                : info.param == SIGTERM ? "Terminate"
                                                : info.param == SIGHUP  ? "HangUp"
                                                                        : "BrokenPipe");
                         });

// Replacing an existing output, the program waits in the flush of the new
// file (held there by strace) with it written under its temporary name.
TEST(CleanupSignalWhileWriting, RemovesTheTemporaryOutput)
{
    if (!vtest::haveTool("strace") || !vtest::haveTool("pgrep") ||
        vtest::runCommand("strace -qq -o /dev/null true").status != 0)
        GTEST_SKIP() << "strace or pgrep cannot run here";
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    work.write("out.pdf", "%PDF-1.4\nan earlier result\n");
    const std::set<std::string> known = names(work.path());
    // strace starts the program, with fsync held for two seconds.
    std::vector<std::string> all = {"/bin/sh", "-c",
                                    "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" exec strace -qq "
                                    "-o /dev/null -e trace=fsync -e inject=fsync:delay_enter=2000000 "
                                    "\"$@\"",
                                    "sh", vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    pid_t tracer = startIn(work.path(), all);
    ASSERT_GT(tracer, 0);
    const bool written = waitForNewName(work.path(), known);
    // The program is strace's child: signal it by its name's process.
    vtest::CommandResult found = vtest::runCommand("pgrep -P " + std::to_string(tracer));
    pid_t program = static_cast<pid_t>(std::atoi(found.output.c_str()));
    if (program > 0)
        kill(program, SIGTERM);
    int status = 0;
    waitpid(tracer, &status, 0);
    ASSERT_TRUE(written) << "the new file was not flushed under its temporary name";
    ASSERT_GT(program, 0);
    EXPECT_EQ(names(work.path()), known);
    EXPECT_EQ(vtest::readFile(work.file("out.pdf")), "%PDF-1.4\nan earlier result\n");
}

// ---------------------------------------------------------------- write errors

struct LimitCase {
    const char* name;
    const char* shellPrefix; // run before the program
};

class FileSizeLimit : public testing::TestWithParam<LimitCase> {};

// Under a file size limit the output cannot be written: the run fails with
// a message naming the output, and leaves nothing behind. The limit falls
// inside the content stream, which the system copies in the kernel.
TEST_P(FileSizeLimit, IsAWriteErrorNamingTheOutput)
{
    Workspace work;
    work.write("in.pdf", bigDoc(1 << 20));
    for (const std::vector<std::string>& options : kRunKinds) {
        work.write("out.pdf", "%PDF-1.4\nan earlier result\n");
        auto before = snapshot(work.path());
        std::string command = std::string("cd ") + vtest::shellQuote(work.path()) + " && " + GetParam().shellPrefix +
                              " ulimit -f 256 && " + vtest::shellQuote(vtest::vellicoBinary()) +
                              " -iin.pdf -oout.pdf -jstamp.jpg";
        for (const std::string& option : options)
            command += " " + option;
        vtest::CommandResult run = vtest::runCommand(command + " </dev/null");
        EXPECT_EQ(run.status, 1);
        const std::string opened = options.empty() ? "Input file: 'in.pdf', image file: 'stamp.jpg', output file: "
                                                     "'out.pdf'\nProcessing"
                                                   : "Input file: 'in.pdf'";
        EXPECT_EQ(run.output, kBanner + opened + "\nOutput file write error: 'out.pdf'\n");
        EXPECT_EQ(snapshot(work.path()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, FileSizeLimit,
                         testing::Values(LimitCase{"SignalAtItsDefault", ""},
                                         // With the signal ignored, the copy in the kernel sees the error.
                                         LimitCase{"SignalIgnored", "trap '' XFSZ &&"}),
                         [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

// A full disk shared by the input and the output: the in-kernel copy fails,
// and the output is blamed.
TEST(FullDisk, IsAWriteErrorNamingTheOutput)
{
    Workspace work;
    work.write("in.pdf", bigDoc(400 * 1024));
    const std::string disk = work.file("disk");
    std::filesystem::create_directory(disk);
    std::string script = "mount -t tmpfs -o size=600k vellico-test \"$1\" || exit 99; cp in.pdf stamp.jpg \"$1\"/ && "
                         "cd \"$1\" && \"$2\" -iin.pdf -oout.pdf -jstamp.jpg; echo \"status $?\"; ls -A";
    vtest::CommandResult run = vtest::runCommand("cd " + vtest::shellQuote(work.path()) +
                                                 " && unshare -m sh -c " + vtest::shellQuote(script) + " sh " +
                                                 vtest::shellQuote(disk) + " " +
                                                 vtest::shellQuote(vtest::vellicoBinary()) + " 2>/dev/null");
    if (run.status != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    EXPECT_EQ(run.output, kBanner + "Input file: 'in.pdf', image file: 'stamp.jpg', output file: 'out.pdf'\n"
                                    "Processing\nOutput file write error: 'out.pdf'\nstatus 1\nin.pdf\nstamp.jpg\n");
}

// ---------------------------------------------------------------- durable replacement

// The system calls around the rename, as strace shows them.
std::vector<std::string> syncAndRenameCalls(const Workspace& work, const std::vector<std::string>& arguments)
{
    // The leak checker of a sanitizer build cannot run under a tracer.
    std::string command = "cd " + vtest::shellQuote(work.path()) +
                          " && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -qq -f -o trace.txt " +
                          "-e trace=fsync,fdatasync,rename,renameat,renameat2 " +
                          vtest::shellQuote(vtest::vellicoBinary());
    for (const std::string& argument : arguments)
        command += " " + vtest::shellQuote(argument);
    if (vtest::runCommand(command + " >/dev/null 2>&1").status != 0)
        return {"strace failed"};
    std::vector<std::string> calls;
    std::string trace = vtest::readFile(work.file("trace.txt"));
    std::filesystem::remove(work.file("trace.txt"));
    for (size_t at = 0; at < trace.size();) {
        size_t end = trace.find('\n', at);
        std::string line = trace.substr(at, end - at);
        at = end == std::string::npos ? trace.size() : end + 1;
        // "PID  call(...) = result", the number padded
        line = line.substr(std::min(line.size(), line.find_first_not_of(' ', line.find(' '))));
        if (line.rfind("+++", 0) == 0)
            continue;
        calls.push_back(line.substr(0, line.find('(')));
    }
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
        std::vector<std::string> arguments = {"-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        // A new output: nothing to lose, no flush.
        EXPECT_EQ(syncAndRenameCalls(work, arguments), std::vector<std::string>{"rename"});
        EXPECT_EQ(syncAndRenameCalls(work, arguments), (std::vector<std::string>{"fsync", "rename", "fsync"}));
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
    for (size_t length : {size_t(240), size_t(241), size_t(limit)}) {
        const std::string name = std::string(length - 4, 'n') + ".pdf";
        for (const std::vector<std::string>& options : kRunKinds) {
            std::vector<std::string> arguments = {"-iin.pdf", "-o" + name, "-jstamp.jpg"};
            arguments.insert(arguments.end(), options.begin(), options.end());
            for (int time = 0; time < 2; ++time) { // new, then replaced
                auto run = work.run(arguments);
                EXPECT_EQ(run.status, 0) << length << run.output;
                EXPECT_EQ(qpdfProblems(work.file(name)), "") << length;
            }
            EXPECT_EQ(names(work.path()).size(), 6u) << length; // nothing left but the output
            std::filesystem::remove(work.file(name));
        }
    }
}

// ---------------------------------------------------------------- runs at the same time

size_t count(const std::string& text, const std::string& what)
{
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++found;
    return found;
}

// The runs differ in their input and pages, so a file that mixes their
// passes shows: run A marks the first of 300 pages, run B all of 500.
TEST(ConcurrentRuns, IntoOneOutputBothSucceedWithAWholeFile)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    Workspace work;
    work.write("three.pdf", plainDoc(300));
    work.write("five.pdf", plainDoc(500));
    const std::set<std::string> known = names(work.path());
    // Images the pages draw before they are stamped.
    const size_t threeOwn = count(vtest::readFile(work.file("three.pdf")), " Do");
    const size_t fiveOwn = count(vtest::readFile(work.file("five.pdf")), " Do");
    for (const std::string& options : {std::string(), std::string(" -crop_marks")}) {
        const size_t perPage = options.empty() ? 1 : 8; // images drawn on a stamped page
        for (int round = 0; round < 4; ++round) {
            const std::string program = vtest::shellQuote(vtest::vellicoBinary());
            std::string command = "cd " + vtest::shellQuote(work.path()) + " && { (" + program +
                                  " -ithree.pdf -oout.pdf -jstamp.jpg -s1 -e1" + options +
                                  " >a.log; echo $? >a.status) & (" + program + " -ifive.pdf -oout.pdf -jstamp.jpg" +
                                  options + " >b.log; echo $? >b.status) & wait; }";
            vtest::runCommand(command);
            EXPECT_EQ(vtest::readFile(work.file("a.status")), "0\n") << vtest::readFile(work.file("a.log"));
            EXPECT_EQ(vtest::readFile(work.file("b.status")), "0\n") << vtest::readFile(work.file("b.log"));
            EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
            const std::string pages = pageCount(work.file("out.pdf"));
            const size_t drawn = count(vtest::readFile(work.file("out.pdf")), " Do");
            EXPECT_TRUE((pages == "300\n" && drawn == threeOwn + perPage) ||
                        (pages == "500\n" && drawn == fiveOwn + 500 * perPage))
                << pages << drawn << " images drawn";
            for (const char* log : {"a.log", "b.log", "a.status", "b.status", "out.pdf"})
                std::filesystem::remove(work.file(log));
            EXPECT_EQ(names(work.path()), known) << options << " round " << round;
        }
    }
}

// The README's way of using every core: one process per file, four at a time.
TEST(ManyFilesAtOnce, FourProcessesIntoOneFolder)
{
    if (!vtest::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    Workspace work;
    std::filesystem::create_directory(work.file("in"));
    std::filesystem::create_directory(work.file("out"));
    for (int file = 1; file <= 12; ++file)
        vtest::writeFile(work.file("in/file " + std::to_string(file) + ".pdf"), plainDoc(file * 10));
    for (const std::string& options : {std::string(), std::string(" -crop_marks")}) {
        const std::string command = "cd " + vtest::shellQuote(work.path()) +
                                    " && find in -maxdepth 1 -name '*.pdf' -print0 | xargs -0 -P4 -I{} sh -c " +
                                    vtest::shellQuote("exec \"$0\" -i\"$1\" -oout/\"${1##*/}\" -jstamp.jpg" +
                                                      options + " >/dev/null") +
                                    " " + vtest::shellQuote(vtest::vellicoBinary()) + " {}; echo $?";
        EXPECT_EQ(vtest::runCommand(command).output, "0\n") << options;
        EXPECT_EQ(names(work.file("out")).size(), 12u);
        for (int file = 1; file <= 12; ++file) {
            const std::string output = work.file("out/file " + std::to_string(file) + ".pdf");
            EXPECT_EQ(qpdfProblems(output), "") << output;
            EXPECT_EQ(pageCount(output), std::to_string(file * 10) + "\n") << output;
            std::filesystem::remove(output);
        }
    }
}

} // namespace
