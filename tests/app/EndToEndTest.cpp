// The program as its users run it: one row per case, each a run of the real
// program in a fresh folder. A row names the files made first, the arguments,
// the exit status and what the console must say; the runner then checks what
// every run owes: exactly the expected files written (nothing when the run
// fails, an earlier output left as it was), and each output PDF accepted by
// qpdf with the input's pages, title, text, encryption and valid signatures
// kept, an update appended to the input's own bytes in a section of its kind,
// and, where the row says where the stamp goes, renders that show the input
// with the stamp there and nothing else changed.
// Rows marked Win run through the Windows program under Wine as well.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "tests/app/E2e.h"
#include "tests/support/TestPng.h"

using namespace e2e;

namespace {

enum Flags : unsigned {
    Exact = 1,        // the console output is `says` joined, nothing else
    Shell = 2,        // args is a shell script run in the folder, the program as $V
    MuPdf = 4,        // rendered by MuPDF too
    Win = 8,          // run by the Windows program under Wine too
    QpdfAsInput = 16, // qpdf finds in each output what it finds in its input, and no more
    Unreadable = 64,  // the tools cannot read the input: each output is checked alone, qpdf may warn
    Quick = 128,      // the run takes under five seconds, sanitized too: it stays linear in hostile input
    WinOnly = 256     // run by the Windows program only: what only Windows does
};

struct Row {
    const char* name;
    std::vector<std::string> files; // made first, in order: "name=maker ..." (see makeFile)
    std::string args;               // split at spaces; 'quoted words' keep theirs, '' is an empty word
    int status = 0;
    std::vector<std::string> says = {}; // each in the console output
    std::string stamps = "";            // where the stamp shows (see expectedStamps); "" no render
    unsigned flags = 0;
    std::vector<std::string> holds = {};  // text each output's bytes hold ("!text": must not hold; "~word[@x,y]": a
                                          // word pdftotext shows, at whole points from the crop box's top left;
                                          // "=text": in the text pdftotext reads, in reading order)
    std::vector<std::string> made = {};   // what the run writes; none: its -o file when it succeeds; {""} nothing
    std::vector<std::string> report = {}; // r.json's lines, each the start of its ReportEntry::summary()
};
std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

std::vector<std::string> split(const std::string& args)
{
    std::vector<std::string> words;
    for (size_t at = args.find_first_not_of(' '); at < args.size(); at = args.find_first_not_of(' ', at)) {
        const bool quoted = args[at] == '\'';
        const size_t end = quoted ? args.find('\'', at + 1) : std::min(args.find(' ', at), args.size());
        words.push_back(args.substr(at + quoted, end - at - quoted));
        at = end + quoted;
    }
    return words;
}

// ---- Files made before a run ----

// What the runner knows of a file it made.
struct Made {
    BuiltDoc doc;          // a document's bytes, views and boxes (bytes empty when not one)
    std::string reference; // an edited document's source, which the tools read in its place
    std::string password;  // the user's, when one is needed
    bool popplerReads = true;
    std::optional<vtest::PngPlan> png;
};
using Files = std::map<std::string, Made>;

std::string q(const std::string& text) { return vtest::shellQuote(text); }

std::optional<vtest::PngPlan> pngNamed(const std::string& name)
{
    vtest::PngPlan plan;
    for (int kind = 0; kind <= static_cast<int>(vtest::PngKind::PaletteAlpha); ++kind)
        for (int depth : {1, 2, 4, 8, 16})
            for (int flags = 0; flags < 4; ++flags) {
                plan.kind = static_cast<vtest::PngKind>(kind);
                plan.depth = depth;
                plan.interlaced = flags & 1;
                plan.iccProfile = flags & 2;
                if (vtest::pngName(plan) == name)
                    return plan;
            }
    return std::nullopt;
}

// Makes "name=kind arguments": plain N (pages); doc NAME (see namedDoc); page ENTRIES (see pageDoc); content
// CODING STREAM|STREAM... (see contentDoc); pdfa PART INTENT [flate]; text BYTES; qpdf SOURCE ARGUMENTS (qpdf's
// output from SOURCE; "--encrypt 'USER'" sets the password); mutool SOURCE ARGUMENTS (mutool clean's; "-U 'USER'"
// sets it); sign SOURCE [TIMES]; edit SOURCE HOW (see edited);
// certified LEVEL (see certifiedDoc); png NAME (a band PNG, as vtest::pngName names it); exif N (stamp.jpg turned
// by an EXIF orientation); cut SOURCE N [BYTES] (its first N bytes, "half" or "all" of them, or -N: all but the
// last N; then BYTES); link TARGET; fifo; dir. Empty when made, "skip: why" when this system cannot, else why not.
std::string makeFile(const Workspace& work, const std::string& entry, Files& files)
{
    const size_t eq = entry.find('=');
    const std::string name = entry.substr(0, eq), recipe = entry.substr(eq + 1);
    const std::string kind = recipe.substr(0, recipe.find(' '));
    const std::string rest = recipe.size() > kind.size() ? recipe.substr(kind.size() + 1) : "";
    const std::vector<std::string> a = split(rest);
    // What follows the first `n` words of `rest`.
    auto after = [&](size_t n) {
        size_t at = 0;
        for (size_t word = 0; word < n && at < rest.size(); ++word)
            at = std::min(rest.size(), rest.find(' ', at) + 1);
        return rest.substr(at);
    };
    const std::string path = work.file(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    Made& made = files[name];
    auto setDoc = [&](const BuiltDoc& doc) { work.write(name, doc.bytes), made.doc = doc; };
    if (kind == "qpdf" || kind == "mutool" || kind == "sign" || kind == "edit" || kind == "cut" || kind == "stamp")
        made = files.count(a.at(0)) ? files.at(a[0]) : Made{};
    if (kind == "plain") {
        setDoc(buildDoc(plainPlan(std::stoi(a.at(0)))));
    } else if (kind == "doc") {
        setDoc(namedDoc(a.at(0)));
        made.popplerReads = a[0].find("hybrid") == std::string::npos; // its catalog is compressed
    } else if (kind == "page") {
        setDoc(pageDoc(rest));
    } else if (kind == "content") {
        std::vector<std::string> streams;
        std::istringstream list(after(1));
        for (std::string stream; std::getline(list, stream, '|');)
            streams.push_back(stream);
        setDoc(contentDoc(a.at(0), streams));
    } else if (kind == "pdfa") {
        setDoc(pdfaDoc(std::stoi(a.at(0)), std::stoi(a.at(1)), a.size() > 2));
    } else if (kind == "text") {
        work.write(name, rest);
    } else if (kind == "qpdf" || kind == "mutool") {
        const std::string from = after(1) + " " + q(work.file(a[0])) + " " + q(path);
        const vtest::CommandResult r = kind == "qpdf" ? vtest::qpdf("--allow-weak-crypto " + from)
                                                      : vtest::runCommand("mutool clean " + from + " 2>&1");
        if (r.status != 0)
            return r.status == 127 ? "skip: mutool missing" : r.output;
        std::smatch user;
        if (std::regex_search(rest, user, std::regex("(--encrypt|-U) '([^']*)'")))
            made.password = user[2];
        made.doc.bytes = vtest::readFile(path);
    } else if (kind == "stamp") { // "out.pdf=stamp in.pdf OPTIONS": the program's own output
        std::vector<std::string> arguments = {"-i" + a.at(0), "-o" + name};
        arguments.insert(arguments.end(), a.begin() + 1, a.end());
        const Result r = work.run(arguments);
        if (r.status != 0)
            return r.output;
        made.doc.bytes = vtest::readFile(path);
        made.reference = made.reference.empty() ? a[0] : made.reference; // its renders, without the stamps
    } else if (kind == "sign" || kind == "certified") {
        const SigningKit* kit = SigningKit::get();
        if (!kit)
            return "skip: pdfsig, certutil, pk12util or openssl missing";
        if (kind == "certified")
            setDoc(BuiltDoc{certifiedDoc(rest, *kit), {render::View{}}, {render::Box{}}, {render::Box{}}});
        std::string from = kind == "sign" ? work.file(a[0]) : "";
        for (int time = kind == "sign" ? (a.size() > 1 ? std::stoi(a[1]) : 1) : 0; time > 0; --time, from = path) {
            if (!kit->sign(from, path + ".new", made.password))
                return "pdfsig could not sign " + from;
            std::filesystem::rename(path + ".new", path);
            made.doc.bytes = vtest::readFile(path);
        }
    } else if (kind == "edit") {
        made.reference = made.reference.empty() ? a[0] : made.reference;
        made.doc.bytes = edited(vtest::readFile(work.file(a[0])), a.at(1));
        work.write(name, made.doc.bytes);
    } else if (kind == "cut") {
        std::string bytes = vtest::readFile(work.file(a[0]));
        const std::string& n = a.at(1);
        const long size = static_cast<long>(bytes.size());
        bytes.resize(static_cast<size_t>(n == "all" ? size : n == "half" ? size / 2 : n[0] == '-' ? size + std::stol(n) : std::stol(n)));
        made.doc.bytes = bytes + after(2);
        work.write(name, made.doc.bytes);
    } else if (kind == "png") {
        if (!(made.png = pngNamed(rest)))
            return "no PNG named " + rest;
        work.write(name, vtest::bandPng(*made.png));
    } else if (kind == "exif") {
        const int orientation = std::stoi(a.at(0));
        work.write(name, vtest::withApp1(vtest::readFile(fixture("stamp.jpg")),
                                         vtest::exifWithOrientation(orientation, orientation % 2 == 0)));
    } else if (kind == "link") {
        if (symlink(rest.c_str(), path.c_str()) != 0)
            return "cannot link " + name;
    } else if (kind == "fifo" && mkfifo(path.c_str(), 0644) != 0) {
        return "cannot make a FIFO";
    } else if (kind == "dir") {
        std::filesystem::create_directories(path);
    } else if (kind != "fifo") {
        return "no maker " + kind;
    }
    return "";
}

// ---- The run ----

bool has(const std::vector<std::string>& args, const std::string& word)
{
    return std::find(args.begin(), args.end(), word) != args.end();
}

// The value of an option joined (-oout.pdf, --password=x) or after a space; "" when not given.
std::string valueOf(const std::vector<std::string>& args, const std::string& option)
{
    const std::string joined = option.compare(0, 2, "--") == 0 ? option + "=" : option;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == option && i + 1 < args.size())
            return args[i + 1];
        if (args[i].compare(0, joined.size(), joined) == 0 && args[i].size() > joined.size())
            return args[i].substr(joined.size());
    }
    return "";
}

Result runProgram(const Workspace& work, const Row& row)
{
#ifdef VELLICO_WINDOWS_EXE
    const std::string wine = "WINEDEBUG=-all WINEPREFIX=" + q(VELLICO_WINE_PREFIX);
    if (row.flags & Shell) // scripts split $V at its space: the .exe's path has none
        return vtest::runCommand("cd " + q(work.path()) + " && export " + wine + " && V=" + q("wine " VELLICO_WINDOWS_EXE) +
                                 " && (" + row.args + ") 2>&1");
    return vtest::runIn(work.path(), wine + " wine " + q(VELLICO_WINDOWS_EXE), split(row.args));
#else
    return row.flags & Shell ? work.shell(row.args) : work.run(split(row.args));
#endif
}

// "x,y,w,h[ up][ rev]" on every page; ";" between pages for a rect per page; "@1,3" only on those
// pages (the rest unchanged); "-" every page unchanged; "marks crop" or "marks trim": the eight marks
// around that box (at 144 dots per inch, the whole media box shown). The stamp's bands are those of
// the -j image (stamp.jpg red | blue, "rev" blue | red, "up" stacked upward; black.jpg black; a band
// PNG its bands), blended by the -opacity asked for.
struct Expected {
    std::vector<std::vector<render::ExpectedStamp>> pages;
    std::vector<render::View> views;
    int dpi = 36;
    bool cropBox = true;
};

Expected expectedStamps(const Row& row, const Made& input, const Files& files)
{
    Expected e{{}, input.doc.views};
    std::string where = row.stamps;
    std::set<int> only;
    if (const size_t at = where.find('@'); at != std::string::npos) {
        std::istringstream list(where.substr(at + 1));
        for (std::string page; std::getline(list, page, ',');)
            only.insert(std::stoi(page));
        where.resize(at);
    }
    auto stamped = [&](size_t page) { return where != "-" && (only.empty() || only.count(static_cast<int>(page) + 1)); };
    if (where.rfind("marks ", 0) == 0) {
        e.dpi = 144, e.cropBox = false;
        for (size_t page = 0; page < e.views.size(); ++page) {
            const render::View whole{input.doc.media.at(page), e.views[page].rotate};
            const render::Box& box = where == "marks trim" ? input.doc.trim.at(page) : e.views[page].box;
            e.pages.push_back(stamped(page) ? marksAround(box, whole) : std::vector<render::ExpectedStamp>{});
            e.views[page] = whole;
        }
        return e;
    }
    const std::vector<std::string> words = split(row.args);
    const std::string image = valueOf(words, "-j"), opacity = valueOf(words, "-opacity");
    const auto png = files.count(image) ? files.at(image).png : std::nullopt;
    std::vector<std::string> rects;
    std::istringstream perPage(where);
    for (std::string rect; std::getline(perPage, rect, ';');)
        rects.push_back(rect);
    for (size_t page = 0; page < e.views.size(); ++page) {
        e.pages.emplace_back();
        if (!stamped(page))
            continue;
        const std::string& text = rects.at(std::min(page, rects.size() - 1));
        render::ExpectedStamp stamp;
        render::Rect& r = stamp.rect;
        std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf", &r.left, &r.bottom, &r.width, &r.height);
        stamp.opacity = std::clamp(opacity.empty() ? 100.0 : std::stod(opacity), 0.0, 100.0) / 100;
        stamp.upward = text.find(" up") != std::string::npos;
        if (png) {
            stamp.bands.clear();
            const auto bands = vtest::pngBands(*png);
            for (size_t band = 0; band < bands.size(); ++band) {
                stamp.bands.push_back({band / 3.0, bands[band].rgb});
                stamp.bandAlpha.push_back(bands[band].alpha);
            }
        } else if (image != "black.jpg") {
            const int red = text.find(" rev") == std::string::npos ? 255 : 0;
            stamp.bands = {{0.0, {red, 0, 255 - red}}, {0.5, {255 - red, 0, red}}};
        }
        e.pages.back().push_back(stamp);
    }
    return e;
}

// A file poppler cannot read (a hybrid file whose catalog is compressed) is shown by qpdf's rewrite.
std::string readable(const Workspace& work, const std::string& name, bool popplerReads)
{
    const std::string copy = work.file(name + ".rewritten.pdf");
    if (!popplerReads)
        vtest::qpdf(q(work.file(name)) + " " + q(copy));
    return popplerReads ? work.file(name) : copy;
}

// What qpdf --check says of `pdf`, without its name and byte offsets.
std::string qpdfSays(const std::string& pdf, const std::string& password)
{
    std::string said = vtest::qpdf("--password=" + q(password) + " --check " + q(pdf)).output;
    for (size_t at; (at = said.find(pdf)) != std::string::npos;)
        said.replace(at, pdf.size(), "FILE");
    return std::regex_replace(said, std::regex("(,| at) offset [0-9]+"), "");
}

// Poppler's view of a document: its page count and title, and its text.
std::string popplerSays(const std::string& pdf, const std::string& password)
{
    const std::string pw = password.empty() ? "" : " -opw " + q(password) + " -upw " + q(password);
    std::istringstream info(vtest::runCommand("pdfinfo" + pw + " " + q(pdf) + " 2>/dev/null").output);
    std::string kept;
    for (std::string line; std::getline(info, line);)
        if (line.rfind("Pages:", 0) == 0 || line.rfind("Title:", 0) == 0)
            kept += line + "\n";
    return kept + vtest::runCommand("pdftotext" + pw + " " + q(pdf) + " - 2>/dev/null").output;
}

// Each word pdftotext shows in `pdf`, and "word@x,y": where it begins, in whole points from the top left.
std::set<std::string> wordsShown(const std::string& pdf, const std::string& password)
{
    const std::string pw = password.empty() ? "" : " -upw " + q(password);
    const std::string html = vtest::runCommand("pdftotext -bbox" + pw + " " + q(pdf) + " - 2>/dev/null").output;
    std::set<std::string> words;
    const std::regex word("<word xMin=\"([-0-9.]+)\" yMin=\"([-0-9.]+)\"[^>]*>([^<]*)</word>");
    for (auto at = std::sregex_iterator(html.begin(), html.end(), word); at != std::sregex_iterator(); ++at) {
        words.insert((*at)[3]);
        words.insert((*at)[3].str() + "@" + std::to_string(std::lround(std::stod((*at)[1]))) + "," +
                     std::to_string(std::lround(std::stod((*at)[2]))));
    }
    return words;
}

// Whether the cross-reference section that `pdf` ends with is a classic table.
bool endsWithTable(const std::string& pdf)
{
    const size_t header = pdf.find("%PDF-"), start = pdf.rfind("startxref");
    return pdf.compare(std::strtoul(pdf.c_str() + start + 9, nullptr, 10) + header, 4, "xref") == 0;
}

