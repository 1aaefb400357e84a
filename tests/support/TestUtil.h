#pragma once

#include <string>
#include <vector>

// Small helpers shared by the test suites.
namespace vtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

struct CommandResult {
    int status = -1;    // exit status; -1 when the command could not run or was killed
    std::string output; // standard output (and standard error when merged)
};
// Runs `command` through the shell, capturing standard output.
CommandResult runCommand(const std::string& command);
// Quotes `text` for the shell.
std::string shellQuote(const std::string& text);
// Whether a program is on PATH.
bool haveTool(const std::string& name);

// `data` LZW-encoded as a plain encoder writes it: 9 to 12 bit codes, a
// clear code first and whenever the table is full, codes widened one entry
// early when `earlyChange` is 1 (the default of /EarlyChange).
std::string lzwEncode(const std::string& data, int earlyChange = 1);

// The project's source folder and the built program (set by the build).
std::string sourceDir();
std::string vellicoBinary();

// An /Encrypt dictionary (RC4, 40 bits) that the empty password does not
// open: its /U is not what that password gives. For files that need one.
std::string passwordEncryptDictionary();

// An APP1 segment's data holding an EXIF orientation tag, in either byte order.
std::string exifWithOrientation(int orientation, bool bigEndian = true);
// `jpeg` with an APP1 segment of `app1` data right after its start-of-image marker.
std::string withApp1(const std::string& jpeg, const std::string& app1);

} // namespace vtest
