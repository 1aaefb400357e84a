#pragma once

#include <string>
#include <string_view>

class CSecurityHandler;

// The text of a value that came out of an object stream, as an encrypted
// document's ordinary object `num` (generation 0) must hold it: each string,
// literal or hex, becomes a hex string of its bytes encrypted for that
// object. Inside the object stream the strings were in the clear, as the
// stream itself was encrypted. Every other byte stays as it was; strings are
// found by the token rules, so names, comments and brackets never fool it.
std::string encryptObjectStrings(std::string_view text, const CSecurityHandler& security, int num);
