#include "app/BatchDriver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/CBatchRun.h"
#include "app/CBatchSettings.h"
#include "app/CConsoleReporter.h"
#include "app/CPlanFile.h"
#include "app/CReportFile.h"
#include "app/CommandLine.h"
#include "app/ListFile.h"
#include "app/WorkerChannel.h"
#include "image/OpenStampImage.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CStampJob.h"
#include "stamp/MarkPasses.h"
#include "text/CTextTemplate.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

namespace {

bool endsWith(const std::string& text, const char* suffix)
{
    size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The settings of every file's run; the image shown by the name the user gave.
CStampSettings parse(const std::vector<std::string>& arguments, const CBatchSettings& batch, CReporter& reporter)
{
    std::vector<const char*> vector;
    for (const std::string& argument : arguments)
        vector.push_back(argument.c_str());
    CStampSettings settings = parseArguments(static_cast<int>(vector.size()), vector.data(), reporter);
    settings.imageShownAs = batch.imageShownAs;
    if (batch.dryRun && (settings.removes() || settings.replace))
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--dry-run does not go with --remove, --remove-all or --replace: --list shows the "
                            "stamps a file carries\n");
    return settings;
}

// The list's bytes: the file `path`, or standard input for "-".
std::string readListBytes(const std::string& path)
{
    std::string bytes;
    if (path == "-") {
        if (!platform::readStandardInput(bytes))
            throw CPdfException(CPdfException::EKind::UsageError, "Unable to open file list: '-' (standard input)\r\n");
        return bytes;
    }
#ifdef _WIN32
    std::ifstream file(platform::windows::systemPath(path).c_str(), std::ios::binary);
#else
    std::ifstream file(path, std::ios::binary);
#endif
    // A folder opens for reading here but has no lines: refuse it like a missing list.
    if (!file || platform::identify(path).isDirectory)
        throw CPdfException::formatted(CPdfException::EKind::UsageError, "Unable to open file list: '%s'\r\n", path);
    std::stringstream read;
    read << file.rdbuf();
    if (file.bad())
        throw CPdfException::formatted(CPdfException::EKind::UsageError, "Unable to open file list: '%s'\r\n", path);
    return read.str();
}

// The options that only a list gives a meaning to.
void refuseListOptions(const CBatchSettings& batch)
{
    const char* option = batch.jobs            ? "--jobs"
                         : batch.keepGoing     ? "--keep-going"
                         : batch.nullSeparated ? "-0"
                         : batch.skipExisting  ? "--skip-existing"
                         : batch.shard         ? "--shard"
                         : batch.writePlan     ? "--write-plan"
                         : batch.plan          ? "--plan"
                                               : nullptr;
    if (option)
        throw CPdfException(CPdfException::EKind::UsageError, std::string(option) +
                            " is for list files only (-i<list.txt> -f<folder>, or -i- for a list on standard input)\n");
}

// The files every file's run reads, and what each is to the user.
using CNamedFiles = std::vector<std::pair<std::string, const char*>>;
CNamedFiles filesEveryRunReads(const CStampSettings& settings, const std::vector<std::string>& passwordFiles)
{
    CNamedFiles files = {{settings.imagePath.value_or(std::string()), "the image file"}};
    if (settings.marks())
        for (const std::string& image : markImages())
            files.push_back({image, "a mark image"});
    for (const std::string& file : passwordFiles)
        files.push_back({file, "the password file"});
    return files;
}

// The report written over a file the run reads or writes would destroy it: the message, or empty.
std::string reportOverwrites(const CBatchSettings& batch, const CNamedFiles& files)
{
    if (!batch.report || *batch.report == "-")
        return std::string();
    for (const auto& [path, what] : files)
        if (!path.empty() && platform::namesOneFile(*batch.report, path))
            return "\nReport file is " + std::string(what) + ": '" + *batch.report + "'\n";
    return std::string();
}

void refuseReportOver(const CBatchSettings& batch, const CNamedFiles& files)
{
    const std::string message = reportOverwrites(batch, files);
    if (!message.empty())
        throw CPdfException(CPdfException::EKind::UsageError, message);
}

// The private copy of an image read from a pipe, removed when the run ends.
struct CImageCopy {
    std::string path;
    ~CImageCopy()
    {
        if (!path.empty())
            platform::removeTemp(path);
    }
};

// How many of `count` lines of a list the run takes: all, or its shard's share.
size_t shareOf(size_t count, const CBatchSettings& batch)
{
    if (!batch.shard)
        return count;
    size_t share = 0;
    for (size_t position = 0; position < count; ++position)
        share += batch.shard->takes(position) ? 1 : 0;
    return share;
}

// The names of the list at `listPath`, whose bytes a list file gave first
// (so that one that cannot be read starts no workers), and the run's workers
// started; a list on standard input is read once they are.
std::vector<std::string> startAndReadList(CBatchRun& run, const CStampSettings& settings, const std::string& listPath,
                                          const std::string& bytes, const CBatchSettings& batch)
{
    std::vector<std::string> names;
    if (listPath == "-") {
        run.startWorkers(settings, SIZE_MAX);
        names = listNames(readListBytes(listPath), batch.nullSeparated);
    } else {
        names = listNames(bytes, batch.nullSeparated);
        if (shareOf(names.size(), batch) > 0)
            run.startWorkers(settings, shareOf(names.size(), batch));
    }
    if (names.empty())
        throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nThe list names no file: %s\n",
                                       listPath == "-" ? std::string("'-' (standard input)") : "'" + listPath + "'");
    return names;
}

