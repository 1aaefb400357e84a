#pragma once

#include <optional>
#include <string>
#include <string_view>

// A password given as UTF-8, in the form each revision of the standard
// security handler hashes. Both give nothing when the password cannot be
// put in that form; the callers refuse it with a message of their own.
namespace password {

// Revisions 2 to 4: PDFDocEncoding, one byte a character; nothing when a
// character has no code there, or the text is no UTF-8.
std::optional<std::string> toPdfDocEncoding(std::string_view utf8);

// Revisions 5 and 6: SASLprep (by GNU libidn's stringprep), as UTF-8, cut
// to its first 127 bytes; nothing when the profile refuses the text.
std::optional<std::string> toSaslPrep(std::string_view utf8);

} // namespace password