// Every check an output of `inputName` owes; `row` adds its own.
void checkOutput(const Workspace& work, const Row& row, const std::string& output, const std::string& inputName,
                 const Files& files)
{
    SCOPED_TRACE(output);
    const std::vector<std::string> words = split(row.args);
    const Made* input = files.count(inputName) && !files.at(inputName).doc.bytes.empty() ? &files.at(inputName) : nullptr;
    const std::string password = !valueOf(words, "--password").empty() ? valueOf(words, "--password")
                                 : input                                ? input->password
                                                                        : "";
    const std::string out = work.file(output), bytes = vtest::readFile(out);
    const vtest::CommandResult check = vtest::qpdf("--password=" + q(password) + " --check " + q(out));
    if (row.flags & QpdfAsInput) {
        EXPECT_NE(qpdfSays(work.file(inputName), password), "");
        EXPECT_EQ(qpdfSays(out, password), qpdfSays(work.file(inputName), password));
    } else if (row.flags & Unreadable) {
        EXPECT_TRUE(check.status == 0 || check.status == 3) << check.output;
    } else {
        EXPECT_TRUE(check.status == 0 && check.output.find("No syntax or stream encoding errors") != std::string::npos)
            << check.output;
    }
    const std::set<std::string> shownWords = wordsShown(out, password);
    for (const std::string& text : row.holds) {
        const bool absent = text[0] == '!';
        const auto shownFrom = shownWords.lower_bound(text.substr(1));
        if (text[0] == '~') // a word, or the start of where one is
            EXPECT_TRUE(shownFrom != shownWords.end() && shownFrom->rfind(text.substr(1), 0) == 0) << text;
        else if (text[0] == '=')
            EXPECT_NE(popplerSays(out, password).find(text.substr(1)), std::string::npos) << text;
        else
            EXPECT_EQ(bytes.find(text.substr(absent)) == std::string::npos, absent) << text;
    }
    if (!input || row.flags & Unreadable)
        return;
    // The tools read a damaged input's source in its place.
    const std::string shown = input->reference.empty() ? inputName : input->reference, in = work.file(shown);
    const std::string saidOut = popplerSays(readable(work, output, input->popplerReads), password),
                      saidIn = popplerSays(readable(work, shown, input->popplerReads), password);
    const std::string stampFile = valueOf(words, "-j");
    const bool stampHasText =
        has(words, "--text") || (stampFile.size() > 4 && stampFile.substr(stampFile.size() - 4) == ".pdf");
    if (stampHasText) { // every line of the input's text is kept, beside the stamp's
        std::istringstream lines(saidIn);
        for (std::string line; std::getline(lines, line);) {
            line.erase(std::remove(line.begin(), line.end(), '\f'), line.end());
            EXPECT_TRUE(line.empty() || saidOut.find(line) != std::string::npos) << "lost: " << line;
        }
    } else {
        EXPECT_EQ(saidOut, saidIn) << "pages, title or text changed";
    }
    if (!password.empty() || input->doc.bytes.find("/Encrypt") != std::string::npos) {
        const std::string show = "--password=" + q(password) + " --show-encryption --show-encryption-key ";
        EXPECT_EQ(vtest::qpdf(show + q(out)).output, vtest::qpdf(show + q(in)).output);
    }
    const bool signedInput = input->doc.bytes.find("/ByteRange") != std::string::npos && SigningKit::get();
    if (signedInput) {
        const std::string verdicts = signatures(in, password);
        EXPECT_EQ(verdicts.find('X'), std::string::npos) << verdicts;
        EXPECT_EQ(signatures(out, password), verdicts);
    }
    if (has(words, "--incremental") || signedInput) {
        ASSERT_EQ(bytes.compare(0, input->doc.bytes.size(), input->doc.bytes), 0) << "the input's bytes come first";
        const std::string update = bytes.substr(input->doc.bytes.size());
        const bool table = endsWithTable(input->doc.bytes);
        EXPECT_EQ(update.find("\ntrailer\n") != std::string::npos, table) << "an update of the input's kind";
        EXPECT_EQ(update.find("/Type /XRef") != std::string::npos, !table) << "an update of the input's kind";
        EXPECT_NE(update.find("/Prev "), std::string::npos);
        // The file keeps its identity: the update's trailer has the input's /ID.
        const auto idOf = [&](const std::string& pdf) {
            const std::string trailer =
                vtest::qpdf("--password=" + q(password) + " --show-object=trailer " + q(pdf)).output;
            std::smatch id;
            return std::regex_search(trailer, id, std::regex("/ID \\[[^\\]]*\\]")) ? id.str() : "";
        };
        EXPECT_EQ(idOf(out), idOf(work.file(inputName)));
    }
    if (row.stamps.empty())
        return;
    const Expected e = expectedStamps(row, *input, files);
    for (Renderer renderer : {Renderer::Poppler, Renderer::MuPdf}) {
        if (renderer == Renderer::MuPdf && !(row.flags & MuPdf))
            continue;
        const bool reads = input->popplerReads || renderer == Renderer::MuPdf;
        std::string shownIn = readable(work, shown, reads), shownOut = readable(work, output, reads);
        for (std::string* file : {&shownIn, &shownOut}) // the viewers are given the files in the clear
            if (!password.empty() && vtest::qpdf("--password=" + q(password) + " --decrypt " + q(*file) + " " +
                                                 q(*file + ".clear.pdf")).status == 0)
                *file += ".clear.pdf";
        EXPECT_EQ(compareRenders(shownIn, shownOut, e.views, e.pages, e.dpi, e.cropBox, renderer), "")
            << (renderer == Renderer::MuPdf ? "mutool" : "pdftoppm");
    }
}

class EndToEnd : public testing::TestWithParam<Row> {};

TEST_P(EndToEnd, Runs)
{
    const Row& row = GetParam();
    const std::vector<std::string> words = split(row.args);
    Workspace work;
    Files files;
    for (const std::string& file : row.files) {
        const std::string problem = makeFile(work, file, files);
        if (problem.rfind("skip: ", 0) == 0)
            GTEST_SKIP() << problem;
        ASSERT_EQ(problem, "") << file;
    }
    if (row.status != 0 && !vtest::fileExists(work.file("out.pdf")))
        work.write("out.pdf", "%PDF-1.4\nan earlier result\n");
    const auto before = snapshot(work.path());
    const auto start = std::chrono::steady_clock::now();
    const Result run = runProgram(work, row);
    EXPECT_TRUE(!(row.flags & Quick) || std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    EXPECT_EQ(run.status, row.status) << run.output;
    std::string joined;
    for (const std::string& text : row.says) {
        joined += text;
        EXPECT_TRUE(row.flags & Exact || run.output.find(text) != std::string::npos) << text << "\nnot in:\n" << run.output;
    }
    EXPECT_TRUE(!(row.flags & Exact) || run.output == joined) << "said:\n" << run.output << "\ninstead of:\n" << joined;

    std::set<std::string> made(row.made.begin(), row.made.end());
    if (row.made.empty() && row.status == 0 && !valueOf(words, "-o").empty())
        made.insert(valueOf(words, "-o"));
    made.erase("");
    const auto after = snapshot(work.path());
    for (const auto& [name, what] : after) {
        if (!made.count(name) && name != "r.json") {
            EXPECT_EQ(before.count(name) ? before.at(name) : "(new)", what) << name << " changed";
        }
    }
    for (const auto& [name, what] : before)
        EXPECT_TRUE(after.count(name)) << name << " is gone";
    const std::string folder = valueOf(words, "-f");
    for (const std::string& name : made) {
        EXPECT_TRUE(after.count(name)) << name << " was not written";
        if (after.count(name) && after.at(name) != "folder" && name.size() > 4 && name.substr(name.size() - 4) == ".pdf") {
            // A list run's output mirrors its input below the folder.
            const bool listed = !folder.empty() && name.compare(0, folder.size() + 1, folder + "/") == 0;
            checkOutput(work, row, name, listed ? name.substr(folder.size() + 1) : valueOf(words, "-i"), files);
        }
    }
    if (!row.report.empty()) {
        const std::vector<ReportEntry> report = readReport(work.file("r.json"));
        ASSERT_EQ(report.size(), row.report.size()) << run.output;
        for (size_t i = 0; i < report.size(); ++i)
            EXPECT_EQ(report[i].summary().substr(0, row.report[i].size()), row.report[i]);
    }
}

std::vector<Row> rows(std::vector<Row> table)
{
#ifdef VELLICO_WINDOWS_EXE
    const auto skipped = [](const Row& row) { return !(row.flags & (Win | WinOnly)); };
#else
    const auto skipped = [](const Row& row) { return (row.flags & WinOnly) != 0; };
#endif
    table.erase(std::remove_if(table.begin(), table.end(), skipped), table.end());
    return table;
}
const auto kRowName = [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); };

// ---- The rows ----

const std::string B = banner();
const std::string kStamp = "20,10,96,48";
const std::vector<std::string> kIn = {"in.pdf=plain 2"};
std::vector<std::string> in(const std::string& maker) { return {"in.pdf=" + maker}; }
std::vector<std::string> operator+(std::vector<std::string> files, const std::vector<std::string>& more)
{
    files.insert(files.end(), more.begin(), more.end());
    return files;
}
std::string stamp(const std::string& options = "") { return "-iin.pdf -oout.pdf -jstamp.jpg " + options; }
std::string opened(const std::string& in) { return "Input file: '" + in + "'"; }
std::string done(const std::string& in, const std::string& out, const std::string& image = "stamp.jpg", int dots = 0)
{
    return opened(in) + ", image file: '" + image + "', output file: '" + out + "'\nProcessing" + std::string(dots, '.') +
           "\nDone.\n";
}
// A one-pass run that repaired what `warnings` say, one line each.
std::string warned(const std::string& warnings)
{
    return opened("in.pdf") + ", image file: 'stamp.jpg', output file: 'out.pdf'\nProcessing\nWarning: " + warnings + "\nDone.\n";
}
std::string marksDone(const std::string& in, const std::string& out)
{
    return opened(in) + ", output file: '" + out + "'\n\nDone.\n";
}
std::string openError(const std::string& in) { return "\nInput file open error: '" + in + "' (No such file or directory)\n"; }
std::string isInput(const std::string& out) { return B + opened("in.pdf") + "\nOutput file is the input file: '" + out + "'\n"; }

const std::string kUsage =
    B +
    "Parameters:\n-i<FILENAME> input filename\n-o<OUTPUT filename> output filename\n-j<IMAGE filename> JPEG or PNG "
    "image file (a PNG's transparency is kept), or --text <TEXT>\noptional parameters:\n-s(n) page to start processing "
    "at, default at 1\n"
    "-e(n) page to end processing at, default at 99999\n-useend use -send and -eend parameters instead of -s and -e\n"
    "-send(n) page to start processing at from last page backwards, default at 0, NOTE: -s must be 0\n-eend(n) page to "
    "end processing at from last page backwards, default at 0, NOTE: -e must be 0\n-n(n) only stamp page number 1 in "
    "nth e.g. -n2 would stamp pages 1,3,5,7\n-size(n),(n) image size viewed in pdf, the image viewed can be different "
    "to the image's pixel size.\n-align <TEXT> align justified image, can be 'left', 'right' or 'center', left is "
    "default. e.g. right on positions 20,20 would mean image right edge ends at that position.\n-noforce don't force "
    "portrait when landscape, if page view is rotated then calculate as unrotated.\n-pos(n),(n) h,v (horizontal, "
    "vertical) positions on page calculated from bottom left up. e.g. 20,20 would be bottom left corner. use 10,20 as "
    "default. if -1 is specified then center on page size.\n-flipv flips vertical positions so 20,20 would be top left "
    "calculated from top of page.\n-fliph flips horizontal positions so 20,20 would be bottom right from right edge of "
    "page.\n-opacity(n) opacity of the image in percent (transparency), e.g. 1-100%, default -opactity100\n-crop_marks "
    "adds crop mark images to pdf\n-trim_marks adds crop mark images to pdf\n--incremental appends the stamp to the "
    "input as an incremental update (signed files always are)\n--remove ID write the output without the stamps of id "
    "ID "
    "(again for more ids; no -j): signed files get back the bytes they had before, where the stamps were their last "
    "update\n--remove-all write the output without any of the stamps Vellico wrote (no -j)\n--replace take the stamps "
    "of "
    "this run's --id off before stamping, so that running again does not stamp twice\n--layer NAME put the stamp in a "
    "layer (optional content) of that name, which viewers can hide\n--print-only the stamp is printed but not shown on "
    "screen (in a layer)\n--screen-only the stamp is shown on screen but not printed (in a layer)\n--annotation adds "
    "the stamp as a "
    "stamp annotation "
    "instead of page content\n--underlay draw the stamp before the page's content, which then lies over it (not with "
    "--annotation)\n--blend MODE draw the stamp with blend mode multiply or darken: on white paper it looks like an "
    "underlay, yet a scan or a white background cannot hide it\n--id NAME the stamp's id, by which it is found again "
    "(letters, digits, '-', '_' and '.'), default stamp\n--stamp-page N the page of a PDF stamp file (-j) to place, "
    "default 1; 'each': input page i takes stamp page i, the last one for the pages past it\n--rotate DEG turn the "
    "stamp DEG degrees counter-clockwise about the point -pos names\n"
    "--diagonal the stamp across the page, centred on its bottom-left to top-right diagonal and as large as fits "
    "(instead of -pos, -size and --rotate)\n--outline the text's letters outlined instead of filled\n--as-paths the "
    "text's letters drawn as shapes: no font is embedded, and no text can be copied or extracted\n--text <TEXT> stamp "
    "TEXT instead of an image (no -j): {page} is the page's number, "
    "{pages} the page count, {label} the page's label, {file} the input's name, {date} or {date:%d.%m.%Y} the date, "
    "{bates} the Bates number, \\n a new line\n--date YYYY-MM-DD the date the text's {date} shows, instead of today's\n"
    "--font FILE|FAMILY the text's font: a TrueType or OpenType file, or an installed family (embedded as a subset)\n"
    "--font-index N the face of a font collection (.ttc), default 0\n--font-size PT the text's size in points, default "
    "12\n--color RRGGBB the text's colour, default 000000 (black)\n"
    "--bates-start N the first page's {bates} number, default 1; a list's files continue the count\n--bates-digits D "
    "{bates} padded with zeros to D digits, default 6\n--bates-prefix P text before the {bates} number\n--bates-suffix "
    "S text after the {bates} number\n--password <PW> or --password=<PW> opens a file that needs a password (the "
    "owner's lifts "
    "its permissions)\n--password-file <FILE> the same, from the first line of FILE ('-' for standard input)\n"
    "--keep-going with a list: a file that fails is reported, and the run goes on with the next\n--jobs N with a list: "
    "stamp N files at once, each in a worker process of its own; 0 = one per core\n--timeout SECONDS stop a file that "
    "takes longer, and report it as failed\n--memory-limit MB stop a file whose worker needs more memory, and report "
    "it "
    "as failed\n--report FILE write a report, one JSON line per file (- for standard output)\n--skip-existing with a "
    "list: leave an output that is there already alone, so a stopped run goes on where it stopped\n--shard K/N with "
    "a list: stamp only the K-th of N shares of it (the lines whose position from 0 is K-1 modulo N); auto or auto/N: "
    "K (and N) from Slurm, Kubernetes or AWS Batch\n--write-plan FILE with a list: read every file once and write "
    "its pages and Bates range to FILE; stamp nothing (no -f or -j needed)\n--plan FILE with a list: take each file's "
    "Bates range from the plan --write-plan wrote, so shards number as one run\n--list print the "
    "stamps each file carries: id, kind, content, underlay or annotation, and where (no -o, -f or -j)\n--dry-run load "
    "each file "
    "and print where the stamp would go on each page; write nothing\n--null (or -0) the list's names end with NUL "
    "bytes "
    "(find -print0); -i- reads the list from standard input\n\r\nExample usage:-\r\nvellico -ifilein.pdf -ofileout.pdf "
    "-jimage.jpg\r\nvellico -ifilein.pdf -foutputfolder -jimage.jpg\r\nvellico -ifilein.pdf -ofileout.pdf -jimage.jpg "
    "-s1 -e1 -size100,100\nsee examples folder for all parameters usage in test.bat, list.bat and list.bat\r\nNOTE: "
    "first 3 parameters have to be -i -o -j or -i -f -j\r\nIf your filename has spaces in it then use double quotes "
    "around the filename, e.g. \"c:\\my test\\test file.pdf\"\n\nWildcards * are not permitted, if you want to process "
    "many files then do: dir /B *.pdf > list.txt, then vellico -ilist.txt -fc:\\output -jimage.jpg\n\r\n\r\n";
const std::string kWildcards = "\nError! Wildcards * are not permitted, if you want to process many files then do: "
                               "dir /B *.pdf > list.txt, then vellico -ilist.txt -fc:\\test\n\n";
