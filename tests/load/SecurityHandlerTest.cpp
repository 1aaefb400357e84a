// The standard security handler against dictionaries qpdf and MuPDF wrote: keys,
// crypt filters, lenient AES and hostile dictionaries, and passwords as each
// revision hashes them. (Strings of objects from object streams: end-to-end rows.)

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "crypt/CSecurityHandler.h"
#include "crypt/CryptoPrimitives.h"
#include "crypt/PasswordEncoding.h"
#include "crypt/StringEncryption.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfText.h"
#include "tests/support/TestUtil.h"

namespace {

using EMethod = CSecurityHandler::EMethod;
using EState = CSecurityHandler::EState;
using vtest::hex;
using vtest::parse;

std::string unhex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

// `permissionsText`: /P as read from the file.
CSecurityHandler open(const std::string& dictText, const std::string& idHex, const char* permissionsText = "") {
    return CSecurityHandler(parse(dictText, true), unhex(idHex), permissionsText);
}

template <class Run>
std::string refusal(Run run) {
    try {
        run();
    } catch (const CPdfException& e) {
        return e.message();
    }
    return "no exception";
}

std::string edited(const std::string& dict, const std::string& from, const std::string& to) {
    const size_t at = dict.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? dict : dict.substr(0, at) + to + dict.substr(at + from.size());
}

const char* const kFirstId = "44f07d11055b2dcc099e964b0ccc362b";
const std::string kDamaged = "PDF file is encrypted, but its encryption dictionary is damaged: ";
const std::string kUnsupported = "PDF file is encrypted in a way that is not supported: ";

// Written by qpdf 11.3 (`qpdf --encrypt USER OWNER ...`, the user password empty
// unless named) from one file, so all share its /ID; the keys are what
// `--show-encryption-key` printed, and /Title of object 2 0 is "Known title".
struct Fixture { const char *name, *dict, *key, *title, *id = kFirstId; int num = 2, gen = 0; };

const Fixture kRc440 = {"RC4 40 bits, /R 2",
    "<< /Filter /Standard /Length 40 /O <c92422687facee686e373f10b5c7d04738053152f7e2ee30e11c69ec442576ab> /P -4 /R 2"
    " /U <1d89cb6ddc8725dc7933765f5e75577c73099a1fc897134301d8f018386c8132> /V 1 >>",
    "0b63ce38fa", "c4470c087a9f9cba598c3e"};
const Fixture kRc4128 = {"RC4 128 bits, /R 3",
    "<< /Filter /Standard /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 3"
    " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 2 >>",
    "8f5e2f915a2e636eb091f536b60e3c07", "8464e38038a429e2f10d90"};
const Fixture kAes128 = {"AES-128, /R 4",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /Filter /Standard /Length 128"
    " /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 4 /StmF /StdCF /StrF /StdCF"
    " /U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4> /V 4 >>",
    "8f5e2f915a2e636eb091f536b60e3c07", "71c744865830f08ad2cc92cbc2b577295a9bf49c4253ca3653c457a1fc28ee27"};
const Fixture kAes128ClearMetadata = {"AES-128, /R 4, /EncryptMetadata false",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /EncryptMetadata false /Filter /Standard"
    " /Length 128 /O <566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5> /P -4 /R 4 /StmF /StdCF"
    " /StrF /StdCF /U <c53015cd27a0c13b05ee7931c80f04680122456a91bae5134273a6db134c87c4> /V 4 >>",
    "ec71a522d8379a23bced6fe9f51a3f5d", "addab8910449348d3c38ae993762572fbf6fd1ee6af38b5164c8ee4a6f57a437"};
const Fixture kAes256R5 = {"AES-256, /R 5",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <595fe660f13e415cbaef066bbde63e7c03a432136b69ee459cff82273fcff491a0089636dd8ae0562103b3bd7f1698e9>"
    " /OE <583e6823ee8c0ba2f2567524bce11e73deba55ebc5cccc11c3040d4877a9257d> /P -4"
    " /Perms <7d329e95693cfc4f795bc10236b4039b> /R 5 /StmF /StdCF /StrF /StdCF"
    " /U <fbe176d86f089a7f90591458e6f44d91676f7be7d68fe8aece635d83aada9dda50568867eee8ea000c97d48f6a5a3f59>"
    " /UE <57fe77c2b7c178c2ee135b9625641ecee3b9fd3f792092200f5769fa61461622> /V 5 >>",
    "9f262103d96baacaca99fd291bffffc936b87969827b6734c0492d0100eb5e65",
    "956c563360bb8619ee1bbc604181536bb1aa2284e676149e27426a700d183348"};
// Its password check ends at round 64, the first round that may end it.
const Fixture kAes256R6 = {"AES-256, /R 6",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <f88f15993d0d22daf6bcbd15913e77a2a9a3d764c62eb159c6ce5f08801ec789bf6e6a778950e9e5e780727becf5e757>"
    " /OE <4b44bc2b51d8b6688ca1403eaaad823ff197194d6d248d2e1d269db6299f2b08> /P -4"
    " /Perms <9a11d6f685d2429e0c09c01a942f0edd> /R 6 /StmF /StdCF /StrF /StdCF"
    " /U <a0fea2a3b462052a46a87dc6a7ad674caa8fd5eb7f772d39544f28bd2791ebb98b69a6f332f5ca539acef8439ec71268>"
    " /UE <9d9ed87791e49d0aa8e3c49480d7f5d997885d1da116a1a725063b71e143af74> /V 5 >>",
    "26b435e8e9564d7e6e98866fedf73d7be8c8e35d5e6b8ef91540f6e1e69752c7",
    "176daa77ffa01f033ca17c99be7665f8a253dfdef2047c9289eab0a724a65939"};
// User password "secret", owner password empty (qpdf: "Supplied password is owner password").
const Fixture kAes256R5Owner = {"AES-256, /R 5, empty owner password",
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard /Length 256"
    " /O <70f1ca1a479aa291a0b146c5545ffa62801b05bfc3d5a25c306383ed969c5ae91adb12e903e69d8f35f780e0dadb1ebb>"
    " /OE <35efe55dd9fbe0b05e335f0d0c2d802c5d539ba4e6e7d420cb4ed12f58d8805b> /P -4"
    " /Perms <b3d7436090900ebf2825a365dc716ed4> /R 5 /StmF /StdCF /StrF /StdCF"
    " /U <0e506ff939130f970d87afd069ae07dec5367b48806e9002164a619a4f6815a54b1afb2e54598c7703c7454a48a31ce7>"
    " /UE <3e30cac7a9f5be3132f860bb1cd301aed8b410351980d839622547d8c405907f> /V 5 >>",
    "577ae9595fd753c5af89b51fd9dceeb084eb2546a0ce93d0ee0e8742e42423c5",
    "a2b39aa91283feba6b8125f23a1a599d1b53badc2c4c5c014cda949254fc48a4"};
// Written by MuPDF (`mutool clean -E aes-128 -O owner`), /Info kept as object 7 2, under
// an /ID of its own; qpdf printed the key and shows its /Title as "Known title".
const Fixture kMuPdfAes128 = {"AES-128, /R 4, object 7 2",
    "<</Filter/Standard/R 4/V 4/Length 128/P -4/EncryptMetadata true/StmF/StdCF/StrF/StdCF/CF<</StdCF<</AuthEvent"
    "/DocOpen/CFM/AESV2/Length 16>>>>/O<566FA873EE33C797CD3B904FDADF814AFA34DF9A38F6ED41B984E2C6DA2AA6F5>/U<F21E4527"
    "86816E8BF0206873B64F90A928BF4E5E4E758A4164004E56FFFA0108>>>",
    "f303518974db98ee0b8767346a9dc7cb", "2D74D4641118723BAD874B910C421A62EAB61E7F2E4F7CEB99E8F1B055BC28BC",
    "1f54d8101a3e8fa61c37452b05973fcd", 7, 2};

} // namespace

