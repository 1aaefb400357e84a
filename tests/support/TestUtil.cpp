#include "tests/support/TestUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>
#ifdef _WIN32
#include <random>
#else
#include <sys/wait.h>
#endif

namespace vtest {

TempDir::TempDir()
{
#ifdef _WIN32
    // No mkdtemp there: a random name, created only if it is new.
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        std::filesystem::path name = std::filesystem::temp_directory_path() / ("vellico-test-" + std::to_string(seed()));
        if (std::filesystem::create_directory(name))
            m_path = name.string();
    }
    if (m_path.empty())
        throw std::runtime_error("cannot create a temporary folder");
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "vellico-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = name.data();
#endif
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& name) const { return m_path + "/" + name; }

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::set<std::string> names(const std::string& folder)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found;
}

CommandResult runCommand(const std::string& command)
{
    CommandResult result;
#ifdef _WIN32
    FILE* pipe = _popen(command.c_str(), "rb");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (!pipe)
        return result;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, got);
#ifdef _WIN32
    result.status = _pclose(pipe);
#else
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
#endif
    return result;
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string shellArguments(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& argument : arguments)
        text += " " + shellQuote(argument);
    return text;
}

CommandResult runIn(const std::string& folder, const std::string& program, const std::vector<std::string>& arguments)
{
    return runCommand("cd " + shellQuote(folder) + " && " + program + shellArguments(arguments) + " </dev/null");
}

bool haveTool(const std::string& name)
{
    return runCommand("command -v " + shellQuote(name) + " >/dev/null 2>&1").status == 0;
}

CommandResult qpdf(const std::string& arguments) { return runCommand("qpdf " + arguments + " 2>&1"); }

std::string qpdfProblems(const std::string& pdf)
{
    CommandResult result = qpdf("--check " + shellQuote(pdf));
    return result.status == 0 ? "" : "qpdf --check exit " + std::to_string(result.status) + ":\n" + result.output;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string sourceDir() { return VELLICO_SOURCE_DIR; }

std::string vellicoBinary() { return VELLICO_BINARY; }

std::string lzwEncode(const std::string& data, int earlyChange)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0, width = 9;
    auto put = [&](int code) {
        bits = bits << width | static_cast<uint32_t>(code);
        count += width;
        while (count >= 8) {
            out += static_cast<char>(bits >> (count - 8));
            count -= 8;
        }
    };
    std::map<std::string, int> table;
    auto reset = [&] {
        table.clear();
        for (int c = 0; c < 256; ++c)
            table[std::string(1, static_cast<char>(c))] = c;
    };
    reset();
    int next = 258;
    put(256);
    std::string current;
    for (char c : data) {
        if (table.count(current + c)) {
            current += c;
            continue;
        }
        put(table[current]);
        table[current + c] = next++;
        if (next + earlyChange > (1 << width) && width < 12)
            ++width;
        if (next + earlyChange >= 4096) {
            put(256);
            reset();
            next = 258;
            width = 9;
        }
        current = std::string(1, c);
    }
    if (!current.empty())
        put(table[current]);
    put(257);
    if (count > 0)
        out += static_cast<char>(bits << (8 - count));
    return out;
}

std::string passwordEncryptDictionary()
{
    const std::string zeros(64, '0');
    return "<< /Filter /Standard /V 1 /R 2 /O <" + zeros + "> /U <" + zeros + "> /P -4 >>";
}

std::string exifWithOrientation(int orientation, bool bigEndian)
{
    std::string tiff;
    auto put = [&tiff, bigEndian](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            tiff += static_cast<char>(value >> (8 * (bigEndian ? size - 1 - i : i)));
    };
    tiff += bigEndian ? "MM" : "II";
    put(42, 2);
    put(8, 4);     // the first IFD follows the header
    put(2, 2);     // two entries: a resolution unit, then the orientation
    put(0x0128, 2), put(3, 2), put(1, 4), put(2, 2), put(0, 2);
    put(0x0112, 2), put(3, 2), put(1, 4), put(static_cast<uint32_t>(orientation), 2), put(0, 2);
    put(0, 4); // no next IFD
    return std::string("Exif\0\0", 6) + tiff;
}

std::string withApp1(const std::string& jpeg, const std::string& app1)
{
    const size_t length = app1.size() + 2;
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return jpeg.substr(0, 2) + segment + app1 + jpeg.substr(2);
}

} // namespace vtest