const std::string kNoFolder = B + "please specify -f for output folder, e.g. -fc:\\test\n";
const std::string kVersion = "vellico " + projectVersion() + "\n", kHelp = " (vellico --help lists the options)\n";
const std::string kNeedsPassword = "PDF file is encrypted: it needs its password, given with --password or --password-file";
const std::string kNoFrame = "\nInput image file is not a JPEG image (no frame header found): ";
// Names that make every path of one list run longer than 300 characters.
const std::string kDir(120, 'd'), kLong = kDir + "/" + std::string(200, 'n') + ".pdf", kFolder(180, 'f');
const std::string kList = kDir + "/" + std::string(200, 'l') + ".txt", kJpeg = kDir + "/" + std::string(200, 'j') + ".jpg";
// The program run with `options` while a viewer (hold_file.exe, beside the Windows program) holds out.pdf open.
std::string whileHeld(const std::string& options)
{
    return "set -- $V && { (while [ ! -e release ]; do sleep 0.1; done) | $1 \"$(dirname \"$2\")/hold_file.exe\" out.pdf > held & } && "
           "for i in $(seq 600); do grep -q held held && break; sleep 0.1; done; $V " + stamp(options) +
           " </dev/null; s=$?; touch release; wait; rm held release; exit $s";
}
const std::string kDeep = [] {
    std::string folder;
    for (int i = 0; i < 12; ++i)
        folder += "a-folder-with-a-long-name-" + std::to_string(i) + "/";
    return folder;
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, EndToEnd, testing::ValuesIn(rows({
    {"Usage", {}, "", 0, {kUsage}, "", Exact | Win},
    {"Help", {}, "--help", 0, {kUsage}, "", Exact | Win},
    {"HelpShort", {}, "-h", 0, {kUsage}, "", Exact},
    // What follows is not looked at, wildcards included.
    {"HelpBeforeOtherArguments", {}, "--help -i*.pdf -oout.pdf", 0, {kUsage}, "", Exact, {}, {""}},
    {"Version", {}, "--version", 0, {kVersion}, "", Exact | Win},
    // After the first argument a short one is an unknown option, ignored as before; a long one stops the run.
    {"HelpAfterTheFirstThree", kIn, stamp("-h"), 0, {B + "Warning: unknown option '-h' ignored\n" + done("in.pdf", "out.pdf")}, "", Exact},
    {"MistypedLongOptionWritesNothing", kIn, stamp("--dryrun -s2 --version"), 1, {B + "Unknown option: '--dryrun'" + kHelp}, "", Exact},
    // One dash: its first two letters are taken for -i's, as before.
    {"HelpWordWithOneDash", {}, "-help", 1, {B + "Error parameter\n"}, "", Exact},
    {"OneArgument", kIn, "-iin.pdf", 1, {B + "Error parameter\n"}, "", Exact},
    {"InputNotFirst", kIn, "-xin.pdf -oout.pdf -jstamp.jpg", 1, {B + "-i parameter missing\n"}, "", Exact},
    {"OutputNotSecond", kIn, "-iin.pdf -jstamp.jpg -oout.pdf", 1, {B + "-o parameter missing\n"}, "", Exact},
    {"NoJpeg", kIn, "-iin.pdf -oout.pdf", 1, {B + "-j parameter missing\n"}, "", Exact},
    {"JpegNotThird", kIn, "-iin.pdf -oout.pdf -s2 -jstamp.jpg", 1, {B + "-j parameter missing\n"}, "", Exact},
    {"BareArgument", kIn, stamp("-s2 a.pdf"), 1, {B + "Error in parameter: a.pdf\n"}, "", Exact},
    {"EmptyArgument", kIn, stamp("''"), 1, {B + "Error in parameter: \n"}, "", Exact},
    {"AnnotationWithMarks", kIn, stamp("--annotation -trim_marks"), 1,
     {B + "--annotation does not go with -crop_marks or -trim_marks: marks are page content\n"}, "", Exact},
    // Values after a space: the same runs as joined; lone options stay as they were read before.
    {"ValuesAfterASpace", kIn, "-i in.pdf -o out.pdf -j stamp.jpg -s 2 -e 5", 0, {B + done("in.pdf", "out.pdf")}, kStamp + "@2", Exact},
    {"ListAfterASpace", {"a.pdf=plain 2", "list.txt=text a.pdf\n"}, "-i list.txt -f out -j stamp.jpg -s 2", 0,
     {B + done("a.pdf", "out/a.pdf")}, "", Exact, {}, {"out", "out/a.pdf"}},
    {"LoneInputBeforeAnOption", kIn, "-i -oout.pdf -jstamp.jpg", 1, {B + opened("") + openError("")}, "", Exact},
    {"LoneOptionBeforeAnOption", kIn, stamp("-s -e1"), 0, {B + "Warning: unknown option '-s' ignored\n" + done("in.pdf", "out.pdf")},
     "", Exact},
    {"AlignTakesItsWordWhole", kIn, stamp("-align -s 2"), 1, {B + "Warning: -align '-s' is not left, right or center: it aligns right\n"
     "Error in parameter: 2\n"}, "", Exact},
    {"EmptyValueAfterASpace", kIn, stamp("-s ''"), 1, {B + "Warning: unknown option '-s' ignored\nError in parameter: \n"}, "", Exact},
    // Wildcards are refused wherever they stand.
    {"WildcardInInput", {}, "-i*.pdf -oout.pdf -jstamp.jpg", 1, {kWildcards}, "", Exact | Win},
    {"WildcardInOutput", kIn, "-iin.pdf -o*.pdf -jstamp.jpg", 1, {kWildcards}, "", Exact},
    {"WildcardInAnOption", kIn, stamp("-s2 -x*"), 1, {kWildcards}, "", Exact},
    // One "." per six pages met, selected or not.
    {"SixPages", in("plain 6"), stamp("-e3"), 0, {B + done("in.pdf", "out.pdf", "stamp.jpg", 1)}, "", Exact},
    {"CountingFromTheEndParsesFirst", kIn, stamp("-s0 -useend"), 0, {B + "Parsing file: in.pdf\n" + done("in.pdf", "out.pdf")}, "", Exact},
    // Through a link, one pass or eight: the link stays, the file it names is replaced.
    {"OutputThroughALink", {"in.pdf=plain 2", "target.pdf=text old\n", "link.pdf=link target.pdf"}, "-iin.pdf -olink.pdf -jstamp.jpg", 0,
     {B + done("in.pdf", "link.pdf")}, "", Exact, {}, {"target.pdf"}},
    {"MissingInput", {}, "-imissing.pdf -oout.pdf -jstamp.jpg", 1, {B + opened("missing.pdf") + openError("missing.pdf")}, "", Exact | Win},
    {"MissingInputCountedFromTheEnd", {}, "-imissing.pdf -oout.pdf -jstamp.jpg -s0 -useend", 1,
     {B + "Problem with -send or -eend parameters/processing.\n"}, "", Exact},
    {"MissingImage", kIn, "-iin.pdf -oout.pdf -jmissing.jpg", 1, {B + opened("in.pdf") + "\nInput image file error: 'missing.jpg'\n"}, "",
     Exact | Win},
    {"EncryptedInline", in("doc encrypted-inline"), stamp(), 1, {B + opened("in.pdf") + "\n" + kNeedsPassword + "\n"}, "", Exact},
    // Rebuilt from the objects it still holds; the page that was cut off is left out, and said so.
    {"Truncated", {"whole.pdf=plain 2", "in.pdf=cut whole.pdf half"}, stamp(), 0, {B + warned("cross-reference data damaged (no "
     "startxref); rebuilt from 10 objects found in the file\nWarning: object 10 could not be read; left out\nWarning: page tree entry "
     "11 is missing or loops back; skipped")}, "", Exact | Unreadable},
    {"PageTreeKidMissing", in("doc broken-tree"), stamp(), 0, {B + warned("page tree entry 3 is missing or loops back; skipped")}, "",
     Exact | QpdfAsInput},
    {"EndlessPageTree", in("doc endless-tree"), stamp(), 1, {B + opened("in.pdf") + ", image file: 'stamp.jpg', output file: 'out.pdf'"
     "\nProcessing\nPDF file was damaged\n"}, "", Exact},
    {"OutputIsAFolder", {"in.pdf=plain 2", "folder.pdf=dir"}, "-iin.pdf -ofolder.pdf -jstamp.jpg", 1,
     {B + opened("in.pdf") + "\nOutput file is not a regular file: 'folder.pdf'\n"}, "", Exact},
    {"OutputIsTheInput", kIn, "-iin.pdf -oin.pdf -jstamp.jpg", 1, {isInput("in.pdf")}, "", Exact},
    {"OutputLinksToTheInput", {"in.pdf=plain 2", "link.pdf=link in.pdf"}, "-iin.pdf -olink.pdf -jstamp.jpg", 1, {isInput("link.pdf")}, "", Exact},
    // Windows names ignore case and take either slash.
    {"OutputIsTheInputInCapitals", kIn, "-iin.pdf -oIN.PDF -jstamp.jpg", 1, {isInput("IN.PDF")}, "", Exact | WinOnly},
    {"MarksOutputIsTheInputWithABackslash", kIn, "-iin.pdf -o.\\in.pdf -jstamp.jpg -crop_marks", 1, {isInput(".\\in.pdf")}, "",
     Exact | WinOnly},
    // Intermediates are private files: names like theirs are the user's.
    {"MarksInputNamedLikeAnIntermediate", {"x.pdf-3=plain 2"}, "-ix.pdf-3 -ox.pdf -jstamp.jpg -trim_marks", 0,
     {B + marksDone("x.pdf-3", "x.pdf")}, "", Exact},
    // The images are inputs too, by any name.
    {"OutputIsTheJpeg", kIn, "-iin.pdf -ostamp.jpg -jstamp.jpg", 1, {isInput("stamp.jpg")}, "", Exact},
    {"MarksOutputIsAMarkImage", kIn, "-iin.pdf -o./CropmarkVertical.jpg -jstamp.jpg -crop_marks", 1, {isInput("./CropmarkVertical.jpg")}, "",
     Exact},
    // Refused before the output is begun.
    {"TruncatedJpeg", {"in.pdf=plain 2", "cut.jpg=cut stamp.jpg -40"}, "-iin.pdf -oout.pdf -jcut.jpg", 1, {B + opened("in.pdf") +
     "\nInput image file error (the data ends before the end-of-image marker): 'cut.jpg'\n"}, "", Exact},
    {"JpegWithBytesAfterItsEnd", {"in.pdf=plain 2", "more.jpg=cut stamp.jpg all bytes after the end"}, "-iin.pdf -oout.pdf -jmore.jpg", 0,
     {B + done("in.pdf", "out.pdf", "more.jpg")}, kStamp, Exact},
    // The run goes on without them.
    {"UnknownOptionsWarned", kIn, stamp("-opactiy50 -s2 -crop_mark"), 0, {B + "Warning: unknown option '-opactiy50' ignored\nWarning: "
     "unknown option '-crop_mark' ignored\n" + done("in.pdf", "out.pdf")}, kStamp + "@2", Exact},
    // Four passes are done when the fifth fails: their files go too. The current folder's mark image is read even when broken.
    {"MarksPassFails", {"in.pdf=plain 2", "CropmarkVertical.jpg=cut stamp.jpg 20 \xFF\xD9"}, stamp("-trim_marks"), 1,
     {B + opened("in.pdf") + kNoFrame + "'CropmarkVertical.jpg'\n"}, "", Exact},
    // A list stops at its first failing line.
    {"ListStopsAtAFailure", {"a.pdf=plain 2", "c.pdf=plain 2", "list.txt=text a.pdf\nmissing.pdf\nc.pdf\n"}, "-ilist.txt -fout -jstamp.jpg",
     1, {B + done("a.pdf", "out/a.pdf") + opened("missing.pdf") + openError("missing.pdf")}, "", Exact, {}, {"out", "out/a.pdf"}},
    {"ListCrLfWithoutAFinalLineEnd", {"a.pdf=plain 2", "c.pdf=plain 2", "list.txt=text a.pdf\r\nc.pdf"}, "-ilist.txt -fout -jstamp.jpg -s2",
     0, {B + done("a.pdf", "out/a.pdf") + done("c.pdf", "out/c.pdf")}, kStamp + "@2", Exact, {}, {"out", "out/a.pdf", "out/c.pdf"}},
    // Empty and blank lines name no file; a list of none says so.
    {"ListBlankLinesSkipped", {"a.pdf=plain 2", "c.pdf=plain 2", "list.txt=text a.pdf\n\n \t\r\nc.pdf\n\n"}, "-ilist.txt -fout -jstamp.jpg", 0,
     {B + done("a.pdf", "out/a.pdf") + done("c.pdf", "out/c.pdf")}, "", Exact, {}, {"out", "out/a.pdf", "out/c.pdf"}},
    {"ListOfBlankLines", {"list.txt=text \n  \r\n"}, "-ilist.txt -fout -jstamp.jpg", 1, {B + "The list names no file: 'list.txt'\n"}, "",
     Exact, {}, {"out"}},
    {"ListWithoutFolder", {"list.txt=text a.pdf\n"}, "-ilist.txt -oout.pdf -jstamp.jpg", 1, {kNoFolder}, "", Exact | Win},
    {"ListMissing", {}, "-imissing.txt -fout -jstamp.jpg", 1, {B + "Unable to open file list: 'missing.txt'\r\n"}, "", Exact | Win, {}, {"out"}},
    // Only the ending decides; the first two characters are dropped whatever they are.
    {"ListAfterAnyOption", {"a.pdf=plain 2", "list.txt=text a.pdf\n"}, "-xlist.txt -fout -jstamp.jpg", 0, {B + done("a.pdf", "out/a.pdf")},
     "", Exact, {}, {"out", "out/a.pdf"}},
    // An empty folder is the current one (not "/a.pdf").
    {"ListEmptyFolder", {"a.pdf=plain 2", "list.txt=text a.pdf\n"}, "-ilist.txt -f -jstamp.jpg", 1,
     {B + opened("a.pdf") + "\nOutput file is the input file: 'a.pdf'\n"}, "", Exact},
    {"ListPathsLongerThan300", {"a.pdf=plain 2", kLong + "=plain 1", kJpeg + "=cut stamp.jpg all", kList + "=text a.pdf\n" + kLong + "\n"},
     "-i" + kList + " -f" + kFolder + " -j" + kJpeg, 0, {B + done("a.pdf", kFolder + "/a.pdf", kJpeg) + done(kLong, kFolder + "/" + kLong, kJpeg)},
     "", Exact, {}, {kFolder, kFolder + "/a.pdf", kFolder + "/" + kDir, kFolder + "/" + kLong}},
    // Names reach the console as the UTF-8 they were given in, in a folder deeper than Windows' 260 characters,
    // by a relative name or an absolute one with a drive letter.
    {"NamesInAnyLanguageLongerThan260", {kDeep + "Prüfung.pdf=plain 2", kDeep + "印章.jpg=cut stamp.jpg all"},
     "-i" + kDeep + "Prüfung.pdf -o" + kDeep + "合同.pdf -j" + kDeep + "印章.jpg", 0,
     {B + done(kDeep + "Prüfung.pdf", kDeep + "合同.pdf", kDeep + "印章.jpg")}, kStamp, Exact | Win},
    {"ListInAFolderLongerThan260ByItsAbsoluteName", {"in.pdf=plain 2", kDeep + "list.txt=text in.pdf\r\n"},
     "d=$(printf 'Z:%s/%s' \"$PWD\" '" + kDeep + "' | tr / '\\\\') && $V \"-i${d}list.txt\" \"-f${d}out\" -jstamp.jpg", 0,
     {"out\\in.pdf'\nProcessing\nDone.\n"}, "", Shell | WinOnly, {}, {kDeep + "out", kDeep + "out/in.pdf"}},
    // Links planted where intermediates were once written are not followed, and the user's file there stays.
    {"MarksLeaveLinksNamedLikeIntermediates", {"in.pdf=plain 2", "victim.txt=text precious\n", "out.pdf-0=link new.pdf",
     "out.pdf-1=link victim.txt", "out.pdf-5=text mine\n"}, stamp("-trim_marks"), 0, {B + marksDone("in.pdf", "out.pdf")}, "", Exact},
    // An output name as long as the file system takes: the temporary name beside it is shortened to fit.
    {"LongestOutputName", kIn, "-iin.pdf -o" + std::string(251, 'n') + ".pdf -jstamp.jpg", 0, {}, kStamp},
    // Regression: Windows gives every file the inode 0, and marks runs took an existing output for the input.
    {"ReplacesAnEarlierOutput", {"in.pdf=plain 2", "out.pdf=text an earlier output\n"}, stamp(), 0, {B + done("in.pdf", "out.pdf")},
     kStamp, Exact | Win},
    {"MarksReplaceAnEarlierOutput", {"in.pdf=plain 2", "out.pdf=text an earlier output\n"}, stamp("-crop_marks"), 0,
     {B + marksDone("in.pdf", "out.pdf")}, "", Exact | Win},
    // A viewer holding the output open: a clear message, the held file as it was, and nothing left behind.
    {"HeldOutput", kIn, whileHeld("-s1"), 1, {"\nOutput file is open in another program: 'out.pdf'\n"}, "", Shell | WinOnly},
    {"MarksHeldOutput", kIn, whileHeld("-crop_marks"), 1, {"\nOutput file is open in another program: 'out.pdf'\n"}, "", Shell | WinOnly},
    // As the zip lays them out: the program alone in a folder with the two mark images, run from a folder with none.
    {"MarksReadTheMarkImagesBesideTheProgram", kIn, "set -- $V && mkdir run 'Program Files' && cp \"$2\" 'Program Files/' && cd run && "
     "$1 '../Program Files/vellico.exe' -i../in.pdf -oout.pdf -j../stamp.jpg -crop_marks; cp ../Cropmark*.jpg '../Program Files/' && "
     "$1 '../Program Files/vellico.exe' -i../in.pdf -oout.pdf -j../stamp.jpg -crop_marks", 0,
     {"\nInput image file error: 'CropmarkHorizontal.jpg' is neither in the current folder nor in 'Z:\\", "\\Program Files'\n",
      marksDone("../in.pdf", "out.pdf")}, "", Shell | WinOnly, {}, {"run", "run/out.pdf", "Program Files", "Program Files/vellico.exe",
      "Program Files/CropmarkHorizontal.jpg", "Program Files/CropmarkVertical.jpg"}},
})), kRowName);
// clang-format on

// On the "square" pages (crop boxes 600 x 600, turned 0, 90, 180, 270 and 90 by the tree) a place shows alike on all;
// with -noforce the stamp turns with each page.
const std::vector<std::string> kSquare = in("doc square");
const std::string kTurnedWithThePage = "20,10,96,48;10,484,48,96;484,542,96,48;542,20,48,96;10,484,48,96";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Pages, EndToEnd, testing::ValuesIn(rows({
    // Seven pages that take every path of the page rewrite, in trees of every layout.
    {"Classic", in("doc kinds-classic"), stamp(), 0, {}, kStamp},
    {"TreeWithoutResources", in("doc kinds-bare"), stamp(), 0, {}, kStamp},
    {"IncrementalUpdate", in("doc kinds-update"), stamp(), 0, {}, kStamp},
    {"XrefStreamWithPredictor", in("doc kinds-xrefpng"), stamp(), 0, {}, kStamp},
    {"ObjectStreams", in("doc kinds-objstm"), stamp(), 0, {}, kStamp, MuPdf, {"!/ObjStm"}},
    {"Hybrid", in("doc kinds-hybrid"), stamp(), 0, {}, kStamp},
    {"JunkBeforeHeader", in("doc kinds-junk"), stamp(), 0, {}, kStamp, 0, {"!Some mail gateway"}},
    {"OnlyInheritedResourcesByReference", in("doc inherit-ref"), stamp(), 0, {}, kStamp},
    {"OnlyInheritedInlineResources", in("doc inherit-inline"), stamp(), 0, {}, kStamp},
    // Where the options put the stamp, as the page displays, turned or not.
    {"Defaults", in("doc turned"), stamp(), 0, {}, kStamp, Win},
    {"PositionAndSizeInFractions", in("doc turned"), stamp("-pos-0.5,60.25 -size150.5,40"), 0, {}, "-0.5,60.25,150.5,40"},
    {"OpacityBelow0IsNone", kIn, stamp("-opacity-5"), 0, {}, "", 0, {"/ca 0.00>>"}},
    {"OpacitySaturated", kIn, stamp("-opacity99999999999"), 0, {}, "", 0, {"/ca 1.00>>"}},
    {"AlignAsLastArgumentIsIgnored", in("doc turned"), stamp("-pos60,20 -align"), 0, {}, "60,20,96,48"},
    // Unequal distances show whether a flip swaps them on turned pages.
    {"FlipsAlignedRight", kSquare, stamp("-flipv -fliph -pos130,90 -align right"), 0, {}, "374,510,96,48", MuPdf},
    {"FlipV", kSquare, stamp("-flipv -pos40,90"), 0, {}, "40,510,96,48"},
    {"CentredCenter", kSquare, stamp("-pos-1,-1 -align center"), 0, {}, "252,300,96,48"},
    {"CentredMisspeltAlignsRight", kSquare, stamp("-pos-1,-1 -align centre"), 0,
     {"Warning: -align 'centre' is not left, right or center: it aligns right\n"}, "204,300,96,48"},
    {"NoForce", kSquare, "-iin.pdf -oout.pdf -jblack.jpg -noforce -size96,48", 0, {}, kTurnedWithThePage},
    // -n skips every nth page counted from -s; -useend counts back from the last page.
    {"Start", in("plain 5"), stamp("-s3"), 0, {}, kStamp + "@3,4,5"},
    {"End", in("plain 5"), stamp("-e2"), 0, {}, kStamp + "@1,2"},
    {"StartAfterEnd", in("plain 5"), stamp("-s4 -e2"), 0, {"\nWarning: no page was selected, so nothing was stamped"}, "-"},
    {"EverySecond", in("plain 5"), stamp("-n2"), 0, {}, kStamp + "@1,3,5"},
    {"LastPage", in("plain 5"), stamp("-s0 -e0 -useend"), 0, {}, kStamp + "@5"},
    {"LastThree", in("plain 5"), stamp("-s0 -e0 -useend -send2"), 0, {}, kStamp + "@3,4,5"},
    {"CountedBackAfterASpace", in("plain 5"), "-i in.pdf -o out.pdf -j stamp.jpg -s 0 -e 0 -useend -send 3 -eend 1 -opacity 50", 0, {},
     kStamp + "@2,3,4"},
    // An update appended to the input, in a section of the input's kind.
    {"UpdateOfClassic", in("doc kinds-classic"), stamp("--incremental"), 0, {}, kStamp},
    {"UpdateOfXrefStream", in("doc kinds-xrefpng"), stamp("--incremental"), 0, {}, kStamp},
    {"UpdateOfHybrid", in("doc kinds-hybrid"), stamp("--incremental"), 0, {}, kStamp},
    {"UpdateOfAFileWithAnId", {"clear.pdf=plain 2", "in.pdf=qpdf clear.pdf --static-id"}, stamp("--incremental"), 0, {}, kStamp},
    {"UpdateOfSomePages", in("doc turned"), stamp("--incremental -s2 -e4 -n3"), 0, {}, kStamp + "@3,4"},
    // A stamp annotation shows as the content stamp shows, upright on turned pages.
    {"Annotation", in("doc turned"), stamp("--annotation -pos50,70"), 0, {}, "50,70,96,48", MuPdf},
    {"AnnotationOpacity50InAnUpdate", in("doc kinds-objstm"), stamp("--annotation --incremental -opacity50"), 0, {}, kStamp},
    // Eight marks around the box of each selected page, at its corners on turned pages too.
    {"CropMarks", in("doc marks"), stamp("-s2 -crop_marks"), 0, {}, "marks crop@2,3,4", Win},
    {"TrimMarks", in("doc marks"), stamp("-s2 -trim_marks"), 0, {}, "marks trim@2,3,4"},
    {"TrimMarksOfPagesAlikeButTheirTrimBoxes", in("doc trims"), stamp("-trim_marks"), 0, {}, "marks trim"},
    // The first pass closes what the page leaves open; later ones find the initial state.
    {"MarksOverOpenStates", in("doc state-marks"), stamp("-trim_marks"), 0, {}, "marks trim", MuPdf},
})), kRowName);
// clang-format on

