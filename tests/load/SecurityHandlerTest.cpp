// The standard security handler: key derivation for every revision against
// dictionaries qpdf wrote, the empty and the non-empty user password, crypt
// filters, round trips, lenient AES reading and hostile dictionaries. The
// primitives it takes from Nettle are checked against published vectors.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "load/CPdfFile.h"
#include "load/CSecurityHandler.h"
#include "load/CXrefTable.h"
#include "load/CryptoPrimitives.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace {

using EMethod = CSecurityHandler::EMethod;
using EState = CSecurityHandler::EState;
using vtest::hex;

std::string unhex(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

CPdfObject parse(const std::string& text, bool keepStringBytes = true)
{
    auto owner = std::make_shared<const std::string>(text);
    CPdfObject value;
    CPdfParser(nullptr, new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size()),
               keepStringBytes)
        .parseObject(value);
    return value;
}

CSecurityHandler open(const std::string& dictText, const std::string& idHex)
{
    return CSecurityHandler(parse(dictText), unhex(idHex));
}

// The message of the CPdfException that `run` throws; "no exception" otherwise.
template <class Run>
std::string refusal(Run run)
{
    try {
        run();
    } catch (const CPdfException& e) {
        return e.message();
    }
    return "no exception";
}

// Written by qpdf 11.3 (`qpdf --encrypt "" owner ...`) from one small file,
// so all share the first /ID; the keys are what `--show-encryption-key`
// printed, and /Title of object 2 0 is "Known title" encrypted.
struct Fixture {
    const char* name;
    const char* dict;
    const char* key;
    const char* title;
};

const char* const kFirstId = "44f07d11055b2dcc099e964b0ccc362b";

const Fixture kRc440 = {
    "RC4 40 bits, /R 2",
    "<< /Filter /Standard /Length 40 /O <c92422687facee686e373f10b5c7d04738053152f7e2ee30e11c69ec442576ab> /P -4 /R 2"
    " /U <1d89cb6ddc8725dc7933765f5e75577c73099a1fc897134301d8f018386c8132> /V 1 >>",
    "0b63ce38fa", "c4470c087a9f9cba598c3e"};
const Fixture kRc4128 = {
    "RC4 128 bits, /R 3",
    "<< /Filter /Standard /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 3"
    " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 2 >>",
    "8f5e2f915a2e636eb091f536b60e3c07", "8464e38038a429e2f10d90"};
const Fixture kAes128 = {
    "AES-128, /R 4",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /Filter /Standard /Length 128"
    " /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 4 /StmF /StdCF /StrF /StdCF"
    " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 4 >>",
    "8f5e2f915a2e636eb091f536b60e3c07", "71c744865830f08ad2cc92cbc2b577295a9bf49c4253ca3653c457a1fc28ee27"};
const Fixture kAes128ClearMetadata = {
    "AES-128, /R 4, /EncryptMetadata false",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /EncryptMetadata false /Filter /Standard"
    " /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 4 /StmF /StdCF"
    " /StrF /StdCF /U <c53015cd27a0c13b05ee7931c80f04680122456a91bae5134273a6db134c87c4> /V 4 >>",
    "ec71a522d8379a23bced6fe9f51a3f5d", "addab8910449348d3c38ae993762572fbf6fd1ee6af38b5164c8ee4a6f57a437"};
const Fixture kAes256R5 = {
    "AES-256, /R 5",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <595fe660f13e415cbaef066bbde63e7c03a432136b69ee459cff82273fcff491a0089636dd8ae0562103b3bd7f1698e9>"
    " /OE <583e6823ee8c0ba2f2567524bce11e73deba55ebc5cccc11c3040d4877a9257d> /P -4"
    " /Perms <7d329e95693cfc4f795bc10236b4039b> /R 5 /StmF /StdCF /StrF /StdCF"
    " /U <fbe176d86f089a7f90591458e6f44d91676f7be7d68fe8aece635d83aada9dda50568867eee8ea000c97d48f6a5a3f59>"
    " /UE <57fe77c2b7c178c2ee135b9625641ecee3b9fd3f792092200f5769fa61461622> /V 5 >>",
    "9f262103d96baacaca99fd291bffffc936b87969827b6734c0492d0100eb5e65",
    "956c563360bb8619ee1bbc604181536bb1aa2284e676149e27426a700d183348"};
const Fixture kAes256R6 = {
    "AES-256, /R 6",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <3f72ea429532b56d7b8e7cd9de0f4b25924d103ab2b6f3e17fbc4827a2cd8523f112e5447301fb8e09b64ab1ac962b1e>"
    " /OE <146406cb0f9ad3f0dde218fa3351b6d4d1e49baec8fdb36c6874d1cdc7f76c34> /P -4"
    " /Perms <c046345fe7739e73b7d70c56a3b02609> /R 6 /StmF /StdCF /StrF /StdCF"
    " /U <bdf84ad828981755aa3167c66711683994aedd1b503fdeb49b2c00db3674a7429864266fa0fd02fe843968253cfac6d0>"
    " /UE <c07936c84ab09549256b7f2b1fbd5c3f1b37f5e29eabefdfe0bad8797e96d680> /V 5 >>",
    "8fc00f98ea35b693decf19006afa47c9a2bd4e8f8a58b620b3077bfef2a054ae",
    "7e6f854779301596ff0ceadcf84c0607fbf87043494af96752cf9388d911c0e5"};
