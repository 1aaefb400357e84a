#include "app/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CBatchSettings.h"
#include "page/CReporter.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "pdf/PdfTextString.h"
#include "platform/Platform.h"
#include "text/CStampDate.h"
#include "text/CTextStamp.h"
#include "text/CTextTemplate.h"

namespace {

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d" conversion as sscanf makes it (white space, sign, at least one
// digit), saturating instead of overflowing. Advances `p` past it.
bool scanInt(const char*& p, int& value)
{
    const char* q = p;
    while (isScanSpace(*q))
        ++q;
    bool negative = false;
    if (*q == '+' || *q == '-')
        negative = *q++ == '-';
    if (*q < '0' || *q > '9')
        return false;
    long long magnitude = 0;
    for (; *q >= '0' && *q <= '9'; ++q)
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (*q - '0');
    long long result = negative ? -magnitude : magnitude;
    value = result > INT_MAX ? INT_MAX : result < INT_MIN ? INT_MIN : static_cast<int>(result);
    p = q;
    return true;
}

// "<prefix>%d": the prefix matches exactly and a number follows (anything after it is ignored).
bool scansAs(const char* argument, const char* prefix, int& value)
{
    size_t length = std::strlen(prefix);
    if (std::strncmp(argument, prefix, length) != 0)
        return false;
    const char* p = argument + length;
    return scanInt(p, value);
}

// A "%d" conversion, then a fraction when a '.' and digits follow: points
// are real numbers. Advances `p` past it.
bool scanDecimal(const char*& p, double& value)
{
    const char* sign = p;
    while (isScanSpace(*sign))
        ++sign;
    int whole = 0;
    if (!scanInt(p, whole))
        return false;
    value = whole;
    if (*p != '.' || p[1] < '0' || p[1] > '9')
        return true;
    const bool negative = *sign == '-'; // "-0.5" has a whole part of 0
    double fraction = 0, scale = 1;
    for (++p; *p >= '0' && *p <= '9'; ++p)
        if (scale < 1e15)
            fraction = fraction * 10 + (*p - '0'), scale *= 10;
    value += (negative ? -fraction : fraction) / scale;
    return true;
}

// "<prefix>%d,%d" with both values converted, each with a fraction or not.
bool scansAsPair(const char* argument, const char* prefix, double& first, double& second)
{
    size_t length = std::strlen(prefix);
    if (std::strncmp(argument, prefix, length) != 0)
        return false;
    const char* p = argument + length;
    double a = 0, b = 0;
    if (!scanDecimal(p, a) || *p != ',')
        return false;
    ++p;
    if (!scanDecimal(p, b))
        return false;
    first = a;
    second = b;
    return true;
}

const CCornerMark* findCorner(const char* argument)
{
    for (const CCornerMark& corner : kCornerMarks)
        if (std::strcmp(argument, corner.option) == 0)
            return &corner;
    return nullptr;
}

// The password options, read by name.
constexpr const char* kPassword = "--password";
constexpr const char* kPasswordFile = "--password-file";
constexpr const char* kText = "--text";

// "--text=TEXT": the option with its text joined.
bool textJoined(const std::string& word)
{
    return word.compare(0, std::strlen(kText) + 1, std::string(kText) + "=") == 0;
}

// The first line of `text`, without its line end or a UTF-8 byte-order mark.
std::string firstLine(std::string text)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// No password is this long: a password file is read no further.
constexpr size_t kMaxPasswordFile = 65536;

// The bytes of `fd` up to its first line end, its end, or kMaxPasswordFile:
// a pipe or a FIFO has no size to ask for, and its writer may keep it open.
bool readFirstLineBytes(int fd, std::string& text)
{
    char buffer[4096];
    while (text.size() < kMaxPasswordFile) {
        const int64_t got = platform::readSome(fd, buffer, sizeof buffer);
        if (got <= 0)
            return got == 0;
        const size_t count = static_cast<size_t>(got);
        text.append(buffer, count);
        if (std::memchr(buffer, '\n', count) || std::memchr(buffer, '\r', count))
            break;
    }
    return true;
}

// The password in the first line of file `path`, or of standard input for "-".
std::string readPasswordFile(const std::string& path)
{
    const bool standardInput = path == "-";
    const int fd = standardInput ? 0 : platform::openForReading(path);
    std::string text;
    const bool read = fd >= 0 && readFirstLineBytes(fd, text);
    if (fd >= 0 && !standardInput)
        (void)platform::closeFile(fd);
    if (!read)
        throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nPassword file cannot be read: '%s'\n",
                                       path);
    return firstLine(text);
}

// Whether the list comes from standard input: "-" after the first
// argument's two letters ("-i-"), as the run reads it.
bool listOnStandardInput(const std::vector<std::string>& arguments)
{
    return arguments.size() > 1 && arguments[1].size() == 3 && arguments[1][2] == '-';
}