// ---- PNG and turned JPEG stamps, in tagged and PDF/A files ----

// Each stamp of these rows stands here on the page as displayed.
std::string placed(const std::string& image, const std::string& more = "")
{
    return "-iin.pdf -oout.pdf -j" + image + " -pos100,100 -size192,96 " + more;
}
const std::string kPlaced = "100,100,192,96";
std::vector<std::string> png(const std::string& name, const std::string& page = "plain 1")
{
    return {"in.pdf=" + page, "stamp.png=png " + name};
}
std::vector<std::string> pngEncrypted(const std::string& name)
{
    return {"clear.pdf=plain 1", "in.pdf=qpdf clear.pdf --encrypt '' owner 256 --", "stamp.png=png " + name};
}
std::vector<std::string> turnedJpeg(int orientation, const std::string& page = "plain 1")
{
    return {"in.pdf=" + page, "turned.jpg=exif " + std::to_string(orientation)};
}
// One warning, between "Processing" and "Done.", naming what breaks the claim.
std::string breaks(int part, const std::string& what)
{
    const std::string claim = "PDF/A-" + std::to_string(part);
    return "\nWarning: the input claims " + claim + ", and the stamp breaks it with " + what + ": the output is no longer " +
           claim + "\nDone.\n";
}
const std::string kOpacity = "transparency (opacity below 100)";
const std::string kNoIntent = "DeviceGray, and the file has no output intent";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Images, EndToEnd, testing::ValuesIn(rows({
    // One row per way a PNG is written: its own data with a predictor, a soft mask, a colour key, a palette.
    {"PngOpaque", png("rgb-8"), placed("stamp.png"), 0, {}, kPlaced, MuPdf},
    {"PngAlpha16InterlacedEncrypted", pngEncrypted("rgb-alpha-16-interlaced"), placed("stamp.png"), 0, {}, kPlaced, MuPdf | Win},
    {"PngGreyAlphaOnATurnedPage", png("grey-alpha-8", "doc one-turned"), placed("stamp.png"), 0, {}, kPlaced, MuPdf},
    {"PngGreyKey16Encrypted", pngEncrypted("grey-key-16"), placed("stamp.png"), 0, {}, kPlaced, MuPdf | Win},
    {"PngPaletteIcc", png("palette-4-icc"), placed("stamp.png"), 0, {}, kPlaced, MuPdf},
    {"PngPaletteAlphaInterlaced", pngEncrypted("palette-alpha-8-interlaced"), placed("stamp.png"), 0, {}, kPlaced, MuPdf | Win},
    {"PngAlphaAtHalfOpacity", png("rgb-alpha-8"), placed("stamp.png", "-opacity50"), 0, {}, kPlaced, MuPdf},
    // A list run shares one PNG between its files.
    {"PngListRun", {"a.pdf=plain 1", "b.pdf=doc one-turned", "list.txt=text a.pdf\nb.pdf\n", "stamp.png=png rgb-alpha-8"},
     "-ilist.txt -fout -jstamp.png -pos100,100 -size192,96", 0, {}, kPlaced, MuPdf, {}, {"out", "out/a.pdf", "out/b.pdf"}},
    // A damaged PNG is refused before any output is begun, in libpng's words.
    {"PngCutInTheImageData", png("rgb-8") + std::vector<std::string>{"stamp.png=cut stamp.png half"}, placed("stamp.png"), 1,
     {"\nInput image file error (the data ends before the IEND chunk): 'stamp.png'\n"}},
    // The chunk's CRC is right: only decoding finds the damage.
    {"PngCompressedDataDamaged", png("rgb-8") + std::vector<std::string>{"stamp.png=edit stamp.png png-data-damaged"}, placed("stamp.png"),
     1, {"\nInput image file error (the compressed image data is damaged): 'stamp.png'\n"}},
    {"PngWrongCrc", png("rgb-8") + std::vector<std::string>{"stamp.png=edit stamp.png png-crc-wrong"}, placed("stamp.png"), 1,
     {"\nInput image file error (", "): 'stamp.png'\n"}},
    // A JPEG's EXIF orientation turns it as photo viewers do; the options measure the box as displayed.
    {"JpegQuarterTurnSized", turnedJpeg(6), "-iin.pdf -oout.pdf -jturned.jpg -pos100,100 -size60,120", 0, {}, "100,100,60,120 up rev", MuPdf},
    {"JpegTurnedAlignedRight", turnedJpeg(8), "-iin.pdf -oout.pdf -jturned.jpg -pos100,100 -align right", 0, {}, "52,100,48,96 up", MuPdf | Win},
    // An image from a pipe is read whole once, for the run and its workers, and shown by the name given.
    {"ImageFromAPipe", kIn, "cat stamp.jpg | $V -iin.pdf -oout.pdf -j/dev/stdin", 0, {"image file: '/dev/stdin'"}, kStamp, Shell, {}, {"out.pdf"}},
    {"ImageFromAPipeForWorkers", {"a.pdf=plain 1", "b.pdf=plain 1", "list.txt=text a.pdf\nb.pdf\n"},
     "cat stamp.jpg | $V -ilist.txt -fout -j/dev/stdin --jobs 2", 0, {"image file: '/dev/stdin', output file: 'out/b.pdf'"}, kStamp, Shell, {},
     {"out", "out/a.pdf", "out/b.pdf"}},
    // In a tagged file the stamp is an artifact, the marks printer's marks.
    {"Tagged", in("doc tagged"), stamp(), 0, {}, "", 0, {"\nq\n/Artifact <</Type /Pagination /Subtype /Watermark>> BDC\n"}},
    {"TaggedMarks", in("doc tagged"), stamp("-crop_marks"), 0, {}, "", 0, {"\nq\n/Artifact <</Type /Page>> BDC\n"}},
    // A file that claims PDF/A, stamped with what its part does not allow: one warning naming what.
    {"PdfaAllowed", in("pdfa 1 3"), stamp(), 0, {B + done("in.pdf", "out.pdf")}, "", Exact},
    {"PdfaOpacity", in("pdfa 1 3"), stamp("-opacity50"), 0, {"Processing" + breaks(1, kOpacity)}},
    {"PdfaSoftMask", {"in.pdf=pdfa 1 3", "stamp.png=png rgb-alpha-8"}, "-iin.pdf -oout.pdf -jstamp.png", 0,
     {"Processing" + breaks(1, "transparency (a soft mask)")}},
    {"PdfaSoftMaskAndOpacityAnd16Bits", {"in.pdf=pdfa 1 3", "stamp.png=png rgb-alpha-16"}, "-iin.pdf -oout.pdf -jstamp.png -opacity50", 0,
     {"Processing" + breaks(1, "transparency (opacity below 100, a soft mask), 16-bit samples")}},
    // A colour key is no transparency to PDF/A-1; part 2 allows transparency.
    {"PdfaColourKey", {"in.pdf=pdfa 1 3", "stamp.png=png rgb-key-8"}, "-iin.pdf -oout.pdf -jstamp.png", 0,
     {B + done("in.pdf", "out.pdf", "stamp.png")}, "", Exact},
    {"PdfaTransparencyInPart2", {"in.pdf=pdfa 2 3", "stamp.png=png rgb-alpha-16"}, "-iin.pdf -oout.pdf -jstamp.png -opacity50", 0,
     {B + done("in.pdf", "out.pdf", "stamp.png")}, "", Exact},
    {"PdfaRgbWithCmykIntent", in("pdfa 2 4"), stamp(), 0, {"Processing" + breaks(2, "DeviceRGB, which the file's output intent does not cover")}},
    {"PdfaEncryptedMetadata", {"clear.pdf=pdfa 1 3 flate", "in.pdf=qpdf clear.pdf --encrypt '' o 128 --use-aes=y --"}, stamp("-opacity50"),
     0, {"Processing" + breaks(1, kOpacity)}},
    // Eight passes over one document, the marks grey: said once.
    {"PdfaMarksRun", in("pdfa 1 0"), stamp("-crop_marks"), 0, {B + opened("in.pdf") + ", output file: 'out.pdf'\n" + breaks(1, kNoIntent)},
     "", Exact},
    {"PdfaBlendMode", in("pdfa 1 3"), stamp("--blend darken -opacity50"), 0,
     {"Processing" + breaks(1, "transparency (opacity below 100, blend mode Darken)")}},
    // An opaque white page hides an underlay, and not a stamp multiplied over it; a page that leaves the place
    // unpainted shows both.
    {"UnderlayUnderAnOpaquePage", in("content plain 1 g 0 0 612 792 re f"), stamp("--underlay"), 0, {}, "-", MuPdf,
     {"/Underlay true", "stream\nq\n/GS"}},
    {"MultiplyOverAnOpaquePage", in("content plain 1 g 0 0 612 792 re f"), stamp("--blend multiply"), 0, {}, kStamp, MuPdf,
     {"/ExtGState/ca 1.00/BM/Multiply>>"}},
    {"UnderlayOnAPlainPage", kIn, stamp("--underlay"), 0, {}, kStamp, MuPdf},
    {"MultiplyOnAPlainPage", kIn, stamp("--blend multiply"), 0, {}, kStamp, MuPdf},
    // The annotation's appearance blends with the page too; tagged files mark an underlay as any stamp.
    {"DarkenAnnotation", kIn, stamp("--annotation --blend darken"), 0, {}, kStamp, MuPdf, {"/BM/Darken"}},
    {"TaggedUnderlayInALayer", in("doc tagged"), stamp("--underlay --layer L"), 0, {}, kStamp, MuPdf,
     {"stream\nq\n/Artifact <</Type /Pagination /Subtype /Watermark>> BDC\n/OC /OC"}},
    {"MarksUnderlay", in("doc state-marks"), stamp("-trim_marks --underlay"), 0, {}, "marks trim", MuPdf, {"/Kind /Marks"}},
})), kRowName);
// clang-format on

// ---- A page of a PDF as the stamp ----

std::vector<std::string> band(const std::string& doc, const std::string& page = "plain 1")
{
    return {"in.pdf=" + page, "band.pdf=doc band-" + doc};
}
std::string bandRefused(const std::string& why)
{
    return B + opened("in.pdf") + "\nStamp PDF file " + why + ": 'band.pdf'\n";
}

// Each stamp page displays red | blue over 96 x 48 points, drawn its own way: placed, it shows as it displays alone.
// clang-format off
INSTANTIATE_TEST_SUITE_P(PdfStamps, EndToEnd, testing::ValuesIn(rows({
    {"PdfVector", band("vector"), placed("band.pdf", "--id logo"), 0, {}, kPlaced, MuPdf | Win,
     {"/VellicoStamp << /Id /logo /Kind /Pdf ", "/Subtype /Form"}},
    {"PdfNaturalSizeOnATurnedPage", band("vector", "doc one-turned"), "-iin.pdf -oout.pdf -jband.pdf -pos100,100", 0, {}, "100,100,96,48",
     MuPdf},
    {"PdfOfTwoStreams", band("split"), placed("band.pdf"), 0, {}, kPlaced},
    {"PdfRotatedPage", band("rotated"), placed("band.pdf"), 0, {}, kPlaced, MuPdf},
    {"PdfCroppedPage", band("cropped"), placed("band.pdf"), 0, {}, kPlaced, MuPdf},
    {"PdfImage", band("image"), placed("band.pdf", "-opacity50"), 0, {}, kPlaced, MuPdf},
    {"PdfShading", band("shading"), placed("band.pdf", "--rotate 90"), 0, {}, "4,100,96,192 up", MuPdf},
    // Its strings decrypted from the stamp file (and a cycle copied as it stands).
    {"PdfType3FontWithACycle", {"in.pdf=plain 1", "b.pdf=doc band-type3", "band.pdf=qpdf b.pdf --encrypt '' o 128 --use-aes=y --"},
     placed("band.pdf"), 0, {}, kPlaced, MuPdf, {"<62616E64207374616D70>"}},
    {"PdfIntoAnEncryptedFile", {"clear.pdf=plain 1", "in.pdf=qpdf clear.pdf --encrypt '' owner 256 --", "b.pdf=doc band-type3",
     "band.pdf=qpdf b.pdf --object-streams=generate"}, placed("band.pdf"), 0, {}, kPlaced, MuPdf, {"!band stamp"}},
    {"PdfDamagedStamp", {"in.pdf=plain 1", "b.pdf=doc band-shading", "band.pdf=edit b.pdf shift-one"}, placed("band.pdf"), 0,
     {"Warning: stamp PDF file 'band.pdf': "}, kPlaced},
    {"PdfOnASignedFile", {"clear.pdf=plain 1", "in.pdf=sign clear.pdf", "band.pdf=doc band-vector"}, placed("band.pdf"), 0, {}, kPlaced},
    // Page 2 shows blue | red; page 1's annotations stay behind.
    {"PdfSecondPage", band("two-pages"), placed("band.pdf", "--stamp-page 2"), 0, {}, kPlaced + " rev"},
    // Input page i takes stamp page i, the last for the pages past them; a list's files each start again at 1.
    {"PdfEachPage", {"a.pdf=plain 3", "b.pdf=doc three-objstm", "list.txt=text a.pdf\nb.pdf\n", "band.pdf=doc band-two-pages"},
     "-ilist.txt -fout -jband.pdf -pos100,100 -size192,96 --stamp-page each --id letterhead --jobs 2", 0, {}, "100,100,192,96;100,100,192,96 rev", 0,
     {}, {"out", "out/a.pdf", "out/b.pdf"}},
    // Regression: where pages share their resources, every page drew stamp page 1.
    {"PdfEachPageOnPagesSharingResources", band("two-pages", "doc inherit-ref"), placed("band.pdf", "--stamp-page each"), 0, {},
     "100,100,192,96;100,100,192,96 rev"},
    // Regression: a stream whose /Length the reader mended was copied from the file's positions, cut short.
    {"PdfStreamOfAWrongLength", {"in.pdf=plain 1", "b.pdf=doc band-image", "band.pdf=edit b.pdf length-short"}, placed("band.pdf"), 0,
     {"wrong /Length; corrected"}, kPlaced},
    {"PdfEachPageListed", {"in.pdf=plain 3", "band.pdf=doc band-two-pages", "out.pdf=stamp in.pdf -jband.pdf --stamp-page each "
     "-pos100,100"}, "-iout.pdf --list", 0, {"Page 1: stamp, pdf, content, x 100, y 100, width 96, height 48\nPage 2: stamp, pdf, "
     "content, x 100, y 100, width 96, height 48\nPage 3: stamp, pdf, content, x 100, y 100, width 96, height 48\n"}, "", 0, {}, {""}},
    // Taken off, the forms and every object copied for them go too.
    {"PdfEachPageRemoved", {"in.pdf=plain 3", "band.pdf=doc band-type3", "s.pdf=stamp in.pdf -jband.pdf --stamp-page each"},
     "-is.pdf -oout.pdf --remove-all", 0, {}, "-", 0, {"!VellicoStamp", "!/BBox [0 0 96 48]", "!/Type3"}},
    {"PdfaBrokenByAStampPage", {"in.pdf=pdfa 1 3", "band.pdf=doc band-pdfa"}, placed("band.pdf"), 0, {"Processing" + breaks(1,
     "transparency (a blend mode, a transparency group), a font that is not embedded (Helvetica)")}},
    {"PdfaBrokenByAStampPageFontDescriptor", {"in.pdf=pdfa 1 3", "band.pdf=doc band-pdfa-descriptor"}, placed("band.pdf"), 0,
     {"Processing" + breaks(1, "a font that is not embedded (Arial,Bold)")}},
    {"PdfAnnotationsLeftBehind", band("two-pages"), placed("band.pdf"), 0,
     {"Processing\nWarning: stamp PDF file 'band.pdf': 2 annotations of page 1 are not carried over\nDone."}, kPlaced},
    {"PdfNeedsAPassword", {"in.pdf=plain 1", "b.pdf=doc band-vector", "band.pdf=qpdf b.pdf --encrypt 'u' o 256 --"}, placed("band.pdf"),
     1, {bandRefused("is encrypted with a password")}, "", Exact, {}, {""}},
    {"PdfNoSuchPage", band("vector"), placed("band.pdf", "--stamp-page 3"), 1, {bandRefused("has no page 3 (it has 1)")}, "", Exact, {},
     {""}},
    {"PdfNoContent", band("no-content"), placed("band.pdf"), 1, {bandRefused("has a page 1 with no content")}, "", Exact, {}, {""}},
    {"PdfSelfDrawingForm", band("self-drawing"), placed("band.pdf"), 1, {bandRefused("has a form XObject that draws itself (object 6)")},
     "", Exact, {}, {""}},
    {"PdfUnreadableObject", band("unreadable"), placed("band.pdf"), 1, {bandRefused("has an object that cannot be read (object 6)")},
     "", Exact, {}, {""}},
    {"StampPageOfAnImage", kIn, stamp("--stamp-page 2"), 1, {"--stamp-page needs a PDF stamp file, and this is none: 'stamp.jpg'"}, "",
     0, {}, {""}},
})), kRowName);
// clang-format on

// ---- Text stamps ----

std::string text(const std::string& options) { return "-iin.pdf -oout.pdf " + options; }
std::string textDone(const std::string& text, const std::string& more = "")
{
    return B + opened("in.pdf") + ", text: '" + text + "', output file: 'out.pdf'\nProcessing" + more + "\nDone.\n";
}
std::string refused(const std::string& why) { return B + "--" + why + "\n"; }
// Fonts CI installs: DejaVu Sans (TrueType) and Noto Serif CJK (CFF, in a collection).
const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kNotoCjk = "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc";
// 150 lines, 1,790 points high: the block's box is past 2,000 points.
const std::string kTallText = [] {
    std::string text;
    for (int line = 1; line <= 150; ++line)
        text += "L" + std::to_string(line) + (line < 150 ? "\\n" : "");
    return text;
}();

