#pragma once

// The whole program: usage and version, the wildcard rule, single-file or
// list-file mode (here or in workers), the report, and the one place where
// a run's errors are printed. Returns the exit status: 0 for the usage
// text, the version and success; 1 for a failure that ended the run; 2 when
// with --keep-going any file was refused or failed.
int runVellico(int argumentCount, const char* const* arguments);
