#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "stamp/CStampJob.h"

class CReporter;
struct CStampSettings;

// The two mark images a marks run reads (empty for one that is in neither place).
std::vector<std::string> markImages();

// Stamps one input file as `settings` say: one run, or with -trim_marks /
// -crop_marks eight chained passes that draw a printer's mark at each corner
// of every selected page. What was repaired in the input is reported as
// warnings, also when the file fails, and `repairsReported` counts those
// warnings (the others say what the stamp changes). With `dryRun` nothing is
// written: the reporter is told where each stamp would go. Throws CPdfException.
CStampResult processFile(const CStampSettings& settings, CReporter& reporter, bool dryRun, size_t& repairsReported);