// Widths and positions are Helvetica's (its AFM, as poppler has it): "Draft" at 12 points is 26.004 wide, and
// 11.1 high from its descender to its ascender; "second" at 20 points is 64.48 wide.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Text, EndToEnd, testing::ValuesIn(rows({
    // Fields, escapes and braces; the block's lower-left corner at -pos, and a '*' is no wildcard there.
    {"TextFieldsAndLines", in("plain 2"), text("--text 'Copy*{{1}} of {file}\\n{pages} pages, \\\\' -pos100,100"), 0,
     {textDone("Copy*{{1}} of {file}\\n{pages} pages, \\\\")}, "", Exact | Win, {"~Copy*{1}@100,", "~in.pdf", "~2@100,", "~\\"}},
    // Each line aligned in the block, which -align places at -pos.
    {"TextAlignedRight", in("plain 1"), text("--text 'Draft one\\nsecond' -align right -pos300,100 --font-size 20 --color 0000ff"), 0,
     {}, "", 0, {"~second@236,", "0.000 0.000 1.000 rg"}},
    // Regression: a box past 2,000 points had its /Matrix written as 0, and nothing showed.
    {"TextTallerThan2000Points", in("plain 1"), text("--text '" + kTallText + "'"), 0, {}, "", 0, {"~L150@20,", "~L100@20,"}},
    {"TextDryRun", in("plain 2"), text("--text Draft -s2 --dry-run"), 0, {"Page 2: x 20, y 10, width 27, height 12\nDone."}, "", 0,
     {}, {""}},
    {"TextAsAnnotation", in("plain 1"), text("--annotation --text Approved -opacity50"), 0, {}, "", 0, {"~Approved", "/Subtype /Stamp"}},
    {"TextIncremental", in("doc kinds-update"), text("--incremental --text Paid"), 0, {}, "", 0, {"~Paid"}},
    // A signed file keeps its signature valid (pdfsig) with a per-page text in an embedded font.
    {"TextOnASignedFile", {"clean.pdf=plain 2", "in.pdf=sign clean.pdf"}, text("--text 'Стр. {page} {bates}'"), 0,
     {"Warning: the file is signed"}, "", 0, {"~Стр."}},
    // An update that stops its walk at the last selected page still numbers the pages it stamps.
    {"TextIncrementalStopsEarly", in("plain 3"), text("--incremental --text 'p{page} {bates}' -s2 -e2"), 0, {}, "", 0, {"~p2"}},
    // The workers show the run's date.
    {"TextInAListByWorkers", {"a.pdf=plain 1", "b.pdf=plain 3", "list.txt=text a.pdf\nb.pdf\n"},
     "-ilist.txt -fout --text '{file}:{pages} {date:%a_%d_%b_%Y}' --date 2027-01-01 --jobs 2", 0,
     {"text: '{file}:{pages} {date:%a_%d_%b_%Y}', output file: 'out/b.pdf'"}, "", 0, {"~Fri_01_Jan_2027"}, {"out", "out/a.pdf", "out/b.pdf"}},
    // Each page its own text: labels as the catalog's tree gives them (the PDF reference's styles), numbers, and in a
    // tagged file marked as page numbering.
    {"TextPageLabels", in("doc labels"), text("--text '{label}/{page}' -s2"), 0, {}, "", 0,
     {"~ii/2", "~ä-1/3", "~ä-3/5", "~AA/6", "~BB/7", "~énd𝔸/8"}},
    // Regression: labels of an encrypted file's object streams were decrypted with no key, and came out as garbage.
    {"TextPageLabelsEncrypted", {"clear.pdf=doc labels", "in.pdf=qpdf clear.pdf --object-streams=generate --encrypt 'u' o 128 "
     "--use-aes=y --"}, text("--password=u --text '{label}/{page}' -s8"), 0, {}, "", 0, {"~énd𝔸/8"}},
    {"TextPageNumbersTagged", in("doc tagged"), text("--text 'p{page} of {pages}' --annotation"), 0, {}, "", 0, {"~p2"}},
    {"TextPageNumbersArtifact", in("doc tagged"), text("--text 'p{page}' -align center -pos-1,20"), 0, {}, "", MuPdf,
     {"/Artifact <</Type /Pagination>> BDC", "~p1", "~p2"}},
    // A list's numbers run on from file to file in list order, counted before the first is stamped; a file that
    // cannot be read takes none, one that fails later leaves its own unused.
    {"TextBatesAcrossAList", {"a.pdf=plain 2", "b.pdf=plain 3", "c.pdf=plain 2", "out/c.pdf=dir",
     "list.txt=text a.pdf\nmissing.pdf\nc.pdf\nb.pdf\n"}, "-ilist.txt -fout --text 'No. {bates}' --bates-prefix ABC "
     "--bates-suffix -C --bates-digits 4 --bates-start 9 -s2 --timeout 60 --keep-going --report r.json", 2,
     {"Warning: Bates numbers ABC0010-C to ABC0010-C were this file's, and are left unused"}, "", 0, {}, {"out", "out/a.pdf", "out/b.pdf"},
     // A file the count could not read takes no numbers, and fails as it would.
     {"a.pdf stamped p2 s1 bates ABC0009-C..ABC0009-C", "missing.pdf failed p- s- bates none: Input file open error",
      "c.pdf failed p- s- bates unused ABC0010-C..ABC0010-C",
      "b.pdf stamped p3 s2 bates ABC0011-C..ABC0012-C"}},
    {"TextBatesListDryRun", {"a.pdf=plain 2", "b.pdf=plain 1", "list.txt=text a.pdf\nb.pdf\n"}, "-ilist.txt -fout --text '{bates}' "
     "--dry-run", 0, {"Bates numbers: 000001 to 000002", "Bates numbers: 000003 to 000003"}, "", 0, {}, {""}},
    {"TextBatesDryRun", in("plain 3"), text("--text '{bates}' --bates-digits 2 --bates-start 99 --dry-run"), 0,
     {"Dry run: nothing is written\nWarning: Bates number 101 has more than 2 digits (--bates-digits): written in full\n"
      "Bates numbers: 99 to 101\nPage 1:"}, "", 0, {}, {""}},
    {"TextBatesOptionsWithoutBates", in("plain 1"), text("--text x --bates-start 5"), 0,
     {"Warning: --bates-start, --bates-digits, --bates-prefix and --bates-suffix are for a --text with {bates} only: ignored"}},
    {"BatesDigitsOutOfRange", in("plain 1"), text("--text '{bates}' --bates-digits 19"), 1, {B + "--bates-digits takes a number from 1 to 18: '19'\n"}, "", Exact},
    {"BatesStartNegative", in("plain 1"), text("--text '{bates}' --bates-start -1"), 1, {"--bates-start takes a whole number from 0 to"}},
    // Beyond Latin-1, and in a PDF/A file, the text is in an embedded subset (with /CIDSet for PDF/A-1) that pdftotext
    // reads back: of the first installed font that has every character, or of --font (a family, a file, a collection's face).
    {"TextInPdfaEmbedsItsFont", in("pdfa 1 3"), text("--text Copy"), 0, {"Warning: the text is written in '"}, "", 0,
     {"~Copy", "/CIDSet", "/FontFile2"}},
    // Arabic is read in its characters' order from its glyphs alone; a Lao tone mark drawn after the vowel it
    // precedes in the text is read right from the line's /ActualText.
    {"TextInAnyLanguage", in("plain 2"), text("--text 'Жук {page} Ελληνικά مرحبا\\nກ່ຳ ສ້ຳ'"), 0, {"Warning: the text is written in '"}, "",
     MuPdf, {"~Жук", "~Ελληνικά", "/ToUnicode", "/Subtype /Type0", "=مرحبا", "=ກ່ຳ ສ້ຳ", "/ActualText <FEFF0E81"}},
    {"TextInAFamily", in("plain 1"), text("--text 'Привет' --font 'DejaVu Sans' --annotation"), 0, {}, "", 0, {"/FontFile2", "/W ["}},
    {"TextInACollectionsFace", in("plain 1"), text("--text '機密 {page}' --font " + kNotoCjk + " --font-index 1"), 0, {}, "", Win,
     {"~機密", "/FontFile3", "/Subtype /CIDFontType0C"}},
    {"FileNameInChinese", {"合同.pdf=plain 1"}, "-i合同.pdf -oout.pdf --text '{file}'", 0, {}, "", 0, {"~合同.pdf"}},
    // Refused before any output is begun.
    {"TextWithJpeg", in("plain 1"), text("-jstamp.jpg --text x"), 1, {refused("text does not go with -j: the stamp is a text or an image")}, "", Exact},
    {"TextWithMarks", in("plain 1"), text("--text x -trim_marks"), 1,
     {refused("text does not go with -crop_marks or -trim_marks: marks draw their own images")}, "", Exact},
    {"TextUnknownField", in("plain 1"), text("--text 'p{pagez}'"), 1,
     {refused("text field {pagez} is not one of {page}, {pages}, {label}, {file}, {date}, {date:FORMAT} and {bates} (write {{ "
     "for a brace)")}, "", Exact},
    {"TextDateConversionUnknown", in("plain 1"), text("--text '{date:%d.%Q}'"), 1, {refused("text field {date:%d.%Q} has a conversion "
     "that is not one of %Y %y %m %d %H %M %S %j %B %b %A %a %%: '%Q'")}, "", Exact},
    {"DateNotADay", in("plain 1"), text("--text x --date 2023-02-29"), 1, {B + "--date takes a date as YYYY-MM-DD, such as 2026-12-31: "
     "'2023-02-29'\n"}, "", Exact},
    {"TextFieldNotClosed", in("plain 1"), text("--text 'p{pages'"), 1, {refused("text has a field that is not closed: '{pages'")}, "", Exact},
    {"TextLoneBrace", in("plain 1"), text("--text 'a}b'"), 1, {refused("text has a '}' that closes no field (write }} for a brace): 'a}b'")},
     "", Exact},
    {"TextEmpty", in("plain 1"), text("--text ''"), 1, {refused("text needs a text to stamp")}, "", Exact},
    // Turned about the point -pos names (an image's, as a text's), or along the page's diagonal as large as fits:
    // centred on the page (612 x 792), 0.9 of its width.
    {"RotatedAQuarter", in("plain 1"), stamp("--rotate 90 -pos100,100"), 0, {}, "52,100,48,96 up", MuPdf},
    {"RotatedRightAligned", in("plain 1"), stamp("--rotate 90 -pos100,100 -align right --dry-run"), 0,
     {"Page 1: x 52, y 4, width 48, height 96"}, "", 0, {}, {""}},
    {"TextDiagonal", in("doc tagged"), text("--text CONFIDENTIAL --diagonal --dry-run"), 0,
     {"Page 1: x 30.6, y 60.93, width 550.8, height 670.13"}, "", 0, {}, {""}},
    // On a turned page along the diagonal as shown: the stamp's box centred on the page as shown (720 x 550 and 680 x 490).
    {"DiagonalOnTurnedPages", in("doc dry-run"), stamp("--diagonal --dry-run"), 0, {"Page 1: x 30.6, y 96.01, width 550.8, "
     "height 599.98\nPage 2: x 89.38, y 27.5, width 541.24, height 495\nPage 3: x 30.6, y 96.01, width 550.8, height 599.98\n"
     "Page 4: x 94.26, y 24.5, width 491.48, height 441\n"}, "", 0, {}, {""}},
    {"TextDiagonalIsAWatermark", in("doc tagged"), text("--text 'p{page}' --diagonal --outline"), 0, {}, "", 0,
     {"/Artifact <</Type /Pagination /Subtype /Watermark>> BDC", "1 Tr"}},
    // Paths: the letters' shapes, and no font nor text in the output.
    {"TextAsPaths", in("plain 1"), text("--text 'Жук' --as-paths"), 0, {}, "", 0, {"!/FontFile", "!/Type0", " c\n"}},
    {"RotateNotANumber", in("plain 1"), text("--text x --rotate 4x"), 1, {"--rotate takes an angle in degrees from -360 to 360: '4x'"}},
    // Each character in some installed font (Noto CJK, DejaVu Sans), but no font with both: refused before any file is read.
    {"TextInNoOneFont", in("plain 1"), text("--text '日𝔸'"), 1, {refused("text cannot be shown: no installed font has all of its "
     "characters (name one with --font)")}, "", Exact, {}, {""}},
    {"FontMissing", in("plain 1"), text("--text x --font no-such.ttf"), 1, {B + "--font 'no-such.ttf': no such file, and no "
     "installed font of that family\n"}, "", Exact},
    {"FontNotAFont", in("plain 1"), text("--text x --font stamp.jpg"), 1, {"--font 'stamp.jpg': not a font file"}},
    {"FontWithoutTheGlyph", in("plain 1"), text("--text '日本' --font " + kDejaVu), 1,
     {"--text cannot be shown: U+65E5 (the font '" + kDejaVu + "' has no glyph for it)"}},
    {"TextNoFontHas", in("plain 1"), text("--text 'a\xF4\x8F\xBF\xBD'"), 1, {B + "--text cannot be shown: U+10FFFD (no installed font has "
     "it)\n"}, "", Exact},
    // Regression: these wrote "inf" into the form, or mirrored the text.
    {"TextSizeZero", in("plain 1"), text("--text x -size0,0"), 1, {B + "-size for a text takes a width and a height greater than 0\n"}, "",
     Exact},
    {"TextSizeOneAxis", in("plain 1"), text("--text x -size200,-1"), 1, {"-size for a text takes a width and a height greater than 0"}},
    {"DateWithASign", in("plain 1"), text("--text x --date +026-01-01"), 1, {"--date takes a date as YYYY-MM-DD"}},
    // -align's word is its own, even "--text"; the text's options warn in an image's run.
    {"AlignWordLooksLikeText", kIn, stamp("-align --text -s2 --font-size 20"), 0, {B + "Warning: -align '--text' is not left, right or "
     "center: it aligns right\nWarning: --font, --font-index, --font-size, --color and --date are for --text only: ignored\n" + done("in.pdf", "out.pdf")}, "", Exact},
    // Options that do not apply are named, and the run goes on.
    {"DiagonalTakesNoSize", kIn, stamp("--diagonal -size50,50 --rotate 30"), 0,
     {"Warning: -size and --rotate do not apply with --diagonal: ignored"}},
    {"FontIndexWithoutAFont", in("plain 1"), text("--text x --font-index 1"), 0, {"Warning: --font-index is for a --font file: ignored"}},
    {"MarksAreNotTurned", kIn, stamp("-crop_marks --rotate 30"), 0, {"Warning: --rotate and --diagonal do not turn printer's marks: "
     "ignored"}},
    {"FontSizeNotANumber", in("plain 1"), text("--text x --font-size 12pt"), 1,
     {B + "--font-size takes a size in points greater than 0 and at most 10000: '12pt'\n"}, "", Exact},
    {"FontSizeZero", in("plain 1"), text("--text x --font-size 0"), 1,
     {B + "--font-size takes a size in points greater than 0 and at most 10000: '0'\n"}, "", Exact},
    {"FontSizeAtItsLargest", in("plain 1"), text("--text x --font-size 10000 --dry-run"), 0, {"Page 1: "}, "", 0, {}, {""}},
    {"ColorNotHex", in("plain 1"), text("--text x --color red"), 1,
     {B + "--color takes six hexadecimal digits RRGGBB, such as ff0000 for red: 'red'\n"}, "", Exact},
})), kRowName);
// clang-format on