// The list's lines this run takes, each with its place in the list: every
// one, or with --shard the shard's share, which the console names.
std::vector<CBatchItem> listItems(const std::vector<std::string>& names, const CBatchSettings& batch,
                                  CConsoleReporter& console)
{
    std::vector<CBatchItem> items;
    for (size_t position = 0; position < names.size(); ++position) {
        if (batch.shard && !batch.shard->takes(position))
            continue;
        CBatchItem item;
        item.position = position;
        item.input = names[position];
        items.push_back(item);
    }
    if (batch.shard) {
        console.endLine();
        console.print("Shard " + batch.shard->shown() + ": " +
                      (items.empty() ? std::string("none") : std::to_string(items.size())) + " of the list's " +
                      std::to_string(names.size()) + " files" + (items.empty() ? ", so nothing is done\n" : "\n"));
    }
    return items;
}

// List-file mode: every file the list at `listPath` ("-": standard input) names, stamped into the folder of
// argument 2 with the options of the rest.
int runList(std::vector<std::string> arguments, const std::string& listPath, const CBatchSettings& batch,
            CConsoleReporter& console, FILE* consoleStream, const std::vector<std::string>& passwordFiles)
{
    CReportFile report;
    if (arguments.size() < 3 || arguments[2].compare(0, 2, "-f") != 0)
        throw CPdfException(CPdfException::EKind::UsageError, "please specify -f for output folder, e.g. -fc:\\test\n");
    const std::string folder = arguments[2].substr(2);
    // Each shard would number its files from --bates-start: refused before anything is made.
    for (size_t i = 0; batch.shard && !batch.plan && i < arguments.size(); ++i)
        if (isTextWord(arguments, i) &&
            CTextTemplate(arguments[i].substr(arguments[i].compare(0, 7, "--text=") == 0 ? 7 : 0)).usesBates())
            throw CPdfException(CPdfException::EKind::UsageError,
                                "\n--shard with {bates} needs a plan (--write-plan FILE first, then --plan FILE): "
                                "every shard would number its files from the start\n");
    // Read and checked before anything is made.
    std::optional<CPlanFile> plan;
    if (batch.plan)
        plan = CPlanFile::read(*batch.plan);
    const auto settingsOf = [&](std::vector<std::string> words) {
        words[1] = "-i";
        words[2] = "-o";
        return parse(words, batch, console);
    };
    // A list file is read, and checked against the plan, before the folder
    // is made; without a plan, as always, after.
    std::string bytes;
    std::optional<CStampSettings> checked; // parsed once: its warnings are printed once
    if (plan && listPath != "-") {
        bytes = readListBytes(listPath);
        checked = settingsOf(arguments);
        plan->check(*checked, listNames(bytes, batch.nullSeparated));
    }
    // A dry run writes nothing, not even the folder.
    if (!batch.dryRun && !folder.empty() && !platform::makeDirectories(folder))
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "Unable to create the output folder: '%s'\n",
                                       folder);
    // A list file is read first, so that one that cannot be read starts no
    // workers; a list on standard input (from find, say) after they started.
    if (!checked && listPath != "-")
        bytes = readListBytes(listPath);

    // Every file is stamped with the same JPEG and options: the first two
    // arguments are each file's.
    const CStampSettings settings = checked ? *checked : settingsOf(arguments);
    CNamedFiles files = filesEveryRunReads(settings, passwordFiles);
    files.push_back({listPath == "-" ? std::string() : listPath, "the list file"});
    refuseReportOver(batch, files);
    // A broken image would fail every file of the list, one by one: it ends the run before the first.
    if (!settings.marks() && !settings.text && settings.imagePath)
        (void)CStampJob::openStamp(settings);
    // Opened once the names are known: each line is checked against it first.
    CBatchRun run(batch, console, consoleStream, report, true);
    const std::vector<std::string> names = startAndReadList(run, settings, listPath, bytes, batch);
    if (plan) {
        plan->check(settings, names);
        run.usePlan(*plan);
    }
    std::vector<CBatchItem> items = listItems(names, batch, console);
    for (CBatchItem& item : items) {
        const std::string& name = item.input;
        if (!mirroredOutput(folder, name, item.output)) {
            item.output.clear();
            item.refusal = "The list line leads outside the output folder: '" + name + "'\n";
        } else {
            // The report would replace this line's output only: the line fails, the others run.
            item.refusal = reportOverwrites(batch, {{item.output, "the output file"}});
        }
        // Opening the report would destroy this input before any line runs.
        refuseReportOver(batch, {{name, "the input file"}});
    }
    if (batch.report)
        report.open(*batch.report);
    return run.run(items, settings);
}

