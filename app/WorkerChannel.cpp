#include "app/WorkerChannel.h"

#include <bitset>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/CConsoleReporter.h"
#include "app/CFileOutcome.h"
#include "app/FileRun.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"

namespace worker {

namespace {

// No frame is this large: a longer length means the bytes are not ours.
constexpr uint32_t kMaxFrame = 1u << 30;
// The greeting's words before the run's settings: kGreeting, the mode and
// what a failure does.
constexpr size_t kHelloHeader = 3;

std::string lengthBytes(size_t length)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes;
}

uint32_t readLength(const std::string& bytes, size_t at)
{
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return length;
}

// A number as packResult writes it: exactly, in decimal.
std::string decimal(double value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool readInteger(const std::string& text, int64_t& value)
{
    char* end = nullptr;
    errno = 0;
    const long long read = std::strtoll(text.c_str(), &end, 10);
    value = read;
    return !text.empty() && end == text.c_str() + text.size() && errno == 0;
}

bool readNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

// One setting as a string, and back: optional values start with '+' when
// they hold one ("-" when not), numbers are exact.
std::string settingText(const std::string& value) { return value; }
std::string settingText(bool value) { return value ? "1" : "0"; }
std::string settingText(int value) { return std::to_string(value); }
std::string settingText(int64_t value) { return std::to_string(value); }
std::string settingText(double value) { return decimal(value); }
std::string settingText(const std::bitset<kCornerMarkCount>& value) { return value.to_string(); }
std::string settingText(CStampSettings::ELayerUse value) { return std::to_string(static_cast<int>(value)); }
template <class T>
std::string settingText(const std::optional<T>& value)
{
    return value ? "+" + settingText(*value) : "-";
}

bool readSetting(const std::string& text, std::string& value) { return value = text, true; }
bool readSetting(const std::string& text, bool& value)
{
    value = text == "1";
    return text == "0" || text == "1";
}
bool readSetting(const std::string& text, int& value)
{
    int64_t read = 0;
    if (!readInteger(text, read) || read < INT_MIN || read > INT_MAX)
        return false;
    value = static_cast<int>(read);
    return true;
}
bool readSetting(const std::string& text, int64_t& value) { return readInteger(text, value); }
bool readSetting(const std::string& text, double& value) { return readNumber(text, value); }
bool readSetting(const std::string& text, std::bitset<kCornerMarkCount>& value)
{
    if (text.size() != kCornerMarkCount || text.find_first_not_of("01") != std::string::npos)
        return false;
    value = std::bitset<kCornerMarkCount>(text);
    return true;
}
bool readSetting(const std::string& text, CStampSettings::ELayerUse& value)
{
    int number = 0;
    if (!readSetting(text, number) || number < 0 || number > static_cast<int>(CStampSettings::ELayerUse::ScreenOnly))
        return false;
    value = static_cast<CStampSettings::ELayerUse>(number);
    return true;
}
template <class T>
bool readSetting(const std::string& text, std::optional<T>& value)
{
    if (text == "-")
        return value.reset(), true;
    T held{};
    if (text.empty() || text[0] != '+' || !readSetting(text.substr(1), held))
        return false;
    value = held;
    return true;
}

// A result's fields: the console text, the outcome's input, output, status,
// message and first and last Bates numbers, the number of warnings and each
// warning, its numbers, and last each placed stamp's five.
constexpr size_t kLeadingFields = 8; // up to the number of warnings
constexpr size_t kNumbers = 9;       // pages to seconds
// page, x, y, width, height, id, kind, placement (0 content, 1 annotation, 2 underlay), layer
constexpr size_t kStampFields = 9;

int g_channelOut = -1;
int g_notesOut = -1;
// Frames that may wait for the next one sent: files no longer ours, which are gone.
std::string g_pending;

// Sends `bytes` after whatever waited for it.
bool send(const std::string& bytes)
{
    g_pending += bytes;
    const bool sent = platform::writeAll(g_channelOut, g_pending.data(), g_pending.size());
    g_pending.clear();
    return sent;
}

// Tells the parent of each temporary file before it exists, and of a name
// that turned out to be another program's file, at once, on the notes
// channel, which it reads along with results; of a file no longer ours, with
// the next result. Each saves the parent a wake-up per file.
void tellParent(platform::TempEvent event, const std::string& path)
{
    if (event == platform::TempEvent::FORGOTTEN) {
        g_pending += frame(FORGOTTEN, path);
        return;
    }
    const std::string note = frame(event == platform::TempEvent::CREATING ? CREATING : FORGOTTEN, path);
    if (g_notesOut == g_channelOut)
        (void)send(note);
    else
        (void)platform::writeAll(g_notesOut, note.data(), note.size());
}

// Reads the next whole frame; false at the end of the channel.
bool readFrame(int fd, std::string& buffer, char& type, std::string& payload)
{
    while (!takeFrame(buffer, type, payload)) {
        char bytes[65536];
        const int64_t got = platform::readSome(fd, bytes, sizeof bytes);
        if (got <= 0)
            return false;
        buffer.append(bytes, static_cast<size_t>(got));
    }
    return true;
}

// Whether a STOP frame has come: what the channel holds is read into
// `buffer` without waiting, and the frames there are looked at, not taken.
bool stopFollows(int fd, std::string& buffer)
{
    char bytes[65536];
    for (int64_t got; (got = platform::readWhatIsThere(fd, bytes, sizeof bytes)) > 0;)
        buffer.append(bytes, static_cast<size_t>(got));
    for (size_t at = 0; at + 5 <= buffer.size(); at += 5 + size_t{readLength(buffer, at + 1)})
        if (buffer[at] == STOP)
            return true;
    return false;
}

int refuse()
{
    std::fprintf(stderr, "Error in parameter: %s (it is for the program's own use)\n", kArgument);
    return 1;
}

} // namespace

std::string frame(EFrame type, const std::string& payload)
{
    return std::string(1, static_cast<char>(type)) + lengthBytes(payload.size()) + payload;
}

bool takeFrame(std::string& buffer, char& type, std::string& payload)
{
    if (buffer.size() < 5)
        return false;
    const uint32_t length = readLength(buffer, 1);
    if (length > kMaxFrame)
        throw CPdfException(CPdfException::EKind::SystemError, "Worker channel error: a frame of " + std::to_string(length) + " bytes\n");
    if (buffer.size() - 5 < length)
        return false;
    type = buffer[0];
    payload = buffer.substr(5, length);
    buffer.erase(0, 5 + static_cast<size_t>(length));
    return true;
}

std::string pack(const std::vector<std::string>& strings)
{
    std::string bytes;
    for (const std::string& text : strings)
        bytes += lengthBytes(text.size()) + text;
    return bytes;
}

bool unpack(const std::string& bytes, std::vector<std::string>& strings)
{
    strings.clear();
    for (size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < 4)
            return false;
        const uint32_t length = readLength(bytes, at);
        if (bytes.size() - at - 4 < length)
            return false;
        strings.push_back(bytes.substr(at + 4, length));
        at += 4 + static_cast<size_t>(length);
    }
    return true;
}

