#include "crypt/CSecurityHandler.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "crypt/CryptoPrimitives.h"
#include "crypt/PasswordEncoding.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"
#include "platform/Platform.h"

namespace {

// Algorithm 2's padding: what a password shorter than 32 bytes is filled up with.
constexpr unsigned char kPasswordPadding[32] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A,
};

constexpr size_t kRc4KeyStringSize = 32; // /O and /U up to /R 4
constexpr size_t kAesKeyStringSize = 48; // /O and /U of /R 5 and 6: hash, validation salt, key salt
constexpr size_t kSaltSize = 8;
constexpr size_t kWrappedKeySize = 32; // /OE and /UE
constexpr size_t kPermsSize = 16;
constexpr int kAes256KeyLength = 32;
constexpr int kRc4KeyRounds = 50;  // Algorithm 2, /R 3 and later
constexpr int kUserKeyRounds = 19; // Algorithm 5's extra RC4 passes
constexpr int kMinHashRounds = 64; // Algorithm 2.B
constexpr size_t kMaxObjectKeyLength = 16;

std::string padding() { return std::string(reinterpret_cast<const char*>(kPasswordPadding), sizeof kPasswordPadding); }

[[noreturn]] void damaged(const std::string& what)
{
    throw CPdfException(CPdfException::EKind::Encrypted,
                        "PDF file is encrypted, but its encryption dictionary is damaged: " + what);
}

[[noreturn]] void unsupported(const std::string& what)
{
    throw CPdfException(CPdfException::EKind::Encrypted,
                        "PDF file is encrypted in a way that is not supported: " + what);
}

CPdfObject entry(const CPdfObject& dict, const char* key)
{
    CPdfObject value;
    if (dict.type() == PDF_DICT)
        dict.dictValue()->getValue(key, value);
    else
        value.setNull();
    return value;
}

bool isName(const CPdfObject& value, const char* name)
{
    return value.type() == PDF_NAME && value.textString() == name;
}

// /P is a 32-bit pattern; written as a real, signed or unsigned
// (4294967292.0), it gives the same bits. Integers beyond 32 bits come
// saturated from the parser and are dealt with by the caller.
bool readBitPattern(const CPdfObject& value, int32_t& out)
{
    if (value.type() == PDF_INT) {
        out = value.intValue();
        return true;
    }
    if (value.type() == PDF_REAL) {
        const double real = value.realValue();
        if (!std::isfinite(real) || real != std::floor(real) || real < -2147483648.0 || real > 4294967295.0)
            return false;
        const int64_t whole = static_cast<int64_t>(real);
        out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole) & 0xFFFFFFFFu));
        return true;
    }
    return false;
}

std::string littleEndian(uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string xorEach(const std::string& key, unsigned char with)
{
    std::string out = key;
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ with);
    return out;
}

std::string randomIv()
{
    std::string iv(crypto::kAesBlockSize, '\0');
    if (!platform::fillRandom(&iv[0], iv.size()))
        throw CPdfException(CPdfException::EKind::SystemError, "Couldn't get random bytes for encryption");
    return iv;
}

const char* methodName(CSecurityHandler::EMethod method)
{
    switch (method) {
    case CSecurityHandler::EMethod::Identity:
        return "Identity";
    case CSecurityHandler::EMethod::RC4:
        return "V2";
    case CSecurityHandler::EMethod::AESV2:
        return "AESV2";
    case CSecurityHandler::EMethod::AESV3:
        return "AESV3";
    }
    return "?";
}

} // namespace

