#pragma once

#include <cstdint>
#include <map>
#include <string>

// The ToUnicode CMap of a font whose codes are two-byte CIDs: each CID of
// `textOfCid` to its characters (several for a ligature).
std::string toUnicodeCMap(const std::map<uint32_t, std::u32string>& textOfCid);

// `text` as UTF-16BE in hexadecimal digits, surrogate pairs beyond the BMP.
std::string utf16Hex(const std::u32string& text);