// What the primitives compute every fixture's key and /Title proves; here, an RC4 key too short or too long is
// refused (the AES sizes' refusals: other rows fail without them).
TEST(CryptoPrimitives, WrongSizesAreRefusedNotRead) {
    EXPECT_NE(refusal([&] { crypto::rc4("", "data"); }), "no exception");
    EXPECT_NE(refusal([&] { crypto::rc4(std::string(257, 'k'), "data"); }), "no exception");
}

// Each dictionary, with `from` replaced by `to` (and /P read as `pText`), opens
// with the empty password to a state, a key of so many bytes (the fixture's),
// the methods of strings and streams, metadata encrypted (md), changes allowed
// (edit) and /P (when known). Opened, /Title decrypts (when unedited), and
// what we encrypt for an object decrypts again.
TEST(SecurityHandler, OpensWhatOtherWritersEncryptedAndSoundVariations) {
    const EState opened = EState::Open, closed = EState::NeedsPassword;
    const EMethod none = EMethod::Identity, rc = EMethod::RC4, v2 = EMethod::AESV2, v3 = EMethod::AESV3;
    const std::string r6Unsigned = edited(kAes256R6.dict, "/P -4", "/P 4294967292");
    const std::string mine = edited(edited(kAes128.dict, "/StdCF <<", "/Mine <<"), "/StmF /StdCF", "/StmF /Mine");
    auto with = [](Fixture f, const std::string& dict) { return f.dict = dict.c_str(), f; };
    // p, known and pText only where they differ from /P -4 as written.
    struct Row { Fixture f; std::string from, to; EState state; int bytes; EMethod strings, streams; bool md = true,
                 edit = true; int32_t p = -4; bool known = true; const char* pText = ""; };
    const Row rows[] = {
        {kRc440, "", "", opened, 5, rc, rc}, {kRc4128, "", "", opened, 16, rc, rc},
        {kAes128, "", "", opened, 16, v2, v2}, {kAes256R5, "", "", opened, 32, v3, v3},
        {kAes128ClearMetadata, "", "", opened, 16, v2, v2, false}, {kAes256R6, "", "", opened, 32, v3, v3},
        {kAes256R5Owner, "", "", opened, 32, v3, v3}, {kMuPdfAes128, "", "", opened, 16, v2, v2},
        // The empty owner password lifts the permissions, as the owner's password does.
        {kAes256R5Owner, "/P -4", "/P -16", opened, 32, v3, v3, true, true, -16},
        // /U made for another password, or another /ID (in the key of /R 2 to 4): nothing decrypts.
        {kAes256R6, "/U <a0", "/U <a1", closed, 32, v3, v3},
        {{"RC4 40 bits, /R 2, another /ID", kRc440.dict, "", "", "00"}, "", "", closed, 5, rc, rc},
        {{"RC4 128 bits, /R 3, another /ID", kRc4128.dict, "", "", "00"}, "", "", closed, 16, rc, rc},
        // /P is read as its 32-bit pattern, however written; it enters the key.
        {kRc4128, "/P -4", "/P -1324", closed, 16, rc, rc, true, false, -1324},
        {kRc4128, "/P -4", "/P 4294967292.0", opened, 16, rc, rc},
        // /P written unsigned (saturated by the parser) opens as the caller read it: a corpus file.
        {kRc4128, "/P -4", "/P 4294967292", opened, 16, rc, rc, true, true, -4, true, "4294967292"},
        {kRc4128, "/P -4", "/P 4294967292", opened, 16, rc, rc, true, true, -4, true, "+4294967292"},
        {kRc4128, "/P -4", "/P 4294967292", opened, 16, rc, rc, true, true, -4, true, "-4"},
        // /R 6 keeps /P out of the key, /Perms holds it; with /Perms damaged too, changes are forbidden.
        {kAes256R6, "/P -4", "/P 4294967292", opened, 32, v3, v3},
        {with(kAes256R6, r6Unsigned), "/Perms <9a", "/Perms <9b", opened, 32, v3, v3, true, false, 0, false},
        // /Perms not matching /P or /EncryptMetadata is passed over: the values in the clear stand.
        {kAes256R6, "/P -4", "/P -16", opened, 32, v3, v3, true, false, -16},
        {kAes256R6, "/V 5", "/V 5 /EncryptMetadata false", opened, 32, v3, v3, false},
        // /R 3 without /Length whose key has 128 bits (a corpus file); a /Length given is believed.
        {kRc4128, "/Length 128", "", opened, 16, rc, rc}, {kRc4128, "/Length 128", "/Length 40", closed, 5, rc, rc},
        // /V 1 ignores /Length (/R 2 has 40 bits), /V 4 without it has 128; longer /O and /U are cut.
        {kRc440, "/Length 40", "/Length 99999", opened, 5, rc, rc}, {kAes128, "/Length 128", "", opened, 16, v2, v2},
        {kRc4128, "aa6f5>", "aa6f5000000>", opened, 16, rc, rc},
        {kAes256R6, "68>", "68" + std::string(158, '0') + ">", opened, 32, v3, v3},
        // Crypt filters of /V 4 choose the method by name, outside the key.
        {kAes128, "/StrF /StdCF", "/StrF /Identity", opened, 16, none, v2},
        {kAes128, "/StmF /StdCF", "", opened, 16, v2, none}, {kAes128, "/CFM /AESV2", "/CFM /V2", opened, 16, rc, rc},
        {kAes128, "/CFM /AESV2", "/CFM /None", opened, 16, none, none},
        {kAes128, "/CFM /AESV2", "", opened, 16, none, none},
        {with(kAes128, mine), "/StrF /StdCF", "/StrF /Mine", opened, 16, v2, v2},
    };
    const std::string payloads[] = {"", "a", std::string(15, 'x'), std::string(16, 'y'), std::string(17, 'z'),
                                    std::string(1000, '\0')};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.f.name) + ": " + row.from + " -> " + row.to);
        const CSecurityHandler handler = open(edited(row.f.dict, row.from, row.to), row.f.id, row.pText);
        EXPECT_EQ(handler.state(), row.state);
        EXPECT_EQ(handler.opensWithoutPassword(), row.state == opened);
        EXPECT_EQ(hex(handler.fileKey()), row.state == closed ? "" : row.f.key);
        EXPECT_EQ(handler.keyLength(), row.bytes);
        EXPECT_EQ(handler.permissionsKnown(), row.known);
        EXPECT_EQ(row.known ? handler.permissions() : 0, row.p);
        EXPECT_EQ(handler.allowsModifying(), row.edit);
        EXPECT_EQ(handler.encryptsMetadata(), row.md);
        EXPECT_EQ(handler.stringMethod(), row.strings);
        EXPECT_EQ(handler.streamMethod(), row.streams);
        if (row.state == closed) {
            EXPECT_EQ(refusal([&] { handler.decryptString(2, 0, "x"); }), "PDF file is encrypted");
            EXPECT_EQ(refusal([&] { handler.encryptStream(2, 0, "x"); }), "PDF file is encrypted");
            continue;
        }
        const int num = row.f.num, gen = row.f.gen;
        if (row.from.empty()) {
            EXPECT_EQ(handler.decryptString(num, gen, unhex(row.f.title)), "Known title");
        }
        for (const std::string& payload : payloads) {
            SCOPED_TRACE(payload.size());
            const std::string string = handler.encryptString(num, gen, payload);
            EXPECT_EQ(handler.decryptString(num, gen, string), payload);
            EXPECT_EQ(handler.decryptStream(num, gen, handler.encryptStream(num, gen, payload)), payload);
            // Nothing changes without a method; AES: a 16-byte IV, fresh each time, then the data padded to
            // whole blocks with 1 to 16 bytes.
            const bool aes = row.strings == v2 || row.strings == v3;
            EXPECT_EQ(string == payload, row.strings == none || (payload.empty() && !aes));
            EXPECT_EQ(handler.encryptStream(num, gen, payload) == payload,
                      row.streams == none || (payload.empty() && row.streams == rc));
            EXPECT_EQ(string.size(), aes ? 16 + (payload.size() / 16 + 1) * 16 : payload.size());
            EXPECT_EQ(handler.encryptString(num, gen, payload) != string, aes) << "the IV must be fresh each time";
            // AES-256 uses one key for all objects; the others derive one per object.
            if (!payload.empty() && (row.strings == rc || row.strings == v2)) {
                EXPECT_TRUE(handler.decryptString(num + 1, gen, string) != payload) << "another object's key";
            }
        }
    }
}