// Long option names that could be a misspelt --password: the word after one is never shown.
bool looksLikeLongOption(const std::string& word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// Limits on values that would make no sense, and would overflow further on.
constexpr int kMaxJobs = 64;              // each worker is a process; signal cleanup tracks this many
constexpr double kMaxTimeout = 1e7;       // seconds: about four months
constexpr int64_t kMaxMemoryMb = 1 << 24; // 16 TB

bool wholeNumber(const std::string& text, int64_t limit, int64_t& value)
{
    if (text.empty() || text.size() > 12)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= limit;
}

void setJobs(CBatchSettings& batch, const std::string& value)
{
    int64_t number = 0;
    if (!wholeNumber(value, kMaxJobs, number))
        throw CPdfException(CPdfException::EKind::UsageError, "--jobs takes a number of workers from 1 to " +
                                                                  std::to_string(kMaxJobs) +
                                                                  ", or 0 for one per core: '" + value + "'\n");
    batch.jobs = static_cast<int>(number);
}

void setTimeout(CBatchSettings& batch, const std::string& value)
{
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !(seconds > 0) || seconds > kMaxTimeout)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--timeout takes a number of seconds greater than 0 and at most 10000000: '" + value + "'\n");
    batch.timeoutSeconds = seconds;
}

void setMemoryLimit(CBatchSettings& batch, const std::string& value)
{
    int64_t number = 0;
    if (!wholeNumber(value, kMaxMemoryMb, number) || number == 0)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--memory-limit takes a number of megabytes greater than 0: '" + value + "'\n");
    batch.memoryLimitMb = number;
}

void setReport(CBatchSettings& batch, const std::string& value)
{
    if (value.empty())
        throw CPdfException(CPdfException::EKind::UsageError, "--report needs a file name, or - for standard output\n");
    batch.report = value;
}

void setShard(CBatchSettings& batch, const std::string& value)
{
    batch.shard = CShard::parse(value, [](const char* name) { return static_cast<const char*>(std::getenv(name)); });
}

void setPlanFile(std::optional<std::string>& plan, const char* option, const std::string& value)
{
    if (value.empty())
        throw CPdfException(CPdfException::EKind::UsageError, std::string(option) + " needs a file name\n");
    plan = value;
}

void setFontSize(CStampSettings& settings, const std::string& value)
{
    char* end = nullptr;
    const double points = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !(points > 0) || points > 10000)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--font-size takes a size in points greater than 0 and at most 10000: '" + value + "'\n");
    settings.fontSize = points;
}

void setRotate(CStampSettings& settings, const std::string& value)
{
    char* end = nullptr;
    const double degrees = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !(std::abs(degrees) <= 360))
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--rotate takes an angle in degrees from -360 to 360: '" + value + "'\n");
    settings.rotate = degrees;
}

// No collection holds more faces than this.
constexpr int kLargestFontIndex = 9999;

void setStampPage(CStampSettings& settings, const std::string& value)
{
    if (value == "each") {
        settings.stampPage = CStampSettings::kEachPage;
        return;
    }
    const bool digits =
        !value.empty() && value.size() <= 6 && value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::atoi(value.c_str()) < 1)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--stamp-page takes a page number from 1 to 999999, or 'each': '" + value + "'\n");
    settings.stampPage = std::atoi(value.c_str());
}

void setFontIndex(CStampSettings& settings, const std::string& value)
{
    const bool digits =
        !value.empty() && value.size() <= 4 && value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw CPdfException(CPdfException::EKind::UsageError, "--font-index takes a number from 0 to " +
                                                                  std::to_string(kLargestFontIndex) + ": '" + value +
                                                                  "'\n");
    settings.fontIndex = std::atoi(value.c_str());
}

void setColor(CStampSettings& settings, const std::string& value)
{
    const std::string digits = value.compare(0, 1, "#") == 0 ? value.substr(1) : value;
    if (digits.size() != 6 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "--color takes six hexadecimal digits RRGGBB, such as ff0000 for red: '" + value + "'\n");
    settings.color = static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
}

// Bates numbers stay well inside 64 bits however many pages follow the first.
constexpr int64_t kLargestBatesStart = 999999999999999LL;
constexpr int kLargestBatesDigits = 18;

void setBatesStart(CStampSettings& settings, const std::string& value)
{
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || value[0] == '-' || value[0] == '+' || end != value.c_str() + value.size() || errno != 0 ||
        number > kLargestBatesStart)
        throw CPdfException(CPdfException::EKind::UsageError, "--bates-start takes a whole number from 0 to " +
                                                                  std::to_string(kLargestBatesStart) + ": '" + value +
                                                                  "'\n");
    settings.batesStart = number;
}

void setBatesDigits(CStampSettings& settings, const std::string& value)
{
    const bool digits =
        !value.empty() && value.size() <= 2 && value.find_first_not_of("0123456789") == std::string::npos;
    const int number = digits ? std::atoi(value.c_str()) : 0;
    if (number < 1 || number > kLargestBatesDigits)
        throw CPdfException(CPdfException::EKind::UsageError, "--bates-digits takes a number from 1 to " +
                                                                  std::to_string(kLargestBatesDigits) + ": '" + value +
                                                                  "'\n");
    settings.batesDigits = number;
}

