#pragma once

#include <string>
#include <vector>

class CReporter;
struct CStampSettings;

// The arguments (program name included) with every value given after a
// space joined to its option: "-s" "2" becomes "-s2". Only where the option
// is read (-i first, -o or -f second, -j third, the numeric options later),
// only a value that is not empty and does not start with '-', and never the
// word that "-align" takes. Every other argument stays as it is.
std::vector<std::string> joinSeparatedValues(int argumentCount, const char* const* arguments);

// The arguments with each "--password-file FILE" (or "=FILE"; "-" for
// standard input) replaced by "--password=" and the first line of FILE, read
// once, so that list mode's parse of every line finds it. Throws
// CPdfException when FILE cannot be read; the message never holds a password.
std::vector<std::string> readPasswordFiles(const std::vector<std::string>& arguments);

// Whether argument `index` is a password, or holds one ("--password X",
// "--password=X"): such words are never printed or searched for wildcards.
bool isPasswordWord(const std::vector<std::string>& arguments, size_t index);

// The settings the argument vector (program name included) gives:
// "-i<input>" "-o<output>" "-j<jpeg>" first, then options in any order.
// Unknown options are told to `reporter` and ignored. Throws CPdfException
// with the message to print on a malformed command line.
CStampSettings parseArguments(int argumentCount, const char* const* arguments, CReporter& reporter);

// The banner and the usage text.
void printBanner();
void printUsage();
// One line, the program's name and version: the answer to --version.
void printVersion();
