#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class CPdfObject;

// The standard security handler of an encrypted document (/Filter
// /Standard, /V 1, 2, 4 or 5, /R 2 to 6), opened with the password given or
// the empty one: it checks the encryption dictionary, computes the file key,
// authenticates it against /U, and then encrypts and decrypts the strings
// and streams of each object with the key derived for that object.
//
// The dictionary's strings are binary: parse it with CPdfParser's
// keepStringBytes, or a NUL byte in /O or /U cuts the key short and the
// dictionary counts as damaged.
class CSecurityHandler {
public:
    enum class EState {
        // The password opens the document, as the user's or the owner's
        // (openedByOwner()); or, with an empty fileKey(), strings and
        // streams are all in the clear and the password guards only
        // streams that name a crypt filter themselves.
        Open,
        NeedsPassword, // it does not
    };
    // What a crypt filter does to the strings or the streams it applies to.
    enum class EMethod {
        Identity, // nothing: the bytes stay as they are
        RC4,      // /V 1 and 2, and /CFM /V2
        AESV2,    // AES-128 in CBC mode, /CFM /AESV2
        AESV3,    // AES-256 in CBC mode, /CFM /AESV3
    };

    // Key lengths the dictionary may ask for in bits (/Length), outside /V 5:
    // RC4 keys of 40 to 128 bits are all the standard handler defines.
    static constexpr int kMinKeyBits = 40;
    static constexpr int kMaxKeyBits = 128;

    // `encrypt` is the /Encrypt dictionary (resolved), `firstId` the first
    // string of the trailer's /ID (empty when there is none). Throws
    // CPdfException, naming what is wrong, when the dictionary is damaged or
    // uses a handler, a revision or a method that is not supported.
    //
    // `permissionsText`, when the caller has it, is /P as written in the
    // file: writers also give it unsigned (4294967292), which the parser's
    // 32-bit integers saturate. Without it such a /P is taken from /Perms
    // for /R 5 and 6, and refused for the older revisions, whose key it enters.
    //
    // `password`, when given, is tried as the owner's and as the user's
    // password, in UTF-8; it is converted as the revision needs
    // (PDFDocEncoding before /R 5, SASLprep from it on), and a password that
    // cannot be converted is refused. Without it the empty password is tried
    // the same way: an empty owner password opens the document as its owner.
    CSecurityHandler(const CPdfObject& encrypt, std::string firstId, std::string_view permissionsText = {},
                     const std::optional<std::string>& password = std::nullopt);

    EState state() const { return m_state; }
    bool opensWithoutPassword() const { return m_state == EState::Open; }
    int version() const { return m_version; }
    int revision() const { return m_revision; }
    // The file key's length in bytes: 5 to 16, or 32 for /V 5.
    int keyLength() const { return m_keyLength; }
    // The file key; empty when the document needs a password, or opens
    // without it because nothing but embedded files is encrypted.
    const std::string& fileKey() const { return m_fileKey; }

    // /P as a 32-bit pattern of permission bits (bit 1 is the lowest).
    int32_t permissions() const { return m_permissions; }
    // False when /P was written beyond 32 bits and nothing told its bits.
    bool permissionsKnown() const { return !m_permissionsSaturated; }
    // Bit 4: whether the document may be changed other than by the other
    // bits' operations; false too when the bits are not known.
    // The owner's password opened the document: its permissions bind no one.
    bool allowsModifying() const { return m_openedByOwner || (permissionsKnown() && (m_permissions & (1 << 3)) != 0); }
    bool openedByOwner() const { return m_openedByOwner; }

    EMethod stringMethod() const { return m_stringMethod; }
    EMethod streamMethod() const { return m_streamMethod; }
    // /EncryptMetadata (/V 4 and 5; always true before): whether streams of
    // /Type /Metadata are encrypted.
    bool encryptsMetadata() const { return m_encryptMetadata; }
    // The method for the data of a stream with this dictionary (or stream
    // value): none for cross-reference streams, none for metadata streams
    // unless encryptsMetadata(), the crypt filter a first /Filter /Crypt
    // names in its /DecodeParms (/Identity when none; /V 4 and 5 only), and
    // streamMethod() for the others. Throws CPdfException as the constructor
    // does for a /Crypt filter that is missing or not supported.
    EMethod streamMethodFor(const CPdfObject& streamDict) const;
    bool isStreamEncrypted(const CPdfObject& streamDict) const
    {
        return streamMethodFor(streamDict) != EMethod::Identity;
    }