void setBlend(CStampSettings& settings, const std::string& value)
{
    if (value != "multiply" && value != "darken")
        throw CPdfException(CPdfException::EKind::UsageError, "--blend takes multiply or darken: '" + value + "'\n");
    settings.blend = value == "multiply" ? "Multiply" : "Darken";
}

// How an option's value is written after its name.
enum class EValue {
    None,   // the name alone: -flipv, --dry-run
    Number, // -s5, or -s 5: a whole number, whatever follows it ignored
    Pair,   // -pos10,20.5, or -pos 10,20.5: two numbers, each with a fraction or not
    Word,   // -align right: the next word whole, whatever it is
    Text,   // --report r.json, or --report=r.json
};

// An option's value as read: the number, the pair or the text its kind gives.
struct CValue {
    int number = 0;
    double x = 0, y = 0;
    std::string text;
};

// Every option after the first three, in the order --help lists them, with
// its line there (null: listed on another's line, or not at all) and what
// it sets: one of the run's own settings, taken out of the arguments first
// (`batch`), or one of the stamp's (`stamp`). --password-file sets neither:
// the first line of its file takes its place, as --password, before either
// kind is read. A short option is matched in this order, its name whole or,
// with a number, as the start of the word.
struct COption {
    const char* name;
    EValue value;
    const char* usage;
    void (*batch)(CBatchSettings& batch, const std::string& value);
    void (*stamp)(CStampSettings& settings, const CValue& value, CReporter& reporter);
};

using S = CStampSettings;
using B = CBatchSettings;
using V = CValue;
using R = CReporter;

// `id` as `option` takes it: a stamp's id, else refused.
std::string checkedId(const char* option, const std::string& id)
{
    if (!CStampMark::isValidId(id))
        throw CPdfException(CPdfException::EKind::UsageError, std::string(option) + " takes 1 to " +
                                                                  std::to_string(CStampMark::kLongestId) +
                                                                  " letters, digits, '-', '_' and '.': '" + id + "'\n");
    return id;
}

// A stamp shows on paper alone or on screen alone, not both.
CStampSettings::ELayerUse onlyOneUse(const CStampSettings& settings, CStampSettings::ELayerUse use)
{
    if (settings.layerUse != CStampSettings::ELayerUse::Always && settings.layerUse != use)
        throw CPdfException(CPdfException::EKind::UsageError, "\n--print-only and --screen-only do not go together\n");
    return use;
}