// --modify=none: /P -1324, bit 4 clear.
const Fixture kAes256R6Restricted = {
    "AES-256, /R 6, /EncryptMetadata false, changes forbidden",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /EncryptMetadata false /Filter /Standard"
    " /Length 256 /O <06e6b214cc4ea6debed77fbd39b66fa511ac3764eaa5ca44eab460570acc2a4ba7f789a1b0cf29634e0ee901dabc7cd2>"
    " /OE <a8a5c859f0c15585b087c82f5442f36302a850ec0e73bff21e94841b158bc7ba> /P -1324"
    " /Perms <484f05a7ab68623590224191f79ab096> /R 6 /StmF /StdCF /StrF /StdCF"
    " /U <e85e516e15e8d9c20c31c1f556431edc65333357ceb7c8b2e8a6dfe172ab3fa9bd156b535e2ef84a4e4f5d360a738212>"
    " /UE <5e1f810aa831e986464bace8a1b05f2371ef877fb61098e9569e7edc8ca36b42> /V 5 >>",
    "88d72666901b6e7680ec3a6fd4b6da4373b733bb70dd806a9aab4e89423e13fb",
    "eb17ba8f7ea7a6a4572f576f68777da025d6beeac66fc4114a311b203ec1a0dc"};

const std::vector<Fixture> kOpenFixtures = {kRc440,    kRc4128,   kAes128,  kAes128ClearMetadata,
                                            kAes256R5, kAes256R6, kAes256R6Restricted};

// The user password "user": the empty one must not open these.
const char* const kRc440UserPassword =
    "<< /Filter /Standard /Length 40 /O <94e8094419662a774442fb072e3d9f19e9d130ec09a4d0061e78fe920f7ab62f> /P -4 /R 2"
    " /U <89cac36b3bba2f0d9b1859f006aa376c65ef7390cb85a86f48b88b83ea508e9d> /V 1 >>";
const char* const kAes256R6UserPassword =
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <e5073547d4286f688aca5497e590b1dae9934ee56c8aef18801835a2f0fb63cb9b537d4a34425fc1c6e098061065f806>"
    " /OE <7a7e587f14cd771fa4727ae52a00843078b45899f556b3b03f00027165b8eb5f> /P -4"
    " /Perms <1f0da120d79e11454d94589fb0046904> /R 6 /StmF /StdCF /StrF /StdCF"
    " /U <8b111c67f093b86bf98778f7f404b0f1eddb428c7c390675d6ee52a0d1dee83291b69e6d0de26c5607308eae2a883dd6>"
    " /UE <a8218bf48aa299d52d5bbde6ead57075d7bbd834b34da05882f9d4f3f996970a> /V 5 >>";

// `dict` with the first occurrence of `from` replaced by `to`.
std::string edited(const std::string& dict, const std::string& from, const std::string& to)
{
    const size_t at = dict.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? dict : dict.substr(0, at) + to + dict.substr(at + from.size());
}

} // namespace

