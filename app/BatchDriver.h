#pragma once

#include <string>

// The whole program: usage and version, the wildcard rule, single-file or
// list-file mode, and the one place where errors are printed. Returns the exit
// status: 0 for the usage text, the version and success, 1 for every failure.
int runVellico(int argumentCount, const char* const* arguments);

// List-file mode. 0: `listPath` is not a list file (".txt"); 1: list mode was
// chosen but could not start (message printed); 2: every line was processed.
// Throws CPdfException when a line fails, which ends the run.
int runList(const std::string& listPath, const char* secondArgument, int argumentCount,
            const char* const* arguments);
