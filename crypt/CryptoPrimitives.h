#pragma once

#include <string>
#include <string_view>

// The hashes and ciphers of the standard security handler, all from Nettle:
// the handler composes them and implements none itself. Bytes in and out are
// held in std::string.
namespace crypto {

constexpr size_t kAesBlockSize = 16;

std::string md5(std::string_view data);
std::string sha256(std::string_view data);
std::string sha384(std::string_view data);
std::string sha512(std::string_view data);

// RC4 is symmetric: the same call encrypts and decrypts. `key` holds 1 to 256 bytes.
std::string rc4(std::string_view key, std::string_view data);

// AES in CBC mode without padding: `key` holds 16 or 32 bytes, `iv` 16, and
// the data's length is a multiple of 16. Callers check those; a mismatch
// throws CPdfException rather than reading out of bounds.
std::string aesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data);
std::string aesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data);
// The same encryption over `data` itself, for a loop that would otherwise allocate its output each time.
void aesCbcEncryptInPlace(std::string_view key, std::string_view iv, std::string& data);

} // namespace crypto