// Published vectors (RFC 1321, FIPS 180-2, FIPS 197, the RC4 test vectors),
// so a wrong wiring of Nettle shows before any PDF does.
TEST(CryptoPrimitives, KnownAnswers)
{
    EXPECT_EQ(hex(crypto::md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(crypto::sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(crypto::sha384("abc")), "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
                                          "8086072ba1e7cc2358baeca134c825a7");
    EXPECT_EQ(hex(crypto::sha512("abc")), "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                                          "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(hex(crypto::rc4("Key", "Plaintext")), "bbf316e8d940af0ad3");
    EXPECT_EQ(crypto::rc4("Key", crypto::rc4("Key", "Plaintext")), "Plaintext");
    const std::string block = unhex("00112233445566778899aabbccddeeff");
    const std::string zeroIv(16, '\0');
    const std::string key128 = unhex("000102030405060708090a0b0c0d0e0f");
    const std::string key256 = unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    EXPECT_EQ(hex(crypto::aesCbcEncrypt(key128, zeroIv, block)), "69c4e0d86a7b0430d8cdb78070b4c55a");
    EXPECT_EQ(hex(crypto::aesCbcEncrypt(key256, zeroIv, block)), "8ea2b7ca516745bfeafc49904b496089");
    EXPECT_EQ(crypto::aesCbcDecrypt(key256, zeroIv, crypto::aesCbcEncrypt(key256, zeroIv, block + block)),
              block + block);
    EXPECT_EQ(crypto::aesCbcEncrypt(key128, zeroIv, ""), "");
}

TEST(CryptoPrimitives, WrongSizesAreRefusedNotRead)
{
    const std::string iv(16, '\0');
    EXPECT_NE(refusal([&] { crypto::aesCbcEncrypt(std::string(15, 'k'), iv, std::string(16, 'd')); }), "no exception");
    EXPECT_NE(refusal([&] { crypto::aesCbcDecrypt(std::string(16, 'k'), iv, std::string(17, 'd')); }), "no exception");
    EXPECT_NE(refusal([&] { crypto::aesCbcDecrypt(std::string(16, 'k'), "short", std::string(16, 'd')); }),
              "no exception");
    EXPECT_NE(refusal([&] { crypto::rc4("", "data"); }), "no exception");
    EXPECT_NE(refusal([&] { crypto::rc4(std::string(257, 'k'), "data"); }), "no exception");
}

// Each revision's key from the empty user password is the one qpdf uses,
// and with it /Title decrypts.
TEST(SecurityHandler, EmptyPasswordOpensEveryRevision)
{
    for (const Fixture& f : kOpenFixtures) {
        SCOPED_TRACE(f.name);
        const CSecurityHandler handler = open(f.dict, kFirstId);
        EXPECT_EQ(handler.state(), EState::Open);
        EXPECT_TRUE(handler.opensWithoutPassword());
        EXPECT_EQ(hex(handler.fileKey()), f.key);
        EXPECT_EQ(handler.decryptString(2, 0, unhex(f.title)), "Known title");
    }
}

TEST(SecurityHandler, ReadsMethodsPermissionsAndMetadata)
{
    struct Row {
        Fixture fixture;
        int keyLength;
        EMethod method;
        bool modifying;
        bool metadata;
    };
    const std::vector<Row> rows = {
        {kRc440, 5, EMethod::RC4, true, true},
        {kRc4128, 16, EMethod::RC4, true, true},
        {kAes128, 16, EMethod::AESV2, true, true},
        {kAes128ClearMetadata, 16, EMethod::AESV2, true, false},
        {kAes256R5, 32, EMethod::AESV3, true, true},
        {kAes256R6, 32, EMethod::AESV3, true, true},
        {kAes256R6Restricted, 32, EMethod::AESV3, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fixture.name);
        const CSecurityHandler handler = open(row.fixture.dict, kFirstId);
        EXPECT_EQ(handler.keyLength(), row.keyLength);
        EXPECT_EQ(handler.stringMethod(), row.method);
        EXPECT_EQ(handler.streamMethod(), row.method);
        EXPECT_EQ(handler.allowsModifying(), row.modifying);
        EXPECT_EQ(handler.encryptsMetadata(), row.metadata);
    }
}

// A non-empty user password: the dictionary is sound, but nothing decrypts.
TEST(SecurityHandler, NonEmptyUserPasswordNeedsPassword)
{
    for (const char* dict : {kRc440UserPassword, kAes256R6UserPassword}) {
        SCOPED_TRACE(dict);
        const CSecurityHandler handler = open(dict, kFirstId);
        EXPECT_EQ(handler.state(), EState::NeedsPassword);
        EXPECT_FALSE(handler.opensWithoutPassword());
        EXPECT_EQ(handler.fileKey(), "");
        EXPECT_EQ(refusal([&] { handler.decryptString(2, 0, "x"); }), "PDF file is encrypted");
        EXPECT_EQ(refusal([&] { handler.encryptStream(2, 0, "x"); }), "PDF file is encrypted");
    }
    // Another /ID changes the key of /R 2 to 4, so the empty password no longer matches /U.
    EXPECT_EQ(open(kRc4128.dict, "00").state(), EState::NeedsPassword);
}

// A password that guards only embedded files (/StmF and /StrF /Identity,
// /EFF naming a crypt filter, as in a corpus file with /AuthEvent /EFOpen):
// the document reads without the key, and only a stream naming the filter
// itself is refused.
TEST(SecurityHandler, PasswordForEmbeddedFilesOnlyStillOpens)
{
    const std::string dict = edited(edited(edited(kAes256R6UserPassword, "/StmF /StdCF", "/StmF /Identity"),
                                           "/StrF /StdCF", "/StrF /Identity"),
                                    "/V 5", "/V 5 /EFF /StdCF");
    const CSecurityHandler handler = open(dict, kFirstId);
    EXPECT_EQ(handler.state(), EState::Open);
    EXPECT_EQ(handler.fileKey(), "");
    EXPECT_EQ(handler.decryptString(3, 0, "clear"), "clear");
    EXPECT_EQ(handler.encryptStream(3, 0, "clear"), "clear");
    const CPdfObject embedded = parse("<< /Type /EmbeddedFile /Filter /Crypt /DecodeParms << /Name /StdCF >> >>");
    ASSERT_EQ(handler.streamMethodFor(embedded), EMethod::AESV3);
    EXPECT_EQ(refusal([&] { handler.decrypt(EMethod::AESV3, 3, 0, std::string(32, 'x')); }), "PDF file is encrypted");
    EXPECT_EQ(refusal([&] { handler.objectKey(3, 0, EMethod::RC4); }), "PDF file is encrypted");
}

// Regression: /U of the /R 5 fixture holds a NUL byte. Parsed as ordinary
// text the string ends there and the dictionary reads as damaged; parsed
// keeping string bytes it opens.
TEST(SecurityHandler, BinaryKeysSurviveNulBytes)
{
    ASSERT_NE(unhex("fbe176d86f089a7f90591458e6f44d91676f7be7d68fe8aece635d83aada9dda50568867eee8ea000c97d48f6a5a3f59")
                  .find('\0'),
              std::string::npos);
    EXPECT_EQ(refusal([] { CSecurityHandler(parse(kAes256R5.dict, false), unhex(kFirstId)); }),
              "PDF file is encrypted, but its encryption dictionary is damaged: /U is shorter than 48 bytes");
    EXPECT_EQ(CSecurityHandler(parse(kAes256R5.dict, true), unhex(kFirstId)).state(), EState::Open);
}

TEST(SecurityHandler, ObjectKeys)
{
    const CSecurityHandler rc440 = open(kRc440.dict, kFirstId);
    const CSecurityHandler rc4128 = open(kRc4128.dict, kFirstId);
    const CSecurityHandler aes128 = open(kAes128.dict, kFirstId);
    const CSecurityHandler aes256 = open(kAes256R6.dict, kFirstId);
    // MD5 of key, number and generation, cut to the key length + 5 and at most 16.
    EXPECT_EQ(rc440.objectKey(7, 0, EMethod::RC4).size(), 10u);
    EXPECT_EQ(rc440.objectKey(7, 0, EMethod::RC4),
              crypto::md5(rc440.fileKey() + std::string("\x07\x00\x00\x00\x00", 5)).substr(0, 10));
    EXPECT_EQ(rc4128.objectKey(7, 0, EMethod::RC4).size(), 16u);
    EXPECT_EQ(aes128.objectKey(7, 1, EMethod::AESV2),
              crypto::md5(aes128.fileKey() + std::string("\x07\x00\x00\x01\x00", 5) + "sAlT"));
    // Only the low 3 bytes of the number and 2 of the generation count.
    EXPECT_EQ(rc4128.objectKey(0x1000007, 0x10000, EMethod::RC4), rc4128.objectKey(7, 0, EMethod::RC4));
    EXPECT_NE(rc4128.objectKey(8, 0, EMethod::RC4), rc4128.objectKey(7, 0, EMethod::RC4));
    EXPECT_NE(rc4128.objectKey(7, 1, EMethod::RC4), rc4128.objectKey(7, 0, EMethod::RC4));
    // AES-256 uses the file key for every object.
    EXPECT_EQ(aes256.objectKey(7, 0, EMethod::AESV3), aes256.fileKey());
    EXPECT_EQ(aes256.objectKey(7, 0, EMethod::Identity), "");
}

TEST(SecurityHandler, RoundTrips)
{
    std::string binary;
    for (int i = 0; i < 1000; ++i)
        binary += static_cast<char>(i * 7);
    const std::vector<std::string> payloads = {"", "a", std::string(15, 'x'), std::string(16, 'y'),
                                               std::string(17, 'z'), binary};
    for (const Fixture& f : kOpenFixtures) {
        SCOPED_TRACE(f.name);
        const CSecurityHandler handler = open(f.dict, kFirstId);
        const bool aes = handler.stringMethod() != EMethod::RC4;
        for (const std::string& payload : payloads) {
            SCOPED_TRACE(payload.size());
            const std::string string = handler.encryptString(12, 0, payload);
            const std::string stream = handler.encryptStream(12, 0, payload);
            EXPECT_EQ(handler.decryptString(12, 0, string), payload);
            EXPECT_EQ(handler.decryptStream(12, 0, stream), payload);
            if (aes) {
                // A 16-byte IV, then the data padded to whole blocks, always with 1 to 16 bytes.
                EXPECT_EQ(string.size(), 16 + (payload.size() / 16 + 1) * 16);
                EXPECT_NE(handler.encryptString(12, 0, payload), string) << "the IV must be fresh each time";
            } else {
                EXPECT_EQ(string.size(), payload.size());
            }
            // AES-256 uses one key for all objects; the others derive one per object.
            if (!payload.empty() && handler.stringMethod() != EMethod::AESV3) {
                EXPECT_TRUE(handler.decryptString(13, 0, string) != payload) << "another object's key must differ";
            }
        }
    }
}

// Crypt filters of /V 4: which method strings and streams get, by name.
TEST(SecurityHandler, CryptFiltersChooseTheMethod)
{
    struct Row {
        const char* what;
        std::string dict;
        EMethod strings;
        EMethod streams;
    };
    const std::string aes = kAes128.dict;
    const std::vector<Row> rows = {
        {"both /StdCF", aes, EMethod::AESV2, EMethod::AESV2},
        {"strings /Identity", edited(aes, "/StrF /StdCF", "/StrF /Identity"), EMethod::Identity, EMethod::AESV2},
        {"no /StmF", edited(aes, "/StmF /StdCF", ""), EMethod::AESV2, EMethod::Identity},
        {"/CFM /V2", edited(aes, "/CFM /AESV2", "/CFM /V2"), EMethod::RC4, EMethod::RC4},
        {"/CFM /None", edited(aes, "/CFM /AESV2", "/CFM /None"), EMethod::Identity, EMethod::Identity},
        {"no /CFM", edited(aes, "/CFM /AESV2", ""), EMethod::Identity, EMethod::Identity},
        {"a filter of its own name",
         edited(edited(edited(aes, "/StdCF <<", "/Mine <<"), "/StmF /StdCF", "/StmF /Mine"), "/StrF /StdCF",
                "/StrF /Mine"),
         EMethod::AESV2, EMethod::AESV2},
    };
    const std::string plain = "BT (Hello) Tj ET";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Crypt filters do not enter the key: each still opens.
        const CSecurityHandler handler = open(row.dict, kFirstId);
        ASSERT_EQ(handler.state(), EState::Open);
        EXPECT_EQ(handler.stringMethod(), row.strings);
        EXPECT_EQ(handler.streamMethod(), row.streams);
        EXPECT_EQ(handler.decryptStream(4, 0, handler.encryptStream(4, 0, plain)), plain);
        if (row.strings == EMethod::Identity) {
            EXPECT_EQ(handler.encryptString(4, 0, plain), plain);
        }
    }
}

TEST(SecurityHandler, WhichStreamsAreEncrypted)
{
    struct Row {
        const char* streamDict;
        EMethod method;
        EMethod clearMetadata; // under /EncryptMetadata false
        EMethod identity;      // under /StmF /Identity
    };
    const EMethod aes = EMethod::AESV2, none = EMethod::Identity;
    const std::vector<Row> rows = {
        {"<< /Length 5 >>", aes, aes, none},
        {"<< /Type /XRef /W [1 2 1] >>", none, none, none}, // cross-reference streams never are
        {"<< /Type /Metadata /Subtype /XML >>", aes, none, none},
        {"<< /Type /ObjStm /N 3 /First 10 >>", aes, aes, none},
        {"<< /Filter /Crypt >>", none, none, none}, // /Identity is the default /Name
        {"<< /Filter /Crypt /DecodeParms << /Name /Identity >> >>", none, none, none},
        {"<< /Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /Identity >> null] >>", none, none, none},
        {"<< /Filter [/FlateDecode /Crypt] >>", aes, aes, none}, // /Crypt counts only first
        {"<< /Filter /Crypt /DecodeParms << /Name /StdCF >> >>", aes, aes, aes},
        {"<< /Filter [/Crypt] /DecodeParms [<< /Name /StdCF >>] >>", aes, aes, aes},
    };
    const CSecurityHandler handler = open(kAes128.dict, kFirstId);
    const CSecurityHandler clearMetadata = open(kAes128ClearMetadata.dict, kFirstId);
    const CSecurityHandler identity = open(edited(kAes128.dict, "/StmF /StdCF", "/StmF /Identity"), kFirstId);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.streamDict);
        const CPdfObject dict = parse(row.streamDict);
        EXPECT_EQ(handler.streamMethodFor(dict), row.method);
        EXPECT_EQ(clearMetadata.streamMethodFor(dict), row.clearMetadata);
        EXPECT_EQ(identity.streamMethodFor(dict), row.identity);
        EXPECT_EQ(handler.isStreamEncrypted(dict), row.method != none);
    }
    // Before /V 4 there are no crypt filters: RC4 for every stream but cross-reference ones.
    const CSecurityHandler rc4 = open(kRc4128.dict, kFirstId);
    EXPECT_EQ(rc4.streamMethodFor(parse("<< /Filter /Crypt >>")), EMethod::RC4);
    EXPECT_EQ(rc4.streamMethodFor(parse("<< /Type /Metadata >>")), EMethod::RC4);
    EXPECT_EQ(rc4.streamMethodFor(parse("<< /Type /XRef >>")), none);
    // A /Crypt filter that names nothing in /CF, or a method the key cannot serve.
    EXPECT_EQ(refusal([&] { handler.streamMethodFor(parse("<< /Filter /Crypt /DecodeParms << /Name /No >> >>")); }),
              "PDF file is encrypted, but its encryption dictionary is damaged: crypt filter /No is not in /CF");
    const CSecurityHandler aes256 = open(edited(kAes256R6.dict, "/CF <<", "/CF << /Old << /CFM /V2 >>"), kFirstId);
    EXPECT_EQ(refusal([&] { aes256.streamMethodFor(parse("<< /Filter /Crypt /DecodeParms << /Name /Old >> >>")); }),
              "PDF file is encrypted in a way that is not supported: /CFM /V2 with /V 5 and a key of 256 bits");
}