// ---- Stamp ids ----

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ids, EndToEnd, testing::ValuesIn(rows({
    {"MarkInTheStampStream", in("plain 1"), stamp("--id approved"), 0, {}, "", 0,
     {"/VellicoStamp << /Id /approved /Kind /Image /Displayed [20.000 10.000 96.000 48.000] /Before "}},
    // Each page's stamps as their marks tell: id, kind, content or annotation, and where a dry run places them.
    {"ListEveryKind", {"in.pdf=plain 2", "a.pdf=stamp in.pdf -jstamp.jpg --id approved -s1 -e1",
     "b.pdf=stamp a.pdf --text p{page} --annotation"}, "-ib.pdf --list", 0, {B + opened("b.pdf") +
     "\nPage 1: approved, image, content, x 20, y 10, width 96, height 48\nPage 1: stamp, text, annotation, x 20, y 10, width 14, "
     "height 12\nPage 2: stamp, text, annotation, x 20, y 10, width 14, height 12\nDone.\n"}, "", Exact, {}, {""}},
    // The marks outlive other tools' rewrites; a list file of them, and its report.
    {"ListAfterOtherToolsRewrote", {"in.pdf=plain 1", "a.pdf=stamp in.pdf -jstamp.jpg --id x.1", "q.pdf=qpdf a.pdf --qdf",
     "o.pdf=qpdf a.pdf --object-streams=generate", "l.pdf=qpdf a.pdf --linearize", "list.txt=text q.pdf\no.pdf\nl.pdf\n"},
     "-ilist.txt --list --report r.json", 0, {"Page 1: x.1, image, content, x 20, y 10, width 96, height 48"}, "", 0, {}, {"r.json"},
     {"q.pdf listed p1 s1", "o.pdf listed p1 s1", "l.pdf listed p1 s1"}},
    // A mark another tool half changed is never guessed at.
    {"ListLeavesADamagedMarkAlone", {"in.pdf=page /Contents 4 0 R /Annots [<< /Subtype /Stamp /Rect [0 0 9 9] /VellicoStamp "
     "<< /Id (x) /Kind /Text /Displayed [1 2 3 4] >> >> << /Subtype /Stamp /Rect [0 0 9 9] /VellicoStamp << /Id /ok /Kind /Text "
     "/Displayed [1 2 3 4.5] >> >>]"}, "-iin.pdf --list", 0, {"Page 1: ok, text, annotation, x 1, y 2, width 3, height 4.5\nWarning: "
     "page 1: a stamp's mark that cannot be read (damaged, or changed by another tool) is left as it is\nDone."}, "", 0, {}, {""}},
    {"ListWithAnOutput", in("plain 1"), "-iin.pdf -oout.pdf --list", 1,
     {"--list reads the stamps a file carries: it takes no -o, -f, -j or --text"}, "", 0, {}, {""}},
    {"IdWithASpace", in("plain 1"), stamp("--id 'a b'"), 1, {"--id takes 1 to 100 letters, digits, '-', '_' and '.': 'a b'"}, "", 0,
     {}, {""}},
    // A stopped batch goes on where it stopped: an output that is there is left alone.
    // Taken off, every page renders as the input did; an id that stays, stays.
    {"RemoveEveryStamp", {"in.pdf=doc kinds-update", "a.pdf=stamp in.pdf -jstamp.jpg --id x -opacity50", "b.pdf=stamp a.pdf "
     "-jstamp.jpg --annotation --id y", "c.pdf=stamp b.pdf -jstamp.jpg -crop_marks --id m"}, "-ic.pdf -oout.pdf --remove-all", 0,
     {"removing every stamp, output file: 'out.pdf'"}, "-", 0, {"!VellicoStamp", "!/Subtype /Stamp"}},
    // Regression: beside annotations written in place the stamps' objects were left out while /Contents and /Annots
    // still named them; lists with strings and comments are edited too.
    {"RemoveBesideAnnotationsWrittenInPlace", {"in.pdf=page /Contents [4 0 R % the page's own\n] /Annots [<< /Subtype /Square "
     "/Contents (a [note]) /Rect [0 0 9 9] >>]",
     "a.pdf=stamp in.pdf -jstamp.jpg --id x", "b.pdf=stamp a.pdf -jstamp.jpg --annotation --id y"}, "-ib.pdf -oout.pdf --remove-all",
     0, {}, "-", 0, {"!VellicoStamp", "/Subtype /Square"}},
    {"RemoveOneId", {"in.pdf=plain 2", "a.pdf=stamp in.pdf -jstamp.jpg --id x", "b.pdf=stamp a.pdf -jstamp.jpg -pos200,200 "
     "--id y"}, "-ib.pdf -oout.pdf --remove y --remove none", 0,
     {"Warning: no stamp carries the id 'none': nothing of it to remove"}, "20,10,96,48", 0, {"/Id /x", "!/Id /y"}},
    // The stamps of the run's id are taken off first: running again does not stamp twice.
    {"ReplaceTwice", {"in.pdf=plain 2", "a.pdf=stamp in.pdf -jstamp.jpg --id status -pos300,300"},
     "-ia.pdf -oout.pdf -jstamp.jpg --id status --replace", 0, {B + opened("a.pdf") + ", image file: 'stamp.jpg'"}, "20,10,96,48", 0,
     {"/Id /status"}},
    // A signed file's last update taken off is the file it was, signatures and all; content stamps under a later
    // update cannot go, annotations go in a new update.
    {"RemoveGivesBackTheSignedFile", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf", "a.pdf=stamp in.pdf -jstamp.jpg --id x"},
     "$V -ia.pdf -oout.pdf --remove x && cmp out.pdf in.pdf", 0, {}, "", Shell | Unreadable},
    {"RemoveUnderALaterUpdateOfASignedFile", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf", "a.pdf=stamp in.pdf -jstamp.jpg --id x",
     "b.pdf=stamp a.pdf -jstamp.jpg --id y"}, "-ib.pdf -oout.pdf --remove x", 1, {"The stamps to remove are page content of a "
     "signed file that its last update did not add: taking them off would break its signatures: 'b.pdf'"}, "", 0, {}, {""}},
    {"RemoveAnAnnotationOfASignedFile", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf", "a.pdf=stamp in.pdf -jstamp.jpg "
     "--annotation --id x", "b.pdf=stamp a.pdf -jstamp.jpg --id y"}, "$V -ib.pdf -oout.pdf --remove x && $V -iout.pdf --list", 0,
     {"Input file: 'out.pdf'\nPage 1: y, image, content, x 20, y 10, width 96, height 48\nDone."}, "", Shell},
    {"RemoveWithAStamp", in("plain 1"), "-iin.pdf -oout.pdf --remove x -jstamp.jpg", 1,
     {"--remove and --remove-all take no -j: they write no stamp"}, "", 0, {}, {""}},
    // Layers: shown on paper alone or on screen alone (viewers render the screen state), listed by name, and gone with
    // their last stamp; a signed file gets its catalog in the update.
    {"LayersForPaperAndScreen", {"in.pdf=plain 1", "a.pdf=stamp in.pdf -jstamp.jpg --print-only --id p -pos300,300"},
     "-ia.pdf -oout.pdf -jstamp.jpg --screen-only --id s", 0, {}, "20,10,96,48", MuPdf,
     {"/Usage << /Print << /PrintState /ON >> /View << /ViewState /OFF >> >>", "/Event /Print /OCGs [", "/OFF ["}},
    {"LayerListed", {"in.pdf=plain 1", "a.pdf=stamp in.pdf -jstamp.jpg --layer 'Signed off' --annotation --id x"}, "-ia.pdf --list",
     0, {"Page 1: x, image, annotation, x 20, y 10, width 96, height 48, layer 'Signed off'"}, "", 0, {}, {""}},
    {"LayerGoesWithItsLastStamp", {"in.pdf=plain 1", "a.pdf=stamp in.pdf -jstamp.jpg --layer L --id x"}, "-ia.pdf -oout.pdf --remove x",
     0, {}, "-", 0, {"!/Type /OCG", "/OCGs []"}},
    // The group's name in UTF-16 (Python's encoding of it), a character past 16 bits as a surrogate pair.
    {"LayerNamedInAnyLanguage", in("plain 1"), stamp("--layer 'Prüfung 審査 😀'"), 0, {}, "", 0,
     {"/Name <FEFF0050007200FC00660075006E006700205BE967FB0020D83DDE00>"}},
    {"LayerAmongListsHeldByReference", {"in.pdf=doc syntax-layers-by-reference", "a.pdf=stamp in.pdf -jstamp.jpg --layer L "
     "--id x"}, "$V -ia.pdf --list && grep -ac '^\\[9 0 R [0-9]* 0 R\\]' a.pdf && $V -ia.pdf -oout.pdf --remove x", 0,
     {"layer 'L'\nDone.\n3\n"}, "-", Shell, {"6 0 obj\n[9 0 R]", "7 0 obj\n[9 0 R]", "8 0 obj\n[9 0 R]", "!/Name (L)"}},
    {"LayerOfPaperGoesWithItsStamp", {"in.pdf=plain 1", "a.pdf=stamp in.pdf -jstamp.jpg --print-only --id p"},
     "-ia.pdf -oout.pdf --remove p", 0, {}, "-", 0, {"!/Type /OCG", "!/Event /Print", "/AS []"}},
    {"ContentsListHeldByReference", {"in.pdf=doc syntax-contents-list-object", "a.pdf=stamp in.pdf -jstamp.jpg --id x"},
     "$V -ia.pdf --list && $V -ia.pdf -oout.pdf --remove x", 0, {"Page 1: x, image, content"}, "-", Shell,
     {"/Contents 4 0 R", "!VellicoStamp"}},
    {"LayerOnASignedFile", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf"}, stamp("--layer L"), 0, {"Warning: the file is signed"}},
    {"LayerInPdfa1", in("pdfa 1 0"), stamp("--layer L"), 1, {"PDF file claims PDF/A-1, which forbids layers (optional content): 'in.pdf'"},
     "", 0, {}, {""}},
    // An underlay is one stream before the page's content, listed in the order drawn; taken off, the page's text is
    // as it was; a signed file's underlay is its last update, taken off byte for byte; --replace finds it.
    {"UnderlayListedAndRemoved", {"in.pdf=page /Contents 4 0 R /Resources 5 0 R", "a.pdf=stamp in.pdf -jstamp.jpg --underlay "
     "--id u", "b.pdf=stamp a.pdf --text 'p{page}' --id t -pos200,200 --underlay"}, "$V -ib.pdf --list && $V -ib.pdf -oout.pdf "
     "--remove t", 0, {"Page 1: t, text, underlay, x 200, y 200, width 14, height 12\nPage 1: u, image, underlay, x 20, y 10"}, kStamp,
     Shell, {"/Contents [ 8 0 R 4 0 R ] /Resources", "/Id /u", "!/Id /t"}},
    {"UnderlayRemovedFromOneStream", {"in.pdf=page /Contents 4 0 R /Resources 5 0 R", "a.pdf=stamp in.pdf -jstamp.jpg --underlay"},
     "-ia.pdf -oout.pdf --remove-all", 0, {}, "-", 0, {"/Contents 4 0 R /Resources 5 0 R"}},
    {"UnderlayOfASignedFile", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf"}, stamp("--underlay -opacity50"), 0,
     {"Warning: the file is signed"}, kStamp},
    {"UnderlayOfASignedFileTakenOff", {"clean.pdf=plain 1", "in.pdf=sign clean.pdf", "a.pdf=stamp in.pdf --underlay --text "
     "'B{bates}' --id x"}, "$V -ia.pdf -oout.pdf --remove x && cmp out.pdf in.pdf", 0, {}, "", Shell | Unreadable},
    {"ReplaceAnUnderlay", {"in.pdf=plain 2", "a.pdf=stamp in.pdf -jstamp.jpg --underlay --id bg -pos300,300"},
     "-ia.pdf -oout.pdf -jstamp.jpg --id bg --replace --underlay", 0, {}, kStamp, 0, {"/Id /bg"}},
    {"UnderlayAnnotation", kIn, stamp("--underlay --annotation"), 1,
     {"--underlay does not go with --annotation: an annotation always lies over the page's content"}, "", 0, {}, {""}},
    {"BlendUnknown", kIn, stamp("--blend screen"), 1, {"--blend takes multiply or darken: 'screen'"}, "", 0, {}, {""}},
    {"SkipExisting", {"a.pdf=plain 1", "b.pdf=plain 2", "out/a.pdf=text kept", "list.txt=text a.pdf\nb.pdf\n"},
     "-ilist.txt -fout -jstamp.jpg --skip-existing --report r.json", 0,
     {"Input file: 'a.pdf', output file: 'out/a.pdf' is there already: skipped"}, "", 0, {}, {"out/b.pdf", "r.json"},
     {"a.pdf skipped p- s-", "b.pdf stamped p2 s2"}},
})), kRowName);
// clang-format on

// ---- Encrypted, signed and certified files, and passwords ----

// The three-page document with text, a title and a string in each page, encrypted by qpdf with `method`
// ("--" ends it), the user's password `user`, and its object streams `streams` (qpdf's option).
std::vector<std::string> encrypted(const std::string& method, const std::string& user = "''", const std::string& streams = "preserve")
{
    return {"clear.pdf=doc titled", "in.pdf=qpdf clear.pdf --object-streams=" + streams + " --encrypt " + user + " o " + method + " --"};
}
const std::string kSigned = "Warning: the file is signed; stamped by an incremental update, which keeps its signatures valid for the "
                            "revisions they sign\n";
const std::string kAnnotationsOnly = "Warning: the file is certified to allow annotations only; the stamp is added as a stamp "
                                     "annotation in an incremental update";
const std::string kUmlaut = "'p\xC3\xA4sswort'", kEncrypted = "'in.pdf'\nPDF file is encrypted";
const std::string kForbids = "'in.pdf'\nPDF file is encrypted, and its permissions do not allow changing it\n";
const std::vector<std::string> kListOfIn = {"out", "out/in.pdf"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Protected, EndToEnd, testing::ValuesIn(rows({
    // Stamped, and the protection kept: each string encrypted again for its object's number.
    {"Rc4Of40BitsObjectStreams", encrypted("40", "''", "generate"), stamp(), 0, {}, kStamp},
    {"Aes128ClearMetadata", encrypted("128 --use-aes=y --cleartext-metadata", "''", "generate"), stamp(), 0, {}, kStamp},
    {"Aes256", encrypted("256", "''", "disable"), stamp(), 0, {}, kStamp, Win},
    // Restricted, but changes other than these are allowed.
    {"Aes256NoPrintingNorCopying", encrypted("256 --print=none --extract=n", "''", "generate"), stamp(), 0, {}, kStamp},
    // The encryption dictionary written in the trailer itself is kept there.
    {"InlineEncryptionDictionary", {"clear.pdf=doc titled", "byref.pdf=qpdf clear.pdf --object-streams=disable --encrypt '' o 128 "
     "--use-aes=y --", "in.pdf=edit byref.pdf encrypt-inline"}, stamp(), 0, {}, kStamp},
    // Mark passes read what the pass before wrote, encrypted too.
    {"MarksOfAnEncryptedFile", {"clear.pdf=doc titled-crop", "in.pdf=qpdf clear.pdf --encrypt '' o 256 --"}, stamp("-crop_marks"), 0, {},
     "marks crop"},
    // A damaged encrypted file is rebuilt: its object streams decrypt with the key of the trailer found.
    {"DamagedEncryptedFile", {"clear.pdf=doc titled", "whole.pdf=qpdf clear.pdf --object-streams=generate --encrypt '' o 128 "
     "--use-aes=y --", "in.pdf=edit whole.pdf startxref-7"}, stamp(), 0, {"rebuilt from"}, kStamp},
    {"NeedsAPassword", encrypted("256", "'secret'"), stamp(), 1, {"'in.pdf'\n" + kNeedsPassword + "\n"}},
    {"ForbidsChanges", encrypted("256 --modify=none"), stamp(), 1, {kForbids}},
    // An /Encrypt naming no object: a refusal that names the encryption, never a crash or an output.
    {"EncryptNamesNoObject", in("doc hostile-ref"), stamp(), 1, {kEncrypted}},
    // The user's password, in PDFDocEncoding or after SASLprep; the owner's lifts the permissions. Never shown.
    {"UserPasswordRc4", encrypted("128 --use-aes=n", kUmlaut), stamp("--password p\xC3\xA4sswort"), 0, {}, kStamp},
    {"UserPasswordAes256", encrypted("256", kUmlaut), stamp("--password p\xC3\xA4sswort"), 0, {}, "", 0, {"!p\xC3\xA4sswort"}},
    {"OwnerPasswordFromAFile", encrypted("40", kUmlaut) + std::vector<std::string>{"pw.txt=text \xEF\xBB\xBFo\r\nsecond line\r\n"},
     stamp("--password-file pw.txt"), 0, {}, kStamp},
    {"OwnerOfRestricted", encrypted("256 --modify=none", kUmlaut), stamp("--password o"), 0, {}, kStamp},
    {"UserOfRestricted", encrypted("128 --modify=none", kUmlaut), stamp("--password p\xC3\xA4sswort"), 1,
     {"permissions do not allow changing it"}},
    {"WrongPassword", encrypted("256", kUmlaut), stamp("--password wrong"), 1, {"the password given does not open it"}},
    // An empty owner password opens the file, with the owner's rights, as qpdf and poppler open it; a password given must
    // open it. (Up to AES-128 qpdf writes the user's password for an empty owner's: mutool writes these.)
    {"EmptyOwnerPasswordAes256", {"clear.pdf=doc titled", "in.pdf=qpdf clear.pdf --encrypt 'secret' '' 256 --modify=none "
     "--allow-insecure --"}, stamp(), 0, {}, kStamp},
    {"EmptyOwnerPasswordRc4", {"clear.pdf=doc titled", "in.pdf=mutool clear.pdf -E rc4-128 -U 'secret' -O ''"}, stamp(), 0, {}, kStamp},
    {"EmptyOwnerPasswordAes128", {"clear.pdf=doc titled", "in.pdf=mutool clear.pdf -E aes-128 -U 'secret' -O ''"}, stamp(), 0, {}, kStamp},
    {"EmptyOwnerPasswordButAWrongOneGiven", {"clear.pdf=doc titled", "in.pdf=mutool clear.pdf -E rc4-40 -U 'secret' -O ''"},
     stamp("--password wrong"), 1, {"the password given does not open it"}},
    {"PasswordNotInPdfDocEncoding", encrypted("128 --use-aes=y", kUmlaut), stamp("--password=\xE4\xB8\xAD"), 1, {"PDFDocEncoding"}},
    {"PasswordMisspelt", encrypted("256", kUmlaut), stamp("--pasword s3cret"), 1, {B + "Unknown option: '--pasword'" + kHelp}, "", Exact},
    {"PasswordMisspeltJoined", encrypted("256", kUmlaut), stamp("--pasword=s3cret"), 1, {B + "Unknown option: '--pasword=...'" + kHelp}, "", Exact},
    // A password file with no size to ask for is read once, by a list run too.
    {"PasswordFromStandardInput", encrypted("256", "'u'") + std::vector<std::string>{"list.txt=text in.pdf\n"},
     "printf 'u\\n' | $V -ilist.txt -fout -jstamp.jpg --password-file -", 0, {}, kStamp, Shell, {}, kListOfIn},
    {"PasswordFromAFifo", encrypted("256", "'u'") + std::vector<std::string>{"list.txt=text in.pdf\n"},
     "mkfifo pw && { printf 'u\\n' > pw & } && $V -ilist.txt -fout -jstamp.jpg --password-file pw && rm pw", 0, {}, kStamp, Shell, {},
     kListOfIn},
    // Signed files keep every signature valid: the stamp is appended as an update.
    {"OneSignature", {"clean.pdf=plain 2", "in.pdf=sign clean.pdf"}, stamp(), 0, {kSigned}, kStamp, MuPdf},
    // The update adds the page tree node a catalog whose /Pages names the page lacks.
    {"SignedCatalogPagesNamesThePage", {"clean.pdf=doc syntax-catalog-names-page", "in.pdf=sign clean.pdf"}, stamp(), 0,
     {kSigned, "taken as the only page"}, kStamp},
    {"TwoSignaturesObjectStreams", {"clean.pdf=doc kinds-objstm", "in.pdf=sign clean.pdf 2"}, stamp(), 0, {kSigned}, kStamp},
    {"TwoSignaturesAes256", {"clear.pdf=plain 2", "clean.pdf=qpdf clear.pdf --encrypt 'u' o 256 --", "in.pdf=sign clean.pdf 2"},
     stamp("--password=u"), 0, {kSigned}, kStamp},
    {"SignedAsAnnotation", {"clean.pdf=plain 2", "in.pdf=sign clean.pdf 2"}, stamp("--annotation"), 0, {kSigned}, kStamp, MuPdf},
    {"SignedMarks", {"clean.pdf=doc kinds-xref", "in.pdf=sign clean.pdf"}, stamp("-crop_marks"), 0, {kSigned}},
    {"SignedTrimMarks", {"clean.pdf=doc marks", "in.pdf=sign clean.pdf"}, stamp("-s2 -trim_marks"), 0, {kSigned}, "marks trim@2,3,4"},
    // A file whose table had to be rebuilt cannot take an update.
    {"DamagedSigned", {"clean.pdf=plain 2", "signed.pdf=sign clean.pdf", "in.pdf=edit signed.pdf startxref-misspelt"},
     stamp("--incremental"), 1, {"its signatures could not be kept"}},
    {"DamagedUpdate", {"clean.pdf=plain 2", "in.pdf=edit clean.pdf startxref-misspelt"}, stamp("--incremental"), 1,
     {"was rebuilt, so it cannot be updated incrementally: 'in.pdf'"}},
    // Certified files are refused or annotated as their level says.
    {"CertifiedNoChanges", {"in.pdf=certified 1"}, stamp(), 1, {"certification (no changes) forbids changing the pages", "'in.pdf'"}},
    {"CertifiedFormFillingWithoutP", {"in.pdf=certified "}, stamp(), 1, {"certification (form filling and signing only) forbids"}},
    {"CertifiedLevelOutOfRange", {"in.pdf=certified 7"}, stamp(), 1, {"certification (no changes) forbids"}},
    {"CertifiedForAnnotations", {"in.pdf=certified 3"}, stamp(), 0, {kAnnotationsOnly}, kStamp, 0, {"/Subtype /Stamp"}},
    {"CertifiedButMarks", {"in.pdf=certified 3"}, stamp("-crop_marks"), 1, {"marks are page content"}},
    {"CertifiedButUnderlay", {"in.pdf=certified 3"}, stamp("--underlay"), 1, {"an underlay is page content"}},
    // A dry run refuses what the run refuses.
    {"CertifiedMarksDryRun", {"in.pdf=certified 1"}, stamp("-crop_marks --dry-run"), 1, {"(no changes) forbids"}},
})), kRowName);
// clang-format on

// ---- Files damaged as real files are, and pages written as real files write them ----

const std::string kPlain = "/Contents 4 0 R /Resources 5 0 R";

std::vector<std::string> damage(const std::string& how, const std::string& from = "three")
{
    return {"clean.pdf=doc " + from, "in.pdf=edit clean.pdf " + how};
}
std::string rebuilt(const std::string& why, int objects = 9)
{
    return "cross-reference data damaged (" + why + "); rebuilt from " + std::to_string(objects) + " objects found in the file";
}
const std::string kClean = "Processing\nDone.\n", kInserted = rebuilt("no cross-reference section at offset 872");
const std::string kMisplaced = " not where the cross-reference data says; found by scanning";

