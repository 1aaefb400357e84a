#pragma once

class CPdfObject;

// Whatever turns an indirect reference into the object it names. Arrays,
// dictionaries and the parser resolve references through it; the document's
// cross-reference table is the implementation.
class CPdfResolver {
public:
    // Fills the empty `out` with object `num` of generation `gen`, or with
    // PDF_NULL when the object is missing; may throw CPdfException.
    virtual void fetchObject(int num, int gen, CPdfObject& out) = 0;

protected:
    ~CPdfResolver() = default;
};