const COption kOptions[] = {
    {"-s", EValue::Number, "-s(n) page to start processing at, default at 1\n", nullptr,
     [](S& s, const V& v, R&) { s.startPage = v.number; }},
    {"-e", EValue::Number, "-e(n) page to end processing at, default at 99999\n", nullptr,
     [](S& s, const V& v, R&) { s.endPage = v.number; }},
    {"-useend", EValue::None, "-useend use -send and -eend parameters instead of -s and -e\n", nullptr,
     [](S& s, const V&, R&) { s.useEnd = true; }},
    {"-send", EValue::Number,
     "-send(n) page to start processing at from last page backwards, default at 0, NOTE: -s must be 0\n", nullptr,
     [](S& s, const V& v, R&) { s.startFromEnd = v.number; }},
    {"-eend", EValue::Number,
     "-eend(n) page to end processing at from last page backwards, default at 0, NOTE: -e must be 0\n", nullptr,
     [](S& s, const V& v, R&) { s.endFromEnd = v.number; }},
    {"-n", EValue::Number, "-n(n) only stamp page number 1 in nth e.g. -n2 would stamp pages 1,3,5,7\n", nullptr,
     [](S& s, const V& v, R&) { s.everyNth = v.number; }},
    {"-size", EValue::Pair,
     "-size(n),(n) image size viewed in pdf, the image viewed can be different to the image's pixel size.\n", nullptr,
     [](S& s, const V& v, R&) { s.sizeX = v.x, s.sizeY = v.y; }},
    {"-align", EValue::Word,
     "-align <TEXT> align justified image, can be 'left', 'right' or 'center', left is default. e.g. right on "
     "positions 20,20 would mean image right edge ends at that position.\n",
     nullptr,
     [](S& s, const V& v, R& reporter) {
         s.align = v.text;
         // Any other word aligns right, as it always has: a misspelt "centre" must not pass unseen.
         if (s.align != "left" && s.align != "right" && s.align != "center")
             reporter.optionWarning("-align '" + s.align + "' is not left, right or center: it aligns right");
     }},
    {"-noforce", EValue::None,
     "-noforce don't force portrait when landscape, if page view is rotated then calculate as unrotated.\n", nullptr,
     [](S& s, const V&, R&) { s.forcePortrait = false; }},
    {"-pos", EValue::Pair,
     "-pos(n),(n) h,v (horizontal, vertical) positions on page calculated from bottom left up. e.g. 20,20 would "
     "be bottom left corner. use 10,20 as default. if -1 is specified then center on page size.\n",
     nullptr, [](S& s, const V& v, R&) { s.posX = v.x, s.posY = v.y; }},
    {"-flipv", EValue::None,
     "-flipv flips vertical positions so 20,20 would be top left calculated from top of page.\n", nullptr,
     [](S& s, const V&, R&) { s.flipV = true; }},
    {"-fliph", EValue::None,
     "-fliph flips horizontal positions so 20,20 would be bottom right from right edge of page.\n", nullptr,
     [](S& s, const V&, R&) { s.flipH = true; }},
    // PDF opacity runs from 0 to 1.
    {"-opacity", EValue::Number,
     "-opacity(n) opacity of the image in percent (transparency), e.g. 1-100%, default -opactity100\n", nullptr,
     [](S& s, const V& v, R&) { s.opacity = std::clamp(v.number, 0, 100); }},
    {"-crop_marks", EValue::None, "-crop_marks adds crop mark images to pdf\n", nullptr,
     [](S& s, const V&, R&) { s.cropMarks = true; }},
    {"-trim_marks", EValue::None, "-trim_marks adds crop mark images to pdf\n", nullptr,
     [](S& s, const V&, R&) { s.trimMarks = true; }},
    {"--incremental", EValue::None,
     "--incremental appends the stamp to the input as an incremental update (signed files always are)\n", nullptr,
     [](S& s, const V&, R&) { s.incremental = true; }},
    {"--remove", EValue::Text,
     "--remove ID write the output without the stamps of id ID (again for more ids; no -j): signed files get back the "
     "bytes they had before, where the stamps were their last update\n",
     nullptr, [](S& s, const V& v, R&) { s.removeIds += checkedId("--remove", v.text) + " "; }},
    {"--remove-all", EValue::None, "--remove-all write the output without any of the stamps Vellico wrote (no -j)\n",
     nullptr, [](S& s, const V&, R&) { s.removeAll = true; }},
    {"--replace", EValue::None,
     "--replace take the stamps of this run's --id off before stamping, so that running again does not stamp twice\n",
     nullptr, [](S& s, const V&, R&) { s.replace = true; }},
    {"--layer", EValue::Text,
     "--layer NAME put the stamp in a layer (optional content) of that name, which viewers can hide\n", nullptr,
     [](S& s, const V& v, R&) {
         bool wellFormed = false;
         utf8CodePoints(v.text, &wellFormed);
         if (v.text.empty() || v.text.size() > 200 || !wellFormed)
             throw CPdfException(CPdfException::EKind::UsageError,
                                 "--layer takes a name of 1 to 200 bytes of UTF-8: '" + v.text + "'\n");
         s.layer = v.text;
     }},
    {"--print-only", EValue::None, "--print-only the stamp is printed but not shown on screen (in a layer)\n", nullptr,
     [](S& s, const V&, R&) { s.layerUse = onlyOneUse(s, CStampSettings::ELayerUse::PrintOnly); }},
    {"--screen-only", EValue::None, "--screen-only the stamp is shown on screen but not printed (in a layer)\n",
     nullptr, [](S& s, const V&, R&) { s.layerUse = onlyOneUse(s, CStampSettings::ELayerUse::ScreenOnly); }},
    {"--annotation", EValue::None, "--annotation adds the stamp as a stamp annotation instead of page content\n",
     nullptr, [](S& s, const V&, R&) { s.annotation = true; }},
    {"--underlay", EValue::None,
     "--underlay draw the stamp before the page's content, which then lies over it (not with --annotation)\n", nullptr,
     [](S& s, const V&, R&) { s.underlay = true; }},
    {"--blend", EValue::Text,
     "--blend MODE draw the stamp with blend mode multiply or darken: on white paper it looks like an underlay, yet "
     "a scan or a white background cannot hide it\n",
     nullptr, [](S& s, const V& v, R&) { setBlend(s, v.text); }},
    {"--id", EValue::Text,
     "--id NAME the stamp's id, by which it is found again (letters, digits, '-', '_' and '.'), default stamp\n",
     nullptr, [](S& s, const V& v, R&) { s.stampId = checkedId("--id", v.text); }},
    {"--stamp-page", EValue::Text,
     "--stamp-page N the page of a PDF stamp file (-j) to place, default 1; 'each': input page i takes stamp page "
     "i, the last one for the pages past it\n",
     nullptr, [](S& s, const V& v, R&) { setStampPage(s, v.text); }},
    {"--rotate", EValue::Text, "--rotate DEG turn the stamp DEG degrees counter-clockwise about the point -pos names\n",
     nullptr, [](S& s, const V& v, R&) { setRotate(s, v.text); }},
    {"--diagonal", EValue::None,
     "--diagonal the stamp across the page, centred on its bottom-left to top-right diagonal and as large as fits "
     "(instead of -pos, -size and --rotate)\n",
     nullptr, [](S& s, const V&, R&) { s.diagonal = true; }},
    {"--outline", EValue::None, "--outline the text's letters outlined instead of filled\n", nullptr,
     [](S& s, const V&, R&) { s.outline = true; }},
    {"--as-paths", EValue::None,
     "--as-paths the text's letters drawn as shapes: no font is embedded, and no text can be copied or extracted\n",
     nullptr, [](S& s, const V&, R&) { s.asPaths = true; }},
    {"--text", EValue::Text,
     "--text <TEXT> stamp TEXT instead of an image (no -j): {page} is the page's number, {pages} the page count, "
     "{label} the page's label, {file} the input's name, {date} or {date:%d.%m.%Y} the date, {bates} the Bates "
     "number, \\n a new line\n",
     nullptr,
     [](S& s, const V& v, R&) {
         // Its fields are read here, before any file is; whether a font shows it, once every option is.
         (void)CTextTemplate(v.text);
         s.text = v.text;
     }},
    {"--date", EValue::Text, "--date YYYY-MM-DD the date the text's {date} shows, instead of today's\n", nullptr,
     [](S& s, const V& v, R&) {
         if (!CStampDate().read(v.text) || v.text.size() != 10)
             throw CPdfException(CPdfException::EKind::UsageError,
                                 "--date takes a date as YYYY-MM-DD, such as 2026-12-31: '" + v.text + "'\n");
         s.date = v.text;
     }},
    {"--font", EValue::Text,
     "--font FILE|FAMILY the text's font: a TrueType or OpenType file, or an installed family (embedded as a "
     "subset)\n",
     nullptr, [](S& s, const V& v, R&) { s.font = v.text; }},
    {"--font-index", EValue::Text, "--font-index N the face of a font collection (.ttc), default 0\n", nullptr,
     [](S& s, const V& v, R&) { setFontIndex(s, v.text); }},
    {"--font-size", EValue::Text, "--font-size PT the text's size in points, default 12\n", nullptr,
     [](S& s, const V& v, R&) { setFontSize(s, v.text); }},
    {"--color", EValue::Text, "--color RRGGBB the text's colour, default 000000 (black)\n", nullptr,
     [](S& s, const V& v, R&) { setColor(s, v.text); }},
    {"--bates-start", EValue::Text,
     "--bates-start N the first page's {bates} number, default 1; a list's files continue the count\n", nullptr,
     [](S& s, const V& v, R&) { setBatesStart(s, v.text); }},
    {"--bates-digits", EValue::Text, "--bates-digits D {bates} padded with zeros to D digits, default 6\n", nullptr,
     [](S& s, const V& v, R&) { setBatesDigits(s, v.text); }},
    {"--bates-prefix", EValue::Text, "--bates-prefix P text before the {bates} number\n", nullptr,
     [](S& s, const V& v, R&) { s.batesPrefix = v.text; }},
    {"--bates-suffix", EValue::Text, "--bates-suffix S text after the {bates} number\n", nullptr,
     [](S& s, const V& v, R&) { s.batesSuffix = v.text; }},
    {kPassword, EValue::Text,
     "--password <PW> or --password=<PW> opens a file that needs a password (the owner's lifts its permissions)\n",
     nullptr, [](S& s, const V& v, R&) { s.password = v.text; }},
    {kPasswordFile, EValue::Text,
     "--password-file <FILE> the same, from the first line of FILE ('-' for standard input)\n", nullptr, nullptr},
    {"--keep-going", EValue::None,
     "--keep-going with a list: a file that fails is reported, and the run goes on with the next\n",
     [](B& batch, const std::string&) { batch.keepGoing = true; }, nullptr},
    {"--jobs", EValue::Text,
     "--jobs N with a list: stamp N files at once, each in a worker process of its own; 0 = one per core\n", setJobs,
     nullptr},
    {"--timeout", EValue::Text, "--timeout SECONDS stop a file that takes longer, and report it as failed\n",
     setTimeout, nullptr},
    {"--memory-limit", EValue::Text,
     "--memory-limit MB stop a file whose worker needs more memory, and report it as failed\n", setMemoryLimit,
     nullptr},
    {"--report", EValue::Text, "--report FILE write a report, one JSON line per file (- for standard output)\n",
     setReport, nullptr},
    {"--skip-existing", EValue::None,
     "--skip-existing with a list: leave an output that is there already alone, so a stopped run goes on where it "
     "stopped\n",
     [](B& batch, const std::string&) { batch.skipExisting = true; }, nullptr},
    {"--shard", EValue::Text,
     "--shard K/N with a list: stamp only the K-th of N shares of it (the lines whose position from 0 is K-1 "
     "modulo N); auto or auto/N: K (and N) from Slurm, Kubernetes or AWS Batch\n",
     setShard, nullptr},
    {"--write-plan", EValue::Text,
     "--write-plan FILE with a list: read every file once and write its pages and Bates range to FILE; stamp "
     "nothing (no -f or -j needed)\n",
     [](B& batch, const std::string& value) { setPlanFile(batch.writePlan, "--write-plan", value); }, nullptr},
    {"--plan", EValue::Text,
     "--plan FILE with a list: take each file's Bates range from the plan --write-plan wrote, so shards number as "
     "one run\n",
     [](B& batch, const std::string& value) { setPlanFile(batch.plan, "--plan", value); }, nullptr},
    {"--list", EValue::None,
     "--list print the stamps each file carries: id, kind, content, underlay or annotation, and where (no -o, -f or "
     "-j)\n",
     [](B& batch, const std::string&) { batch.list = true; }, nullptr},
    {"--dry-run", EValue::None,
     "--dry-run load each file and print where the stamp would go on each page; write nothing\n",
     [](B& batch, const std::string&) { batch.dryRun = true; }, nullptr},
    {"--null", EValue::None,
     "--null (or -0) the list's names end with NUL bytes (find -print0); -i- reads the list from standard input\n",
     [](B& batch, const std::string&) { batch.nullSeparated = true; }, nullptr},
    {"-0", EValue::None, nullptr, [](B& batch, const std::string&) { batch.nullSeparated = true; }, nullptr},
};