// AES data as it turns up in damaged files is read as far as it goes.
TEST(SecurityHandler, AesDecryptionIsLenient)
{
    const CSecurityHandler handler = open(kAes128.dict, kFirstId);
    const std::string key = handler.objectKey(3, 0, EMethod::AESV2);
    const std::string iv = "0123456789abcdef";
    const std::string twoBlocks = "sixteen bytes...and sixteen more";
    const std::string padded = twoBlocks + std::string(16, '\x10');
    const std::string sealed = iv + crypto::aesCbcEncrypt(key, iv, padded);
    EXPECT_EQ(handler.decryptString(3, 0, sealed), twoBlocks);
    EXPECT_EQ(handler.decryptString(3, 0, ""), "");            // no IV
    EXPECT_EQ(handler.decryptString(3, 0, iv.substr(0, 9)), ""); // a cut IV
    EXPECT_EQ(handler.decryptString(3, 0, iv), "");              // an IV alone
    // A cut last block is dropped, and what remains has no padding to take off.
    EXPECT_EQ(handler.decryptString(3, 0, sealed.substr(0, 16 + 32 + 5)), twoBlocks);
    // Padding that is not PKCS#7 stays: a last byte of 0, above 16, or with unequal bytes before it.
    for (const std::string& tail : {std::string(16, '\0'), std::string(16, '\x11'), std::string(15, 'a') + "\x02"}) {
        SCOPED_TRACE(hex(tail));
        EXPECT_EQ(handler.decryptString(3, 0, iv + crypto::aesCbcEncrypt(key, iv, twoBlocks + tail)), twoBlocks + tail);
    }
}

