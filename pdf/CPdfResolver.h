#pragma once

#include <cstdint>

#include "pdf/CPdfRefPtr.h"

class CPdfObject;
class CPdfStream;

// Whatever turns an indirect reference into the object it names. Arrays,
// dictionaries and the parser resolve references through it; the document's
// cross-reference table is the implementation.
class CPdfResolver {
public:
    // Fills the empty `out` with object `num` of generation `gen`, or with
    // PDF_NULL when the object is missing; may throw CPdfException.
    virtual void fetchObject(int num, int gen, CPdfObject& out) = 0;
    // The data of stream object `object` (number `num`, generation `gen`) as
    // its filters decode it, decrypted first where the document encrypts it;
    // null when it cannot be read (an encrypted stream whose stored data is
    // empty or longer than `maxStoredBytes` cannot).
    virtual CPdfRefPtr<CPdfStream> streamData(int num, int gen, const CPdfObject& object, int64_t maxStoredBytes) = 0;

protected:
    ~CPdfResolver() = default;
};
