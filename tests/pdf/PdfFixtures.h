#pragma once

// Shared by the value and syntax tests: streams over bytes in memory, values
// printed in one compact form, and a resolver that records its fetches.

#include <cstdio>
#include <memory>
#include <string>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfResolver.h"

namespace pdftest {

// A new stream over `owner`'s bytes; owner.use_count() drops when the stream dies.
inline CPdfStream* memoryStream(const std::shared_ptr<const std::string>& owner)
{
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

// Bytes outside printable ASCII show as \xNN, so every row reads unambiguously.
inline std::string escaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

// `12`, `real 0.5`, `(str)`, `/Name`, `cmd obj`, `1 0 R`, `[1, 2]`, `<<A: 1>>`,
// `stream DATA`. Array items show resolved, so a parsed array proves it got
// the parser's table; dictionary values show unresolved.
inline std::string describe(const CPdfObject& v)
{
    char number[64];
    switch (v.type()) {
    case PDF_BOOL: return v.boolValue() ? "true" : "false";
    case PDF_INT: return std::to_string(v.intValue());
    case PDF_REAL: std::snprintf(number, sizeof number, "real %.15g", v.realValue()); return number;
    case PDF_STRING: return "(" + escaped(v.textString()) + ")";
    case PDF_NAME: return "/" + escaped(v.textString());
    case PDF_CMD: return "cmd " + escaped(v.textString());
    case PDF_NULL: return "null";
    case PDF_ERROR: return "error";
    case PDF_REF: return std::to_string(v.refNum()) + " " + std::to_string(v.refGen()) + " R";
    case PDF_ARRAY: {
        std::string out;
        for (int i = 0; i < v.arrayValue()->count(); ++i) {
            CPdfObject item;
            v.arrayValue()->getItem(i, item);
            out += (i ? ", " : "") + describe(item);
        }
        return "[" + out + "]";
    }
    case PDF_DICT: {
        std::string out;
        for (const auto& [key, item] : v.dictValue()->entries())
            out += (out.empty() ? "" : ", ") + key + ": " + describe(item);
        return "<<" + out + ">>";
    }
    case PDF_STREAM: {
        std::string out = "stream ";
        for (int c; (c = v.streamValue()->readChar()) >= 0;)
            out += static_cast<char>(c);
        return out;
    }
    default: return "type " + std::to_string(v.type());
    }
}

// Object 6 holds `7 0 R`, object 9 is missing, object 666 fails to load and
// any other object n holds the integer n + 2. Fetches are recorded.
class FakeResolver : public CPdfResolver {
public:
    std::string fetches; // "num gen, ..."
    void fetchObject(int num, int gen, CPdfObject& out) override
    {
        fetches += (fetches.empty() ? "" : ", ") + std::to_string(num) + " " + std::to_string(gen);
        if (num == 666)
            throw CPdfException("object 666 is broken");
        num == 6 ? out.setRef(7, 0) : num == 9 ? out.setNull() : out.setInt(num + 2);
    }
};

} // namespace pdftest
