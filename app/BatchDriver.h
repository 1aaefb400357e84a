#pragma once

#include <string>

class CReporter;

// The whole program: usage and version, the wildcard rule, single-file or
// list-file mode, and the one place where errors are printed. Returns the exit
// status: 0 for the usage text, the version and success, 1 for every failure.
int runVellico(int argumentCount, const char* const* arguments);

// List-file mode: false when `listPath` is not a list file (".txt"), true
// once every line is processed. Throws CPdfException when list mode cannot
// start or a line fails, which ends the run.
bool runList(const std::string& listPath, const char* secondArgument, int argumentCount,
             const char* const* arguments, CReporter& reporter);