// /P read as the 32-bit pattern it is, however it is written.
TEST(SecurityHandler, PermissionsAsWritten)
{
    struct Row {
        const char* p;
        int32_t bits;
    };
    const std::vector<Row> rows = {
        {"/P -4", -4},
        {"/P -1324", -1324},
        {"/P 4294967292.0", -4}, // unsigned, written as a real
        {"/P -4.0", -4},
        {"/P 0", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.p);
        const CSecurityHandler handler = open(edited(kRc4128.dict, "/P -4", row.p), kFirstId);
        EXPECT_EQ(handler.permissions(), row.bits);
        EXPECT_EQ(handler.allowsModifying(), (row.bits & 8) != 0);
        // /P enters the key: only the value qpdf wrote opens.
        EXPECT_EQ(handler.opensWithoutPassword(), row.bits == -4);
    }
}

// Writers also give /P unsigned; the parser's integers saturate at 32 bits.
// Regression for a corpus file written that way (/R 6, /P 4294967292).
TEST(SecurityHandler, PermissionsWrittenUnsigned)
{
    const std::string rc4 = edited(kRc4128.dict, "/P -4", "/P 4294967292");
    EXPECT_EQ(refusal([&] { open(rc4, kFirstId); }),
              "PDF file is encrypted in a way that is not supported: /P written beyond 32 bits, which the key depends on");
    struct Row {
        const char* text; // /P as the caller read it from the file
        bool opens;
    };
    for (const Row& row : std::vector<Row>{{"4294967292", true}, {"+4294967292", true}, {"-4", true},
                                           {"4294967296", false}, {"4x", false}, {"", false}}) {
        SCOPED_TRACE(row.text);
        std::string message;
        try {
            const CSecurityHandler handler(parse(rc4), unhex(kFirstId), row.text);
            EXPECT_TRUE(row.opens);
            EXPECT_EQ(handler.permissions(), -4);
            EXPECT_TRUE(handler.permissionsKnown());
        } catch (const CPdfException& e) {
            message = e.message();
        }
        EXPECT_EQ(message.empty(), row.opens) << message; // text that is no 32-bit pattern is ignored
    }
    // /R 6 keeps /P out of the key, and /Perms holds its bits.
    const CSecurityHandler r6 = open(edited(kAes256R6.dict, "/P -4", "/P 4294967292"), kFirstId);
    EXPECT_EQ(r6.state(), EState::Open);
    EXPECT_EQ(r6.permissions(), -4);
    EXPECT_TRUE(r6.permissionsKnown());
    // With /Perms damaged too, nothing tells the bits: changes count as forbidden.
    const CSecurityHandler unknown = open(
        edited(edited(kAes256R6.dict, "/P -4", "/P 4294967292"), "/Perms <c0", "/Perms <c1"), kFirstId);
    EXPECT_EQ(unknown.state(), EState::Open);
    EXPECT_FALSE(unknown.permissionsKnown());
    EXPECT_FALSE(unknown.allowsModifying());
}

