// What only the Windows program does, run with Wine: one file needing only
// Windows, lists in the ANSI code page, and workers started with the Windows
// process calls. The end-to-end rows marked Win or WinOnly run through it as well
// (EndToEndTest.cpp): names in any language and longer than 260 characters,
// Windows spellings of one file, the mark images beside the program, a viewer
// holding the output.
// Skipped when Wine or the .exe is missing.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

const std::string kExe = VELLICO_WINDOWS_EXE;

#define REQUIRE_WINE()                                                                                                 \
    if (!vtest::haveTool("wine") || !vtest::fileExists(kExe))                                                          \
    GTEST_SKIP() << "needs wine and " << kExe

std::string wine(const std::string& program)
{
    return "WINEDEBUG=-all WINEPREFIX=" + vtest::shellQuote(VELLICO_WINE_PREFIX) + " wine " + vtest::shellQuote(program);
}

// Runs the .exe in `folder`; Wine's own messages go to standard error, which is not captured.
Result runExe(const std::string& folder, const std::vector<std::string>& arguments)
{
    return vtest::runIn(folder, wine(kExe), arguments);
}

std::string windowsPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

} // namespace

// Both libraries ship with every Windows; libstdc++, libgcc, winpthread, zlib, Nettle, libpng and libidn are inside.
TEST(WindowsProgram, NeedsNoLibraryBesideItAndShipsInAZip)
{
    REQUIRE_WINE();
    const std::string dlls = "x86_64-w64-mingw32-objdump -p " + vtest::shellQuote(kExe) + " | sed -n 's/.*DLL Name: //p'";
    EXPECT_EQ(vtest::runCommand(dlls + " | LC_ALL=C sort").output, "KERNEL32.dll\nmsvcrt.dll\n");
    const std::string folder = std::filesystem::path(kExe).parent_path().string();
    EXPECT_EQ(vtest::runCommand("cmake -E tar tf \"$(ls " + vtest::shellQuote(folder) + "/*.zip)\" | sed 's#^[^/]*/##' | LC_ALL=C sort")
                  .output,
              "CropmarkHorizontal.jpg\nCropmarkVertical.jpg\nREADME.txt\nvellico.exe\nvellico.txt\n");
}

// --keep-going over bad lines in two workers started with CreateProcessW;
// absolute names, with a drive letter, are mirrored below the folder without
// their root. A list that is not UTF-8 is read in the ANSI code page: Wine's
// is 1252 here, where ü is the byte FC.
TEST(WindowsBatch, KeepGoingInWorkersWithAReport)
{
    REQUIRE_WINE();
    Workspace work;
    std::filesystem::create_directories(work.file("sub"));
    for (const char* name : {"a.pdf", "sub/c.pdf", "Prüfung.pdf"})
        work.write(name, plainDoc(2));
    const std::string absolute = windowsPath(work.file("a.pdf"));
    const std::string mirrored = "out\\Z" + absolute.substr(2);
    work.write("list.txt", "a.pdf\r\nmissing.pdf\r\nsub\\c.pdf\r\n" + absolute + "\r\n..\\x.pdf\r\nPr\xFC" "fung.pdf\r\n");
    const Result run = runExe(work.path(), {"-ilist.txt", "-fout", "-jstamp.jpg", "--keep-going", "--jobs", "2", "--report", "r.json"});
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
}

// A worker that stops making progress is ended with TerminateProcess when
// its file is past the time limit; a new one stamps the next file.
TEST(WindowsBatch, TimeLimitEndsAStoppedWorker)
{
    REQUIRE_WINE();
    Workspace work;
    work.write("a.pdf", plainDoc(2));
    work.write("b.pdf", plainDoc(2));
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
        "sleep 1 && w=$(pgrep -f \"$p\") && kill -STOP $w && printf 'a.pdf\\r\\nb.pdf\\r\\n' >&3 && exec 3>&- && "
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
