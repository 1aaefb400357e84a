#include "document/CSignatureCheck.h"

#include <algorithm>

#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfObject.h"

namespace {

constexpr int kSignaturesExist = 1;
constexpr int kAppendOnly = 2;

CPdfDict* dictOf(const CPdfObject& value) { return value.type() == PDF_DICT ? value.dictValue() : nullptr; }

bool isName(const CPdfObject& value, const char* name)
{
    return value.type() == PDF_NAME && value.textString() == name;
}

std::string objectLabel(const CPdfObject& reference, const std::string& fallback)
{
    return reference.type() == PDF_REF ? "object " + std::to_string(reference.refNum()) : fallback;
}

} // namespace

CSignatureCheck::CSignatureCheck(CXrefTable& xref, int64_t fileSize) : m_xref(xref), m_fileSize(fileSize) {}

void CSignatureCheck::resolve(const CPdfObject& value, CPdfObject& out)
{
    out.clear();
    if (value.type() != PDF_REF) {
        out.assign(value);
        return;
    }
    // What cannot be parsed reads as nothing; the callers treat nothing carefully.
    m_xref.fetchObjectOrNull(value.refNum(), value.refGen(), out);
}

bool CSignatureCheck::firstVisit(const CPdfObject& value, std::set<int>& visited)
{
    return value.type() != PDF_REF || visited.insert(value.refNum()).second;
}

CSignatureFindings CSignatureCheck::inspect()
{
    m_findings = CSignatureFindings();
    CPdfObject catalog;
    m_xref.fetchObjectOrNull(m_xref.rootNum(), m_xref.rootGen(), catalog);
    CPdfDict* dict = dictOf(catalog);
    if (!dict)
        return m_findings;
    CPdfObject entry, value;
    dict->getValueUnresolved("AcroForm", entry);
    resolve(entry, value);
    readForm(value);
    dict->getValueUnresolved("Perms", entry);
    if (entry.type() != PDF_NONE && entry.type() != PDF_NULL) {
        resolve(entry, value);
        if (value.type() == PDF_DICT) {
            readPermissions(value);
        } else {
            m_findings.usageRights = true;
            m_findings.doubts.push_back("the catalog's /Perms cannot be read; the file is taken as signed");
        }
    }
    return m_findings;
}

void CSignatureCheck::readForm(const CPdfObject& form)
{
    CPdfDict* dict = dictOf(form);
    if (!dict)
        return;
    CPdfObject entry, flags;
    dict->getValueUnresolved("SigFlags", entry);
    resolve(entry, flags);
    if (flags.type() == PDF_INT) {
        m_findings.signaturesExist = (flags.intValue() & kSignaturesExist) != 0;
        m_findings.appendOnly = (flags.intValue() & kAppendOnly) != 0;
    }
    CPdfObject fields;
    dict->getValueUnresolved("Fields", entry);
    resolve(entry, fields);
    readFields(fields, 0, false, std::string());
}

void CSignatureCheck::readFields(const CPdfObject& kids, int depth, bool inheritedSig,
                                 const std::string& inheritedLabel)
{
    if (kids.type() != PDF_ARRAY || depth >= kMaxFieldDepth)
        return;
    for (int i = 0; i < kids.arrayValue()->count() && m_fieldCount < kMaxFields; ++i) {
        CPdfObject item, field;
        kids.arrayValue()->getItemUnresolved(i, item);
        if (!firstVisit(item, m_fields))
            continue; // met before: a loop, or a field listed twice
        resolve(item, field);
        CPdfDict* dict = dictOf(field);
        if (!dict)
            continue;
        ++m_fieldCount;
        const std::string label = objectLabel(item, inheritedLabel.empty() ? "a field" : inheritedLabel);
        CPdfObject entry, type;
        dict->getValueUnresolved("FT", entry);
        resolve(entry, type);
        // A field without /FT of its own has its parent's type.
        const bool signature = type.type() == PDF_NAME ? type.textString() == "Sig" : inheritedSig;
        if (signature) {
            CPdfObject value;
            dict->getValueUnresolved("V", value);
            if (value.type() != PDF_NONE && value.type() != PDF_NULL) {
                readSignature(value, label);
                CPdfObject lock;
                dict->getValueUnresolved("Lock", lock);
                if (lock.type() != PDF_NONE && lock.type() != PDF_NULL)
                    readLock(lock, label);
            }
        }
        CPdfObject children;
        dict->getValueUnresolved("Kids", entry);
        resolve(entry, children);
        readFields(children, depth + 1, signature, label);
    }
}

