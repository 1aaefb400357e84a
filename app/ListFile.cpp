#include "app/ListFile.h"

#include "platform/Platform.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

namespace {

bool isSeparator(char c) { return c == '/' || (platform::pathSeparator() == '\\' && c == '\\'); }

void appendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

std::string utf16ToUtf8(const std::string& bytes, bool bigEndian)
{
    std::string out;
    const size_t units = bytes.size() / 2;
    auto unit = [&bytes, bigEndian](size_t i) {
        const unsigned a = static_cast<unsigned char>(bytes[2 * i]), b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t i = 0; i < units; ++i) {
        const unsigned code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, code);
        }
    }
    return out;
}

std::vector<std::string> listNames(const std::string& bytes, bool nullSeparated)
{
    std::string text;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
        text = utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
    else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text = bytes.substr(3);
    else
#ifdef _WIN32
        // Lists written by Windows programs come in UTF-8 or the ANSI code page.
        text = platform::windows::listText(bytes);
#else
        text = bytes;
#endif
    std::vector<std::string> names;
    const char end = nullSeparated ? '\0' : '\n';
    for (size_t at = 0; at < text.size();) {
        size_t next = text.find(end, at);
        if (next == std::string::npos)
            next = text.size();
        std::string name = text.substr(at, next - at);
        // A line ends at its first line-end byte (CR LF lists keep their CR here).
        if (!nullSeparated)
            name = name.substr(0, name.find('\r'));
        // Editors leave an empty last line, and people blank ones between groups: no file is named there.
        if (name.find_first_not_of(" \t") != std::string::npos)
            names.push_back(name);
        at = next + 1;
    }
    return names;
}

bool mirroredOutput(const std::string& folder, const std::string& name, std::string& output)
{
    std::string rest = name;
    if (platform::pathSeparator() == '\\') {
        // \\?\C:\x, \\?\UNC\server\share\x: the long-path forms of C:\x and \\server\share\x.
        if (rest.compare(0, 8, "\\\\?\\UNC\\") == 0)
            rest = rest.substr(8);
        else if (rest.compare(0, 4, "\\\\?\\") == 0 || rest.compare(0, 4, "\\\\.\\") == 0)
            rest = rest.substr(4);
        // A drive letter becomes a folder of that name.
        if (rest.size() >= 2 && rest[1] == ':' && ((rest[0] | 0x20) >= 'a' && (rest[0] | 0x20) <= 'z'))
            rest = rest.substr(0, 1) + "\\" + rest.substr(2);
    }
    std::vector<std::string> parts;
    for (size_t at = 0; at <= rest.size();) {
        size_t next = at;
        while (next < rest.size() && !isSeparator(rest[next]))
            ++next;
        const std::string part = rest.substr(at, next - at);
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = next + 1;
    }
    // An empty folder is the current one, not the root of the file system.
    output = folder.empty() ? std::string() : folder + platform::pathSeparator();
    for (size_t i = 0; i < parts.size(); ++i)
        output += (i ? std::string(1, platform::pathSeparator()) : std::string()) + parts[i];
    return true;
}

std::string parentFolder(const std::string& path)
{
    for (size_t i = path.size(); i-- > 0;)
        if (isSeparator(path[i]))
            return path.substr(0, i);
    return std::string();
}
