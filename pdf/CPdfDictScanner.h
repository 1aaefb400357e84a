#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"

class CPdfResolver;

// Reads the head of an object (and the top level of its dictionary)
// straight from its bytes, without making tokens or objects: the fast path
// for the thousands of objects a run copies, and for the page and resource
// dictionaries it reads and edits.
//
// It accepts only plain syntax, on which it finds exactly the values and
// the positions the parser finds: names without escapes, numbers,
// references, and nested arrays and dictionaries made of those. Anything
// else (strings, comments, keywords other than R, a token where a key
// belongs, damage) makes the scan fail, and the caller parses the text as
// usual. Positions are offsets into the text scanned.
class CPdfDictScanner {
public:
    // Scans what an indirect object's text starts with: "N G obj", its value
    // and the token after it, which must be a keyword ("endobj", or "stream"
    // after a dictionary). Containers are passed over by counting brackets,
    // as a shallow parse skips what it does not keep, so the head is what a
    // shallow parse that leaves stream data unread finds. False when the
    // text is not plain enough to scan.
    static bool scanObjectHead(std::string_view text, CPdfObjectHead& head);
    // Scans the dictionary whose "<<" stands at `position` of `text` (one
    // nested in an object's text, say) into `layout`, as the head's is scanned.
    static bool scanDictionary(std::string_view text, size_t position, CPdfDictLayout& layout);

    // The value of `entry`, scanned from `text`, as the parser builds it for
    // a shallow read: numbers, names and references as written, and
    // containers empty, except when `whole`: then an array gets its items
    // and a dictionary its top level, with the containers inside those
    // empty. False when a whole value holds syntax the scan does not read
    // (then `out` is incomplete).
    static bool makeValue(std::string_view text, const CPdfEntryLayout& entry, bool whole, CPdfResolver* table,
                          CPdfObject& out);

    // Whether every entry of `layout` for one of `keys` reads whole with
    // makeValue. The parser reads each of them whole, repeated ones too, and
    // where one is not plain it may end elsewhere than the scan, and so read
    // other entries.
    static bool readsWhole(std::string_view text, const CPdfDictLayout& layout, const std::vector<std::string>& keys);

    // Appends the object numbers of the references among the items of the
    // array `entry`, in order, as makeValue reads it whole: the reading of a
    // long /Kids without making its items. False when it is no array or not
    // plain (then `nums` may have some appended).
    static bool references(std::string_view text, const CPdfEntryLayout& entry, std::vector<int>& nums);

    // The references of the array `entry`, as (number, generation) pairs in
    // order, when it is plain and every item is a reference: a content list.
    // False otherwise (then `refs` may have some appended).
    static bool referenceList(std::string_view text, const CPdfEntryLayout& entry,
                              std::vector<std::pair<int, int>>& refs);
    // The items of the array `entry`, each with where it stands in `text`,
    // when it is plain (nested containers whole); false otherwise.
    static bool arrayItems(std::string_view text, const CPdfEntryLayout& entry, std::vector<CPdfEntryLayout>& items);

    // The values of the first `count` items of the array `entry`, read whole
    // as makeValue reads it, when those items are numbers: a box without
    // making its array. False when it has fewer items or one of them is no
    // number (a reference, say), or the array is not plain.
    static bool leadingNumbers(std::string_view text, const CPdfEntryLayout& entry, double* values, size_t count);

    // The token at `position` of `text` as the lexer reads plain bytes: sets
    // `keyword` to its text when it is a keyword (empty for a number, a name,
    // a bracket or the end of the text), `begin` to where it starts, and
    // moves `position` past it. False when the bytes there are not plain (a
    // comment, a string): the lexer has to read them.
    static bool scanKeyword(std::string_view text, size_t& position, std::string_view& keyword, size_t& begin);
};