CSecurityHandler::CSecurityHandler(const CPdfObject& encrypt, std::string firstId, std::string_view permissionsText,
                                   const std::optional<std::string>& password)
    : m_firstId(std::move(firstId))
{
    if (encrypt.type() != PDF_DICT)
        damaged("it is not a dictionary");
    const CPdfObject filter = entry(encrypt, "Filter");
    if (!isName(filter, "Standard"))
        unsupported(filter.type() == PDF_NAME ? "/Filter /" + filter.textString() : "/Filter is not /Standard");
    readVersionAndRevision(encrypt);
    readKeyLength(encrypt);
    readPermissions(encrypt, permissionsText);
    readCryptFilters(encrypt);
    checkMethod(m_stringMethod);
    checkMethod(m_streamMethod);
    readKeyStrings(encrypt);
    std::string prepared;
    if (password) {
        const std::optional<std::string> converted =
            m_revision <= 4 ? password::toPdfDocEncoding(*password) : password::toSaslPrep(*password);
        if (!converted)
            throw CPdfException(CPdfException::EKind::UsageError,
                                m_revision <= 4 ? "The password has a character that PDFDocEncoding, which this "
                                                  "file's encryption uses for passwords, has no code for"
                                                : "The password has a character that SASLprep, which this file's "
                                                  "encryption prepares passwords with, does not allow");
        prepared = *converted;
    }
    if (m_revision <= 4)
        openRevision2To4(prepared);
    else
        openRevision5Or6(prepared);
    // When strings and streams are all in the clear, the password guards only
    // what names a crypt filter itself (embedded files, /AuthEvent /EFOpen):
    // the document reads without the key.
    if (m_state == EState::NeedsPassword && m_stringMethod == EMethod::Identity && m_streamMethod == EMethod::Identity)
        m_state = EState::Open;
}

void CSecurityHandler::readVersionAndRevision(const CPdfObject& encrypt)
{
    const CPdfObject v = entry(encrypt, "V");
    const CPdfObject r = entry(encrypt, "R");
    if (v.type() != PDF_INT)
        damaged("/V is missing or not an integer");
    if (r.type() != PDF_INT)
        damaged("/R is missing or not an integer");
    m_version = v.intValue();
    m_revision = r.intValue();
    // /V 3 was never published, and /V 0 is an undocumented old form.
    const bool known = (m_version == 1 || m_version == 2) ? (m_revision == 2 || m_revision == 3)
                       : m_version == 4                   ? m_revision == 4
                       : m_version == 5                   ? (m_revision == 5 || m_revision == 6)
                                                          : false;
    if (!known)
        unsupported("/V " + std::to_string(m_version) + " /R " + std::to_string(m_revision));
}

void CSecurityHandler::readKeyLength(const CPdfObject& encrypt)
{
    if (m_version == 5) {
        m_keyLength = kAes256KeyLength;
        return;
    }
    int bits = m_version == 4 ? kMaxKeyBits : kMinKeyBits;
    const CPdfObject length = entry(encrypt, "Length");
    if (m_version != 1 && length.type() != PDF_NULL) {
        if (length.type() != PDF_INT)
            damaged("/Length is not an integer");
        bits = length.intValue();
        m_lengthGiven = true;
        if (bits < kMinKeyBits || bits > kMaxKeyBits || bits % 8 != 0)
            unsupported("/Length " + std::to_string(bits) + " (a key of 40 to 128 bits, in whole bytes)");
    }
    // Revision 2 always uses 40 bits, whatever /Length says.
    m_keyLength = m_revision == 2 ? kMinKeyBits / 8 : bits / 8;
}

void CSecurityHandler::readPermissions(const CPdfObject& encrypt, std::string_view permissionsText)
{
    const CPdfObject p = entry(encrypt, "P");
    if (!readBitPattern(p, m_permissions))
        damaged("/P is missing or not a 32-bit integer");
    int64_t written = 0;
    const char* end = permissionsText.data() + permissionsText.size();
    const char* digits = permissionsText.data() + (!permissionsText.empty() && permissionsText[0] == '+');
    if (!permissionsText.empty() && std::from_chars(digits, end, written).ptr == end && written >= INT32_MIN &&
        written <= static_cast<int64_t>(UINT32_MAX))
        m_permissions = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(written) & 0xFFFFFFFFu));
    else
        m_permissionsSaturated = p.type() == PDF_INT && (m_permissions == INT32_MAX || m_permissions == INT32_MIN);
    const CPdfObject metadata = entry(encrypt, "EncryptMetadata");
    // Only /V 4 and 5 know the key; a value of another kind counts as the default.
    if (m_version >= 4 && metadata.type() == PDF_BOOL)
        m_encryptMetadata = metadata.boolValue();
}