// A password for embedded files only (/StmF and /StrF /Identity, /EFF naming a
// filter, as in a corpus file): the document reads without the key, and only a
// stream naming the filter is refused.
TEST(SecurityHandler, PasswordForEmbeddedFilesOnlyStillOpens) {
    const std::string otherUser = edited(kAes256R6.dict, "/U <a0", "/U <a1");
    const std::string dict = edited(edited(edited(otherUser, "/StmF /StdCF", "/StmF /Identity"),
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
    EXPECT_EQ(handler.objectKey(3, 0, EMethod::Identity), ""); // needs no key
}

TEST(SecurityHandler, WhichStreamsAreEncrypted) {
    const EMethod aes = EMethod::AESV2, rc = EMethod::RC4, none = EMethod::Identity;
    // The method under AES-128, /EncryptMetadata false, /StmF /Identity, and RC4 (no crypt filters before /V 4).
    const struct { const char* streamDict; EMethod method, clearMetadata, identity, rc4; } rows[] = {
        {"<< /Length 5 >>", aes, aes, none, rc},
        {"<< /Type /XRef /W [1 2 1] >>", none, none, none, none}, // cross-reference streams never are
        {"<< /Type /Metadata /Subtype /XML >>", aes, none, none, rc},
        {"<< /Type /ObjStm /N 3 /First 10 >>", aes, aes, none, rc},
        {"<< /Filter /Crypt >>", none, none, none, rc}, // /Identity is the default /Name
        {"<< /Filter /Crypt /DecodeParms << /Name /Identity >> >>", none, none, none, rc},
        {"<< /Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /Identity >> null] >>", none, none, none, rc},
        {"<< /Filter [/FlateDecode /Crypt] >>", aes, aes, none, rc}, // /Crypt counts only first
        {"<< /Filter /Crypt /DecodeParms << /Name /StdCF >> >>", aes, aes, aes, rc},
        {"<< /Filter [/Crypt] /DecodeParms [<< /Name /StdCF >>] >>", aes, aes, aes, rc},
    };
    const CSecurityHandler handler = open(kAes128.dict, kFirstId), rc4 = open(kRc4128.dict, kFirstId);
    const CSecurityHandler clearMetadata = open(kAes128ClearMetadata.dict, kFirstId);
    const CSecurityHandler identity = open(edited(kAes128.dict, "/StmF /StdCF", "/StmF /Identity"), kFirstId);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.streamDict);
        const CPdfObject dict = parse(row.streamDict);
        EXPECT_EQ(handler.streamMethodFor(dict), row.method);
        EXPECT_EQ(clearMetadata.streamMethodFor(dict), row.clearMetadata);
        EXPECT_EQ(identity.streamMethodFor(dict), row.identity);
        EXPECT_EQ(rc4.streamMethodFor(dict), row.rc4);
        EXPECT_EQ(handler.isStreamEncrypted(dict), row.method != none);
    }
}

