#pragma once

#include <cstdint>
#include <string>

struct CStampSettings;

// A Bates number as stamped: the settings' prefix, `number` padded with
// zeros to their digits, and their suffix. A number with more digits than
// that is written in full, never cut.
std::string batesNumber(const CStampSettings& settings, int64_t number);

// Whether `number` has more digits than the settings give it.
bool outgrowsBatesDigits(const CStampSettings& settings, int64_t number);
