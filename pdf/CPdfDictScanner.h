#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pdf/CPdfObject.h"

class CPdfResolver;

// Reads the top level of an object's dictionary straight from its bytes,
// without making tokens or objects: the fast path for the page and resource
// dictionaries that are read by the thousand.
//
// It accepts only plain syntax, on which it finds exactly the values the
// parser finds: names without escapes, numbers, references, and nested
// arrays and dictionaries made of those. Anything else (strings, comments,
// keywords other than R, a token where a key belongs, a stream, damage)
// makes the scan fail, and the caller parses the text as usual.
class CPdfDictScanner {
public:
    struct CEntry {
        std::string_view key;   // without its slash
        EPdfType type = PDF_NULL; // PDF_INT, PDF_REAL, PDF_NAME, PDF_REF, PDF_ARRAY or PDF_DICT
        std::string_view text;  // the value as written: a container from its opening to its closing bracket
        int num = 0;            // PDF_REF
        int gen = 0;
    };

    // Scans an object's text: "N G obj", then its dictionary, which must not
    // be a stream's. Sets the header's numbers; false when the text is not
    // plain enough to scan.
    //
    // Containers are passed over by counting brackets, as a shallow parse
    // skips what it does not keep; a value read whole must then pass
    // makeValue. `deep` asks for every level to be plain, so that the entries
    // are also those a full parse finds.
    bool scanObject(std::string_view text, int& num, int& gen, bool deep = false);

    // The first entry for `key`, as the parser keeps it; nullptr when absent.
    const CEntry* find(std::string_view key) const;
    // Every entry in the order written, repeated keys included.
    const std::vector<CEntry>& entries() const { return m_entries; }

    // The value of `entry` as the parser builds it for a shallow read:
    // numbers, names and references as written, and containers empty, except
    // when `whole`: then an array gets its items and a dictionary its top
    // level, with the containers inside those empty. False when a whole
    // value holds syntax the scan does not read (then `out` is incomplete).
    bool makeValue(const CEntry& entry, bool whole, CPdfResolver* table, CPdfObject& out) const;

    // Whether every entry for one of `keys` reads whole with makeValue. The
    // parser reads each of them whole, repeated ones too, and where one is
    // not plain it may end elsewhere than the scan, and so read other entries.
    bool readsWhole(const std::vector<std::string>& keys) const;

private:
    // Scans the dictionary whose "<<" starts at `position` into `entries`;
    // `position` ends just after its ">>".
    static bool scanDictionary(std::string_view text, size_t& position, std::vector<CEntry>& entries, bool deep);
    // The parts of a value read whole: an array's items or a dictionary's
    // entries (none for other values); false where they are not plain.
    static bool scanWhole(const CEntry& entry, std::vector<CEntry>& parts);

    std::vector<CEntry> m_entries;
};
