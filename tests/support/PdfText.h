#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"

// Values read from text and shown as text, for the pdf and load tests.
namespace vtest {

// A new stream over `owner`'s bytes; owner.use_count() drops when the stream dies.
inline CPdfStream* memoryStream(const std::shared_ptr<const std::string>& owner) {
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}
inline CPdfStream* memoryStream(const std::string& bytes) {
    return memoryStream(std::make_shared<const std::string>(bytes));
}

// The first value of `text`, read with no table and no stream data.
inline CPdfObject parse(const std::string& text, bool keepStringBytes = false) {
    CPdfObject value;
    CPdfParser(nullptr, memoryStream(text), keepStringBytes).parseObject(value);
    return value;
}

inline std::string readAll(CPdfStream* stream) {
    std::string out;
    for (int c; (c = stream->readChar()) >= 0;)
        out += static_cast<char>(c);
    return out;
}

// Bytes outside printable ASCII show as \xNN, so every row reads unambiguously.
inline std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

// `12`, `real 0.5`, `(str)`, `/Name`, `cmd obj`, `1 0 R`, `[1, 2]`, `<<A: 1>>`,
// `<<A: 1>> stream DATA`. Array items show resolved, so an array proves it got
// its table; dictionary values show unresolved. A stream shows its data as
// read, and leaves out its /Length and /Filter.
inline std::string describe(const CPdfObject& v) {
    char number[64];
    std::string out;
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
    case PDF_ARRAY:
        for (int i = 0; i < v.arrayValue()->count(); ++i) {
            CPdfObject item;
            v.arrayValue()->getItem(i, item);
            out += (i ? ", " : "") + describe(item);
        }
        return "[" + out + "]";
    case PDF_DICT:
    case PDF_STREAM: {
        CPdfStream* stream = v.type() == PDF_STREAM ? v.streamValue() : nullptr;
        for (const auto& [key, item] : (stream ? stream->streamDict() : v.dictValue())->entries())
            if (!stream || (key != "Length" && key != "Filter"))
                out += (out.empty() ? "" : ", ") + key + ": " + describe(item);
        return "<<" + out + ">>" + (stream ? " stream " + escaped(readAll(stream)) : "");
    }
    default: return "type " + std::to_string(v.type());
    }
}

} // namespace vtest