void CSecurityHandler::readCryptFilters(const CPdfObject& encrypt)
{
    if (m_version < 4) {
        m_stringMethod = m_streamMethod = EMethod::RC4;
        return;
    }
    const CPdfObject filters = entry(encrypt, "CF");
    if (filters.type() != PDF_DICT && filters.type() != PDF_NULL)
        damaged("/CF is not a dictionary");
    if (filters.type() == PDF_DICT) {
        for (const auto& item : filters.dictValue()->entries()) {
            CCryptFilter& filter = m_cryptFilters[item.first];
            try {
                CPdfObject name;
                name.setName(item.first);
                filter.method = readCryptFilter(filters, name);
                checkMethod(filter.method);
            } catch (const CPdfException& e) {
                // An entry that no string or stream uses must not refuse the file.
                filter.refusal = e.message();
            }
        }
    }
    m_streamMethod = readCryptFilter(filters, entry(encrypt, "StmF"));
    m_stringMethod = readCryptFilter(filters, entry(encrypt, "StrF"));
}

CSecurityHandler::EMethod CSecurityHandler::readCryptFilter(const CPdfObject& filters, const CPdfObject& name) const
{
    if (name.type() == PDF_NULL || isName(name, "Identity"))
        return EMethod::Identity;
    if (name.type() != PDF_NAME)
        damaged("/StmF or /StrF is not a name");
    const CPdfObject filter = entry(filters, name.text());
    if (filter.type() != PDF_DICT)
        damaged("crypt filter /" + name.textString() + " is not in /CF");
    const CPdfObject cfm = entry(filter, "CFM");
    if (cfm.type() == PDF_NULL || isName(cfm, "None"))
        return EMethod::Identity;
    if (isName(cfm, "V2"))
        return EMethod::RC4;
    if (isName(cfm, "AESV2"))
        return EMethod::AESV2;
    if (isName(cfm, "AESV3"))
        return EMethod::AESV3;
    unsupported(cfm.type() == PDF_NAME ? "/CFM /" + cfm.textString() : "/CFM is not a name");
}

void CSecurityHandler::checkMethod(EMethod method) const
{
    // AES-256 goes with the 32-byte key of /V 5 only, and the MD5-derived
    // keys of RC4 and AES-128 with the shorter keys only.
    bool fits = true;
    if (method == EMethod::AESV3)
        fits = m_version == 5;
    else if (method != EMethod::Identity)
        fits = m_version != 5 && (method == EMethod::RC4 || m_keyLength + 5 >= 16);
    if (!fits)
        unsupported(std::string("/CFM /") + methodName(method) + " with /V " + std::to_string(m_version) +
                    " and a key of " + std::to_string(m_keyLength * 8) + " bits");
}

void CSecurityHandler::readKeyStrings(const CPdfObject& encrypt)
{
    const size_t size = m_revision <= 4 ? kRc4KeyStringSize : kAesKeyStringSize;
    // Longer strings occur (writers pad /O and /U of /R 5 and 6 to 127
    // bytes); only the first bytes count.
    auto read = [&](const char* key, size_t needed) {
        const CPdfObject value = entry(encrypt, key);
        if (value.type() != PDF_STRING)
            damaged(std::string("/") + key + " is missing or not a string");
        if (value.textString().size() < needed)
            damaged(std::string("/") + key + " is shorter than " + std::to_string(needed) + " bytes");
        return value.textString().substr(0, needed);
    };
    m_owner = read("O", size);
    m_user = read("U", size);
    if (m_revision >= 5) {
        m_ownerKey = read("OE", kWrappedKeySize);
        m_userKey = read("UE", kWrappedKeySize);
        m_perms = read("Perms", kPermsSize);
    }
}