void CSignatureCheck::readSignature(const CPdfObject& value, const std::string& label)
{
    m_findings.signedField = true;
    if (!firstVisit(value, m_signatures))
        return; // the same signature dictionary, read for another field
    CPdfObject signature;
    resolve(value, signature);
    CPdfDict* dict = dictOf(signature);
    if (!dict) {
        // Something is there, and a signature may be: kept as signed.
        m_findings.doubts.push_back("the signature of " + label + " is no dictionary; the file is taken as signed");
        return;
    }
    // The bytes a signature covers: two ranges inside the file. One that
    // says otherwise covers something else, which the update leaves alone just the same.
    CPdfObject ranges, item;
    dict->getValue("ByteRange", ranges);
    bool fits = ranges.type() == PDF_ARRAY && ranges.arrayValue()->count() == 4;
    int64_t numbers[4] = {0, 0, 0, 0};
    for (int i = 0; fits && i < 4; ++i) {
        ranges.arrayValue()->getItem(i, item);
        fits = item.type() == PDF_INT && item.intValue() >= 0;
        numbers[i] = fits ? item.intValue() : 0;
    }
    fits = fits && numbers[0] + numbers[1] <= numbers[2] && numbers[2] + numbers[3] <= m_fileSize;
    if (!fits)
        m_findings.doubts.push_back("the signature of " + label +
                                    " has a /ByteRange that does not fit the file; the file is taken as signed");
    const int level = docMdpLevel(signature, label);
    if (level > 0)
        certify(level, value.type() == PDF_REF ? "signature " + std::to_string(value.refNum()) : label);
}

void CSignatureCheck::readLock(const CPdfObject& lock, const std::string& label)
{
    CPdfObject dict, entry, p;
    resolve(lock, dict);
    if (dict.type() != PDF_DICT)
        return;
    dict.dictValue()->getValueUnresolved("P", entry);
    if (entry.type() == PDF_NONE)
        return; // a lock of fields only, which changes nothing for pages
    resolve(entry, p);
    if (p.type() == PDF_INT && p.intValue() >= 1 && p.intValue() <= 3) {
        certify(p.intValue(), std::string());
        return;
    }
    m_findings.doubts.push_back("the field lock of " + label + " has a /P that cannot be read; taken as 1");
    certify(1, std::string());
}

void CSignatureCheck::readPermissions(const CPdfObject& perms)
{
    CPdfDict* dict = perms.dictValue();
    CPdfObject entry, signature;
    dict->getValueUnresolved("UR3", entry);
    if (entry.type() != PDF_NONE && entry.type() != PDF_NULL)
        m_findings.usageRights = true;
    dict->getValueUnresolved("DocMDP", entry);
    if (entry.type() == PDF_NONE || entry.type() == PDF_NULL)
        return;
    const std::string label = objectLabel(entry, "the certification signature");
    const std::string key = entry.type() == PDF_REF ? "signature " + std::to_string(entry.refNum()) : label;
    m_findings.signedField = true;
    resolve(entry, signature);
    const int level = signature.type() == PDF_DICT ? docMdpLevel(signature, label) : 0;
    if (level > 0) {
        certify(level, key);
        return;
    }
    m_findings.doubts.push_back("the certification signature (/Perms /DocMDP) cannot be read; its level is taken as 1");
    certify(1, key);
}

int CSignatureCheck::docMdpLevel(const CPdfObject& signature, const std::string& label)
{
    CPdfObject references;
    signature.dictValue()->getValue("Reference", references);
    if (references.type() != PDF_ARRAY)
        return 0;
    for (int i = 0; i < references.arrayValue()->count(); ++i) {
        CPdfObject reference, method;
        references.arrayValue()->getItem(i, reference);
        if (reference.type() != PDF_DICT)
            continue;
        reference.dictValue()->getValue("TransformMethod", method);
        if (!isName(method, "DocMDP"))
            continue;
        CPdfObject params, p;
        reference.dictValue()->getValue("TransformParams", params);
        if (params.type() == PDF_DICT)
            params.dictValue()->getValue("P", p);
        else
            p.setNull();
        // Without /P the level is 2.
        if (params.type() == PDF_DICT && (p.type() == PDF_NULL || p.type() == PDF_NONE))
            return 2;
        if (p.type() == PDF_INT && p.intValue() >= 1 && p.intValue() <= 3)
            return p.intValue();
        m_findings.doubts.push_back("the certification of " + label + " has a /P that cannot be read; taken as 1");
        return 1;
    }
    return 0;
}

void CSignatureCheck::certify(int level, const std::string& signature)
{
    if (!signature.empty() && m_certifiers.insert(signature).second && m_certifiers.size() == 2)
        m_findings.doubts.push_back("the file is certified more than once; the strictest level counts");
    m_findings.certification = m_findings.certification == 0 ? level : std::min(m_findings.certification, level);
}
