#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

class CReporter;
struct CBatchSettings;
struct CStampSettings;

// Where the options begin in the arguments (program name included): after
// -i, -o (or -f) and -j.
constexpr size_t kFirstOption = 4;

// The arguments (program name included) read once, before any file is
// touched. A value given after a space is joined to its option ("-s" "2"
// becomes "-s2"), only where the option is read (-i first, -o or -f second,
// -j third, a number or a pair later), only a value that is not empty and
// does not start with '-'; the word that -align or a long option with a value
// takes is its value whole, whatever it is. The run's own options
// (--keep-going, --jobs N, --timeout S, --memory-limit MB, --report FILE,
// --dry-run, -0/--null; a value after a space or an '=') are taken out into
// `batch`. Each "--password-file FILE" ("-" for standard input; FILE may be a
// pipe or a FIFO) becomes "--password=" and FILE's first line, and FILE is
// added to `passwordFiles`. What stays is what each file's parse reads.
// Throws CPdfException with the message to print for a value that is wrong,
// a long option that is unknown or given a value it does not take, and a
// password file that cannot be read; a message never holds a password.
std::vector<std::string> readCommandLine(int argumentCount, const char* const* arguments, CBatchSettings& batch,
                                         std::vector<std::string>& passwordFiles);

// Whether argument `index` is a password, or holds one ("--password X",
// "--password=X"): such words are never printed or searched for wildcards.
bool isPasswordWord(const std::vector<std::string>& arguments, size_t index);
// Whether argument `index` is the text of --text ("--text X", "--text=X"), which may hold any character.
bool isTextWord(const std::vector<std::string>& arguments, size_t index);

// The settings the argument vector (program name included) gives:
// "-i<input>" "-o<output>" "-j<jpeg>" first, then options in any order; with
// --text among them, "-i<input>" "-o<output>" and then the options.
// Unknown single-dash options are told to `reporter` and ignored. Throws CPdfException
// with the message to print on a malformed command line.
CStampSettings parseArguments(int argumentCount, const char* const* arguments, CReporter& reporter);

// The banner (to `stream`) and the usage text.
void printBanner(FILE* stream);
void printUsage();
// One line, the program's name and version: the answer to --version.
void printVersion();