// Regression for a corpus file: /R 3 without /Length whose key has 128 bits,
// not the default 40.
TEST(SecurityHandler, MissingLengthOfRevision3TriesBothSizes)
{
    const CSecurityHandler handler = open(edited(kRc4128.dict, "/Length 128", ""), kFirstId);
    EXPECT_EQ(handler.state(), EState::Open);
    EXPECT_EQ(handler.keyLength(), 16);
    EXPECT_EQ(hex(handler.fileKey()), kRc4128.key);
    // A /Length given is taken at its word.
    EXPECT_EQ(open(edited(kRc4128.dict, "/Length 128", "/Length 40"), kFirstId).state(), EState::NeedsPassword);
}

// A /CF entry no string or stream uses may be junk; only using it refuses.
TEST(SecurityHandler, UnusedCryptFiltersDoNotRefuse)
{
    const CSecurityHandler handler =
        open(edited(kAes128.dict, "/CF <<", "/CF << /Junk 5 /Odd << /CFM /Magic >>"), kFirstId);
    EXPECT_EQ(handler.state(), EState::Open);
    EXPECT_EQ(refusal([&] { handler.streamMethodFor(parse("<< /Filter /Crypt /DecodeParms << /Name /Junk >> >>")); }),
              "PDF file is encrypted, but its encryption dictionary is damaged: crypt filter /Junk is not in /CF");
    EXPECT_EQ(refusal([&] { handler.streamMethodFor(parse("<< /Filter /Crypt /DecodeParms << /Name /Odd >> >>")); }),
              "PDF file is encrypted in a way that is not supported: /CFM /Magic");
    EXPECT_EQ(refusal([&] { handler.streamMethodFor(parse("<< /Filter /Crypt /DecodeParms << /Name 3 >> >>")); }),
              "PDF file is encrypted, but its encryption dictionary is damaged: a /Crypt filter's /Name is not a name");
}

// /Perms that does not match /P is passed over, as readers do: the values in the clear stand.
TEST(SecurityHandler, PermsMismatchIsTolerated)
{
    const CSecurityHandler handler = open(edited(kAes256R6.dict, "/P -4", "/P -16"), kFirstId);
    EXPECT_EQ(handler.state(), EState::Open); // /P is not part of the /R 6 key
    EXPECT_EQ(handler.permissions(), -16);
    EXPECT_FALSE(handler.allowsModifying());
    const CSecurityHandler metadata = open(edited(kAes256R6.dict, "/V 5", "/V 5 /EncryptMetadata false"), kFirstId);
    EXPECT_EQ(metadata.state(), EState::Open);
    EXPECT_FALSE(metadata.encryptsMetadata());
}

