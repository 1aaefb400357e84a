#include "app/CPlanFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "app/CFileOutcome.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "text/BatesNumber.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

namespace {

constexpr const char* kMark = "vellico_plan"; // the first line's first key, and the plan's version
constexpr int kVersion = 1;

// One value of a plan line: a string, a whole number, true, false or null.
struct CValue {
    enum EKind { String, Number, True, False, Null } kind = Null;
    std::string text;
    int64_t number = 0;
};

// Reads the flat JSON objects the plan writes (jsonString's escapes
// included); anything else is refused.
class CLineReader {
public:
    explicit CLineReader(const std::string& line) : m_line(line) {}

    bool readObject(std::map<std::string, CValue>& values)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return atEnd();
        do {
            std::string key;
            CValue value;
            if (!readString(key) || !take(':') || !readValue(value) || !values.emplace(key, value).second)
                return false;
        } while (take(','));
        return take('}') && atEnd();
    }

private:
    void skipSpaces()
    {
        while (m_at < m_line.size() && (m_line[m_at] == ' ' || m_line[m_at] == '\r'))
            ++m_at;
    }
    bool take(char c)
    {
        skipSpaces();
        if (m_at >= m_line.size() || m_line[m_at] != c)
            return false;
        ++m_at;
        return true;
    }
    bool atEnd()
    {
        skipSpaces();
        return m_at == m_line.size();
    }
    bool word(const char* text)
    {
        const std::string expected(text);
        if (m_line.compare(m_at, expected.size(), expected) != 0)
            return false;
        m_at += expected.size();
        return true;
    }
    bool readValue(CValue& value)
    {
        skipSpaces();
        if (m_at >= m_line.size())
            return false;
        if (m_line[m_at] == '"')
            return value.kind = CValue::String, readString(value.text);
        if (word("true"))
            return value.kind = CValue::True, true;
        if (word("false"))
            return value.kind = CValue::False, true;
        if (word("null"))
            return value.kind = CValue::Null, true;
        const size_t begin = m_at;
        if (m_line[m_at] == '-')
            ++m_at;
        while (m_at < m_line.size() && m_line[m_at] >= '0' && m_line[m_at] <= '9')
            ++m_at;
        if (m_at == begin || (m_line[begin] == '-' && m_at == begin + 1))
            return false;
        // One too large for 64 bits is refused, not cut.
        errno = 0;
        value.kind = CValue::Number;
        value.number = std::strtoll(m_line.c_str() + begin, nullptr, 10);
        if (errno == ERANGE)
            return false;
        return true;
    }
    bool readString(std::string& text)
    {
        if (!take('"'))
            return false;
        while (m_at < m_line.size() && m_line[m_at] != '"') {
            const char c = m_line[m_at++];
            if (c != '\\') {
                text += c;
                continue;
            }
            if (m_at >= m_line.size())
                return false;
            const char escaped = m_line[m_at++];
            if (escaped == 'n' || escaped == 'r' || escaped == 't')
                text += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : '\t';
            else if (escaped == '"' || escaped == '\\')
                text += escaped;
            else if (escaped != 'u' || !readEscape(text))
                return false;
        }
        return take('"');
    }
    // \uXXXX: a control character, or \udc80 to \udcff for a byte that is no UTF-8.
    bool readEscape(std::string& text)
    {
        if (m_at + 4 > m_line.size())
            return false;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char digit = m_line[m_at++];
            const int value = digit >= '0' && digit <= '9'   ? digit - '0'
                              : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                              : digit >= 'A' && digit <= 'F' ? digit - 'A' + 10
                                                             : -1;
            if (value < 0)
                return false;
            code = code * 16 + static_cast<unsigned>(value);
        }
        if (code >= 0xDC80 && code <= 0xDCFF)
            text += static_cast<char>(code - 0xDC00);
        else if (code < 0x80)
            text += static_cast<char>(code);
        else
            return false;
        return true;
    }

    const std::string& m_line;
    size_t m_at = 0;
};

std::string known(int64_t value) { return value < 0 ? "null" : std::to_string(value); }

} // namespace

CPlanFile::CPlanFile(const CStampSettings& settings) : m_options(optionsOf(settings)) {}

std::vector<std::pair<std::string, std::string>> CPlanFile::optionsOf(const CStampSettings& settings)
{
    return {{"-s", std::to_string(settings.startPage)},
            {"-e", std::to_string(settings.endPage)},
            {"-n", std::to_string(settings.everyNth)},
            {"-useend", settings.useEnd ? "yes" : "no"},
            {"-send", std::to_string(settings.startFromEnd)},
            {"-eend", std::to_string(settings.endFromEnd)},
            {"--bates-start", std::to_string(settings.batesStart)},
            {"--bates-digits", std::to_string(settings.batesDigits)},
            {"--bates-prefix", settings.batesPrefix},
            {"--bates-suffix", settings.batesSuffix}};
}

