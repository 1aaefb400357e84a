#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/CPdfObject.h"

// One top-level entry of a dictionary as written: what its value is, and
// where its key and value stand in the bytes it was read from.
struct CPdfEntryLayout {
    std::string key;          // the name without its slash, escapes decoded
    EPdfType type = PDF_NULL; // the value as written: PDF_REF for "N G R", a container PDF_ARRAY or PDF_DICT
    int num = 0;              // PDF_REF
    int gen = 0;
    int64_t keyBegin = 0;     // the key's token
    int64_t keyEnd = 0;
    int64_t valueBegin = 0;   // the value's tokens: "N G R" whole, a container through its closing bracket
    int64_t valueEnd = 0;
};

// Where a dictionary and each of its top-level entries stand, so that an
// edit can insert at exactly the right byte: every other byte stays as it was.
// Positions are those of the stream the dictionary was read from (offsets
// into the text for text in memory).
class CPdfDictLayout {
public:
    int64_t open = -1;          // "<<"
    int64_t close = -1;         // ">>"; -1 when the input ends first
    int64_t streamKeyword = -1; // "stream" right after the dictionary, if any
    std::vector<CPdfEntryLayout> entries; // in the order written, repeated keys included

    // The first entry for `key`: the one that counts, as in a parsed dictionary.
    const CPdfEntryLayout* find(std::string_view key) const;
    // Where the next token after entry `index` starts: the next entry's key,
    // or the closing ">>" (-1 when there is none).
    int64_t followingToken(size_t index) const;
    void clear();
};
