#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "document/CObjectText.h"
#include "pdf/CPdfDictLayout.h"

class CPdfFile;

// Edits that spread over several objects of a file (a dictionary in one,
// the array it names in another), each placed where the parsed layout of
// the object's text says: every other byte stays as it was.
class CObjectEdits {
public:
    // A dictionary: in object `num`, laid out as `layout` in the object's text as read.
    struct CPlace {
        int num = 0;
        CPdfDictLayout layout;
    };

    explicit CObjectEdits(CPdfFile& input) : m_input(input) {}

    // Object `num`, when it is a dictionary (no stream).
    bool dictOf(int num, CPlace& out);
    // The dictionary `key` of the one at `place`, in it or in the object it names.
    bool dictAt(const CPlace& place, const char* key, CPlace& out);
    // Inserts `text` at the start of the dictionary at `place`.
    void insertInto(const CPlace& place, const std::string& text);
    // Appends `item` to the array `key` of the dictionary at `place`, in it
    // or in the object it names; with `make`, an absent one is made.
    void appendTo(const CPlace& place, const char* key, const std::string& item, bool make);
    // Takes the items `goes` says of out of the array `key` of the
    // dictionary at `place`; false when the array cannot be read (an absent one holds none).
    bool removeFrom(const CPlace& place, const char* key,
                    const std::function<bool(const CPdfEntryLayout& item, std::string_view text)>& goes);
    // The edited objects' texts, by number.
    std::map<int, std::string> texts() const;

private:
    struct CEdited {
        std::string original;
        CObjectText text;
    };
    CEdited* load(int num);

    CPdfFile& m_input;
    std::map<int, CEdited> m_edited;
};
