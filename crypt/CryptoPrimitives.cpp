#include "crypt/CryptoPrimitives.h"

#include <algorithm>
#include <cstdint>

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha2.h>

#include "pdf/CPdfException.h"

namespace crypto {

namespace {

const uint8_t* bytesOf(std::string_view data) { return reinterpret_cast<const uint8_t*>(data.data()); }
uint8_t* bytesOf(std::string& data) { return reinterpret_cast<uint8_t*>(&data[0]); }

template <class Context, class Init, class Update, class Digest>
std::string digest(std::string_view data, size_t size, Init init, Update update, Digest finish)
{
    Context context;
    init(&context);
    update(&context, data.size(), bytesOf(data));
    std::string out(size, '\0');
    finish(&context, size, bytesOf(out));
    return out;
}

// cbc_encrypt calls the block function through nettle_cipher_func; these
// have exactly that type, so no call goes through a cast function pointer.
void aes128Encrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    aes128_encrypt(static_cast<const aes128_ctx*>(context), length, dst, src);
}
void aes128Decrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    aes128_decrypt(static_cast<const aes128_ctx*>(context), length, dst, src);
}
void aes256Encrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    aes256_encrypt(static_cast<const aes256_ctx*>(context), length, dst, src);
}
void aes256Decrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    aes256_decrypt(static_cast<const aes256_ctx*>(context), length, dst, src);
}

void checkAesArguments(std::string_view key, std::string_view iv, std::string_view data)
{
    if ((key.size() != AES128_KEY_SIZE && key.size() != AES256_KEY_SIZE) || iv.size() != kAesBlockSize ||
        data.size() % kAesBlockSize != 0)
        throw CPdfException(CPdfException::EKind::Internal, "AES was given a key, an IV or data of the wrong size");
}

// `out` holds data.size() bytes; it may be data itself (Nettle's CBC works in place).
void aesCbc(std::string_view key, std::string_view iv, std::string_view data, bool encrypt, uint8_t* out)
{
    checkAesArguments(key, iv, data);
    if (data.empty())
        return;
    uint8_t chain[kAesBlockSize];
    std::copy(iv.begin(), iv.end(), chain);
    if (key.size() == AES128_KEY_SIZE) {
        aes128_ctx context;
        if (encrypt) {
            aes128_set_encrypt_key(&context, bytesOf(key));
            cbc_encrypt(&context, aes128Encrypt, kAesBlockSize, chain, data.size(), out, bytesOf(data));
        } else {
            aes128_set_decrypt_key(&context, bytesOf(key));
            cbc_decrypt(&context, aes128Decrypt, kAesBlockSize, chain, data.size(), out, bytesOf(data));
        }
    } else {
        aes256_ctx context;
        if (encrypt) {
            aes256_set_encrypt_key(&context, bytesOf(key));
            cbc_encrypt(&context, aes256Encrypt, kAesBlockSize, chain, data.size(), out, bytesOf(data));
        } else {
            aes256_set_decrypt_key(&context, bytesOf(key));
            cbc_decrypt(&context, aes256Decrypt, kAesBlockSize, chain, data.size(), out, bytesOf(data));
        }
    }
}

std::string aesCbc(std::string_view key, std::string_view iv, std::string_view data, bool encrypt)
{
    std::string out(data.size(), '\0');
    aesCbc(key, iv, data, encrypt, bytesOf(out));
    return out;
}

} // namespace

std::string md5(std::string_view data)
{
    return digest<md5_ctx>(data, MD5_DIGEST_SIZE, md5_init, md5_update, md5_digest);
}

std::string sha256(std::string_view data)
{
    return digest<sha256_ctx>(data, SHA256_DIGEST_SIZE, sha256_init, sha256_update, sha256_digest);
}

std::string sha384(std::string_view data)
{
    return digest<sha384_ctx>(data, SHA384_DIGEST_SIZE, sha384_init, sha384_update, sha384_digest);
}

std::string sha512(std::string_view data)
{
    return digest<sha512_ctx>(data, SHA512_DIGEST_SIZE, sha512_init, sha512_update, sha512_digest);
}

std::string rc4(std::string_view key, std::string_view data)
{
    if (key.size() < ARCFOUR_MIN_KEY_SIZE || key.size() > ARCFOUR_MAX_KEY_SIZE)
        throw CPdfException(CPdfException::EKind::Internal, "RC4 was given a key of the wrong size");
    arcfour_ctx context;
    arcfour_set_key(&context, key.size(), bytesOf(key));
    std::string out(data.size(), '\0');
    if (!data.empty())
        arcfour_crypt(&context, data.size(), bytesOf(out), bytesOf(data));
    return out;
}

std::string aesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data)
{
    return aesCbc(key, iv, data, true);
}

std::string aesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data)
{
    return aesCbc(key, iv, data, false);
}

void aesCbcEncryptInPlace(std::string_view key, std::string_view iv, std::string& data)
{
    aesCbc(key, iv, data, true, bytesOf(data));
}

} // namespace crypto
