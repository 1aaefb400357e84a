// The parts of a run that need no PDF file: values after a space joined to
// their options, the batch options taken out, list names and where their
// outputs go, the report's JSON strings, what a worker hands back, and the
// worker pool's bookkeeping with a stand-in worker.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <set>
#include <thread>
#include <tuple>

#include "app/CBatchSettings.h"
#include "app/CFileOutcome.h"
#include "app/CProgressLine.h"
#include "app/CWorkerPool.h"
#include "app/CommandLine.h"
#include "app/ListFile.h"
#include "app/WorkerChannel.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "tests/support/TestUtil.h"

namespace {

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };
using Words = std::vector<std::string>;

// The command line as the program reads it; `batch` gets the run's own options.
std::vector<std::string> read(const Words& given, CBatchSettings& batch)
{
    std::vector<const char*> argv = {"vellico"};
    for (const std::string& word : given)
        argv.push_back(word.c_str());
    std::vector<std::string> passwordFiles;
    return readCommandLine(static_cast<int>(argv.size()), argv.data(), batch, passwordFiles);
}
Words head(Words options)
{
    options.insert(options.begin(), {"-iin.pdf", "-oout.pdf", "-jlogo.jpg"});
    return options;
}

// clang-format off
struct JoinCase { const char* name; Words given, joined; };
class SeparatedValues : public testing::TestWithParam<JoinCase> {};
TEST_P(SeparatedValues, AreJoinedToTheirOptions)
{
    Words expected = {"vellico"};
    expected.insert(expected.end(), GetParam().joined.begin(), GetParam().joined.end());
    CBatchSettings batch;
    EXPECT_EQ(read(GetParam().given, batch), expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, SeparatedValues, testing::Values(
    // Lone options, negative values and -align's word are end-to-end rows.
    JoinCase{"Everything", {"-i", "in.pdf", "-o", "out.pdf", "-j", "logo.jpg", "-s", "2", "-e", "5", "-pos", "20,30", "-size", "100,50",
                            "-opacity", "50", "-n", "3", "-send", "1", "-eend", "0"},
             head({"-s2", "-e5", "-pos20,30", "-size100,50", "-opacity50", "-n3", "-send1", "-eend0"})},
    // Options are joined only where they are read; spelled otherwise, an option is not one of them.
    JoinCase{"NumericInTheHead", {"-s", "2", "-oout.pdf", "-jlogo.jpg"}, {"-s", "2", "-oout.pdf", "-jlogo.jpg"}},
    JoinCase{"HeadOptionsAfterTheHeadAndOtherSpellings", head({"-f", "out", "-i", "x.pdf", "-S", "2", "-noforce", "x"}),
             head({"-f", "out", "-i", "x.pdf", "-S", "2", "-noforce", "x"})}), kRowName);

// The run's options after the first three: taken out, or refused with the start of `error`; `left` stays for the stamp's parser.
struct OptionsCase { const char* name; Words arguments; std::string error; Words left = {}; };
class BatchOptions : public testing::TestWithParam<OptionsCase> {};
TEST_P(BatchOptions, AreTakenOutOrRefused)
{
    const OptionsCase& c = GetParam();
    Words words = {"-ilist.txt", "-fout", "-jstamp.jpg"};
    words.insert(words.end(), c.arguments.begin(), c.arguments.end());
    try {
        CBatchSettings batch;
        const std::vector<std::string> all = read(words, batch);
        EXPECT_EQ(c.error, "") << "accepted";
        EXPECT_EQ(Words(all.begin() + kFirstOption, all.end()), c.left);
        if (std::string(c.name) == "EveryOptionBothForms") {
            EXPECT_TRUE(batch.keepGoing && batch.dryRun && batch.nullSeparated);
            EXPECT_EQ(batch.jobs, 3);
            EXPECT_EQ(batch.timeoutSeconds, 2.5);
            EXPECT_EQ(batch.memoryLimitMb, 300);
            EXPECT_EQ(batch.report, "-s2");
        }
    } catch (const CPdfException& error) {
        EXPECT_EQ(std::string(error.message()).find(c.error), 0u) << error.message();
        EXPECT_NE(c.error, "");
    }
}
INSTANTIATE_TEST_SUITE_P(Rows, BatchOptions, testing::Values(
    // The word after a long option with a value is its value, even one that starts with '-'.
    OptionsCase{"EveryOptionBothForms", {"-s2", "--keep-going", "--jobs", "3", "--timeout=2.5", "--memory-limit", "300", "--report", "-s2",
                                         "--dry-run", "-0", "-e5"}, "", {"-s2", "-e5"}},
    OptionsCase{"NullLongForm", {"--null"}, ""}, OptionsCase{"JobsZeroIsOnePerCore", {"--jobs=0"}, ""},
    OptionsCase{"JobsNotANumber", {"--jobs", "two"}, "--jobs takes a number of workers"},
    OptionsCase{"JobsTooMany", {"--jobs", "65"}, "--jobs takes a number of workers"},
    OptionsCase{"TimeoutZero", {"--timeout=0"}, "--timeout takes a number of seconds"},
    OptionsCase{"TimeoutPastItsLargest", {"--timeout=99999999999"}, "--timeout takes a number of seconds greater than 0 and at most 10000000"},
    OptionsCase{"MemoryLimitZero", {"--memory-limit", "0"}, "--memory-limit takes a number of megabytes"},
    OptionsCase{"ValueMissingAtTheEnd", {"--report"}, "--report needs a value"},
    OptionsCase{"EmptyReportName", {"--report="}, "--report needs a file name"},
    // A mistyped long option, or a flag given a value, stops the run; a value that may be a password is not shown.
    OptionsCase{"FlagWithAValue", {"--keep-going=yes"}, "--keep-going takes no value: '--keep-going=yes'"},
    OptionsCase{"UnknownWithAValue", {"--pasword=s3cret"}, "Unknown option: '--pasword=...' ("},
    // The word after another option with a value is that value, whatever it looks like.
    OptionsCase{"PasswordWordIsNoOption", {"--password", "--keep-going", "--password", "-0", "--password", "--password-file"}, "",
                {"--password", "--keep-going", "--password", "-0", "--password", "--password-file"}}), kRowName);

struct NamesCase { const char* name; std::string bytes; bool nulls; Words names; };
class ListNames : public testing::TestWithParam<NamesCase> {};
TEST_P(ListNames, AreReadAsWritten) { EXPECT_EQ(listNames(GetParam().bytes, GetParam().nulls), GetParam().names); }
INSTANTIATE_TEST_SUITE_P(Rows, ListNames, testing::Values(
    NamesCase{"NulSeparatedKeepsLineBreaks", std::string("a\nb.pdf\0c.pdf\0", 14), true, {"a\nb.pdf", "c.pdf"}},
    // What PowerShell's > writes: UTF-16 LE with a mark, CR LF; one name beyond the BMP.
    NamesCase{"Utf16LittleEndian", std::string("\xFF\xFE" "a\0.\0\r\0\n\0\xFC\0\x3D\xD8\x00\xDE\n\0", 18), false,
              {"a.", "\xC3\xBC\xF0\x9F\x98\x80"}},
    NamesCase{"Utf16BigEndian", std::string("\xFE\xFF\0a\0\n\0b", 8), false, {"a", "b"}}), kRowName);

struct MirrorCase { const char* name; std::string folder, line; const char* output; }; // output null: refused
class MirroredOutput : public testing::TestWithParam<MirrorCase> {};
TEST_P(MirroredOutput, StaysBelowTheFolder)
{
    std::string output;
    const bool inside = mirroredOutput(GetParam().folder, GetParam().line, output);
    EXPECT_EQ(inside ? output : "(refused)", GetParam().output ? GetParam().output : "(refused)");
}
INSTANTIATE_TEST_SUITE_P(Rows, MirroredOutput, testing::Values(
    MirrorCase{"AbsoluteLosesItsRoot", "out", "/data/x/a.pdf", "out/data/x/a.pdf"},
    MirrorCase{"DotsThatStayInside", "out", "./a/./b/../c.pdf", "out/a/c.pdf"},
    MirrorCase{"EmptyFolderIsTheCurrentOne", "", "//a.pdf", "a.pdf"},
    MirrorCase{"DotDotOutside", "out", "a/../../x.pdf", nullptr}), kRowName);

struct JsonCase { const char* name; std::string text, json; };
class JsonString : public testing::TestWithParam<JsonCase> {};
TEST_P(JsonString, KeepsEveryByte) { EXPECT_EQ(jsonString(GetParam().text), GetParam().json); }
INSTANTIATE_TEST_SUITE_P(Rows, JsonString, testing::Values(
    JsonCase{"Plain", "in/a b.pdf", "\"in/a b.pdf\""}, JsonCase{"Escapes", "a\"b\\c\nd\x01", "\"a\\\"b\\\\c\\nd\\u0001\""},
    // UTF-8 is kept, at the edges of each length too: U+0800, U+D7FF, U+10000, U+10FFFF.
    JsonCase{"Utf8Kept", "Pr\xC3\xBC" "fung \xE5\x90\x88 \xE0\xA0\x80 \xED\x9F\xBF \xF0\x90\x80\x80 \xF4\x8F\xBF\xBF.pdf",
             "\"Pr\xC3\xBC" "fung \xE5\x90\x88 \xE0\xA0\x80 \xED\x9F\xBF \xF0\x90\x80\x80 \xF4\x8F\xBF\xBF.pdf\""},
    // Latin-1 bytes, a cut sequence, overlong forms, a surrogate and a value past U+10FFFF: one escape per byte.
    JsonCase{"NotUtf8", "caf\xE9 \xE5\x90 \xC0\xAF \xE0\x9F\xBF \xED\xA0\x80 \xF0\x8F\xBF\xBF \xF4\x90\x80\x80", "\"caf\\udce9 "
     "\\udce5\\udc90 \\udcc0\\udcaf \\udce0\\udc9f\\udcbf \\udced\\udca0\\udc80 \\udcf0\\udc8f\\udcbf\\udcbf \\udcf4\\udc90\\udc80\\udc80\""}),
    kRowName);
// clang-format on

// The progress line: a rate once a file is done in measurable time, and the time left at that rate, to the second.
TEST(ProgressLine, SaysTheRateAndTheTimeLeft)
{
    const std::tuple<size_t, size_t, double, const char*> rows[] = {
        {0, 4, 0, "0 of 4 files"},
        {0, 4, 3, "0 of 4 files"},
        {1, 4, 0, "1 of 4 files"},
        {1, 4, 2, "1 of 4 files, 0.5 files/s, 0:00:06 left"},
        {3, 4, 1.5, "3 of 4 files, 2.0 files/s, 0:00:01 left"},
        {1, 3662, 1, "1 of 3662 files, 1.0 files/s, 1:01:01 left"},
    };
    for (const auto& [done, total, seconds, said] : rows)
        EXPECT_EQ(CProgressLine::text(done, total, seconds), said) << done << " " << total << " " << seconds;
}

// ---- What a worker hands back ----

TEST(WorkerResult, ReadsBackExactly)
{
    CFileOutcome outcome;
    outcome.input = std::string("in/caf\xE9.pdf\0x", 14);
    outcome.output = "out/in/caf.pdf";
    outcome.status = CFileOutcome::REFUSED;
    outcome.message = "12:34 a message with a colon";
    outcome.warnings = {"one", "", "three"};
    outcome.pages = 7;
    outcome.pagesStamped = 3;
    outcome.encrypted = outcome.repaired = outcome.dryRun = true;
    outcome.seconds = 0.1234567;
    outcome.inputBytes = 3000000000;
    outcome.outputBytes = -1;
    CStampMark mark;
    mark.id = "approved.2";
    mark.kind = CStampMark::EKind::Text;
    mark.x = 20.5, mark.y = -10, mark.width = 96, mark.height = 48.25;
    CStampMark underlay = mark;
    underlay.underlay = true;
    outcome.stamps = {{2, mark, true}, {2, underlay, false}};
    outcome.listed = true;
    const std::string console = "Input file: 'in/caf\xE9.pdf'\n";
    const std::string bytes = worker::packResult(console, outcome);
    std::string consoleBack;
    CFileOutcome back;
    ASSERT_TRUE(worker::unpackResult(bytes, consoleBack, back));
    EXPECT_EQ(consoleBack, console);
    EXPECT_EQ(back.jsonLine(), outcome.jsonLine());
    EXPECT_EQ(worker::packResult(consoleBack, back), bytes);
    EXPECT_FALSE(worker::unpackResult(bytes.substr(0, bytes.size() - 1), consoleBack, back));
    EXPECT_FALSE(worker::unpackResult(bytes + worker::pack({"x"}), consoleBack, back));
    // A status no outcome has: it read as stamped.
    outcome.status = static_cast<CFileOutcome::EStatus>(3);
    EXPECT_FALSE(worker::unpackResult(worker::packResult(console, outcome), consoleBack, back));
}

// The settings a worker is handed: each back as it was; a value no setting takes, or one missing, refused.
TEST(WorkerSettings, ReadBackExactly)
{
    CStampSettings settings;
    settings.imagePath = std::string("caf\xE9.jpg", 8);
    settings.password = std::string("+-\0pw", 5);
    settings.posX = 0.1;
    settings.sizeY = -1e-300;
    settings.startPage = INT_MIN;
    settings.flipH = settings.trimMarks = true;
    settings.corners.set(3).set(15);
    settings.stampId = "a-b_c.d";
    const std::vector<std::string> written = worker::settingsStrings(settings);
    std::vector<std::string> strings = {"a header"};
    strings.insert(strings.end(), written.begin(), written.end());
    CStampSettings back;
    ASSERT_TRUE(worker::readSettings(strings, 1, back));
    EXPECT_EQ(worker::settingsStrings(back), written);
    EXPECT_EQ(back.password, settings.password);
    EXPECT_EQ(back.posX, 0.1);
    EXPECT_EQ(back.resourceNumber, std::nullopt);
    strings.back() = "+x"; // the resource number
    EXPECT_FALSE(worker::readSettings(strings, 1, back));
    strings.pop_back();
    EXPECT_FALSE(worker::readSettings(strings, 1, back));
}

TEST(WorkerChannel, TakesWholeFramesOnly)
{
    const std::string first = worker::frame(worker::STAMP, worker::pack({"a.pdf", std::string("\0b", 2)}));
    std::string buffer = first.substr(0, 7), payload;
    char type = 0;
    EXPECT_FALSE(worker::takeFrame(buffer, type, payload));
    buffer = first + worker::frame(worker::RESULT, "");
    ASSERT_TRUE(worker::takeFrame(buffer, type, payload));
    std::vector<std::string> strings;
    ASSERT_TRUE(worker::unpack(payload, strings));
    EXPECT_EQ(strings, (std::vector<std::string>{"a.pdf", std::string("\0b", 2)}));
    ASSERT_TRUE(worker::takeFrame(buffer, type, payload));
    EXPECT_EQ(type, worker::RESULT);
    EXPECT_TRUE(buffer.empty());
    // A length no frame has: the bytes are not the channel's.
    buffer = std::string("R\xFF\xFF\xFF\xFF", 5);
    EXPECT_THROW(worker::takeFrame(buffer, type, payload), CPdfException);
    EXPECT_FALSE(worker::unpack(std::string("\x05\0\0\0ab", 6), strings));
}

// ---- The worker pool ----

std::set<size_t> finishedItems(CWorkerPool& pool)
{
    std::set<size_t> finished;
    for (int round = 0; round < 200 && pool.filesInFlight() > 0; ++round)
        for (const CWorkerPool::CFinished& done : pool.collect(50))
            finished.insert(done.item);
    return finished;
}

// A worker that ended while it still had a file is handed another before the
// pool notices: that file goes to its replacement, and every file handed
// over comes back, done or failed.
TEST(WorkerPool, DispatchToDeadWorkerKeepsFile)
{
    vtest::TempDir folder;
    const std::string worker = folder.file("worker.sh");
    vtest::writeFile(worker, "#!/bin/sh\nsleep 0.5\n"); // reads nothing and ends without a word
    ASSERT_EQ(chmod(worker.c_str(), 0755), 0);
    CBatchSettings batch;
    batch.keepGoing = true;
    CStampSettings settings;
    settings.imagePath = "stamp.jpg";
    CWorkerPool pool(1, settings, batch, worker);
    pool.dispatch(0, "a.pdf", "out/a.pdf");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(pool.canTakeFile());
    pool.dispatch(1, "b.pdf", "out/b.pdf");
    EXPECT_EQ(finishedItems(pool), (std::set<size_t>{0, 1}));
}

// A failure elsewhere ended the run: files a worker was handed and has not
// begun are not begun, and come back as neither finished nor failed.
TEST(WorkerPool, StoppedRunBeginsNoQueuedFile)
{
    vtest::TempDir folder;
    vtest::writeFile(folder.file("a.pdf"), "%PDF-1.4 not begun\n");
    CBatchSettings batch;
    CStampSettings settings;
    settings.imagePath = folder.file("stamp.jpg");
    CWorkerPool pool(1, settings, batch, vtest::vellicoBinary());
    pool.dispatch(0, folder.file("a.pdf"), folder.file("a-out.pdf"));
    pool.dispatch(1, folder.file("a.pdf"), folder.file("b-out.pdf"));
    pool.stopQueuedFiles();
    EXPECT_EQ(finishedItems(pool), std::set<size_t>());
    EXPECT_EQ(pool.filesInFlight(), 0u);
    pool.finish();
}

} // namespace
