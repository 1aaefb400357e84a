#pragma once

#include <cstdint>

enum EXrefType {
    XREF_FREE = 0,      // free, or listed by no section
    XREF_IN_FILE = 1,   // stored uncompressed at a byte offset
    XREF_IN_OBJSTM = 2, // stored inside an object stream
};

// One cross-reference entry.
//   XREF_IN_FILE:   offset = byte offset of "N G obj" (counted from the header), gen = generation
//   XREF_IN_OBJSTM: offset = number of the object stream, gen = index inside it
//   XREF_FREE:      offset = next free number, gen = generation; offset -1 = filled by no section yet
struct CXrefRecord {
    int32_t offset = -1;
    int32_t gen = 0;
    EXrefType type = XREF_FREE;
    // The generation the object is read and written with: a compressed one's is 0.
    int32_t objectGen() const { return type == XREF_IN_OBJSTM ? 0 : gen; }
};
