#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CFileSource;

// New objects of an output, as a stamp image writes them. Each gets the next
// free number and is encrypted for it when the output is encrypted, so that
// what writes an object never handles the encryption.
class CNewObjectWriter {
public:
    virtual ~CNewObjectWriter() = default;

    // A new stream object of `data`: its number, `head` (" 0 obj" to the
    // /Length value), the length, `tail` (from there through "stream" and its
    // line end), the data and "endstream". Returns the number.
    virtual int writeNewStream(std::string_view head, std::string_view tail, std::string_view data) = 0;
    // The same with the first `length` bytes of `file` as the data, copied
    // without being read whole unless they are encrypted; 0, and nothing
    // written, when they must be read whole and cannot be.
    virtual int writeNewStream(std::string_view head, std::string_view tail, CFileSource& file, int64_t length) = 0;
    // A new object that is not a stream: its number, `body` (" 0 obj" and the
    // object's text) and "endobj". Returns the number.
    virtual int writeNewObject(std::string_view body) = 0;
    // The bytes of a string `text` in new object `num`.
    virtual std::string stringFor(int num, const std::string& text) const = 0;
    // The number the next new object gets.
    virtual int nextNumber() const = 0;
};
