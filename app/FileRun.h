#pragma once

#include "app/CBatchSettings.h"
#include "app/CFileOutcome.h"

class CConsoleReporter;
class CPdfException;
struct CStampSettings;

// Stamps one file as `settings` say (a dry run only places the stamp; a
// list run tells the stamps the file carries),
// its console text going to `console`, and says what became of it. A
// failure is printed and recorded, never thrown.
CFileOutcome runFile(const CStampSettings& settings, EFileRun kind, CConsoleReporter& console);

// How many pages of the settings' input a run stamps, in the outcome's
// pagesStamped; why it cannot be read, as a failure. Nothing is printed.
CFileOutcome countFile(const CStampSettings& settings);

// A file not even begun: `error` says why (a list line that leads outside
// the folder, a FIFO). Printed as a failed file is.
// Tells that `input`'s `output` is there already and is left alone (--skip-existing).
CFileOutcome skipFile(const std::string& input, const std::string& output, CConsoleReporter& console);

CFileOutcome refuseFile(const std::string& input, const std::string& output, const CPdfException& error,
                        CConsoleReporter& console);
