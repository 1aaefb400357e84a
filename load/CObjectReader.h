#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "load/CFileSource.h"
#include "load/CObjectSpan.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"

class CXrefTable;

// Reads the literal text of input objects. The stamper copies and edits
// objects as bytes; where an object ends and where its entries stand are
// read by the parser (or the dictionary scanner, its fast path for plain
// syntax), never searched for. Scratch space is kept from call to call: a
// run reads thousands of objects.
class CObjectReader {
public:
    CObjectReader(CFileSource& input, CXrefTable& xref);

    // Where uncompressed object `num` lies in the file. False when it has
    // no text there: its record points at no "N G obj" followed by a value.
    bool span(int num, CObjectSpan& span);
    // The head of object `num` (positions counted from the first byte of its
    // text), without looking at a stream's data; false when it has none.
    bool head(int num, CPdfObjectHead& head);
    // The whole text of object `num` ("N G obj" through "endobj" and the
    // byte after it), or an empty text when it cannot be read. A compressed
    // object is given a header and trailer of its own: "N 0 obj\r" ...
    // " endobj\r". `head`, when given, receives the text's head.
    std::string text(int num, CPdfObjectHead* head = nullptr);

    // The head of object text held in memory, positions counted from its
    // first byte. False when the text does not start with "N G obj".
    static bool headOfText(std::string_view text, CPdfObjectHead& head);
    // The layout of the dictionary whose "<<" stands at `position` of
    // `text`, positions counted from the text's first byte. False when no
    // dictionary stands there.
    static bool dictLayoutAt(std::string_view text, size_t position, CPdfDictLayout& layout);

    CFileSource& input() const { return m_input; }
    CXrefTable& xref() const { return m_xref; }

private:
    // An uncompressed object's first bytes: in place in the cache block
    // that holds them, or copied when they straddle two blocks.
    struct CHeadBytes {
        static constexpr size_t kSize = 512; // small objects end in them; a stream's dictionary stands in them
        int64_t start = 0;
        std::shared_ptr<const CFileSource::Block> block; // keeps `bytes` alive when they are in place
        char copy[kSize];
        std::string_view bytes;
        bool complete = false; // they run to the end of the file
    };

    // Reads the head of uncompressed object `num` into m_head; false when
    // neither its record nor the scan of a damaged file points at it.
    bool readHeadInFile(int num, CHeadBytes& bytes);
    // Reads the head of the object whose text starts at file position `start`.
    bool readHeadAt(int64_t start, CHeadBytes& bytes);
    // The entry `key` of m_head's dictionary as written; PDF_NULL when absent.
    void headEntry(const CHeadBytes& bytes, const char* key, CPdfObject& out) const;
    // Whether m_head's value ends where it should: containers closed.
    bool valueIsComplete(const CHeadBytes& bytes) const;
    // The same, a reference resolved (null when it cannot be fetched).
    void resolvedHeadEntry(const CHeadBytes& bytes, const char* key, CPdfObject& out);
    // A stream's /Length and whether its /Type is /ObjStm, references resolved.
    int64_t streamLength(const CHeadBytes& bytes);
    bool namesObjectStream(const CHeadBytes& bytes);

    // A head scanned at a file position. A stamped page's content stream is
    // asked for three times in a row (what it leaves open, its kind, its
    // copy) with the page's resources between: two heads cover that.
    struct CHeadMemo {
        int64_t start = -1;
        CPdfObjectHead head;
    };

    CFileSource& m_input;
    CXrefTable& m_xref;
    CPdfObjectHead m_head; // of the object last read from the file
    CPdfObject m_parsed;   // its value when the parser read it (else PDF_NONE)
    CHeadMemo m_memos[2];
    size_t m_nextMemo = 0;
};