std::string CSecurityHandler::computeRc4FileKey(std::string_view password, int keyLength) const
{
    std::string input(password.substr(0, 32));
    input += padding().substr(0, 32 - input.size());
    input += m_owner;
    input += littleEndian(static_cast<uint32_t>(m_permissions), 4);
    input += m_firstId;
    if (m_revision >= 4 && !m_encryptMetadata)
        input += std::string(4, '\xFF');
    std::string key = crypto::md5(input);
    const size_t length = static_cast<size_t>(keyLength);
    if (m_revision >= 3)
        for (int i = 0; i < kRc4KeyRounds; ++i)
            key = crypto::md5(key.substr(0, length));
    return key.substr(0, length);
}

bool CSecurityHandler::matchesUserKey(const std::string& key) const
{
    if (m_revision == 2)
        return crypto::rc4(key, padding()) == m_user;
    std::string value = crypto::rc4(key, crypto::md5(padding() + m_firstId));
    for (int i = 1; i <= kUserKeyRounds; ++i)
        value = crypto::rc4(xorEach(key, static_cast<unsigned char>(i)), value);
    // Only the first 16 bytes are defined; the rest is arbitrary.
    return value == m_user.substr(0, 16);
}

std::string CSecurityHandler::userPasswordFromOwner(const std::string& ownerPassword, int keyLength) const
{
    std::string input(std::string_view(ownerPassword).substr(0, 32));
    input += padding().substr(0, 32 - input.size());
    std::string hash = crypto::md5(input);
    if (m_revision >= 3)
        for (int i = 0; i < kRc4KeyRounds; ++i)
            hash = crypto::md5(hash);
    const std::string key = hash.substr(0, static_cast<size_t>(keyLength));
    if (m_revision == 2)
        return crypto::rc4(key, m_owner);
    std::string user = m_owner;
    for (int i = kUserKeyRounds; i >= 0; --i)
        user = crypto::rc4(xorEach(key, static_cast<unsigned char>(i)), user);
    return user;
}

void CSecurityHandler::openRevision2To4(const std::string& password)
{
    // Writers of /R 3 that leave out /Length often mean 128 bits, not the
    // default 40: when the default fails, that is tried too.
    std::vector<int> lengths = {m_keyLength};
    if (m_revision == 3 && !m_lengthGiven && m_keyLength != kMaxKeyBits / 8)
        lengths.push_back(kMaxKeyBits / 8);
    for (int length : lengths) {
        // The owner's password first: it lifts the permissions.
        for (bool owner : {true, false}) {
            const std::string key =
                computeRc4FileKey(owner ? userPasswordFromOwner(password, length) : password, length);
            if (matchesUserKey(key)) {
                m_keyLength = length;
                m_fileKey = key;
                m_state = EState::Open;
                m_openedByOwner = owner;
                m_permissionsSaturated = false; // it made the key, so it is the value written
                return;
            }
        }
    }
    if (m_permissionsSaturated)
        unsupported("/P written beyond 32 bits, which the key depends on");
}

std::string CSecurityHandler::hashR5R6(std::string_view password, std::string_view salt, std::string_view userKey) const
{
    std::string input(password);
    input += salt;
    input += userKey;
    std::string k = crypto::sha256(input);
    if (m_revision == 5)
        return k;
    // Algorithm 2.B: at least 64 rounds, then until the last byte of E is at
    // most the round count - 32; that byte is below 256, so the loop ends
    // within 288 rounds.
    // One buffer for every round: each would otherwise allocate kilobytes twice.
    std::string e;
    e.reserve((password.size() + 64 + userKey.size()) * 64);
    for (int round = 1;; ++round) {
        e.clear();
        for (int i = 0; i < 64; ++i) {
            e += password;
            e += k;
            e += userKey;
        }
        crypto::aesCbcEncryptInPlace(std::string_view(k).substr(0, 16), std::string_view(k).substr(16, 16), e);
        // The first 16 bytes as a number mod 3: 256 is 1 mod 3, so their sum mod 3.
        unsigned sum = 0;
        for (size_t i = 0; i < 16; ++i)
            sum += static_cast<unsigned char>(e[i]);
        k = sum % 3 == 0 ? crypto::sha256(e) : sum % 3 == 1 ? crypto::sha384(e) : crypto::sha512(e);
        if (round >= kMinHashRounds && static_cast<unsigned char>(e.back()) <= round - 32)
            break;
    }
    return k.substr(0, 32);
}

