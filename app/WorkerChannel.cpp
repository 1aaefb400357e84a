#include "app/WorkerChannel.h"

#include <cstdint>

#include "app/CConsoleReporter.h"
#include "app/CommandLine.h"
#include "app/FileRun.h"
#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#include "stamp/CStampSettings.h"

namespace worker {

namespace {

// No frame is this large: a longer length means the bytes are not ours.
constexpr uint32_t kMaxFrame = 1u << 30;

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

int g_channelOut = -1;

// Tells the parent of each temporary file, before it exists and once it is no longer ours.
void tellParent(platform::TempEvent event, const std::string& path)
{
    const std::string bytes = frame(event == platform::TempEvent::CREATING ? CREATING : FORGOTTEN, path);
    (void)platform::writeAll(g_channelOut, bytes.data(), bytes.size());
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
        throw CPdfException("Worker channel error: a frame of " + std::to_string(length) + " bytes\n");
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

int runWorker()
{
    // Typed by hand, it would wait for a greeting that never comes.
    if (platform::stdinIsTerminal())
        return refuse();
    const platform::Channel channel = platform::takeStandardChannel();
    std::string buffer, payload;
    char type = 0;
    std::vector<std::string> hello;
    try {
        if (!readFrame(channel.in, buffer, type, payload) || type != HELLO || !unpack(payload, hello) ||
            hello.size() < 5 || hello[0] != kGreeting)
            return refuse();
    } catch (const CPdfException&) {
        return refuse();
    }
    g_channelOut = channel.out;
    platform::installSignalCleanup();
    platform::setTempListener(tellParent);

    // The arguments as the parent read them; it has told the user of unknown options already.
    const bool dryRun = hello[1] == "dry-run";
    std::vector<const char*> arguments;
    for (size_t i = 2; i < hello.size(); ++i)
        arguments.push_back(hello[i].c_str());
    std::string ignored;
    CConsoleReporter silent(ignored);
    CStampSettings settings;
    try {
        settings = parseArguments(static_cast<int>(arguments.size()), arguments.data(), silent);
    } catch (const CPdfException& error) {
        std::fprintf(stderr, "%s", error.message());
        return 1;
    }
    try {
        std::vector<std::string> file;
        while (readFrame(channel.in, buffer, type, payload)) {
            if (type != STAMP || !unpack(payload, file) || file.size() != 2)
                return refuse();
            settings.inputPath = file[0];
            settings.outputPath = file[1];
            std::string text;
            CConsoleReporter console(text);
            const CFileOutcome outcome = runFile(settings, dryRun, console);
            console.endLine();
            const std::string result = frame(RESULT, pack({text, outcome.serialize()}));
            if (!platform::writeAll(channel.out, result.data(), result.size()))
                return 1;
        }
    } catch (const CPdfException&) {
        return refuse();
    }
    return 0;
}

} // namespace worker
