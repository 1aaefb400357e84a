// Lexer and parser over raw bytes: every object the bytes hold, until the end.
// Then the dictionary scanner on the same bytes: whenever it accepts them, it
// must find what a shallow parse finds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
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

enum class EMode { SHALLOW, KEEPING, FULL };

// The parser's reading of an object's dictionary in `mode`; PDF_NONE when it
// does not give a dictionary under a header.
CPdfObject parse(const uint8_t* data, size_t size, EMode mode, int& num, int& gen)
{
    CPdfObject out;
    try {
        CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, data, size));
        if (mode == EMode::SHALLOW)
            parser.setShallow(true);
        else if (mode == EMode::KEEPING)
            parser.setShallow(true, {"CropBox", "MediaBox", "TrimBox", "Resources"});
        if (parser.parseObjectHeader(num, gen))
            parser.parseObject(out);
    } catch (const CPdfException&) {
        out.clear();
    }
    return out;
}

bool isKept(const std::string& key)
{
    return key == "CropBox" || key == "MediaBox" || key == "TrimBox" || key == "Resources";
}

// Whenever the scanner accepts the bytes, its entries must be the parser's:
// all of them, with containers compared by kind only where the parser reads
// them deeper than the scanner does.
void checkScanner(const uint8_t* data, size_t size, EMode mode)
{
    CPdfDictScanner scanner;
    int num = 0, gen = 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!scanner.scanObject(text, num, gen, mode == EMode::FULL))
        return;
    // Kept values that do not read whole leave the scan to the parser.
    if (mode == EMode::KEEPING && !scanner.readsWhole({"CropBox", "MediaBox", "TrimBox", "Resources"}))
        return;
    std::map<std::string, CPdfObject> found;
    for (const CPdfDictScanner::CEntry& entry : scanner.entries()) {
        const std::string key(entry.key);
        if (found.count(key))
            continue; // the first entry for a key counts
        CPdfObject made;
        if (!scanner.makeValue(entry, mode == EMode::KEEPING && isKept(key), nullptr, made))
            std::abort();
        found[key] = made;
    }
    int parsedNum = 0, parsedGen = 0;
    CPdfObject parsed = parse(data, size, mode, parsedNum, parsedGen);
    if (parsed.type() != PDF_DICT || parsedNum != num || parsedGen != gen)
        std::abort();
    const auto& entries = parsed.dictValue()->entries();
    if (entries.size() != found.size())
        std::abort();
    for (const auto& [key, value] : entries) {
        auto made = found.find(key);
        if (made == found.end())
            std::abort();
        const bool kindOnly = mode == EMode::FULL && (value.type() == PDF_ARRAY || value.type() == PDF_DICT);
        if (kindOnly ? value.type() != made->second.type() : !sameValue(value, made->second))
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
    for (EMode mode : {EMode::SHALLOW, EMode::KEEPING, EMode::FULL})
        checkScanner(data, size, mode);
    return 0;
}
