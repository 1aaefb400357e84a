#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CFileSource;
class CXrefTable;

// Tools over the literal text of input objects. The stamper copies and edits
// objects as bytes; these find what it needs by plain byte comparison.

// Where the text of an uncompressed object lies in the input file: from its
// "N G obj" through the byte after its "endobj", with what was learnt on the way.
struct CObjectSpan {
    int64_t start = 0;
    int64_t length = 0;
    int64_t dictionaryEnd = -1;  // a stream's "stream" keyword; -1 for other objects
    bool mentionsObjStm = false; // a stream whose dictionary holds the bytes "ObjStm"
    int64_t leadingNumber = -1;  // the number the text starts with, -1 for none
};
// False when the object has no text in the file.
bool objectTextSpan(CFileSource& input, int objNum, CXrefTable& xref, CObjectSpan& span);

// The whole text of object `objNum` ("N G obj" through "endobj" and the byte
// after it), or an empty text when it cannot be read. A compressed object is
// given a header and trailer of its own: "N 0 obj\r" ... " endobj\r".
std::string readObjectText(CFileSource& input, int objNum, CXrefTable& xref);

// Index of the LAST byte of the first occurrence of `pattern` in
// buffer[from, to); 0 when there is none.
size_t findBytes(const char* buffer, size_t from, size_t to, const char* pattern, size_t patternLength);
size_t findBytes(std::string_view text, std::string_view pattern);

// File position of the last byte of the first occurrence of `pattern` at or
// after `offset`; 0 when there is none.
int64_t findInFile(CFileSource& file, int64_t offset, const char* pattern, size_t patternLength);

// The unsigned decimal number that first follows `key` in `text` (0 when the
// key is missing); `isReference` tells whether it is written "N 0 R".
uint32_t findNumberAfterKey(std::string_view text, const char* key, bool& isReference);

// Where the value of `key` lies in the top-level dictionary of an object's
// text ("N G obj << ... >>"), found by tokens, so keys inside strings or
// nested dictionaries do not count. False when the key is not there.
bool findDictEntryValue(const std::string& text, const char* key, size_t& begin, size_t& end);