// The option `argument` names, or null: by its name whole (before any '='
// when it takes a value that way), or, for a number or a pair, by its name
// and the numbers after it, which `value` then holds.
const COption* findOption(const std::string& argument, CValue& value)
{
    const std::string name = argument.substr(0, argument.find('='));
    for (const COption& option : kOptions) {
        const char* given = argument.c_str();
        if (option.value == EValue::Number ? scansAs(given, option.name, value.number)
            : option.value == EValue::Pair ? scansAsPair(given, option.name, value.x, value.y)
            : option.value == EValue::Text ? name == option.name
                                           : argument == option.name)
            return &option;
    }
    return nullptr;
}

const COption* findOption(const std::string& argument)
{
    CValue ignored;
    return findOption(argument, ignored);
}

// Whether `option`, alone at `position` of the joined arguments, is one whose
// value may come as the next argument: -i, -o (or -f) and -j in their places,
// a number or a pair after them.
bool takesValueAt(const std::string& option, size_t position)
{
    if (position == 0)
        return false;
    if (position < kFirstOption) {
        static const char* const kHead[] = {"-i", "-o", "-j"};
        return option == kHead[position - 1] || (position == 2 && option == "-f");
    }
    for (const COption& known : kOptions)
        if ((known.value == EValue::Number || known.value == EValue::Pair) && option == known.name)
            return true;
    return false;
}

