#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfResolver.h"

class CXrefTable;

// Reads the encryption dictionary and the objects its values refer to as the
// file holds them: strings keep their bytes (keys are binary) and nothing is
// decrypted, since the key is made from them. Values read through it resolve
// their references through it too, so a crypt filter, or any entry, may be
// held in an object of its own, as the PDF rules allow for any value.
class CEncryptDictReader final : public CPdfResolver {
public:
    // A reference that leads to another reference is followed this far, and
    // fetches nest this deep (a stream's /Length read while its object is);
    // writers use one step, and a loop must end.
    static constexpr int kMaxChain = 32;

    explicit CEncryptDictReader(CXrefTable& xref);
    CEncryptDictReader(const CEncryptDictReader&) = delete;
    CEncryptDictReader& operator=(const CEncryptDictReader&) = delete;

    // Object `num` `gen` where the file holds it (or where the scan found
    // it), a chain of references followed; `layout` receives where a
    // dictionary's entries stand. False when it is not in the file.
    bool readObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout = nullptr);
    // The value written at main-stream position `at` (an inline dictionary).
    void readValueAt(int64_t at, CPdfObject& out, CPdfDictLayout& layout);
    // The text of `entry`'s value as written, or of the value its reference
    // leads to; empty when that is not in the file.
    std::string valueText(const CPdfEntryLayout& entry);

    // Null for an object that is not in the file or cannot be read.
    void fetchObject(int num, int gen, CPdfObject& out) override;

private:
    // Parses object `num` `gen` at its record, once more where the scan
    // found it; the value's text range in `begin`, `end`. False when absent.
    bool parseObject(int num, int gen, CPdfObject& out, CPdfDictLayout* layout, int64_t& begin, int64_t& end);

    CXrefTable& m_xref;
    std::vector<int> m_fetching; // the numbers being fetched, innermost last
};
