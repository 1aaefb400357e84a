#pragma once

#include <cstdint>
#include <string>

class CPdfArray;
class CPdfDict;
class CPdfStream;
class CPdfResolver;

// The kinds of PDF values; the numbers are fixed.
enum EPdfType {
    PDF_BOOL = 0,
    PDF_INT = 1,
    PDF_REAL = 2,
    PDF_STRING = 3,
    PDF_NAME = 4,
    PDF_NULL = 5,
    PDF_ARRAY = 6,
    PDF_DICT = 7,
    PDF_STREAM = 8,
    PDF_REF = 9,
    PDF_CMD = 10,   // a bare keyword or one of "[", "]", "<<", ">>"
    PDF_ERROR = 11, // a rejected byte, or a stream that could not be built
    PDF_EOF = 12,
    PDF_NONE = 13,  // fresh or cleared
};

// One PDF value. Scalars and references are held in place, texts are owned,
// and arrays, dictionaries and streams are shared by reference count: a value
// of those kinds owns exactly one reference.
class CPdfObject {
public:
    CPdfObject() = default;
    CPdfObject(const CPdfObject& other);
    CPdfObject(CPdfObject&& other) noexcept;
    CPdfObject& operator=(const CPdfObject& other);
    CPdfObject& operator=(CPdfObject&& other) noexcept;
    ~CPdfObject();

    EPdfType type() const { return m_type; }

    bool boolValue() const { return m_u.boolean; }
    int intValue() const { return m_u.integer; }
    double realValue() const { return m_u.real; }
    // Text of a string, name or keyword (NUL-terminated; never holds a NUL).
    const char* text() const { return m_text.c_str(); }
    const std::string& textString() const { return m_text; }
    CPdfArray* arrayValue() const { return m_u.array; }
    CPdfDict* dictValue() const { return m_u.dict; }
    CPdfStream* streamValue() const { return m_u.stream; }
    int refNum() const { return m_u.ref.num; }
    int refGen() const { return m_u.ref.gen; }

    bool isKeyword(const char* keyword) const;
    // An integer or a real, as a double; 0 for other kinds.
    double numberValue() const;
    bool isNumber() const { return m_type == PDF_INT || m_type == PDF_REAL; }

    // Setters; each first clears whatever the value held.
    void setBool(bool value);
    void setInt(int value);
    void setReal(double value);
    void setName(const std::string& text);
    void setText(EPdfType type, const char* text, size_t length); // a string, name or keyword
    // A string that keeps every byte, NULs included, for the few values that
    // are binary (encryption keys and /ID): textString() has them all, while
    // text() still ends at the first NUL.
    void setStringBytes(const char* bytes, size_t length);
    void setNull();
    void setError();
    void setEof();
    void setRef(int num, int gen);
    // A new, empty container with a count of 1 that this value owns; returned for filling.
    CPdfArray* setNewArray(CPdfResolver* table);
    CPdfDict* setNewDict(CPdfResolver* table);
    // Becomes a dictionary value on an existing dictionary (adds a reference).
    void setSharedDict(CPdfDict* dict);
    // Becomes a stream value (adds a reference to the stream).
    void setStream(CPdfStream* stream);

    void assign(const CPdfObject& source);
    void clear();

    // A reference is fetched through `table` (one level); anything else is copied.
    void resolve(CPdfResolver* table, CPdfObject& out) const;

private:
    void takeFrom(CPdfObject& other) noexcept;

    EPdfType m_type = PDF_NONE;
    union Payload {
        bool boolean;
        int integer;
        double real;
        CPdfArray* array;
        CPdfDict* dict;
        CPdfStream* stream;
        struct {
            int num;
            int gen;
        } ref;
    } m_u{};
    std::string m_text;
};