// Hostile or damaged dictionaries: each is refused with a message that names
// what is wrong, never read out of bounds (the sanitizer build runs these too).
TEST(SecurityHandler, RefusesHostileDictionaries)
{
    struct Row {
        std::string dict;
        std::string message; // after "PDF file ..." as thrown
    };
    const std::string rc4 = kRc4128.dict;
    const std::string aes = kAes128.dict;
    const std::string r6 = kAes256R6.dict;
    const std::string damaged = "PDF file is encrypted, but its encryption dictionary is damaged: ";
    const std::string unsupported = "PDF file is encrypted in a way that is not supported: ";
    const std::vector<Row> rows = {
        {"42", damaged + "it is not a dictionary"},
        {"<< >>", unsupported + "/Filter is not /Standard"},
        {edited(rc4, "/Filter /Standard", "/Filter /Adobe.PubSec"), unsupported + "/Filter /Adobe.PubSec"},
        {edited(rc4, "/V 2", ""), damaged + "/V is missing or not an integer"},
        {edited(rc4, "/R 3", "/R (3)"), damaged + "/R is missing or not an integer"},
        {edited(rc4, "/V 2", "/V 3"), unsupported + "/V 3 /R 3"},
        {edited(rc4, "/V 2", "/V 0"), unsupported + "/V 0 /R 3"},
        {edited(rc4, "/V 2", "/V -1"), unsupported + "/V -1 /R 3"},
        {edited(rc4, "/V 2", "/V 99999999999"), unsupported + "/V 2147483647 /R 3"},
        {edited(rc4, "/R 3", "/R 1"), unsupported + "/V 2 /R 1"},
        {edited(rc4, "/R 3", "/R 7"), unsupported + "/V 2 /R 7"},
        {edited(rc4, "/R 3", "/R -2147483648"), unsupported + "/V 2 /R -2147483648"},
        {edited(aes, "/R 4", "/R 3"), unsupported + "/V 4 /R 3"},
        {edited(r6, "/R 6", "/R 4"), unsupported + "/V 5 /R 4"},
        {edited(rc4, "/Length 128", "/Length 0"), unsupported + "/Length 0 (a key of 40 to 128 bits, in whole bytes)"},
        {edited(rc4, "/Length 128", "/Length -8"), unsupported + "/Length -8 (a key of 40 to 128 bits, in whole bytes)"},
        {edited(rc4, "/Length 128", "/Length 41"), unsupported + "/Length 41 (a key of 40 to 128 bits, in whole bytes)"},
        {edited(rc4, "/Length 128", "/Length 136"), unsupported + "/Length 136 (a key of 40 to 128 bits, in whole bytes)"},
        {edited(rc4, "/Length 128", "/Length 99999999999"),
         unsupported + "/Length 2147483647 (a key of 40 to 128 bits, in whole bytes)"},
        {edited(rc4, "/Length 128", "/Length 16.5"), damaged + "/Length is not an integer"},
        {edited(rc4, "/P -4", ""), damaged + "/P is missing or not a 32-bit integer"},
        {edited(rc4, "/P -4", "/P (x)"), damaged + "/P is missing or not a 32-bit integer"},
        {edited(rc4, "/P -4", "/P 1.5"), damaged + "/P is missing or not a 32-bit integer"},
        {edited(rc4, "/P -4", "/P 99999999999.0"), damaged + "/P is missing or not a 32-bit integer"},
        {edited(rc4, "/O <566f", "/O <"), damaged + "/O is shorter than 32 bytes"},
        {edited(rc4, "/U <", "/U 5 /X <"), damaged + "/U is missing or not a string"},
        {edited(rc4, "/U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4>", "/U ()"),
         damaged + "/U is shorter than 32 bytes"},
        {edited(r6, "/U <bd", "/U <"), damaged + "/U is shorter than 48 bytes"},
        {edited(r6, "/O <3f", "/O <"), damaged + "/O is shorter than 48 bytes"},
        {edited(r6, "/UE <c0", "/UE <"), damaged + "/UE is shorter than 32 bytes"},
        {edited(r6, "/OE <", "/X <"), damaged + "/OE is missing or not a string"},
        {edited(r6, "/Perms <c0", "/Perms <"), damaged + "/Perms is shorter than 16 bytes"},
        {edited(aes, "/CF <<", "/CF 5 /X <<"), damaged + "/CF is not a dictionary"},
        {edited(aes, "/StmF /StdCF", "/StmF /Nowhere"), damaged + "crypt filter /Nowhere is not in /CF"},
        {edited(aes, "/StrF /StdCF", "/StrF 7"), damaged + "/StmF or /StrF is not a name"},
        {edited(aes, "/CFM /AESV2", "/CFM /Magic"), unsupported + "/CFM /Magic"},
        {edited(aes, "/CFM /AESV2", "/CFM 2"), unsupported + "/CFM is not a name"},
        {edited(aes, "/CFM /AESV2", "/CFM /AESV3"), unsupported + "/CFM /AESV3 with /V 4 and a key of 128 bits"},
        {edited(edited(aes, "/Length 128", "/Length 40"), "/Length 16", ""),
         unsupported + "/CFM /AESV2 with /V 4 and a key of 40 bits"},
        {edited(r6, "/CFM /AESV3", "/CFM /AESV2"), unsupported + "/CFM /AESV2 with /V 5 and a key of 256 bits"},
        {edited(r6, "/CFM /AESV3", "/CFM /V2"), unsupported + "/CFM /V2 with /V 5 and a key of 256 bits"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dict);
        EXPECT_EQ(refusal([&] { open(row.dict, kFirstId); }), row.message);
    }
}