// clang-format off
INSTANTIATE_TEST_SUITE_P(RealWorld, EndToEnd, testing::ValuesIn(rows({
    // Each repaired with every object kept, each repair said in one line.
    {"ShiftedOffsetWithStartxrefRight", damage("shift-one"), stamp(), 0, {warned("object 6 was" + kMisplaced)}, kStamp},
    {"MostOffsetsShifted", damage("shift-most"), stamp(), 0, {warned("8 objects were" + kMisplaced + ": 2, 3, 4, 5, 6 and 3 more")}, kStamp},
    {"LineInsertedBeforeAnObject", damage("insert-line"), stamp(), 0, {warned(kInserted)}, kStamp},
    {"NoTableAtAll", damage("no-table"), stamp(), 0, {warned(rebuilt("no startxref"))}, kStamp},
    {"ConvertedToCrLf", damage("crlf"), stamp(), 0, {warned(kInserted + "\nWarning: 3 streams have a wrong /Length; corrected: 6, 7, 8")},
     kStamp},
    {"ConvertedToCrLfAndEndstreamMissing", damage("crlf-endstream-missing"), stamp(), 0, {warned(kInserted + "\nWarning: 3 streams "
     "have a wrong /Length or no endstream; corrected: 6, 7, 8 (no endstream: 6)")}, kStamp},
    {"LengthTooShort", damage("length-short"), stamp(), 0, {warned("stream 6 has a wrong /Length; corrected")}, kStamp},
    {"LengthTooLong", damage("length-long"), stamp(), 0, {warned("stream 6 has a wrong /Length; corrected")}, kStamp},
    // No "endstream" before the content's "endobj": its data runs to there, and the copy gets the keyword.
    {"EndstreamMisspelt", damage("endstream-misspelt"), stamp(), 0, {warned("stream 6 has no endstream; corrected")}, kStamp},
    {"EndstreamMissing", damage("endstream-missing"), stamp(), 0, {warned("stream 6 has no endstream; corrected")}, kStamp},
    {"LengthToAMissingObject", damage("length-ref"), stamp(), 0, {warned(kInserted + "\nWarning: stream 6 has a wrong /Length; corrected")},
     kStamp},
    {"ObjectNamedInUseButMissing", damage("object-10-gone", "three-extra"), stamp(), 0,
     {warned("object 10 is named in the cross-reference data but missing from the file")}, kStamp},
    // The copy begins with the header's lines alone when the lowest entry points at no object.
    {"ObjectsNamedInUseButMissingAtTheHeader", damage("objects-gone-into-header", "three-extra"), stamp(), 0,
     {warned("2 objects are named in the cross-reference data but missing from the file: 10, 11")}, kStamp, 0,
     {"%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"}},
    {"PrevPointingAtGarbage", damage("prev-to-garbage", "three-update"), stamp(), 0, {warned(rebuilt("no cross-reference section at offset 17"))},
     kStamp},
    {"RootNamingNoObject", damage("root-to-nothing"), stamp(), 0, {warned(rebuilt("the catalog, object 7, cannot be read"))}, kStamp},
    {"ObjectStreamsWithStartxrefWrong", damage("startxref-12", "three-objstm"), stamp(), 0,
     {warned(rebuilt("no cross-reference section at offset 12", 11))}, kStamp},
    // Hostile repetitions of what the scan of a damaged file meets stay quick, and the scan finds what follows them.
    {"BrokenStreamsRepeated", damage("broken-streams", "three-junk"), stamp(), 0, {"; rebuilt from 11 objects found"}, kStamp, Quick},
    {"StreamsOnOneLineRepeated", damage("streams-on-one-line", "three-junk"), stamp(), 0, {"; rebuilt from 20010 objects found"}, "",
     Quick | Unreadable},
    // More objects than the table is written in one piece.
    {"ManyObjects", in("plain 1400"), stamp(), 0, {"\nDone.\n"}},
    // The stamp where it belongs, every other byte of the page kept.
    {"InlineAnnotationBeforeTheContents", in("page /Annots [ << /Type /Annot /Subtype /Text /Rect [400 600 420 620] /Contents (Approved by QA) >> ] " + kPlain), stamp(), 0, {kClean}, kStamp, 0,
     {"/Contents (Approved by QA) >> ]"}},
    {"PagesInAStringOfThePage", in("page /Note (see /Pages) " + kPlain), stamp(), 0, {kClean}, kStamp, 0, {"/Note (see /Pages)"}},
    {"KeysInACommentBeforeTheRealOnes", in("page % /Contents 9 0 R /Resources << >>\n" + kPlain), stamp(), 0, {kClean}, kStamp, 0,
     {"% /Contents 9 0 R /Resources << >>\n"}},
    {"KeysInAStringBeforeTheRealOnes", in("page /Note (/Contents 9 0 R /Resources << >>) /Contents 4 0 R /Resources << /ProcSet [/PDF] >>"), stamp(), 0, {kClean}, kStamp, 0,
     {"/Note (/Contents 9 0 R /Resources << >>)"}},
    {"EscapedKeys", in("page /Con#74ents 4 0 R /Res#6Furces << /ProcSet [/PDF] >>"), stamp(), 0, {kClean}, kStamp},
    {"CommentAfterTheContentsReference", in("page /Contents 4 0 R % see /Resources\n/Resources 5 0 R"), stamp(), 0, {kClean}, kStamp, 0, {"% see /Resources\n"}},
    {"EscapedKeysOfTheResources", in("page /Contents 4 0 R /Resources << /XOb#6Aect << >> /Ext#47State << >> >>"), stamp(), 0, {kClean}, kStamp, 0,
     {"/XOb#6Aect << /Im", "/Ext#47State << /GS"}},
    // A reference past the table, or to a free object, is null; a null /Contents or /Resources is no content.
    {"XObjectReferencePastTheTable", in("page /Contents 4 0 R /Resources << /XObject 120 0 R >>"), stamp(), 0, {kClean}, kStamp},
    {"ResourcesReferenceToAFreeObject", in("doc syntax-resources-freed"), stamp(), 0, {kClean}, kStamp},
    {"NullContentsAndResources", in("page /Contents null /Resources null"), stamp(), 0, {kClean}, kStamp},
    {"RootNodeWithoutEndobj", in("doc syntax-no-endobj"), stamp(), 0, {kClean}, kStamp},
    // The one page, with none of the node's attributes, as poppler shows it, and a node of its own above it (in an
    // update too, and when not stamped). Regressions: nothing was stamped; qpdf found no page in the output.
    {"CatalogPagesNamesThePage", in("doc syntax-catalog-names-page"), stamp(), 0,
     {warned("the catalog's /Pages names page 3, not a page tree; taken as the only page")}, kStamp},
    {"CatalogPagesNamesThePageUpdated", in("doc syntax-catalog-names-page"), stamp("--incremental"), 0, {"taken as the only page"}, kStamp},
    {"CatalogPagesNamesThePageNotSelected", in("doc syntax-catalog-names-page"), stamp("-s2"), 0, {"taken as the only page"}, "-"},
    // Content that leaves the graphics state or a text object open: the stamp is drawn in the initial state.
    {"ExtraQ", in("content plain 2 0 0 2 0 0 cm " + kDrawing + "Q\n"), stamp(), 0, {kClean}, kStamp, MuPdf},
    // More than the prefix's saves can take: the prefix saves as many more.
    {"SixExtraQ", in("content plain " + kDrawing + "Q Q Q Q Q Q\n"), stamp(), 0, {kClean}, kStamp, MuPdf, {"stream\nq q q q q q q\n\nendstream"}},
    {"OpenStatesOverAContentArray", in("content plain q 0.5 0 0 0.5 0 0 cm |q 3 0 0 3 0 0 cm " + kDrawing), stamp(), 0, {kClean}, kStamp, MuPdf, {"stream\n\nQ\nQ\nQ\nq\n/GS"}},
    // The same encrypted: its content is read decrypted, so the stamp still lands outside the page's states.
    {"OpenStatesOfAnEncryptedPage", {"clear.pdf=content plain q 0.5 0 0 0.5 0 0 cm |q 3 0 0 3 0 0 cm " + kDrawing,
     "in.pdf=qpdf clear.pdf --encrypt '' o 256 --"}, stamp(), 0, {kClean}, kStamp, MuPdf},
    {"OpenTextObjectInOpenStates", in("content flate q 2 0 0 2 0 0 cm " + kDrawing + "BT /F1 18 Tf 50 300 Td (x) Tj"), stamp(), 0, {kClean}, kStamp, MuPdf, {"stream\n\nET\nQ\nQ\nq\n/GS"}},
    {"OperatorsInStringsCommentsAndImages", in("content plain " + kDrawing + "% Q Q q\nBT /F1 20 Tf 50 700 Td (q Q BT) Tj ET q 10 0 0 10 500 100 cm BI /W 4 /H 1 "
     "/BPC 8 /CS /G ID Q Q BT\n EI Q\n"), stamp(), 0, {kClean}, kStamp, MuPdf},
    {"ClipOutsideAnyQ", in("content plain 300 300 100 100 re W n " + kDrawing), stamp(), 0, {kClean}, kStamp, MuPdf},
    {"LzwContentWithAPredictor", in("content lzw-predicted q 2 0 0 2 0 0 cm " + kDrawing), stamp(), 0, {kClean}, kStamp, MuPdf, {"stream\n\nQ\nQ\nq\n/GS"}},
    // A stream the program cannot decode: the stamp it always had.
    {"UndecodableStream", in("content undecodable 0 0 1 rg\n|q 2 0 0 2 0 0 cm " + kDrawing + "Q\n"), stamp(), 0, {kClean}, kStamp, MuPdf | QpdfAsInput},
})), kRowName);
// clang-format on

// ---- Batches: lists, reports and what ends a run ----

const std::vector<std::string> kTwoAndMissing = {"a.pdf=plain 1", "c.pdf=plain 1", "list.txt=text a.pdf\nmissing.pdf\nc.pdf\n"};
const std::vector<std::string> kFourInAList = {"a.pdf=plain 1", "b.pdf=plain 1", "c.pdf=plain 1", "d.pdf=plain 1",
                                               "list.txt=text a.pdf\n\nb.pdf\nc.pdf\nd.pdf\n"};
const std::vector<std::string> kTwoInFolders = {"in/a b.pdf=plain 1", "in/2024/c.pdf=plain 1"};
const std::vector<std::string> kTwoMirrored = {"out", "out/in", "out/in/a b.pdf", "out/in/2024", "out/in/2024/c.pdf"};
const std::string kRefused = B + opened("in.pdf") + "\nOutput file is not a regular file: ";
// A list's report line up to its counts, which are null when `pages` is.
std::string reported(int position, const std::string& input, const std::string& output, const std::string& status,
                     const std::string& message, const std::string& pages = "null", bool encrypted = false)
{
    return "{\"position\": " + std::to_string(position) + ", \"input\": \"" + input + "\", \"output\": \"" + output +
           "\", \"status\": \"" + status + "\", \"message\": \"" + message +
           "\", \"warnings\": [], \"pages\": " + pages + ", \"pages_stamped\": " + pages +
           ", \"encrypted\": " + (encrypted ? "true" : "false");
}
std::string notRegular(const std::string& in)
{
    return opened(in) + "\nInput file is not a regular file: '" + in + "'\n";
}
// Workers that stop making progress: the list comes through a FIFO, so that the workers exist, and are stopped,
// before they get a file.
std::string stopped(const std::string& options, const std::string& then, int workers = 1,
                    const std::string& stamp = "-jstamp.jpg")
{
    return "mkfifo list && { $V -i- -fout " + stamp + " --keep-going --report r.json " + options +
           " < list & } && pid=$! && exec 3> list && for i in $(seq 200); do w=$(pgrep -P $pid) && [ $(echo $w | wc "
           "-w) = " +
           std::to_string(workers) +
           " ] && break; sleep 0.05; done && kill -STOP $w && printf 'a.pdf\\nb.pdf\\n' >&3 && "
           "exec 3>&- && " +
           then + "; wait $pid";
}
const std::string kTimedOut = "Stopped: the file took longer than the time limit of 1 seconds (--timeout)";
const std::string kKilled = "Stopped: the worker stamping the file ended unexpectedly (signal 9)";
const std::string kKilledCounting = "Stopped: the worker counting the pages of the file ended unexpectedly (signal 9)";
// A dry run of a list after a run of its file with the same options.
std::string dryAfterRun(const std::string& options)
{
    return "$V -iin.pdf -oout.pdf -jstamp.jpg " + options +
           " >/dev/null && $V -ilist.txt -fout -jstamp.jpg --dry-run --report - " + options;
}
// What that dry run says of the first three of four pages, the stamp at `rects` on each: on the console and in its
// report line.
std::vector<std::string> planned(const std::vector<std::array<int, 4>>& rects)
{
    std::string console = "Dry run: nothing is written\n", json;
    for (size_t i = 0; i < rects.size(); ++i) {
        const std::string page = std::to_string(i + 1), x = std::to_string(rects[i][0]),
                          y = std::to_string(rects[i][1]), w = std::to_string(rects[i][2]),
                          h = std::to_string(rects[i][3]);
        console += "Page " + page + ": x " + x + ", y " + y + ", width " + w + ", height " + h + "\n";
        json += (i ? ", {\"page\": " : "{\"page\": ") + page + ", \"x\": " + x + ", \"y\": " + y + ", \"width\": " + w +
                ", \"height\": " + h +
                ", \"id\": \"stamp\", \"kind\": \"image\", \"placement\": \"content\", \"layer\": null}";
    }
    return {console + "Done.\n", "\"pages\": 4, \"pages_stamped\": 3,",
            "\"output_bytes\": 0, \"dry_run\": true, \"stamps\": [" + json + "]}"};
}

// clang-format off
// Every kind of bad line in one list, and what the console and the report (--report -) say of each.
const std::vector<std::string> kBadLines = {"a.pdf=plain 2", "in/2024/b.pdf=plain 2", "caf\xE9.pdf=plain 2", "encrypted.pdf=doc encrypted",
    "notpdf.pdf=text plain text, no PDF", "fifo.pdf=fifo", "dir.pdf=dir",
    "list.txt=text a.pdf\nmissing.pdf\nencrypted.pdf\nnotpdf.pdf\nfifo.pdf\ndir.pdf\n../outside.pdf\nin/2024/b.pdf\ncaf\xE9.pdf\n"};
const std::vector<std::string> kBadLinesMade = {"out", "out/a.pdf", "out/in", "out/in/2024", "out/in/2024/b.pdf", "out/caf\xE9.pdf"};
const std::vector<std::string> kBadLinesSaid = {
    done("a.pdf", "out/a.pdf"), reported(0, "a.pdf", "out/a.pdf", "stamped", "", "2"),
    opened("missing.pdf") + openError("missing.pdf"), reported(1, "missing.pdf", "out/missing.pdf", "failed", "Input file open error: 'missing.pdf' (No such file or directory)"),
    opened("encrypted.pdf") + "\n" + kNeedsPassword + "\n",
    reported(2, "encrypted.pdf", "out/encrypted.pdf", "refused", kNeedsPassword, "null", true),
    opened("notpdf.pdf") + "\nInput file is not a PDF file: 'notpdf.pdf'\n",
    reported(3, "notpdf.pdf", "out/notpdf.pdf", "refused", "Input file is not a PDF file: 'notpdf.pdf'"),
    notRegular("fifo.pdf"), reported(4, "fifo.pdf", "out/fifo.pdf", "refused", "Input file is not a regular file: 'fifo.pdf'"),
    notRegular("dir.pdf"), reported(5, "dir.pdf", "out/dir.pdf", "refused", "Input file is not a regular file: 'dir.pdf'"),
    opened("../outside.pdf") + "\nThe list line leads outside the output folder: '../outside.pdf'\n",
    reported(6, "../outside.pdf", "", "failed", "The list line leads outside the output folder: '../outside.pdf'"),
    done("in/2024/b.pdf", "out/in/2024/b.pdf"), reported(7, "in/2024/b.pdf", "out/in/2024/b.pdf", "stamped", "", "2"),
    done("caf\xE9.pdf", "out/caf\xE9.pdf"), reported(8, "caf\\udce9.pdf", "out/caf\\udce9.pdf", "stamped", "", "2")};