// A /CF entry nothing uses may be junk; only a stream naming it, or what /CF lacks, is refused.
TEST(SecurityHandler, CryptFiltersAreRefusedOnlyWhenUsed) {
    const std::string junk = "/CF << /Junk 5 /Odd << /CFM /Magic >> /Old << /CFM /V2 >>";
    const struct { const Fixture& fixture; const char *name; std::string message; } rows[] = {
        {kAes128, "/Junk", kDamaged + "crypt filter /Junk is not in /CF"},
        {kAes128, "/No", kDamaged + "crypt filter /No is not in /CF"},
        {kAes128, "/Odd", kUnsupported + "/CFM /Magic"},
        {kAes128, "3", kDamaged + "a /Crypt filter's /Name is not a name"},
        {kAes256R6, "/Old", kUnsupported + "/CFM /V2 with /V 5 and a key of 256 bits"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CSecurityHandler handler = open(edited(row.fixture.dict, "/CF <<", junk), kFirstId);
        EXPECT_EQ(handler.state(), EState::Open);
        const CPdfObject dict = parse("<< /Filter /Crypt /DecodeParms << /Name " + std::string(row.name) + " >> >>");
        EXPECT_EQ(refusal([&] { handler.streamMethodFor(dict); }), row.message);
    }
}

// AES data as it turns up in damaged files is read as far as it goes: no IV,
// a cut one, one alone, a cut last block (dropped, and no padding taken off);
// padding that is not PKCS#7 (a last byte 0, above 16, unequal bytes) stays.
TEST(SecurityHandler, AesDecryptionIsLenient) {
    const CSecurityHandler handler = open(kAes128.dict, kFirstId);
    const std::string key = handler.objectKey(3, 0, EMethod::AESV2);
    const std::string iv = "0123456789abcdef", two = "sixteen bytes...and sixteen more", pad(16, '\x10');
    auto sealed = [&](const std::string& tail) { return iv + crypto::aesCbcEncrypt(key, iv, two + tail); };
    const std::string zeros(16, '\0'), high(16, '\x11'), unequal = std::string(15, 'a') + "\x02";
    const std::pair<std::string, std::string> rows[] = {
        {sealed(pad), two}, {"", ""}, {iv.substr(0, 9), ""}, {iv, ""}, {sealed(pad).substr(0, 16 + 32 + 5), two},
        {sealed(zeros), two + zeros}, {sealed(high), two + high}, {sealed(unequal), two + unequal},
    };
    for (const auto& [data, plain] : rows)
        EXPECT_EQ(handler.decryptString(3, 0, data), plain) << hex(data);
}

// Hostile or damaged dictionaries are refused with a message naming what is wrong.
TEST(SecurityHandler, RefusesHostileDictionaries) {
    const std::string rc4 = kRc4128.dict, aes = kAes128.dict, r6 = kAes256R6.dict;
    const std::string D = kDamaged, U = kUnsupported, length = " (a key of 40 to 128 bits, in whole bytes)";
    const std::string missingP = D + "/P is missing or not a 32-bit integer";
    // /P written unsigned enters the key of /R 2 to 4; `pText` (/P as read) that is no 32-bit pattern is ignored.
    const std::string unsignedP = edited(rc4, "/P -4", "/P 4294967292");
    const std::string beyond = U + "/P written beyond 32 bits, which the key depends on";
    const struct { std::string dict, message; const char* pText = ""; } rows[] = {
        {"42", D + "it is not a dictionary"}, {"<< >>", U + "/Filter is not /Standard"},
        {edited(rc4, "/Filter /Standard", "/Filter /Adobe.PubSec"), U + "/Filter /Adobe.PubSec"},
        {edited(rc4, "/V 2", ""), D + "/V is missing or not an integer"},
        {edited(rc4, "/R 3", "/R (3)"), D + "/R is missing or not an integer"},
        {edited(rc4, "/V 2", "/V 3"), U + "/V 3 /R 3"}, {edited(rc4, "/V 2", "/V 0"), U + "/V 0 /R 3"},
        {edited(rc4, "/R 3", "/R 1"), U + "/V 2 /R 1"}, {edited(rc4, "/R 3", "/R 7"), U + "/V 2 /R 7"},
        {edited(aes, "/R 4", "/R 3"), U + "/V 4 /R 3"}, {edited(r6, "/R 6", "/R 4"), U + "/V 5 /R 4"},
        {edited(rc4, "/Length 128", "/Length 0"), U + "/Length 0" + length},
        {edited(rc4, "/Length 128", "/Length 41"), U + "/Length 41" + length},
        {edited(rc4, "/Length 128", "/Length 136"), U + "/Length 136" + length},
        {edited(rc4, "/Length 128", "/Length 16.5"), D + "/Length is not an integer"},
        {edited(rc4, "/P -4", ""), missingP}, {edited(rc4, "/P -4", "/P 1.5"), missingP},
        {edited(rc4, "/P -4", "/P 99999999999.0"), missingP}, {unsignedP, beyond},
        {unsignedP, beyond, "4294967296"}, {unsignedP, beyond, "4x"},
        {edited(rc4, "/O <566f", "/O <"), D + "/O is shorter than 32 bytes"},
        {edited(rc4, "/U <", "/U 5 /X <"), D + "/U is missing or not a string"},
        {edited(rc4, "/U <3626fc13e96aa1246823fe138a57397d0122456a91bae5134273a6db134c87c4>", "/U ()"),
         D + "/U is shorter than 32 bytes"},
        {edited(r6, "/U <a0", "/U <"), D + "/U is shorter than 48 bytes"},
        {edited(r6, "/O <f8", "/O <"), D + "/O is shorter than 48 bytes"},
        {edited(r6, "/UE <9d", "/UE <"), D + "/UE is shorter than 32 bytes"},
        {edited(r6, "/OE <", "/X <"), D + "/OE is missing or not a string"},
        {edited(r6, "/Perms <9a", "/Perms <"), D + "/Perms is shorter than 16 bytes"},
        {edited(aes, "/CF <<", "/CF 5 /X <<"), D + "/CF is not a dictionary"},
        {edited(aes, "/StmF /StdCF", "/StmF /Nowhere"), D + "crypt filter /Nowhere is not in /CF"},
        {edited(aes, "/StrF /StdCF", "/StrF 7"), D + "/StmF or /StrF is not a name"},
        {edited(aes, "/CFM /AESV2", "/CFM /Magic"), U + "/CFM /Magic"},
        {edited(aes, "/CFM /AESV2", "/CFM 2"), U + "/CFM is not a name"},
        {edited(aes, "/CFM /AESV2", "/CFM /AESV3"), U + "/CFM /AESV3 with /V 4 and a key of 128 bits"},
        {edited(edited(aes, "/Length 128", "/Length 40"), "/Length 16", ""),
         U + "/CFM /AESV2 with /V 4 and a key of 40 bits"},
        {edited(r6, "/CFM /AESV3", "/CFM /AESV2"), U + "/CFM /AESV2 with /V 5 and a key of 256 bits"},
        {edited(r6, "/CFM /AESV3", "/CFM /V2"), U + "/CFM /V2 with /V 5 and a key of 256 bits"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dict);
        EXPECT_EQ(refusal([&] { open(row.dict, kFirstId, row.pText); }), row.message);
    }
}

// Any value of the encryption dictionary may be an object of its own (once
// refused). Each file has the fixture's dictionary as object 7 (or inline) with
// `from` replaced by `to`, and `objects`; it opens with the fixture's key, or is
// refused with `message`.
TEST(SecurityHandler, ValuesHeldByReferenceAreRead) {
    const std::string aesFilter = "<< /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >>";
    const std::string cf = "/CF << /StdCF " + aesFilter + " >>";
    const std::string rc4Owner = "<566fa873ee33c797cd3b904fdadf814afa34df9a38f6ed41b984e2c6da2aa6f5>";
    const std::string aesUser =
        "<fbe176d86f089a7f90591458e6f44d91676f7be7d68fe8aece635d83aada9dda50568867eee8ea000c97d48f6a5a3f59>";
    struct Row { const char* name; Fixture fixture; std::string from, to; std::map<int, std::string> objects;
                 std::string message = "no exception"; bool inlineDict = false; std::string tail = ""; };
    const std::string id = std::string(" /ID [<") + kFirstId + "> <" + kFirstId + ">]";
    const Row rows[] = {
        {"CF", kAes128, cf, "/CF 8 0 R", {{8, "<< /StdCF " + aesFilter + " >>"}}},
        {"CFM", kAes128, "/CFM /AESV2", "/CFM 8 0 R", {{8, "/AESV2"}}},
        // A NUL byte in it: the object's strings keep their bytes too.
        {"U", kAes256R5, "/U " + aesUser, "/U 8 0 R", {{8, aesUser}}},
        // Written unsigned, /P is read as the object writes it.
        {"P", kRc4128, "/P -4", "/P 8 0 R", {{8, "4294967292"}}},
        {"LengthTakenAtItsWord", kRc4128, "/Length 128", "/Length 8 0 R", {{8, "40"}},
         "PDF file is encrypted: it needs its password, given with --password or --password-file"},
        {"ChainOfReferences", kAes128, cf, "/CF 8 0 R", {{8, "9 0 R"}, {9, "<< /StdCF 10 0 R >>"}, {10, aesFilter}}},
        {"InlineDictionary", kAes128, "/StdCF " + aesFilter, "/StdCF 8 0 R", {{8, aesFilter}}, "no exception", true},
        // A loop, or an object that is not there, is null.
        {"LoopingReferences", kRc4128, "/O " + rc4Owner, "/O 8 0 R", {{8, "9 0 R"}, {9, "8 0 R"}},
         kDamaged + "/O is missing or not a string"},
        {"MissingObject", kAes128, cf, "/CF 99 0 R", {}, kDamaged + "crypt filter /StdCF is not in /CF"},
        // Rebuilt, the file is encrypted as the trailer naming the catalog says, not as a newer one without it.
        {"RepairedByTheCatalogsTrailer", kRc4128, "", "", {}, "no exception", false,
         "trailer\n<< /Encrypt " + std::string(kRc440.dict) + id + " >>\nstartxref\n0\n%%EOF\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vtest::PdfBuilder b;
        b.set(1, "<< /Type /Catalog /Pages 2 0 R >>"), b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>"), b.setRoot(1);
        for (const auto& [num, body] : row.objects)
            b.set(num, body);
        const std::string dict = edited(row.fixture.dict, row.from, row.to);
        if (!row.inlineDict)
            b.set(7, dict);
        b.setTrailerExtra("/Encrypt " + (row.inlineDict ? dict : "7 0 R") + id);
        vtest::TempDir dir;
        vtest::writeFile(dir.file("in.pdf"), b.build() + row.tail);
        CPdfFile file;
        EXPECT_EQ(refusal([&] { file.open(dir.file("in.pdf")); }), row.message);
        if (!file.isOpen())
            continue;
        const CSecurityHandler* handler = file.xref().securityHandler();
        EXPECT_EQ(handler ? hex(handler->fileKey()) : "", row.fixture.key);
        EXPECT_EQ(handler ? handler->permissions() : 0, -4);
        EXPECT_NE(handler ? handler->streamMethod() : EMethod::Identity, EMethod::Identity);
    }
}

// Strings of an object from an object stream are encrypted for its number (end-to-end rows check the rest):
// a NUL byte stays part of its string.
TEST(StringEncryption, KeepsNulBytes) {
    const CSecurityHandler security = open(kRc4128.dict, kFirstId);
    const std::string encrypted = encryptObjectStrings("[ (a\\0b) ]", security, 12);
    ASSERT_EQ(encrypted.size(), 12u) << encrypted; // "[ <" six hexadecimal digits "> ]"
    EXPECT_EQ(security.decryptString(12, 0, unhex(encrypted.substr(3, 6))), std::string("a\0b", 3));
}

// Passwords as each revision hashes them: PDFDocEncoding before /R 5, SASLprep
// from /R 5 on; none when the password cannot be converted.
TEST(PasswordEncoding, GivesTheBytesEachRevisionHashes) {
    const std::nullopt_t none = std::nullopt;
    const struct { const char* name; std::string utf8; std::optional<std::string> pdfDoc, saslPrep; } rows[] = {
        {"Ascii", "s3cret", "s3cret", "s3cret"}, {"Empty", "", "", ""},
        {"EuroAtA0", "\xE2\x82\xAC", "\xA0", "\xE2\x82\xAC"}, {"BulletAt80", "\xE2\x80\xA2", "\x80", "\xE2\x80\xA2"},
        {"BreveAt18", "\xCB\x98", "\x18", " \xCC\x86"}, // NFKC: a space and the combining breve
        // SASLprep maps a soft hyphen to nothing and a Roman numeral to letters (NFKC).
        {"SoftHyphen", "I\xC2\xADX", none, "IX"}, {"RomanNumeralNine", "\xE2\x85\xA8", none, "IX"},
        {"NonBreakingSpace", "a\xC2\xA0z", none, "a z"}, {"Chinese", "\xE4\xB8\xAD", none, "\xE4\xB8\xAD"},
        {"YWithDiaeresisAtFF", "\xC3\xBF", "\xFF", "\xC3\xBF"}, {"ControlCharacter", "a\x07z", none, none},
        {"NotUtf8", "a\xFFz", none, none}, {"CutUtf8", "a\xC3", none, none}, {"LeadF8", "\xF8\x90\x80\x80", none, none},
        {"MathematicalBoldA", "\xF0\x9D\x90\x80", none, "A"}, // four bytes, NFKC
        {"LongCutTo127Bytes", std::string(200, 'x'), std::string(200, 'x'), std::string(127, 'x')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(password::toPdfDocEncoding(row.utf8), row.pdfDoc);
        EXPECT_EQ(password::toSaslPrep(row.utf8), row.saslPrep);
    }
}