// A mistyped long option would otherwise leave the run doing what it was
// meant to prevent (a misspelt --dry-run writes every output): refused.
[[noreturn]] void refuseLongOption(const std::string& argument)
{
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    for (const COption& option : kOptions)
        if (name == option.name)
            throw CPdfException(CPdfException::EKind::UsageError, name + " takes no value: '" + argument + "'\n");
    // Its value may be a password: only the name is shown.
    throw CPdfException(CPdfException::EKind::UsageError,
                        "Unknown option: '" + (equals == std::string::npos ? name : name + "=...") +
                            "' (vellico --help lists the options)\n");
}

// The value of long option `option`, the word at `index`: after its '=', or
// the next word (which `index` then steps over); empty for a flag.
std::string optionValue(const std::vector<std::string>& words, size_t& index, const COption& option)
{
    const std::string& word = words[index];
    const size_t equals = word.find('=');
    if (equals != std::string::npos)
        return word.substr(equals + 1);
    if (option.value != EValue::Text)
        return std::string();
    if (index + 1 >= words.size())
        throw CPdfException(CPdfException::EKind::UsageError, std::string(option.name) + " needs a value\n");
    return words[++index];
}

// Where the options begin in `words` (program name included): after -i and
// -o when --text stands for -j, else after -j. A long option's separate value
// is no option, whatever it says.
size_t firstOptionIn(const std::vector<std::string>& words)
{
    // --list takes no output and no stamp: options follow the input.
    for (size_t i = 2; i < words.size(); ++i)
        if (words[i] == "--list")
            return 2;
    // A plan needs no folder and no stamp: options follow the input and any -f and -j.
    for (size_t i = 2; i < words.size(); ++i)
        if (words[i] == "--write-plan" || words[i].compare(0, 13, "--write-plan=") == 0) {
            size_t first = 2;
            if (first < words.size() && words[first].compare(0, 2, "-f") == 0)
                ++first;
            if (first < words.size() && words[first].compare(0, 2, "-j") == 0)
                ++first;
            return first;
        }
    // Taking stamps off takes no stamp: options follow the output.
    for (size_t i = 3; i < words.size(); ++i)
        if (words[i] == "--remove-all" || words[i] == "--remove" || words[i].compare(0, 9, "--remove=") == 0)
            return 3;
    for (size_t i = kFirstOption - 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == kText || textJoined(word))
            return kFirstOption - 1;
        const COption* option = findOption(word);
        if (option &&
            (option->value == EValue::Word || (option->value == EValue::Text && word.find('=') == std::string::npos)))
            ++i; // its value
    }
    return kFirstOption;
}

} // namespace

bool isTextWord(const std::vector<std::string>& arguments, size_t index)
{
    return textJoined(arguments[index]) || (index > 0 && arguments[index - 1] == kText);
}

bool isPasswordWord(const std::vector<std::string>& arguments, size_t index)
{
    const std::string& word = arguments[index];
    if (word.compare(0, std::strlen(kPassword), kPassword) == 0 && word != kPasswordFile &&
        word.compare(0, std::strlen(kPasswordFile) + 1, std::string(kPasswordFile) + "=") != 0)
        return true;
    // The word after "--password", or after a long option that may be a misspelling of it.
    return index > 0 && looksLikeLongOption(arguments[index - 1]) && arguments[index - 1].find('=') == std::string::npos &&
           word.compare(0, 1, "-") != 0;
}