// Lengths outside the defaults that are still sound: /V 1 ignores /Length,
// /R 2 always uses 40 bits, and /O and /U longer than needed are cut.
TEST(SecurityHandler, ToleratesSoundOddities)
{
    EXPECT_EQ(open(edited(kRc440.dict, "/Length 40", "/Length 99999"), kFirstId).keyLength(), 5);
    EXPECT_EQ(open(edited(kRc440.dict, "/Length 40", ""), kFirstId).state(), EState::Open);
    const std::string longO = edited(kRc4128.dict, "aa6f5>", "aa6f5000000>");
    EXPECT_EQ(open(longO, kFirstId).state(), EState::Open);
    const std::string longU = edited(kAes256R6.dict, "d0>", "d0" + std::string(158, '0') + ">");
    EXPECT_EQ(open(longU, kFirstId).state(), EState::Open);
    // /V 4 without /Length: 128 bits.
    EXPECT_EQ(open(edited(kAes128.dict, "/Length 128", ""), kFirstId).state(), EState::Open);
}

// Regression: any value of the encryption dictionary may be held in an object
// of its own, as the PDF rules allow, and was refused ("/CF is not a
// dictionary"). Each row writes the fixture's dictionary as object 7 (or
// inline) with `from` in it replaced by `to`, and `objects` beside it; the
// file must open with the fixture's key, or be refused with `message`.
TEST(SecurityHandler, ValuesHeldByReferenceAreRead)
{
    const std::string aesFilter = "<< /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >>";
    auto hexAfter = [](const char* dict, const std::string& key) {
        const std::string text = dict;
        const size_t begin = text.find(key) + key.size();
        return text.substr(begin, text.find('>', begin) + 1 - begin);
    };
    const std::string rc4Owner = hexAfter(kRc4128.dict, "/O "), aesUser = hexAfter(kAes256R5.dict, "/U ");
    struct Row {
        const char* name;
        Fixture fixture;
        std::string from, to;
        std::map<int, std::string> objects;
        std::string message = ""; // empty: it opens
        bool inlineDict = false;
    };
    const std::vector<Row> rows = {
        {"CF", kAes128, "/CF << /StdCF " + aesFilter + " >>", "/CF 8 0 R", {{8, "<< /StdCF " + aesFilter + " >>"}}},
        {"StdCF", kAes128, "/StdCF " + aesFilter, "/StdCF 8 0 R", {{8, aesFilter}}},
        {"CFM", kAes128, "/CFM /AESV2", "/CFM 8 0 R", {{8, "/AESV2"}}},
        {"O", kRc4128, "/O " + rc4Owner, "/O 8 0 R", {{8, rc4Owner}}},
        // A NUL byte in it: the object's strings keep their bytes too.
        {"U", kAes256R5, "/U " + aesUser, "/U 8 0 R", {{8, aesUser}}},
        // Written unsigned, /P is read as the object writes it.
        {"P", kRc4128, "/P -4", "/P 8 0 R", {{8, "4294967292"}}},
        {"Length", kRc4128, "/Length 128", "/Length 8 0 R", {{8, "128"}}},
        {"LengthTakenAtItsWord", kRc4128, "/Length 128", "/Length 8 0 R", {{8, "40"}}, "PDF file is encrypted"},
        {"EncryptMetadata", kAes128ClearMetadata, "/EncryptMetadata false", "/EncryptMetadata 8 0 R", {{8, "false"}}},
        {"ChainOfReferences", kAes128, "/CF << /StdCF " + aesFilter + " >>", "/CF 8 0 R",
         {{8, "9 0 R"}, {9, "<< /StdCF 10 0 R >>"}, {10, aesFilter}}},
        {"InlineDictionary", kAes128, "/StdCF " + aesFilter, "/StdCF 8 0 R", {{8, aesFilter}}, "", true},
        // A loop, or an object that is not there, is null.
        {"LoopingReferences", kRc4128, "/O " + rc4Owner, "/O 8 0 R", {{8, "9 0 R"}, {9, "8 0 R"}},
         "PDF file is encrypted, but its encryption dictionary is damaged: /O is missing or not a string"},
        {"MissingObject", kAes128, "/CF << /StdCF " + aesFilter + " >>", "/CF 99 0 R", {},
         "PDF file is encrypted, but its encryption dictionary is damaged: crypt filter /StdCF is not in /CF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vtest::PdfBuilder b;
        b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        for (const auto& [num, body] : row.objects)
            b.set(num, body);
        const std::string dict = edited(row.fixture.dict, row.from, row.to);
        if (!row.inlineDict)
            b.set(7, dict);
        b.setRoot(1);
        b.setTrailerExtra("/Encrypt " + (row.inlineDict ? dict : "7 0 R") + " /ID [<" + kFirstId + "> <" + kFirstId +
                          ">]");
        vtest::TempDir dir;
        b.writeTo(dir.file("in.pdf"));
        CPdfFile file;
        const std::string message = refusal([&] { file.open(dir.file("in.pdf")); });
        EXPECT_EQ(message, row.message.empty() ? "no exception" : row.message);
        if (!file.isOpen())
            continue;
        const CSecurityHandler* handler = file.xref()->securityHandler();
        EXPECT_EQ(handler ? hex(handler->fileKey()) : "", row.fixture.key);
        EXPECT_EQ(handler ? handler->permissions() : 0, -4);
        EXPECT_NE(handler ? handler->streamMethod() : EMethod::Identity, EMethod::Identity);
    }
}