std::vector<std::string> settingsStrings(const CStampSettings& settings)
{
    std::vector<std::string> strings;
    CStampSettings::forEachSetting(settings, [&](const auto& value) { strings.push_back(settingText(value)); });
    return strings;
}

bool readSettings(const std::vector<std::string>& strings, size_t from, CStampSettings& settings)
{
    size_t at = from;
    bool read = true;
    CStampSettings::forEachSetting(
        settings, [&](auto& value) { read = read && at < strings.size() && readSetting(strings[at++], value); });
    return read && at == strings.size();
}

std::string packResult(const std::string& console, const CFileOutcome& outcome)
{
    std::vector<std::string> fields = {
        console,         outcome.input,      outcome.output,    std::to_string(outcome.status),
        outcome.message, outcome.batesFirst, outcome.batesLast, std::to_string(outcome.warnings.size())};
    fields.insert(fields.end(), outcome.warnings.begin(), outcome.warnings.end());
    for (int64_t value :
         {int64_t(outcome.pages), int64_t(outcome.pagesStamped), int64_t(outcome.encrypted), int64_t(outcome.repaired),
          outcome.inputBytes, outcome.outputBytes, int64_t(outcome.dryRun), int64_t(outcome.listed)})
        fields.push_back(std::to_string(value));
    fields.push_back(decimal(outcome.seconds));
    for (const CFileOutcome::CPlaced& placed : outcome.stamps) {
        fields.push_back(std::to_string(placed.page));
        for (double value : {placed.mark.x, placed.mark.y, placed.mark.width, placed.mark.height})
            fields.push_back(decimal(value));
        fields.push_back(placed.mark.id);
        fields.push_back(std::to_string(static_cast<int>(placed.mark.kind)));
        fields.push_back(placed.annotation ? "1" : placed.mark.underlay ? "2" : "0");
        fields.push_back(placed.mark.layer);
    }
    return pack(fields);
}