// --list: the stamps each file carries, of one file or of every file a list
// names; nothing is written.
int runListing(std::vector<std::string> arguments, const CBatchSettings& batch, CConsoleReporter& console,
               FILE* consoleStream, const std::vector<std::string>& passwordFiles)
{
    if (batch.dryRun)
        throw CPdfException(CPdfException::EKind::UsageError, "\n--list does not go with --dry-run: neither writes\n");
    // A plan numbers stamps to come; a listing counts none.
    if (batch.plan)
        throw CPdfException(CPdfException::EKind::UsageError, "\n--list does not go with --plan: it stamps nothing\n");
    for (size_t i = 2; i < arguments.size(); ++i)
        for (const char* stampWord : {"-o", "-f", "-j", "--text"})
            if (arguments[i].compare(0, std::strlen(stampWord), stampWord) == 0)
                throw CPdfException(CPdfException::EKind::UsageError,
                                    "\n--list reads the stamps a file carries: it takes no -o, -f, -j or --text\n");
    const std::string listPath = arguments[1].size() >= 2 ? arguments[1].substr(2) : std::string();
    const bool isList = listPath == "-" || endsWith(listPath, ".txt");
    if (!isList)
        refuseListOptions(batch);
    // Each file's run reads its input alone.
    arguments.insert(arguments.begin() + 2, {"-o", "-j"});
    const CStampSettings settings = parse(arguments, batch, console);
    CNamedFiles files = filesEveryRunReads(settings, passwordFiles);
    files.push_back({isList && listPath != "-" ? listPath : std::string(), "the list file"});
    CReportFile report;
    CBatchRun run(batch, console, consoleStream, report, isList);
    std::vector<CBatchItem> items(1);
    items[0].input = listPath;
    if (isList)
        items = listItems(
            startAndReadList(run, settings, listPath, listPath == "-" ? std::string() : readListBytes(listPath), batch),
            batch, console);
    else
        run.startWorkers(settings, 1);
    for (const CBatchItem& item : items)
        files.push_back({item.input, "the input file"});
    refuseReportOver(batch, files);
    if (batch.report)
        report.open(*batch.report);
    return run.run(items, settings);
}

// --write-plan: every file of the list read once, its pages and Bates range
// written to the plan; nothing is stamped, so neither -f nor -j is needed.
int runPlanWriting(std::vector<std::string> arguments, const CBatchSettings& batch, CConsoleReporter& console,
                   FILE* consoleStream, const std::vector<std::string>& passwordFiles)
{
    const std::string listPath = arguments[1].size() >= 2 ? arguments[1].substr(2) : std::string();
    if (listPath != "-" && !endsWith(listPath, ".txt"))
        refuseListOptions(batch);
    const char* other = batch.shard    ? "--shard: a plan is of the whole list"
                        : batch.plan   ? "--plan"
                        : batch.dryRun ? "--dry-run"
                        : batch.list   ? "--list"
                        : batch.report ? "--report: the plan is the run's account of every file"
                                       : nullptr;
    if (other)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--write-plan does not go with " + std::string(other) + "\n");
    if (arguments.size() > 2 && arguments[2].compare(0, 2, "-f") == 0)
        arguments.erase(arguments.begin() + 2);
    if (arguments.size() > 2 && arguments[2].compare(0, 2, "-j") == 0)
        arguments.erase(arguments.begin() + 2);
    bool text = false;
    for (const std::string& word : arguments)
        text = text || word == "--text" || word.compare(0, 7, "--text=") == 0;
    arguments.insert(arguments.begin() + 2, "-o");
    if (!text)
        arguments.insert(arguments.begin() + 3, "-j");
    const CStampSettings settings = parse(arguments, batch, console);
    const std::string bytes = listPath == "-" ? std::string() : readListBytes(listPath);
    CReportFile report;
    CBatchRun run(batch, console, consoleStream, report, true);
    const std::vector<CBatchItem> items =
        listItems(startAndReadList(run, settings, listPath, bytes, batch), batch, console);
    CNamedFiles files = filesEveryRunReads(settings, passwordFiles);
    files.push_back({listPath == "-" ? std::string() : listPath, "the list file"});
    for (const CBatchItem& item : items)
        files.push_back({item.input, "an input file"});
    for (const auto& [path, what] : files)
        if (!path.empty() && platform::namesOneFile(*batch.writePlan, path))
            throw CPdfException(CPdfException::EKind::UsageError,
                                "\nPlan file is " + std::string(what) + ": '" + *batch.writePlan + "'\n");
    return run.writePlan(items, settings, *batch.writePlan);
}

