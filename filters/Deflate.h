#pragma once

#include <string>
#include <string_view>

// `data` compressed with zlib at `level` (Z_DEFAULT_COMPRESSION, or 0 to 9)
// for a /FlateDecode stream. Throws CPdfException (a system error naming
// `what`) when zlib cannot: it is out of memory.
std::string deflateBytes(std::string_view data, int level, const char* what);