const std::vector<std::string> kDryRunDoc = {"in.pdf=doc dry-run", "list.txt=text in.pdf\n"};
const std::vector<std::string> kThreeNames = {"plain.pdf=plain 2", "Prüfung.pdf=plain 2", "合同.pdf=plain 2"};
const std::string kX(5000, 'x');
const std::vector<std::string> kPlanned = {"a.pdf=plain 2", "b.pdf=plain 1", "c.pdf=plain 1", "list.txt=text a.pdf\nb.pdf\nc.pdf\n"};
const std::string kWritePlan = "$V -ilist.txt --write-plan plan.jsonl --text B{bates}";
INSTANTIATE_TEST_SUITE_P(Batches, EndToEnd, testing::ValuesIn(rows({
    // Without --keep-going the first failure ends the run: no further file is begun.
    {"FirstFailureEndsTheRunOfAWorker", kTwoAndMissing, "-ilist.txt -fout -jstamp.jpg --report r.json --jobs 1", 1, {}, "", 0, {},
     {"out", "out/a.pdf"}, {"a.pdf stamped", "missing.pdf failed"}},
    // A shard of a list: the lines whose position modulo N is K-1, K from the option or from the scheduler.
    {"ShardOfTwo", kFourInAList, "-ilist.txt -fout -jstamp.jpg --shard 2/2 --report r.json", 0,
     {"Shard 2/2: 2 of the list's 4 files\n"}, "", 0, {}, {"out", "out/b.pdf", "out/d.pdf", "r.json"}, {"b.pdf stamped", "d.pdf stamped"}},
    {"ShardFromSlurm", kFourInAList, "SLURM_ARRAY_TASK_ID=7 SLURM_ARRAY_TASK_MIN=5 SLURM_ARRAY_TASK_COUNT=3 "
     "SLURM_ARRAY_TASK_STEP=1 $V -ilist.txt -fout -jstamp.jpg --shard auto", 0, {"Shard 3/3: 1 of the list's 4 files\n"}, "", Shell, {},
     {"out", "out/c.pdf"}},
    {"ShardEmpty", kFourInAList, "JOB_COMPLETION_INDEX=5 $V -ilist.txt -fout -jstamp.jpg --shard auto/9 --report r.json", 0,
     {"Shard 6/9: none of the list's 4 files, so nothing is done\n"}, "", Shell, {}, {"out", "r.json"}},
    // Refused before anything is written.
    {"ShardOutOfRange", kFourInAList, "-ilist.txt -fout -jstamp.jpg --shard 4/3", 1,
     {B + "--shard takes K/N with 1 <= K <= N, or auto or auto/N: '4/3'\n"}, "", Exact, {}, {""}},
    {"ShardOfNone", kFourInAList, "-ilist.txt -fout -jstamp.jpg --shard 1/0", 1,
     {B + "--shard takes K/N with N from 1 to 1000000, or auto or auto/N: '1/0'\n"}, "", Exact, {}, {""}},
    {"ShardWithoutAList", kIn, stamp("--shard 1/2"), 1, {"--shard is for list files only"}, "", 0, {}, {""}},
    {"ShardWithBates", kFourInAList, "-ilist.txt -fout --text B{bates} --shard 1/2", 1,
     {"--shard with {bates} needs a plan (--write-plan FILE first, then --plan FILE)"}, "", 0, {}, {""}},
    // A plan: two shards number the files as one run of the list does.
    {"PlanForTwoShards", kPlanned, kWritePlan + " && for k in 1 2; do $V -ilist.txt -fout --text B{bates} --shard $k/2 "
     "--plan plan.jsonl --report r$k.json >/dev/null; done && sort -n -k2,2 r1.json r2.json > r.json", 0,
     {"Plan of 3 files written: 4 pages to stamp, Bates numbers 000001 to 000004: 'plan.jsonl'\n"}, "", Shell, {},
     {"plan.jsonl", "out", "out/a.pdf", "out/b.pdf", "out/c.pdf", "r1.json", "r2.json", "r.json"},
     {"a.pdf stamped p2 s2 bates 000001..000002", "b.pdf stamped p1 s1 bates 000003..000003",
      "c.pdf stamped p1 s1 bates 000004..000004"}},
    // Names a plan must escape: a quote, a backslash, a control character, a byte that is no UTF-8.
    {"PlanOfOddNames", {"q\"b\\s.pdf=plain 1", "caf\xE9.pdf=plain 2", "t\tb.pdf=plain 1", "list.txt=text q\"b\\s.pdf\n"
     "caf\xE9.pdf\nt\tb.pdf\n"}, kWritePlan + " >/dev/null && $V -ilist.txt -fout --text B{bates} --plan plan.jsonl --report "
     "r.json", 0, {}, "", Shell, {}, {"plan.jsonl", "out", "out/q\"b\\s.pdf", "out/caf\xE9.pdf", "out/t\tb.pdf", "r.json"},
     {"q\"b\\s.pdf stamped p1 s1 bates 000001..000001", "caf\xE9.pdf stamped p2 s2 bates 000002..000003",
      "t\tb.pdf stamped p1 s1 bates 000004..000004"}},
    {"PlanChangedFileFailsAlone", kPlanned, kWritePlan + " >/dev/null && touch -d 2001-01-01 b.pdf && $V -ilist.txt -fout "
     "--text B{bates} --plan plan.jsonl --keep-going --report r.json", 2, {"The file changed since the plan was written: 'b.pdf'"},
     "", Shell, {}, {"plan.jsonl", "out", "out/a.pdf", "out/c.pdf", "r.json"},
     {"a.pdf stamped p2 s2 bates 000001..000002", "b.pdf failed p- s- bates unused 000003..000003",
      "c.pdf stamped p1 s1 bates 000004..000004"}},
    // Refused before anything is written.
    {"PlanOfOtherOptions", kPlanned, kWritePlan + " >/dev/null && $V -ilist.txt -fout --text B{bates} -s2 --plan plan.jsonl",
     1, {"The plan was made with -s '1', this run has '2': 'plan.jsonl'\n"}, "", Shell, {}, {"plan.jsonl"}},
    {"PlanOfAnotherList", kPlanned, kWritePlan + " >/dev/null && echo a.pdf > other.txt && $V -iother.txt -fout --text "
     "B{bates} --plan plan.jsonl", 1, {"The plan is of another list (3 files; this list has 1): 'plan.jsonl'\n"}, "", Shell,
     {}, {"plan.jsonl", "other.txt"}},
    {"PlanThatIsNone", {"a.pdf=plain 1", "list.txt=text a.pdf\n", "plan.jsonl=text {\"position\": 0}\n"},
     "-ilist.txt -fout --text B{bates} --plan plan.jsonl", 1,
     {"Not a plan written by --write-plan (line 1): 'plan.jsonl'\n"}, "", 0, {}, {""}},
    {"WritePlanOfAShard", kPlanned, "-ilist.txt --write-plan plan.jsonl --shard 1/2", 1,
     {"--write-plan does not go with --shard: a plan is of the whole list\n"}, "", 0, {}, {""}},
    {"WritePlanWithAReport", kPlanned, "-ilist.txt --write-plan plan.jsonl --report r.json", 1,
     {"--write-plan does not go with --report"}, "", 0, {}, {""}},
    {"ListWithAPlan", kPlanned, "-ilist.txt --list --plan plan.jsonl", 1, {"--list does not go with --plan"}, "", 0, {}, {""}},
    {"ShardSlurmStep", kFourInAList, "SLURM_ARRAY_TASK_ID=0 SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_STEP=2 $V -ilist.txt -fout "
     "-jstamp.jpg --shard auto", 1, {"the Slurm array's step (SLURM_ARRAY_TASK_STEP) is 2"}, "", Shell, {}, {""}},
    {"ShardIndexNotANumber", kFourInAList, "env -u SLURM_ARRAY_TASK_ID -u JOB_COMPLETION_INDEX AWS_BATCH_JOB_ARRAY_INDEX=x "
     "$V -ilist.txt -fout -jstamp.jpg --shard auto/2", 1, {"--shard auto: AWS_BATCH_JOB_ARRAY_INDEX is no whole number: 'x'"}, "",
     Shell, {}, {""}},
    {"ShardWithoutAScheduler", kFourInAList, "env -u SLURM_ARRAY_TASK_ID -u JOB_COMPLETION_INDEX -u AWS_BATCH_JOB_ARRAY_INDEX $V "
     "-ilist.txt -fout -jstamp.jpg --shard auto", 1, {"--shard auto: none of SLURM_ARRAY_TASK_ID (Slurm), JOB_COMPLETION_INDEX "
     "(Kubernetes) or AWS_BATCH_JOB_ARRAY_INDEX (AWS Batch) is set"}, "", Shell, {}, {""}},
    // The same bytes from every run, here or in a worker; stamped again, the file's names are not taken twice.
    {"SameBytesAndNewNamesOverOldOnes", kIn, "$V -iin.pdf -oa.pdf -jstamp.jpg >/dev/null && $V -iin.pdf -ob.pdf -jstamp.jpg "
     "--timeout 60 >/dev/null && cmp a.pdf b.pdf && echo same && $V -ia.pdf -oout.pdf -jstamp.jpg >/dev/null && "
     "grep -ao '/Im[0-9]* [0-9]* 0 R' out.pdf | cut -d' ' -f1 | sort -u | wc -l | sed 's/$/ names/'", 0, {"same\n2 names\n"}, "",
     Shell, {}, {"a.pdf", "b.pdf", "out.pdf"}},
    // What ends a run at once, whatever --keep-going says.
    {"FolderCannotBeMade", {"a.pdf=plain 1", "list.txt=text a.pdf\n", "blocker=text a file where a folder should be"},
     "-ilist.txt -fblocker/out -jstamp.jpg --keep-going", 1, {B + "Unable to create the output folder: 'blocker/out'\n"}, "", Exact},
    {"ReportCannotBeWritten", {"a.pdf=plain 1", "list.txt=text a.pdf\n"}, "-ilist.txt -fout -jstamp.jpg --keep-going --report no/such/r.json",
     1, {B + "Report file create error: 'no/such/r.json'\n"}, "", Exact, {}, {"out"}},
    {"BrokenImageEndsAKeepGoingList", {"a.pdf=plain 1", "list.txt=text a.pdf\na.pdf\n", "cut.jpg=cut stamp.jpg -40"},
     "-ilist.txt -fout -jcut.jpg --keep-going", 1, {B + "Input image file error (the data ends before the end-of-image marker): 'cut.jpg'\n"},
     "", Exact, {}, {"out"}},
    {"JobsWithoutAList", {"a.pdf=plain 1"}, "-ia.pdf -oout/a.pdf -jstamp.jpg --jobs 2", 1,
     {B + "--jobs is for list files only (-i<list.txt> -f<folder>, or -i- for a list on standard input)\n"}, "", Exact},
    // The password would take the list's lines, and the list find nothing.
    {"PasswordAndListBothFromStandardInput", {}, "-i- -fout -jstamp.jpg --password-file -", 1,
     {B + "--password-file - cannot go with -i-: both would read standard input\n"}, "", Exact},
    // What the report says of a file is what the run found.
    {"ReportWarnedButNotRepaired", in("doc sig-flags"), stamp("--report r.json"), 0, {}, "", 0, {}, {}, {"in.pdf stamped p1 s1: "}},
    {"ReportRepaired", {"whole.pdf=plain 2", "in.pdf=cut whole.pdf half"}, stamp("--report r.json"), 0, {}, "", Unreadable, {}, {},
     {"in.pdf stamped p1 s1 repaired: "}},
    // A damaged /Count: the pages found; an update that stops early has only /Count, at most one page per object.
    {"ReportCountsThePagesNotTheirCount", in("doc count-damaged"), stamp("--report r.json"), 0, {}, "", 0, {}, {}, {"in.pdf stamped p3 s3: "}},
    {"ReportOfNoPageSelected", in("plain 2"), stamp("-s4 --report r.json"), 0, {}, "-", 0, {}, {}, {"in.pdf stamped p2 s0: "}},
    {"ReportBoundsTheCountOfAnUpdate", in("doc count-damaged"), stamp("--report r.json --incremental -s1 -e1"), 0, {}, "", 0, {}, {},
     {"in.pdf stamped p10 s1: "}},
    // Both refused for their permissions: only one of them is encrypted; an encrypted file that fails later is too.
    {"ReportCertifiedIsNotEncrypted", in("doc fake-certified"), stamp("--report r.json"), 1, {}, "", 0, {}, {},
     {"in.pdf refused p- s-: PDF file is certified"}},
    {"ReportRestrictedIsEncrypted", encrypted("256 --modify=none"), stamp("--report r.json"), 1, {}, "", 0, {}, {},
     {"in.pdf refused p- s- encrypted: PDF file is encrypted, and its permissions"}},
    {"ReportFailedAfterReadingIsEncrypted", encrypted("256"), "-iin.pdf -onone/out.pdf -jstamp.jpg --report r.json", 1, {}, "", 0, {},
     {}, {"in.pdf failed p- s- encrypted: Output file create error"}},
    // A single file has its report line too; on standard output, with the console text on standard error.
    {"ReportOnStandardOutputInAWorker", in("plain 3"), "$V -iin.pdf -oout.pdf -jstamp.jpg --report - --timeout 60 -s2 2>/dev/null > r.json",
     0, {}, kStamp + "@2,3", Shell, {}, {"out.pdf"}, {"in.pdf stamped p3 s2: "}},
    // A list as find -print0 writes it, on standard input.
    {"ListFromFindPrint0", kTwoInFolders, "find in -name '*.pdf' -print0 | $V -i- -fout -jstamp.jpg -0 --jobs 2", 0, {}, kStamp, Shell, {},
     kTwoMirrored},
    // A report named like a file the run reads is refused before anything is written; like a line's output, that line fails.
    {"ReportIsTheInput", kIn, stamp("--report ./in.pdf"), 1, {B + "Report file is the input file: './in.pdf'\n"}, "", Exact},
    {"ReportIsAListLinesOutput", {"a.pdf=plain 1", "c.dat=plain 1", "out=dir", "list.txt=text a.pdf\nc.dat\n"},
     "-ilist.txt -fout -jstamp.jpg --keep-going --report out/c.dat", 2, {"\nReport file is the output file: 'out/c.dat'\n"}, "", 0, {},
     {"out/a.pdf", "out/c.dat"}},
    // Outputs that are no regular files are refused and stay as they are.
    {"OutputIsAFifo", {"in.pdf=plain 2", "fifo.pdf=fifo"}, "-iin.pdf -ofifo.pdf -jstamp.jpg", 1, {kRefused + "'fifo.pdf'\n"}, "", Exact},
    // An input from a pipe has no end to read a PDF back from; an output that cannot be made says why.
    {"InputIsAPipe", kIn, "cat in.pdf | $V -i/dev/stdin -oout.pdf -jstamp.jpg", 1, {"\nInput file is not a regular file: '/dev/stdin'\n"}, "",
     Shell},
    {"OutputInAMissingFolder", kIn, "-iin.pdf -onone/out.pdf -jstamp.jpg", 1,
     {"\nOutput file create error: 'none/out.pdf' (No such file or directory)\n"}, "", Win},
    // --keep-going: each bad line is one failed or refused file, here or in workers, which finish in any order.
    {"KeepGoingOverBadLines", kBadLines, "$V -ilist.txt -fout -jstamp.jpg --keep-going --report -", 2, kBadLinesSaid, kStamp, Shell, {},
     kBadLinesMade},
    {"KeepGoingOverBadLinesInAWorkerPerCore", kBadLines, "$V -ilist.txt -fout -jstamp.jpg --keep-going --report - --jobs=0", 2,
     kBadLinesSaid, "", Shell, {}, kBadLinesMade},
    // A worker past the time limit, or killed, fails its file only; a new worker stamps the next.
    {"WorkerPastTheTimeLimit", {"a.pdf=plain 1", "b.pdf=plain 1"}, stopped("--timeout 1", "true"), 2, {opened("a.pdf") + "\n" + kTimedOut + "\n"},
     "", Shell | Quick, {}, {"list", "out", "out/b.pdf"}, {"a.pdf failed p- s-: " + kTimedOut, "b.pdf stamped p1 s1: "}},
    {"WorkerKilled", {"a.pdf=plain 1", "b.pdf=plain 1"}, stopped("--jobs 1", "sleep 0.5 && kill -KILL $w"), 2, {opened("a.pdf") + "\n" + kKilled + "\n"},
     "", Shell | Quick, {}, {"list", "out", "out/b.pdf"}, {"a.pdf failed p- s-: " + kKilled, "b.pdf stamped p1 s1: "}},
    // Killed while it counts the pages for Bates numbers: the file fails, and takes no numbers.
    {"WorkerKilledWhileCounting", {"a.pdf=plain 1", "b.pdf=plain 1"}, stopped("--jobs 1", "sleep 0.5 && kill -KILL $w", 1,
     "--text B{bates}"), 2, {opened("a.pdf") + "\n" + kKilledCounting + "\n"}, "", Shell | Quick, {}, {"list", "out", "out/b.pdf"},
     {"a.pdf failed p- s- bates none: " + kKilledCounting, "b.pdf stamped p1 s1 bates 000001..000001: "}},
    // Regression: the workers of a killed run went on with the files they had been handed (where SIGPIPE is
    // ignored, as here, nothing they sent to it ended them).
    {"WorkersEndWithTheirRun", {"a.pdf=plain 1", "b.pdf=plain 1"}, "trap '' PIPE && " + stopped("--jobs 2", "sleep 0.5 && "
     "kill -KILL $pid; wait $pid; kill -CONT $w && for i in $(seq 20); do ps -o stat= $w | grep -qv Z || exit 0; sleep 0.05; done; exit 1", 2),
     0, {}, "", Shell | Quick, {}, {"list", "out"}},
    // The same with the Windows program; under Wine its workers are no children of it: they are found by the command
    // line of the program's own copy.
    {"WorkersEndWithTheirRunOnWindows", {"a.pdf=plain 1", "b.pdf=plain 1"}, "set -- $V && cp \"$2\" . && mkfifo list && { $1 vellico.exe "
     "-i- -fout -jstamp.jpg --jobs 2 < list >/dev/null 2>&1 & } && pid=$! && exec 3> list && p=\"${PWD##*/}.vellico.exe "
     "--vellico-internal-\"worker && for i in $(seq 600); do w=$(pgrep -f \"$p\") && [ $(echo $w | wc -w) = 2 ] && break; sleep 0.1; "
     "done && sleep 1 && w=$(pgrep -f \"$p\") && kill -STOP $w && printf 'a.pdf\\r\\nb.pdf\\r\\n' >&3 && exec 3>&- && sleep 1 && "
     "kill -KILL $pid; wait $pid; kill -CONT $w 2>/dev/null; for i in $(seq 50); do ps -o stat= $w | grep -qv Z || exit 0; sleep 0.1; done; exit 1",
     0, {}, "", Shell | WinOnly, {}, {"list", "out", "vellico.exe"}},
    // Regression: what a run said before a signal ended it was lost when standard output is a file.
    {"ConsoleKeptWhenASignalEndsTheRun", {}, stopped("--jobs 1 -zzz > console.txt", "kill -TERM $pid; kill -CONT $w") + "; cat console.txt", 0,
     {B + "Warning: unknown option '-zzz' ignored\n"}, "", Shell | Quick, {}, {"list", "out", "console.txt"}},
    // A dry run writes nothing, and places the stamp on each page where the run before it drew.
    {"DryRunCentredAlignedRight", kDryRunDoc, dryAfterRun("-e3 -pos-1,-1 -align right"), 0,
     planned({{210, 396, 96, 48}, {264, 275, 96, 48}, {210, 396, 96, 48}}), "210,396,96,48;264,275,96,48;210,396,96,48@1,2,3", Shell},
    {"DryRunFlippedAndSizedInAWorker", kDryRunDoc, dryAfterRun("-e3 -pos30,40 -flipv -fliph -align right -size150,60 --timeout 60"), 0,
     planned({{432, 752, 150, 60}, {540, 510, 150, 60}, {432, 752, 150, 60}}), "432,752,150,60;540,510,150,60;432,752,150,60@1,2,3", Shell},
    // On a terminal a list run keeps one line of progress (piped, the Exact list rows show none).
    {"ProgressOnATerminal", {"a.pdf=plain 1", "b.pdf=plain 1", "list.txt=text a.pdf\nb.pdf\n"},
     "script -qec \"$V -ilist.txt -fout -jstamp.jpg --jobs 2\" /dev/null", 0, {"2 of 2 files, ", " files/s, 0:00:00 left"}, "", Shell, {},
     {"out", "out/a.pdf", "out/b.pdf"}},
    // Lists as Windows editors write them: UTF-8 with CR LF, with a byte-order mark and an open last line, UTF-16 with names beyond ASCII.
    {"ListInUtf8WithCrLf", kThreeNames + std::vector<std::string>{"list.txt=text plain.pdf\r\nPrüfung.pdf\r\n"}, "-ilist.txt -f输出 -jstamp.jpg", 0,
     {}, kStamp, Win, {}, {"输出", "输出/plain.pdf", "输出/Prüfung.pdf"}},
    {"ListInUtf8WithAMark", kThreeNames + std::vector<std::string>{"list.txt=text \xEF\xBB\xBFplain.pdf\n合同.pdf"}, "-ilist.txt -f输出 -jstamp.jpg",
     0, {}, kStamp, Win, {}, {"输出", "输出/plain.pdf", "输出/合同.pdf"}},
    {"ListInUtf16NamesBeyondAscii", kThreeNames + std::vector<std::string>{"list.txt=text " + std::string("\xFF\xFE\x08\x54\x0C\x54.\0p\0d\0f\0"
     "\r\0\n\0p\0l\0a\0i\0n\0.\0p\0d\0f\0", 36)}, "-ilist.txt -f输出 -jstamp.jpg", 0, {}, kStamp, Win, {}, {"输出", "输出/plain.pdf", "输出/合同.pdf"}},
    // Regression: names of 5,000 characters make frames to a worker, and its results, larger than a Windows pipe's default
    // buffer; with four files (three are not enough) the pool and the worker waited on each other.
    {"LongNamesThroughTheWorkerChannel", {"list.txt=text a" + kX + ".pdf\r\nb" + kX + ".pdf\r\nc" + kX + ".pdf\r\nd" + kX + ".pdf\r\n"},
     "-ilist.txt -fout -jstamp.jpg --keep-going --jobs 1 --report r.json", 2, {}, "", Win, {}, {"out"},
     {"a" + kX + ".pdf failed", "b" + kX + ".pdf failed", "c" + kX + ".pdf failed", "d" + kX + ".pdf failed"}},
})), kRowName);
// clang-format on

} // namespace
