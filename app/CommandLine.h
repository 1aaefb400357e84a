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

// The arguments (program name included) with every value given after a
// space joined to its option: "-s" "2" becomes "-s2". Only where the option
// is read (-i first, -o or -f second, -j third, the numeric options later),
// only a value that is not empty and does not start with '-', and never the
// word that "-align" or a long option with a value takes (that word is taken
// whole, whatever it is). Every other argument stays as it is.
std::vector<std::string> joinSeparatedValues(int argumentCount, const char* const* arguments);

// Takes the run's own options (--keep-going, --jobs N, --timeout S,
// --memory-limit MB, --report FILE, --dry-run, -0/--null; a value after a
// space or an '=') out of the joined arguments, after the first three.
// Throws CPdfException with the message to print for a value that is wrong,
// and for a long option that is unknown or given a value it does not take.
CBatchSettings takeBatchOptions(std::vector<std::string>& joined);

// The arguments with each "--password-file FILE" (or "=FILE"; "-" for
// standard input) replaced by "--password=" and the first line of FILE, read
// once, so that list mode's parse of every line finds it. FILE may be a pipe
// or a FIFO. Throws CPdfException when FILE cannot be read, or when it and
// the list are both standard input; the message never holds a password.
// The files read are added to `read`.
std::vector<std::string> readPasswordFiles(const std::vector<std::string>& arguments, std::vector<std::string>& read);

// Whether argument `index` is a password, or holds one ("--password X",
// "--password=X"): such words are never printed or searched for wildcards.
bool isPasswordWord(const std::vector<std::string>& arguments, size_t index);

// The settings the argument vector (program name included) gives:
// "-i<input>" "-o<output>" "-j<jpeg>" first, then options in any order.
// Unknown single-dash options are told to `reporter` and ignored. Throws CPdfException
// with the message to print on a malformed command line.
CStampSettings parseArguments(int argumentCount, const char* const* arguments, CReporter& reporter);

// The banner (to `stream`) and the usage text.
void printBanner(FILE* stream);
void printUsage();
// One line, the program's name and version: the answer to --version.
void printVersion();