void CSecurityHandler::openRevision5Or6(const std::string& password)
{
    const std::string_view user(m_user);
    const std::string_view owner(m_owner);
    const std::string zeroIv(crypto::kAesBlockSize, '\0');
    if (hashR5R6(password, owner.substr(32, kSaltSize), user) == owner.substr(0, 32)) {
        // Algorithm 2.A with the owner's salts, hashed with all of /U.
        m_fileKey = crypto::aesCbcDecrypt(hashR5R6(password, owner.substr(32 + kSaltSize, kSaltSize), user), zeroIv,
                                          m_ownerKey);
        m_openedByOwner = true;
    } else if (hashR5R6(password, user.substr(32, kSaltSize), "") == user.substr(0, 32)) {
        m_fileKey =
            crypto::aesCbcDecrypt(hashR5R6(password, user.substr(32 + kSaltSize, kSaltSize), ""), zeroIv, m_userKey);
    } else {
        return;
    }
    m_state = EState::Open;
    readPerms();
}

void CSecurityHandler::readPerms()
{
    // A saturated /P is not part of the /R 5 and 6 key; /Perms holds its bits.
    if (!m_permissionsSaturated)
        return;
    // One block, so CBC with a zero IV is the ECB decryption /Perms is made with.
    const std::string perms = crypto::aesCbcDecrypt(m_fileKey, std::string(crypto::kAesBlockSize, '\0'), m_perms);
    if (perms.compare(9, 3, "adb") != 0)
        return;
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits << 8 | static_cast<unsigned char>(perms[static_cast<size_t>(i)]);
    m_permissions = static_cast<int32_t>(bits);
    m_permissionsSaturated = false;
}

CSecurityHandler::EMethod CSecurityHandler::streamMethodFor(const CPdfObject& streamDict) const
{
    CPdfObject dict;
    if (streamDict.type() == PDF_STREAM && streamDict.streamValue()->streamDict())
        dict.setSharedDict(streamDict.streamValue()->streamDict());
    else
        dict.assign(streamDict);
    const CPdfObject type = entry(dict, "Type");
    if (isName(type, "XRef"))
        return EMethod::Identity;
    if (isName(type, "Metadata") && !m_encryptMetadata)
        return EMethod::Identity;
    if (m_version < 4)
        return m_streamMethod;
    CPdfObject filter = entry(dict, "Filter");
    CPdfObject parms = entry(dict, "DecodeParms");
    if (filter.type() == PDF_ARRAY) {
        CPdfObject first, firstParms;
        if (filter.arrayValue()->count() > 0)
            filter.arrayValue()->getItem(0, first);
        if (parms.type() == PDF_ARRAY && parms.arrayValue()->count() > 0)
            parms.arrayValue()->getItem(0, firstParms);
        filter = std::move(first);
        parms = std::move(firstParms);
    }
    if (!isName(filter, "Crypt"))
        return m_streamMethod;
    return cryptFilterByName(entry(parms, "Name"));
}

CSecurityHandler::EMethod CSecurityHandler::cryptFilterByName(const CPdfObject& name) const
{
    if (name.type() == PDF_NULL || isName(name, "Identity"))
        return EMethod::Identity;
    if (name.type() != PDF_NAME)
        damaged("a /Crypt filter's /Name is not a name");
    const auto found = m_cryptFilters.find(name.textString());
    if (found == m_cryptFilters.end())
        damaged("crypt filter /" + name.textString() + " is not in /CF");
    if (!found->second.refusal.empty())
        throw CPdfException(CPdfException::EKind::Encrypted, found->second.refusal);
    return found->second.method;
}

