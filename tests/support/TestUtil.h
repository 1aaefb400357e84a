#pragma once

#include <set>
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
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// The names in `folder`, without reading anything (a FIFO would block a read).
std::set<std::string> names(const std::string& folder);

struct CommandResult {
    int status = -1;    // exit status; -1 when the command could not run or was killed
    std::string output; // standard output (and standard error when merged)
};
// Runs `command` through the shell, capturing standard output.
CommandResult runCommand(const std::string& command);
std::string shellQuote(const std::string& text);
// `arguments`, each quoted for the shell and after a space.
std::string shellArguments(const std::vector<std::string>& arguments);
// `program` (a shell command: quoted by the caller) with `arguments`, run in
// `folder` with no input.
CommandResult runIn(const std::string& folder, const std::string& program, const std::vector<std::string>& arguments);
bool haveTool(const std::string& name);
// qpdf with `arguments` (quoted by the caller), standard error merged.
CommandResult qpdf(const std::string& arguments);
// Empty when `qpdf --check` passes, else what it said.
std::string qpdfProblems(const std::string& pdf);

// `bytes` as lower-case hexadecimal digits, two for each byte.
std::string hex(const std::string& bytes);

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