std::vector<std::string> readCommandLine(int argumentCount, const char* const* arguments, CBatchSettings& batch,
                                         std::vector<std::string>& passwordFiles)
{
    const std::vector<std::string> given(arguments, arguments + argumentCount);
    const size_t firstOption = firstOptionIn(given);
    std::vector<std::string> words;
    CBatchSettings taken;
    std::vector<std::pair<size_t, std::string>> passwordFileAt; // where each --password-file stands, and its file
    for (size_t i = 0; i < given.size(); ++i) {
        std::string argument = given[i];
        const bool hasNext = i + 1 < given.size();
        const COption* option = words.size() >= firstOption ? findOption(argument) : nullptr;
        if (words.size() >= firstOption && !option && looksLikeLongOption(argument))
            refuseLongOption(argument);
        if (option && option->batch) {
            option->batch(taken, optionValue(given, i, *option));
            continue;
        }
        if (option && std::strcmp(option->name, kPasswordFile) == 0) {
            if (argument == kPasswordFile && !hasNext)
                throw CPdfException(CPdfException::EKind::UsageError,
                                    "\n--password-file needs a file name ('-' for standard input)\n");
            passwordFileAt.emplace_back(words.size(), optionValue(given, i, *option));
            words.emplace_back();
            continue;
        }
        // -align's word, and a long option's value with no '=', is taken whole,
        // even one that looks like an option: "--password --password-file".
        const bool takesNextWord =
            option && (option->value == EValue::Word ||
                       (option->value == EValue::Text && argument.find('=') == std::string::npos));
        if (takesNextWord && hasNext) {
            words.push_back(argument);
            words.push_back(given[++i]);
            continue;
        }
        // A lone option before another option (or before nothing) stays alone,
        // which is how it was read before values could follow a space.
        if (hasNext && !given[i + 1].empty() && given[i + 1][0] != '-' && takesValueAt(argument, words.size()))
            argument += given[++i];
        words.push_back(argument);
    }
    batch = taken;
    // Read once, here, after every option is known to be good: list mode, and the workers, see the password itself.
    for (const auto& [at, path] : passwordFileAt) {
        // Standard input cannot give both: the list would find it read.
        if (path == "-" && listOnStandardInput(words))
            throw CPdfException(CPdfException::EKind::UsageError,
                                "--password-file - cannot go with -i-: both would read standard input\n");
        words[at] = std::string(kPassword) + "=" + readPasswordFile(path);
        if (path != "-")
            passwordFiles.push_back(path);
    }
    return words;
}

