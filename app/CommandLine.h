#pragma once

class CStampJob;

// Fills the job's settings from the argument vector (program name included):
// "-i<input>" "-o<output>" "-j<jpeg>" first, then options in any order.
// Throws CPdfException with the message to print on a malformed command line.
bool parseArguments(CStampJob& job, int argumentCount, const char* const* arguments);

// The banner and the usage text.
void printBanner();
void printUsage();
// One line, the program's name and version: the answer to --version.
void printVersion();
