// What a run may touch: only its output, and that only by a complete
// replacement. Special files, signals, full disks and long names.

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

std::string plainDoc(int pages)
{
    DocPlan plan;
    plan.pages.resize(static_cast<size_t>(pages));
    return buildDoc(plan).bytes;
}

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

// The names in `folder`, without reading anything (a FIFO would block a read).
std::set<std::string> names(const std::string& folder)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found;
}

// One pass.
const std::vector<std::vector<std::string>> kRunKinds = {{}};

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
                         testing::Values(SpecialOutput{"OnePass", {}}),
                         [](const testing::TestParamInfo<SpecialOutput>& info) { return info.param.name; });

// ---------------------------------------------------------------- signals

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

// Replacing an existing output, the program waits in the flush of the new
// file (held there by strace) with it written under its temporary name.
TEST(CleanupSignalWhileWriting, RemovesTheTemporaryOutput)
{
    if (!vtest::haveTool("strace"))
        GTEST_SKIP() << "strace is not installed";
    Workspace work;
    work.write("in.pdf", plainDoc(3));
    work.write("out.pdf", "%PDF-1.4\nan earlier result\n");
    const std::set<std::string> known = names(work.path());
    // strace starts the program, with fsync held for two seconds.
    std::vector<std::string> all = {"/bin/sh", "-c",
                                    "exec strace -qq -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=2000000 "
                                    "\"$@\"",
                                    "sh", vtest::vellicoBinary(), "-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    pid_t tracer = fork();
    if (tracer == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(work.path().c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ASSERT_GT(tracer, 0);
    const bool written = waitForNewName(work.path(), known);
    // The program is strace's child: signal it by its name's process.
    vtest::CommandResult found = vtest::runCommand("pgrep -P " + std::to_string(tracer));
    pid_t program = static_cast<pid_t>(std::atoi(found.output.c_str()));
    if (program > 0)
        kill(program, SIGTERM);
    int status = 0;
    waitpid(tracer, &status, 0);
    if (!written || program <= 0)
        GTEST_SKIP() << "strace could not run the program here";
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
    std::string command = "cd " + vtest::shellQuote(work.path()) + " && strace -qq -f -o trace.txt " +
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

} // namespace