std::string CSecurityHandler::objectKey(int num, int gen, EMethod method) const
{
    requireOpen();
    if (method == EMethod::Identity)
        return std::string();
    requireKey(m_fileKey);
    if (method == EMethod::AESV3)
        return m_fileKey;
    std::string input = m_fileKey;
    input += littleEndian(static_cast<uint32_t>(num), 3);
    input += littleEndian(static_cast<uint32_t>(gen), 2);
    if (method == EMethod::AESV2)
        input += "sAlT";
    const size_t length = std::min(m_fileKey.size() + 5, kMaxObjectKeyLength);
    return crypto::md5(input).substr(0, length);
}

std::string CSecurityHandler::decrypt(EMethod method, int num, int gen, std::string_view bytes) const
{
    requireOpen();
    if (method == EMethod::Identity)
        return std::string(bytes);
    const std::string key = objectKey(num, gen, method);
    if (method == EMethod::RC4)
        return crypto::rc4(key, bytes);
    // Lenient like common readers: no IV means no data, and a cut last block is dropped.
    if (bytes.size() < crypto::kAesBlockSize)
        return std::string();
    const std::string_view iv = bytes.substr(0, crypto::kAesBlockSize);
    std::string_view data = bytes.substr(crypto::kAesBlockSize);
    data = data.substr(0, data.size() - data.size() % crypto::kAesBlockSize);
    std::string out = crypto::aesCbcDecrypt(key, iv, data);
    if (!out.empty()) {
        // Padding that is not PKCS#7 is left in place rather than refused.
        const size_t pad = static_cast<unsigned char>(out.back());
        bool valid = pad >= 1 && pad <= crypto::kAesBlockSize && pad <= out.size();
        for (size_t i = 0; valid && i < pad; ++i)
            valid = static_cast<unsigned char>(out[out.size() - 1 - i]) == pad;
        if (valid)
            out.resize(out.size() - pad);
    }
    return out;
}

std::string CSecurityHandler::encrypt(EMethod method, int num, int gen, std::string_view bytes) const
{
    requireOpen();
    if (method == EMethod::Identity)
        return std::string(bytes);
    const std::string key = objectKey(num, gen, method);
    if (method == EMethod::RC4)
        return crypto::rc4(key, bytes);
    const size_t pad = crypto::kAesBlockSize - bytes.size() % crypto::kAesBlockSize;
    std::string padded(bytes);
    padded.append(pad, static_cast<char>(pad));
    const std::string iv = randomIv();
    return iv + crypto::aesCbcEncrypt(key, iv, padded);
}

std::string CSecurityHandler::decryptString(int num, int gen, std::string_view bytes) const
{
    return decrypt(m_stringMethod, num, gen, bytes);
}

std::string CSecurityHandler::decryptStream(int num, int gen, std::string_view bytes) const
{
    return decrypt(m_streamMethod, num, gen, bytes);
}

std::string CSecurityHandler::encryptString(int num, int gen, std::string_view bytes) const
{
    return encrypt(m_stringMethod, num, gen, bytes);
}

std::string CSecurityHandler::encryptStream(int num, int gen, std::string_view bytes) const
{
    return encrypt(m_streamMethod, num, gen, bytes);
}

void CSecurityHandler::requireOpen() const
{
    if (m_state == EState::NeedsPassword)
        throw CPdfException(CPdfException::EKind::Encrypted, "PDF file is encrypted");
}

void CSecurityHandler::requireKey(const std::string& key) const
{
    // Open without the key: only data in the clear can be read.
    if (key.empty())
        throw CPdfException(CPdfException::EKind::Encrypted, "PDF file is encrypted");
}
