#pragma once

#include <string>
#include <vector>

struct CFileOutcome;
struct CStampSettings;

// The channel between the program and its workers: frames of a type byte,
// a 4-byte length (least significant byte first) and that many bytes.
namespace worker {

// The argument that starts the program as a worker: no user types it, and
// a worker that is not greeted as one by its parent refuses to run.
constexpr const char* kArgument = "--vellico-internal-worker-7c1e";

enum EFrame : char {
    HELLO = 'H',     // to the worker: kGreeting, "dry-run" or "stamp", "keep-going" or "stop", the run's settings
    STAMP = 'F',     // to the worker: an input and its output
    CREATING = 'C',  // from the worker: a temporary file it is about to create
    FORGOTTEN = 'X', // from the worker: a temporary file that is no longer its to remove
    RESULT = 'R',    // from the worker: the file's console text and its outcome
    SKIPPED = 'S',   // from the worker: a file it did not begin, after a failure without --keep-going
    STOP = 'Q',      // to the worker: a failure ended the run; begin none of the files handed before this
};
constexpr const char* kGreeting = "vellico worker channel 1";

// A frame's bytes.
std::string frame(EFrame type, const std::string& payload);
// Takes the first whole frame off `buffer`; false when none is complete.
// Throws CPdfException when the bytes are no frame at all.
bool takeFrame(std::string& buffer, char& type, std::string& payload);

// Strings packed into one payload, and back (false when `bytes` is not that).
std::string pack(const std::vector<std::string>& strings);
bool unpack(const std::string& bytes, std::vector<std::string>& strings);

// The settings every file of a run is stamped with, as strings to pack, and
// back from `strings` after the first `from` (false when they are not that):
// a worker reads them as they are, without parsing a command line again.
std::vector<std::string> settingsStrings(const CStampSettings& settings);
bool readSettings(const std::vector<std::string>& strings, size_t from, CStampSettings& settings);

// A file's console text and outcome as a RESULT payload, and back (false
// when `bytes` is not that): packed strings, numbers in decimal.
std::string packResult(const std::string& console, const CFileOutcome& outcome);
bool unpackResult(const std::string& bytes, std::string& console, CFileOutcome& outcome);

// The worker's side: reads files from its parent, stamps each, sends back
// what became of it. Returns the exit status.
int runWorker();

} // namespace worker
