// What reaches another machine: `make install` into a prefix, where the
// program finds its mark images; the Debian package of `make package`; and
// the bash completion they both carry. Both install from one build, which
// ctest makes first (with `make package`, for a prefix under the build tree).

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

const char* const kMarks[] = {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"};
// The shared build, and the prefix it is made for (set by the build).
const std::string kBuild = VELLICO_PACKAGING_DIR "/build", kPrefix = VELLICO_PACKAGING_DIR "/prefix";

// A make target of the project's Makefile, as a user runs it (not as a part
// of whatever make runs these tests).
vtest::CommandResult make(const std::string& arguments)
{
    return vtest::runCommand("env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u DESTDIR make -C " +
                             vtest::shellQuote(vtest::sourceDir()) + " JOBS=2 " + arguments + " 2>&1");
}

bool contains(const std::string& haystack, const std::string& needle) { return haystack.find(needle) != std::string::npos; }

// The programs built here are plain ones: the sanitizer build has nothing to add.
#ifdef VELLICO_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "checked by the optimised build"
#else
#define SKIP_UNDER_SANITIZERS()
#endif

TEST(Install, RunsMarksWithTheInstalledImages)
{
    SKIP_UNDER_SANITIZERS();
    const std::string prefix = kPrefix, data = prefix + "/share/vellico";
    std::filesystem::remove_all(prefix); // what an earlier run installed
    vtest::CommandResult built =
        make("install PREFIX=" + vtest::shellQuote(prefix) + " BUILD_DIR=" + vtest::shellQuote(kBuild));
    ASSERT_EQ(built.status, 0) << built.output;
    const std::string program = prefix + "/bin/vellico"; // the program and its manual are run and read below
    for (const std::string& file : {data + "/" + kMarks[0], data + "/" + kMarks[1], prefix + "/share/bash-completion/completions/vellico"})
        EXPECT_TRUE(vtest::fileExists(file)) << file;
    const std::string manual = vtest::readFile(prefix + "/share/man/man1/vellico.1");
    EXPECT_TRUE(contains(manual, data)) << "the manual names where the mark images are";
    EXPECT_TRUE(contains(manual, "\"Vellico " + projectVersion() + "\""));

    Workspace work;
    for (const char* mark : kMarks)
        std::filesystem::remove(work.file(mark));
    work.write("in.pdf", plainDoc(2));
    const std::string installed[] = {vtest::readFile(data + "/" + kMarks[0]), vtest::readFile(data + "/" + kMarks[1])};

    // No mark image here: both installed ones are drawn (the JPEG goes into the file unchanged).
    const std::string quotedProgram = vtest::shellQuote(program);
    e2e::Result run = vtest::runIn(work.path(), quotedProgram, {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-crop_marks"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(qpdfProblems(work.file("out.pdf")), "");
    std::string output = vtest::readFile(work.file("out.pdf"));
    EXPECT_TRUE(contains(output, installed[0]));
    EXPECT_TRUE(contains(output, installed[1]));

    // One here: it wins over the installed one.
    const std::string own = vtest::readFile(work.file("stamp.jpg"));
    work.write(kMarks[0], own);
    run = vtest::runIn(work.path(), quotedProgram, {"-i", "in.pdf", "-o", "own.pdf", "-j", "stamp.jpg", "-trim_marks"});
    ASSERT_EQ(run.status, 0) << run.output;
    output = vtest::readFile(work.file("own.pdf"));
    EXPECT_TRUE(contains(output, own));
    EXPECT_FALSE(contains(output, installed[0]));
    EXPECT_TRUE(contains(output, installed[1]));

    // Neither: the message names both places, and the run leaves nothing.
    std::filesystem::remove(data + "/" + kMarks[1]);
    const auto before = snapshot(work.path());
    run = vtest::runIn(work.path(), quotedProgram, {"-iin.pdf", "-ogone.pdf", "-jstamp.jpg", "-crop_marks"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, banner() + "Input file: 'in.pdf'\nInput image file error: '" + kMarks[1] +
                              "' is neither in the current folder nor in '" + data + "'\n");
    EXPECT_EQ(snapshot(work.path()), before);
}

std::set<std::string> lines(const std::string& text)
{
    std::set<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            result.insert(line);
    return result;
}

TEST(Package, HoldsTheProgramItsManualMarksAndCompletion)
{
    SKIP_UNDER_SANITIZERS();
    if (!vtest::haveTool("dpkg-deb"))
        GTEST_SKIP() << "dpkg-deb is not installed";
    // `make package` alone makes it for /usr; ctest made it for kPrefix.
    EXPECT_NE(make("-n package").output.find("-DCMAKE_INSTALL_PREFIX=/usr "), std::string::npos);
    std::string deb;
    for (const auto& entry : std::filesystem::directory_iterator(kBuild))
        if (entry.path().extension() == ".deb")
            deb = entry.path().string();
    ASSERT_FALSE(deb.empty()) << "no package in " << kBuild;
    const std::string quoted = vtest::shellQuote(deb);

    // Files only (mode, owner, path): the folders follow from them.
    vtest::CommandResult listed =
        vtest::runCommand("dpkg-deb -c " + quoted + " | awk '$1 !~ /^d/ { print $1, $2, $6 }'");
    ASSERT_EQ(listed.status, 0);
    const std::string root = "root/root ." + kPrefix;
    EXPECT_EQ(lines(listed.output), (std::set<std::string>{
                                        "-rwxr-xr-x " + root + "/bin/vellico",
                                        "-rw-r--r-- " + root + "/share/man/man1/vellico.1",
                                        "-rw-r--r-- " + root + "/share/vellico/CropmarkHorizontal.jpg",
                                        "-rw-r--r-- " + root + "/share/vellico/CropmarkVertical.jpg",
                                        "-rw-r--r-- " + root + "/share/bash-completion/completions/vellico",
                                    }));
    EXPECT_EQ(vtest::runCommand("dpkg-deb -f " + quoted + " Package Version Depends").output,
              "Package: vellico\nVersion: " + projectVersion() +
                  "\nDepends: zlib1g, libnettle8, libpng16-16, libidn12, libharfbuzz0b, libharfbuzz-subset0, "
                  "libfontconfig1\n");

    // What the program needs besides the C and C++ runtimes is what the package depends on.
    vtest::TempDir scratch;
    const std::string unpacked = scratch.file("root");
    ASSERT_EQ(vtest::runCommand("dpkg-deb -x " + quoted + " " + vtest::shellQuote(unpacked)).status, 0);
    const std::string program = unpacked + kPrefix + "/bin/vellico";
    vtest::CommandResult needed = vtest::runCommand("objdump -p " + vtest::shellQuote(program) +
                                                    " | awk '$1 == \"NEEDED\" { print $2 }' | grep -v -x -E "
                                                    "'lib(c|m|stdc\\+\\+|gcc_s)\\.so\\.[0-9]+' | sort");
    EXPECT_EQ(needed.output,
              "libfontconfig.so.1\nlibharfbuzz-subset.so.0\nlibharfbuzz.so.0\nlibidn.so.12\nlibnettle.so.8\n"
              "libpng16.so.16\nlibz.so.1\n");
    EXPECT_EQ(vtest::runCommand(vtest::shellQuote(program) + " --version").output, "vellico " + projectVersion() + "\n");
}

// What bash offers for the words typed so far (the last one being completed).
std::string complete(const std::string& folder, const std::vector<std::string>& words)
{
    const std::string script = "source " + vtest::shellQuote(vtest::sourceDir() + "/data/vellico-completion.bash") +
                               "; COMP_WORDS=(vellico" + vtest::shellArguments(words) + "); COMP_CWORD=" +
                               std::to_string(words.size()) + "; _vellico; printf '%s\\n' \"${COMPREPLY[@]}\"";
    return vtest::runCommand("cd " + vtest::shellQuote(folder) + " && bash -c " + vtest::shellQuote(script)).output;
}

// Every option of the usage text, offered and in the manual, and the names after the options that take them.
TEST(Completion, OffersOptionsAndNames)
{
    if (!vtest::haveTool("bash"))
        GTEST_SKIP() << "bash is not installed";
    Workspace work;
    const std::set<std::string> offered = lines(complete(work.path(), {"-"}));
    // Each usage line that starts with an option names it up to '<', '(' or a space.
    std::set<std::string> named = {"-f", "--help", "-h", "--version"};
    for (const std::string& line : lines(work.run({"--help"}).output))
        if (line.size() > 1 && line[0] == '-')
            named.insert(line.substr(0, line.find_first_of("<( ")));
    // The manual describes each in an item of its own, or beside another ("-0, --null").
    const std::string manual = vtest::readFile(vtest::sourceDir() + "/docs/vellico.1.in");
    for (const std::string& option : named) {
        EXPECT_EQ(offered.count(option), 1u) << option;
        const std::string roff = std::regex_replace(option, std::regex("-"), "\\-");
        bool described = false;
        for (const char* before : {"\n.B ", "\n.BI ", "\n.BI \"", "\n.BR ", "\", \" "})
            for (const char* after : {" ", "\n"})
                described |= manual.find(before + roff + after) != std::string::npos;
        EXPECT_TRUE(described) << option << " is not in the manual";
    }
    std::filesystem::create_directory(work.file("stamped"));
    work.write("in.pdf", "");
    EXPECT_EQ(complete(work.path(), {"-cr"}),
              "-crop_marks\n-crop_blv\n-crop_blh\n-crop_tlv\n-crop_tlh\n-crop_brv\n-crop_brh\n-crop_trv\n-crop_trh\n");
    EXPECT_EQ(complete(work.path(), {"-i", "in"}), "in.pdf\n");
    EXPECT_EQ(complete(work.path(), {"-iin"}), "-iin.pdf\n");
    EXPECT_EQ(complete(work.path(), {"-iin.pdf", "-oout.pdf", "-j", "st"}), "stamp.jpg\nstamped\n");
    EXPECT_EQ(complete(work.path(), {"-ilist.txt", "-f", "st"}), "stamped\n");
    EXPECT_EQ(complete(work.path(), {"-ilist.txt", "-fst"}), "-fstamped\n");
    EXPECT_EQ(complete(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-align", "c"}), "center\n");
    EXPECT_EQ(complete(work.path(), {"-iin.pdf", "-oout.pdf", "-jstamp.jpg", "-opacity", ""}), "\n");
}

} // namespace