bool unpackResult(const std::string& bytes, std::string& console, CFileOutcome& outcome)
{
    std::vector<std::string> fields;
    int64_t warnings = 0;
    if (!unpack(bytes, fields) || fields.size() < kLeadingFields ||
        !readInteger(fields[kLeadingFields - 1], warnings) || warnings < 0 ||
        static_cast<uint64_t>(warnings) > fields.size() - kLeadingFields)
        return false;
    console = fields[0];
    outcome.input = fields[1];
    outcome.output = fields[2];
    const std::string& status = fields[3];
    if (status == std::to_string(CFileOutcome::STAMPED))
        outcome.status = CFileOutcome::STAMPED;
    else if (status == std::to_string(CFileOutcome::REFUSED))
        outcome.status = CFileOutcome::REFUSED;
    else if (status == std::to_string(CFileOutcome::FAILED))
        outcome.status = CFileOutcome::FAILED;
    else
        return false;
    outcome.message = fields[4];
    outcome.batesFirst = fields[5];
    outcome.batesLast = fields[6];
    size_t at = kLeadingFields;
    outcome.warnings.assign(fields.begin() + static_cast<std::ptrdiff_t>(at),
                            fields.begin() + static_cast<std::ptrdiff_t>(at + static_cast<size_t>(warnings)));
    at += static_cast<size_t>(warnings);
    if (fields.size() - at < kNumbers || (fields.size() - at - kNumbers) % kStampFields != 0)
        return false;
    int64_t numbers[kNumbers - 1];
    for (int64_t& number : numbers)
        if (!readInteger(fields[at++], number))
            return false;
    outcome.pages = static_cast<int>(numbers[0]);
    outcome.pagesStamped = static_cast<int>(numbers[1]);
    outcome.encrypted = numbers[2] != 0;
    outcome.repaired = numbers[3] != 0;
    outcome.inputBytes = numbers[4];
    outcome.outputBytes = numbers[5];
    outcome.dryRun = numbers[6] != 0;
    outcome.listed = numbers[7] != 0;
    if (!readNumber(fields[at++], outcome.seconds))
        return false;
    outcome.stamps.clear();
    while (at < fields.size()) {
        CFileOutcome::CPlaced placed{};
        int64_t page = 0, kind = 0;
        if (!readInteger(fields[at], page) || !readNumber(fields[at + 1], placed.mark.x) ||
            !readNumber(fields[at + 2], placed.mark.y) || !readNumber(fields[at + 3], placed.mark.width) ||
            !readNumber(fields[at + 4], placed.mark.height) || !CStampMark::isValidId(fields[at + 5]) ||
            !readInteger(fields[at + 6], kind) || kind < 0 || kind > static_cast<int>(CStampMark::EKind::Marks) ||
            (fields[at + 7] != "0" && fields[at + 7] != "1" && fields[at + 7] != "2"))
            return false;
        placed.page = static_cast<int>(page);
        placed.mark.id = fields[at + 5];
        placed.mark.kind = static_cast<CStampMark::EKind>(kind);
        placed.annotation = fields[at + 7] == "1";
        placed.mark.underlay = fields[at + 7] == "2";
        placed.mark.layer = fields[at + 8];
        outcome.stamps.push_back(placed);
        at += kStampFields;
    }
    return true;
}

int runWorker()
{
    // Typed by hand, it would wait for a greeting that never comes.
    if (platform::isTerminal(stdin))
        return refuse();
    const platform::Channel channel = platform::takeStandardChannel();
    platform::endWithParent(channel.in);
    std::string buffer, payload;
    char type = 0;
    std::vector<std::string> hello;
    try {
        if (!readFrame(channel.in, buffer, type, payload) || type != HELLO || !unpack(payload, hello) ||
            hello.size() < kHelloHeader || hello[0] != kGreeting)
            return refuse();
    } catch (const CPdfException&) {
        return refuse();
    }
    g_channelOut = channel.out;
    g_notesOut = channel.notes;
    platform::installSignalCleanup();
    platform::setTempListener(tellParent);

    // The settings as the parent read them; it has told the user of unknown options already.
    const EFileRun kind = hello[1] == "dry-run" ? EFileRun::DryRun
                          : hello[1] == "list"  ? EFileRun::List
                                                : EFileRun::Stamp;
    const bool keepGoing = hello[2] == "keep-going";
    CStampSettings settings;
    if (!readSettings(hello, kHelloHeader, settings))
        return refuse();
    try {
        std::vector<std::string> file;
        bool stopped = false; // a failure ended the run: no further file begins
        while (readFrame(channel.in, buffer, type, payload)) {
            if (type == STOP) {
                stopped = true;
                continue;
            }
            // An input, its output, the first Bates number and pages a batch's
            // count gave it, and whether it is only to be counted.
            bool countOnly = false;
            if (type != STAMP || !unpack(payload, file) || file.size() != 5 ||
                !readSetting(file[2], settings.batesStart) || !readSetting(file[3], settings.batesCount) ||
                !readSetting(file[4], countOnly))
                return refuse();
            // Handed to us before a failure ended the run (ours, or another
            // worker's, which the parent's STOP behind this file tells): not begun.
            stopped = stopped || stopFollows(channel.in, buffer);
            if (stopped) {
                if (!send(frame(SKIPPED, std::string())))
                    return 1;
                continue;
            }
            settings.inputPath = file[0];
            settings.outputPath = file[1];
            std::string text;
            CConsoleReporter console(text);
            // A file the count cannot read is the run's to refuse later: it stops nothing.
            const CFileOutcome outcome = countOnly ? countFile(settings) : runFile(settings, kind, console);
            console.endLine();
            stopped = stopped || (!countOnly && outcome.status != CFileOutcome::STAMPED && !keepGoing);
            if (!send(frame(RESULT, packResult(text, outcome))))
                return 1;
        }
    } catch (const CPdfException&) {
        return refuse();
    }
    return 0;
}

} // namespace worker
