// Lexer and parser over raw bytes: every object the bytes hold, until the end.
// Then the dictionary scanner on the same bytes: whenever it accepts them, it
// must find what a shallow parse finds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "load/CPdfMemoryStream.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"

namespace {

bool sameValue(const CPdfObject& a, const CPdfObject& b)
{
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case PDF_INT: return a.intValue() == b.intValue();
    case PDF_REAL: return a.realValue() == b.realValue() || (std::isnan(a.realValue()) && std::isnan(b.realValue()));
    case PDF_NAME: return a.textString() == b.textString();
    case PDF_REF: return a.refNum() == b.refNum() && a.refGen() == b.refGen();
    case PDF_ARRAY: {
        if (a.arrayValue()->count() != b.arrayValue()->count())
            return false;
        for (int i = 0; i < a.arrayValue()->count(); ++i) {
            CPdfObject x, y;
            a.arrayValue()->getItemUnresolved(i, x);
            b.arrayValue()->getItemUnresolved(i, y);
            if (!sameValue(x, y))
                return false;
        }
        return true;
    }
    case PDF_DICT: {
        const auto& x = a.dictValue()->entries();
        const auto& y = b.dictValue()->entries();
        if (x.size() != y.size())
            return false;
        for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
            if (i->first != j->first || !sameValue(i->second, j->second))
                return false;
        return true;
    }
    default: return true;
    }
}

void checkScanner(const uint8_t* data, size_t size)
{
    CPdfDictScanner scanner;
    int num = 0, gen = 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!scanner.scanObject(text, num, gen))
        return;
    CPdfObject parsed;
    int parsedNum = 0, parsedGen = 0;
    try {
        CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, data, size));
        parser.setShallow(true, {"CropBox", "MediaBox", "TrimBox", "Resources"});
        if (!parser.parseObjectHeader(parsedNum, parsedGen))
            std::abort();
        parser.parseObject(parsed);
    } catch (const CPdfException&) {
        std::abort();
    }
    if (parsed.type() != PDF_DICT || parsedNum != num || parsedGen != gen)
        std::abort();
    for (const char* key : {"CropBox", "MediaBox", "TrimBox", "Resources", "Rotate", "Contents", "XObject"}) {
        const bool whole = std::string_view(key) != "Rotate" && std::string_view(key) != "Contents" &&
                           std::string_view(key) != "XObject";
        CPdfObject expected, found;
        parsed.dictValue()->getValueUnresolved(key, expected);
        found.setNull();
        if (const CPdfDictScanner::CEntry* entry = scanner.find(key))
            if (!scanner.makeValue(*entry, whole, nullptr, found))
                continue; // left to the parser
        if (!sameValue(expected, found))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, data, size));
        CPdfObject object;
        // Every parseObject call consumes at least one token, so this ends.
        for (int i = 0; i < 100000; ++i) {
            parser.parseObject(object);
            if (object.type() == PDF_EOF)
                break;
        }
    } catch (const CPdfException&) {
    }
    checkScanner(data, size);
    return 0;
}