    // The key for the strings and streams of object `num` `gen` under
    // `method`: MD5 of the file key, the low 3 bytes of the number and 2 of
    // the generation (and "sAlT" for AESV2), cut to the key length + 5 bytes
    // and at most 16; the file key itself for AESV3. Empty for Identity.
    std::string objectKey(int num, int gen, EMethod method) const;

    // The bytes of a string or a stream's data of object `num` `gen`, in the
    // clear or encrypted; streams are taken as they are in the file, before
    // their /Filter. Throws CPdfException ("PDF file is encrypted") unless
    // the document opens. AES data that is short, cut or badly padded is
    // read as far as it goes, as other readers do.
    std::string decryptString(int num, int gen, std::string_view bytes) const;
    std::string decryptStream(int num, int gen, std::string_view bytes) const;
    // AES gets a random 16-byte IV ahead of the data and PKCS#7 padding.
    std::string encryptString(int num, int gen, std::string_view bytes) const;
    std::string encryptStream(int num, int gen, std::string_view bytes) const;

    // Both, for the method given; the four calls above choose it.
    std::string decrypt(EMethod method, int num, int gen, std::string_view bytes) const;
    std::string encrypt(EMethod method, int num, int gen, std::string_view bytes) const;

private:
    void readVersionAndRevision(const CPdfObject& encrypt);
    void readKeyLength(const CPdfObject& encrypt);
    void readPermissions(const CPdfObject& encrypt, std::string_view permissionsText);
    void readCryptFilters(const CPdfObject& encrypt);
    EMethod readCryptFilter(const CPdfObject& filters, const CPdfObject& name) const;
    EMethod cryptFilterByName(const CPdfObject& name) const;
    void readKeyStrings(const CPdfObject& encrypt);
    void checkMethod(EMethod method) const;

    // Algorithm 2: the file key from the padded password, /O, /P and the /ID.
    std::string computeRc4FileKey(std::string_view password, int keyLength) const;
    // Algorithms 4 and 5: whether `key` encrypts the padding as /U holds it.
    bool matchesUserKey(const std::string& key) const;
    void openRevision2To4(const std::string& password);
    // Algorithm 7: the user's password that `ownerPassword` unlocks from /O.
    std::string userPasswordFromOwner(const std::string& ownerPassword, int keyLength) const;
    // Algorithm 2.A with the hash of /R 5 (SHA-256) or /R 6 (Algorithm 2.B).
    void openRevision5Or6(const std::string& password);
    std::string hashR5R6(std::string_view password, std::string_view salt, std::string_view userKey) const;
    // /R 5 and 6: /Perms, encrypted, holds the bits of /P once more. They
    // count only where /P was written past 32 bits; a /Perms that disagrees
    // with the /P and /EncryptMetadata in the clear is passed over, as
    // readers do, and the values in the clear stand.
    void readPerms();
    void requireOpen() const;
    void requireKey(const std::string& key) const;

    EState m_state = EState::NeedsPassword;
    bool m_openedByOwner = false;
    int m_version = 0;
    int m_revision = 0;
    int m_keyLength = 0;
    int32_t m_permissions = 0;
    bool m_permissionsSaturated = false; // /P read as a saturated integer: its bits are not known
    bool m_lengthGiven = false;          // /Length was in the dictionary
    bool m_encryptMetadata = true;
    EMethod m_stringMethod = EMethod::Identity;
    EMethod m_streamMethod = EMethod::Identity;
    std::string m_firstId;
    std::string m_owner;    // /O, cut to 32 bytes (48 for /R 5 and 6)
    std::string m_user;     // /U, likewise
    std::string m_ownerKey; // /OE, 32 bytes (/R 5 and 6)
    std::string m_userKey;  // /UE, 32 bytes (/R 5 and 6)
    std::string m_perms;    // /Perms, 16 bytes (/R 5 and 6)
    std::string m_fileKey;
    // What each /CF entry does, read once so that no lookup reaches the
    // document later: the method, or the refusal it would give.
    struct CCryptFilter {
        EMethod method = EMethod::Identity;
        std::string refusal;
    };
    std::map<std::string, CCryptFilter, std::less<>> m_cryptFilters;
};
