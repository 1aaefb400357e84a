#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class CPdfObject;
class CXrefTable;

// What a document says about its signatures: whether any field is signed,
// what the form's /SigFlags ask for, and how far a certification allows
// changes. What could not be read for certain is read the careful way and
// noted, one warning each.
struct CSignatureFindings {
    bool signedField = false;     // a signature field (its own /FT /Sig or its parent's) has a value
    bool signaturesExist = false; // /SigFlags bit 1
    bool appendOnly = false;      // /SigFlags bit 2
    bool usageRights = false;     // the catalog's /Perms holds a usage rights signature
    // The DocMDP level of the strictest certification: 0 when none, else 1
    // (no changes), 2 (filling in forms and signing) or 3 (also annotations).
    int certification = 0;
    std::vector<std::string> doubts;

    bool isSigned() const { return signedField || signaturesExist || usageRights; }
};

// Reads the catalog's /AcroForm and /Perms through the cross-reference
// table, which finds objects in object streams too. Field trees are walked
// with a depth bound and a set of the objects visited, so that hostile
// trees end.
class CSignatureCheck {
public:
    // Forms nest fields a few levels deep; deeper trees are damage or hostile.
    static constexpr int kMaxFieldDepth = 32;
    // At most this many fields are read, whatever the tree claims.
    static constexpr size_t kMaxFields = 100000;

    // `fileSize` bounds the byte ranges signatures may cover.
    CSignatureCheck(CXrefTable& xref, int64_t fileSize);

    CSignatureFindings inspect();

private:
    void readForm(const CPdfObject& form);
    void readFields(const CPdfObject& kids, int depth, bool inheritedSig, const std::string& inheritedLabel);
    void readSignature(const CPdfObject& value, const std::string& label);
    void readLock(const CPdfObject& lock, const std::string& label);
    void readPermissions(const CPdfObject& perms);
    // The /P of the DocMDP transform a signature dictionary names; 0 when it names none.
    int docMdpLevel(const CPdfObject& signature, const std::string& label);
    // `signature` names the certifying signature, to tell several apart; empty for a field lock.
    void certify(int level, const std::string& signature);
    // `value`, fetched when it is a reference; null when that cannot be read.
    void resolve(const CPdfObject& value, CPdfObject& out);
    // Whether `value` is no reference, or one not in `visited` yet (it is now).
    static bool firstVisit(const CPdfObject& value, std::set<int>& visited);

    CXrefTable& m_xref;
    int64_t m_fileSize;
    CSignatureFindings m_findings;
    // Field dictionaries met, which end loops in the tree, and signature
    // dictionaries read, each once however many fields name it. Other
    // values (a shared /FT or /Lock) are read wherever they are named.
    std::set<int> m_fields;
    std::set<int> m_signatures;
    std::set<std::string> m_certifiers; // the signatures that certify
    size_t m_fieldCount = 0;
};
