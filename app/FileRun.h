#pragma once

#include "app/CFileOutcome.h"

class CConsoleReporter;
class CPdfException;
struct CStampSettings;

// Stamps one file as `settings` say (with `dryRun`, only places the stamp),
// its console text going to `console`, and says what became of it. A
// failure is printed and recorded, never thrown.
CFileOutcome runFile(const CStampSettings& settings, bool dryRun, CConsoleReporter& console);

// How many pages of the settings' input a run stamps, in the outcome's
// pagesStamped; why it cannot be read, as a failure. Nothing is printed.
CFileOutcome countFile(const CStampSettings& settings);

// A file not even begun: `error` says why (a list line that leads outside
// the folder, a FIFO). Printed as a failed file is.
CFileOutcome refuseFile(const std::string& input, const std::string& output, const CPdfException& error,
                        CConsoleReporter& console);