int runFiles(std::vector<std::string> arguments, CBatchSettings batch, CConsoleReporter& console, FILE* consoleStream,
             const std::vector<std::string>& passwordFiles)
{
    if (batch.list && !batch.writePlan)
        return runListing(arguments, batch, console, consoleStream, passwordFiles);
    if (batch.writePlan)
        return runPlanWriting(arguments, batch, console, consoleStream, passwordFiles);
    // A pipe gives its bytes once: every file's run, and every worker, reads a private copy of the image.
    CImageCopy image;
    if (arguments.size() > 3 && arguments[3].compare(0, 2, "-j") == 0) {
        const std::string given = arguments[3].substr(2);
        std::string why;
        image.path = platform::copyOfStream(given, kMaxStampImageBytes, why);
        if (!why.empty())
            throw CPdfException(CPdfException::EKind::ImageError,
                                "\nInput image file error (" + why + ", read from a pipe): '" + given + "'\n");
        if (!image.path.empty()) {
            arguments[3] = "-j" + image.path;
            batch.imageShownAs = given;
        }
    }
    const std::string& first = arguments[1];
    const std::string listPath = first.size() >= 2 ? first.substr(2) : std::string();
    if (listPath != "-" && !endsWith(listPath, ".txt")) {
        refuseListOptions(batch);
        CReportFile report;
        const CStampSettings settings = parse(arguments, batch, console);
        CNamedFiles files = filesEveryRunReads(settings, passwordFiles);
        files.insert(files.end(), {{settings.inputPath, "the input file"}, {settings.outputPath, "the output file"}});
        refuseReportOver(batch, files);
        if (batch.report)
            report.open(*batch.report);
        CBatchRun run(batch, console, consoleStream, report, false);
        run.startWorkers(settings, 1);
        CBatchItem item;
        item.input = settings.inputPath;
        item.output = settings.outputPath;
        return run.run({item}, settings);
    }
    return runList(arguments, listPath, batch, console, consoleStream, passwordFiles);
}

} // namespace

int runVellico(int argumentCount, const char* const* arguments)
{
    if (argumentCount == 2 && std::strcmp(arguments[1], worker::kArgument) == 0)
        return worker::runWorker();
    if (argumentCount <= 1) {
        printUsage();
        return 0;
    }
    // Only as the first argument: later, as before, an unknown option is ignored.
    const std::string firstArgument = arguments[1];
    if (firstArgument == "--help" || firstArgument == "-h") {
        printUsage();
        return 0;
    }
    if (firstArgument == "--version") {
        printVersion();
        return 0;
    }
    if (argumentCount >= 3) {
        const std::vector<std::string> words(arguments, arguments + argumentCount);
        for (int i = 1; i < argumentCount; ++i) {
            // A password may hold a '*'.
            if (std::strchr(arguments[i], '*') && !isPasswordWord(words, static_cast<size_t>(i)) &&
                !isTextWord(words, static_cast<size_t>(i))) {
                std::printf("\nError! Wildcards * are not permitted, if you want to process many files then do: dir "
                            "/B *.pdf > list.txt, then vellico -ilist.txt -fc:\\test\n\n");
                return 1;
            }
        }
    }
    // From here on every value is joined to its option, so list mode's
    // replacement of arguments 1 and 2 and the parser see one form.
    std::vector<std::string> joined;
    CBatchSettings batch;
    std::vector<std::string> passwordFiles;
    std::optional<CPdfException> badOption;
    try {
        joined = readCommandLine(argumentCount, arguments, batch, passwordFiles);
    } catch (const CPdfException& error) {
        badOption = error;
    }
    // With the report on standard output, the console text goes to standard error.
    FILE* stream = batch.report && *batch.report == "-" ? stderr : stdout;
    printBanner(stream);
    std::fflush(stream); // as the console's lines are
    CConsoleReporter console(stream);
    // From here on files are written: a signal must not leave temporary ones behind.
    platform::installSignalCleanup();
    int status = 1;
    try {
        if (badOption)
            throw *badOption;
        status = runFiles(joined, batch, console, stream, passwordFiles);
    } catch (const CPdfException& error) {
        console.failed(error);
        status = 1;
    } catch (...) {
        console.failed(CPdfException(CPdfException::EKind::Internal, "Unexpected exception"));
        status = 1;
    }
    console.endLine();
    std::fflush(stream);
    return status;
}