CStampSettings parseArguments(int argumentCount, const char* const* arguments, CReporter& reporter)
{
    if (argumentCount < 3)
        throw CPdfException(CPdfException::EKind::UsageError, "Error parameter");
    CStampSettings settings;
    if (std::strncmp(arguments[1], "-i", 2) != 0)
        throw CPdfException(CPdfException::EKind::UsageError, "-i parameter missing");
    settings.inputPath = arguments[1] + 2;
    if (std::strncmp(arguments[2], "-o", 2) != 0)
        throw CPdfException(CPdfException::EKind::UsageError, "-o parameter missing");
    settings.outputPath = arguments[2] + 2;
    const std::vector<std::string> words(arguments, arguments + argumentCount);
    const size_t firstOption = firstOptionIn(words);
    if (firstOption == kFirstOption) {
        if (argumentCount < 4 || std::strncmp(arguments[3], "-j", 2) != 0)
            throw CPdfException(CPdfException::EKind::UsageError, "-j parameter missing");
        settings.imagePath = std::string(arguments[3] + 2);
    }
    for (size_t i = firstOption; i < words.size(); ++i) {
        const char* argument = words[i].c_str();
        if (firstOption < kFirstOption && std::strncmp(argument, "-j", 2) == 0)
            throw CPdfException(CPdfException::EKind::UsageError,
                                std::any_of(words.begin(), words.end(),
                                            [](const std::string& word) { return word == kText || textJoined(word); })
                                    ? "\n--text does not go with -j: the stamp is a text or an image\n"
                                    : "\n--remove and --remove-all take no -j: they write no stamp\n");
        CValue value;
        if (const COption* option = findOption(words[i], value); option && option->stamp) {
            if (option->value == EValue::Text) {
                value.text = optionValue(words, i, *option);
            } else if (option->value == EValue::Word) {
                // As the last argument "-align" changes nothing.
                if (i + 1 >= words.size())
                    continue;
                value.text = words[++i];
            }
            option->stamp(settings, value, reporter);
            continue;
        }
        if (argument[0] != '-') {
            // A misspelt --password must not show the password.
            if (isPasswordWord(words, i))
                throw CPdfException::formatted(CPdfException::EKind::UsageError,
                                               "Error in parameter after %s (not shown: it may be a password)\n",
                                               words[i - 1]);
            throw CPdfException::formatted(CPdfException::EKind::UsageError, "Error in parameter: %s\n", argument);
        }
        if (const CCornerMark* corner = findCorner(argument))
            settings.corners.set(static_cast<size_t>(corner - kCornerMarks));
        else if (looksLikeLongOption(argument) && std::strchr(argument, '='))
            // Its value may be a password: only the name is shown.
            reporter.optionWarning("unknown option '" +
                                   std::string(argument, static_cast<size_t>(std::strchr(argument, '=') - argument)) +
                                   "=...' ignored");
        else
            // A misspelt option would otherwise go unnoticed; the run goes on without it.
            reporter.optionWarning("unknown option '" + std::string(argument) + "' ignored");
    }
    if (settings.removes() && settings.replace)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--replace does not go with --remove or --remove-all: it takes off the stamps of its own "
                            "--id\n");
    // Shown on paper alone or on screen alone, a stamp needs a layer: its id's, unless named.
    if (settings.layerUse != CStampSettings::ELayerUse::Always && settings.layer.empty())
        settings.layer = settings.stampId;
    if (settings.removes() && (settings.text || settings.marks()))
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--remove and --remove-all take no --text or marks: they write no stamp\n");
    // Said once for the run rather than once for every file.
    if (settings.annotation && settings.marks())
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--annotation does not go with -crop_marks or -trim_marks: marks are page content\n");
    if (settings.annotation && settings.underlay)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--underlay does not go with --annotation: an annotation always lies over the page's "
                            "content\n");
    if (settings.text && (settings.sizeX != -1 || settings.sizeY != -1) && !(settings.sizeX > 0 && settings.sizeY > 0))
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n-size for a text takes a width and a height greater than 0\n");
    if (!settings.text && (settings.fontSize != 12 || settings.color != 0 || !settings.date.empty() || settings.font ||
                           settings.fontIndex != 0))
        reporter.optionWarning("--font, --font-index, --font-size, --color and --date are for --text only: ignored");
    if (!settings.text && (settings.outline || settings.asPaths))
        reporter.optionWarning("--outline and --as-paths are for --text only: ignored");
    // --diagonal sizes and turns the stamp itself.
    if (settings.diagonal && (settings.sizeX != -1 || settings.sizeY != -1 || settings.rotate != 0)) {
        reporter.optionWarning("-size and --rotate do not apply with --diagonal: ignored");
        settings.sizeX = settings.sizeY = -1;
        settings.rotate = 0;
    }
    if (settings.marks() && (settings.rotate != 0 || settings.diagonal))
        reporter.optionWarning("--rotate and --diagonal do not turn printer's marks: ignored");
    if (settings.text && !settings.font && settings.fontIndex != 0)
        reporter.optionWarning("--font-index is for a --font file: ignored");
    const CStampSettings defaults;
    if ((!settings.text || !CTextTemplate(*settings.text).usesBates()) &&
        (settings.batesStart != defaults.batesStart || settings.batesDigits != defaults.batesDigits ||
         !settings.batesPrefix.empty() || !settings.batesSuffix.empty()))
        reporter.optionWarning("--bates-start, --bates-digits, --bates-prefix and --bates-suffix are for a --text "
                               "with {bates} only: ignored");
    // Taken once, here: every file and every worker of the run shows the same moment.
    if (settings.text && settings.date.empty())
        settings.date = CStampDate::now();
    if (settings.text && settings.marks())
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--text does not go with -crop_marks or -trim_marks: marks draw their own images\n");
    // A font that cannot be used, or a character no font has, is refused before any file is read.
    if (settings.text)
        CTextStamp::checkShowable(settings);
    return settings;
}

void printBanner(FILE* stream) { std::fprintf(stream, "\r\nVellico v%s\r\n", VELLICO_VERSION); }

void printVersion() { std::printf("vellico %s\n", VELLICO_VERSION); }

void printUsage()
{
    printBanner(stdout);
    std::fputs("Parameters:\n"
               "-i<FILENAME> input filename\n"
               "-o<OUTPUT filename> output filename\n"
               "-j<IMAGE filename> JPEG or PNG image file (a PNG's transparency is kept), or --text <TEXT>\n"
               "optional parameters:\n",
               stdout);
    for (const COption& option : kOptions)
        if (option.usage)
            std::fputs(option.usage, stdout);
    std::fputs("\r\nExample usage:-\r\n"
               "vellico -ifilein.pdf -ofileout.pdf -jimage.jpg\r\n"
               "vellico -ifilein.pdf -foutputfolder -jimage.jpg\r\n"
               "vellico -ifilein.pdf -ofileout.pdf -jimage.jpg -s1 -e1 -size100,100\n"
               "see examples folder for all parameters usage in test.bat, list.bat and list.bat\r\n"
               "NOTE: first 3 parameters have to be -i -o -j or -i -f -j\r\n"
               "If your filename has spaces in it then use double quotes around the filename, e.g. \"c:\\my "
               "test\\test file.pdf\"\n"
               "\nWildcards * are not permitted, if you want to process many files then do: dir /B *.pdf > "
               "list.txt, then vellico -ilist.txt -fc:\\output -jimage.jpg\n"
               "\r\n\r\n",
               stdout);
}