void CPlanFile::write(const std::string& path) const
{
    std::string text =
        "{\"" + std::string(kMark) + "\": " + std::to_string(kVersion) + ", \"files\": " + std::to_string(files.size());
    for (const auto& [option, value] : m_options)
        text += ", " + jsonString(option) + ": " + jsonString(value);
    text += "}\n";
    // The settings the numbers are written with (in the order optionsOf gives them).
    CStampSettings numbers;
    numbers.batesDigits = std::stoi(m_options[7].second);
    numbers.batesPrefix = m_options[8].second;
    numbers.batesSuffix = m_options[9].second;
    for (size_t position = 0; position < files.size(); ++position) {
        const CFile& file = files[position];
        const bool numbered = file.batesStart && file.pagesStamped > 0;
        text +=
            "{\"position\": " + std::to_string(position) + ", \"input\": " + jsonString(file.input) +
            ", \"size\": " + known(file.size) + ", \"modified\": " + std::to_string(file.modified) +
            ", \"pages\": " + known(file.pages) + ", \"pages_stamped\": " + known(file.pagesStamped) +
            ", \"encrypted\": " + (file.encrypted ? "true" : "false") + ", \"message\": " + jsonString(file.message) +
            ", \"bates_start\": " + (file.batesStart ? known(*file.batesStart) : "null") +
            ", \"bates_first\": " + (numbered ? jsonString(batesNumber(numbers, *file.batesStart)) : "null") +
            ", \"bates_last\": " +
            (numbered ? jsonString(batesNumber(numbers, *file.batesStart + file.pagesStamped - 1)) : "null") + "}\n";
    }
#ifdef _WIN32
    FILE* out = _wfopen(platform::windows::systemPath(path).c_str(), L"wbN");
#else
    FILE* out = std::fopen(path.c_str(), "we");
#endif
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (!out || std::fclose(out) != 0 || !written)
        throw CPdfException::formatted(CPdfException::EKind::OutputError, "Plan file write error: '%s'\n", path);
}

CPlanFile CPlanFile::read(const std::string& path)
{
#ifdef _WIN32
    std::ifstream stream(platform::windows::systemPath(path).c_str(), std::ios::binary);
#else
    std::ifstream stream(path, std::ios::binary);
#endif
    if (!stream)
        throw CPdfException::formatted(CPdfException::EKind::UsageError, "\nUnable to open the plan: '%s'\n", path);
    const auto notAPlan = [&path](size_t line) {
        const std::string format = "\nNot a plan written by --write-plan (line " + std::to_string(line) + "): '%s'\n";
        return CPdfException::formatted(CPdfException::EKind::UsageError, format.c_str(), path);
    };
    CPlanFile plan;
    plan.m_path = path;
    std::string line;
    std::map<std::string, CValue> values;
    if (!std::getline(stream, line) || !CLineReader(line).readObject(values) || values[kMark].kind != CValue::Number ||
        values[kMark].number != kVersion || values["files"].kind != CValue::Number || values["files"].number < 0)
        throw notAPlan(1);
    const int64_t count = values["files"].number;
    CStampSettings defaults;
    for (const auto& [option, value] : optionsOf(defaults)) {
        (void)value;
        const auto found = values.find(option);
        if (found == values.end() || found->second.kind != CValue::String)
            throw notAPlan(1);
        plan.m_options.push_back({option, found->second.text});
    }
    for (int64_t position = 0; position < count; ++position) {
        values.clear();
        if (!std::getline(stream, line) || !CLineReader(line).readObject(values))
            throw notAPlan(static_cast<size_t>(position) + 2);
        // A count from 0 to `most`, or null where `nullable`.
        const auto number = [&values](const char* key, bool nullable, int64_t most = INT64_MAX) {
            const auto found = values.find(key);
            return found != values.end() &&
                   (found->second.kind == CValue::Number ? found->second.number >= 0 && found->second.number <= most
                                                         : nullable && found->second.kind == CValue::Null);
        };
        if (!number("position", false) || values["position"].number != position ||
            values["input"].kind != CValue::String || !number("size", true) ||
            values["modified"].kind != CValue::Number || !number("pages", true, INT_MAX) ||
            !number("pages_stamped", true, INT_MAX) || !number("bates_start", true) ||
            (values["encrypted"].kind != CValue::True && values["encrypted"].kind != CValue::False) ||
            values["message"].kind != CValue::String)
            throw notAPlan(static_cast<size_t>(position) + 2);
        CFile file;
        file.input = values["input"].text;
        file.size = values["size"].kind == CValue::Null ? -1 : values["size"].number;
        file.modified = values["modified"].number;
        file.pages = values["pages"].kind == CValue::Null ? -1 : static_cast<int>(values["pages"].number);
        file.pagesStamped =
            values["pages_stamped"].kind == CValue::Null ? -1 : static_cast<int>(values["pages_stamped"].number);
        file.encrypted = values["encrypted"].kind == CValue::True;
        file.message = values["message"].text;
        if (values["bates_start"].kind == CValue::Number)
            file.batesStart = values["bates_start"].number;
        plan.files.push_back(file);
    }
    while (std::getline(stream, line))
        if (!line.empty())
            throw notAPlan(static_cast<size_t>(count) + 2);
    return plan;
}

void CPlanFile::check(const CStampSettings& settings, const std::vector<std::string>& names) const
{
    const auto options = optionsOf(settings);
    for (size_t i = 0; i < options.size(); ++i)
        if (options[i].second != m_options[i].second)
            throw CPdfException(CPdfException::EKind::UsageError, "\nThe plan was made with " + options[i].first +
                                                                      " '" + m_options[i].second + "', this run has '" +
                                                                      options[i].second + "': '" + m_path + "'\n");
    bool sameList = names.size() == files.size();
    for (size_t i = 0; sameList && i < names.size(); ++i)
        sameList = names[i] == files[i].input;
    if (!sameList)
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\nThe plan is of another list (" + std::to_string(files.size()) +
                                " files; this list has " + std::to_string(names.size()) + "): '" + m_path + "'\n");
}
