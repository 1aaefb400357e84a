// Lexer and parser over raw bytes: every object the bytes hold, until the end.
// Then the dictionary scanner on the same bytes: whenever it accepts them, it
// must find what the parser finds, at the same places: the object's head and
// its dictionary's layout, and the values of the entries the page tree walk
// reads whole.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"

namespace {

const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources", "Kids"};

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

bool sameLayout(const CPdfDictLayout& a, const CPdfDictLayout& b)
{
    if (a.open != b.open || a.close != b.close || a.streamKeyword != b.streamKeyword ||
        a.entries.size() != b.entries.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const CPdfEntryLayout& x = a.entries[i];
        const CPdfEntryLayout& y = b.entries[i];
        if (x.key != y.key || x.type != y.type || x.keyBegin != y.keyBegin || x.keyEnd != y.keyEnd ||
            x.valueBegin != y.valueBegin || x.valueEnd != y.valueEnd ||
            (x.type == PDF_REF && (x.num != y.num || x.gen != y.gen)))
            return false;
    }
    return true;
}

CPdfStream* memoryStream(const uint8_t* data, size_t size) { return new CPdfMemoryStream(nullptr, data, size); }

// Whenever the scanner accepts the bytes as an object's head, the parser
// must read the same head, and the walk's values of its entries.
void checkScanner(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CPdfObjectHead scanned;
    if (!CPdfDictScanner::scanObjectHead(text, scanned))
        return;
    CPdfObjectHead parsed;
    try {
        CPdfParser parser(nullptr, memoryStream(data, size));
        if (!parser.parseObjectHead(parsed))
            std::abort();
    } catch (const CPdfException&) {
        std::abort();
    }
    if (parsed.num != scanned.num || parsed.gen != scanned.gen || parsed.type != scanned.type ||
        parsed.valueBegin != scanned.valueBegin || parsed.valueEnd != scanned.valueEnd ||
        parsed.keyword != scanned.keyword || parsed.keywordBegin != scanned.keywordBegin ||
        parsed.keywordEnd != scanned.keywordEnd || !sameLayout(parsed.dict, scanned.dict))
        std::abort();
    if (scanned.type != PDF_DICT || !CPdfDictScanner::readsWhole(text, scanned.dict, kKeptWhole))
        return;

    // The values the walk takes from the scan, against its shallow parse.
    std::map<std::string, CPdfObject> found;
    for (const CPdfEntryLayout& entry : scanned.dict.entries) {
        if (found.count(entry.key))
            continue; // the first entry for a key counts
        const bool whole = std::find(kKeptWhole.begin(), kKeptWhole.end(), entry.key) != kKeptWhole.end();
        CPdfObject made;
        if (!CPdfDictScanner::makeValue(text, entry, whole, nullptr, made))
            std::abort();
        found[entry.key] = made;
    }
    CPdfObject value;
    try {
        CPdfParser parser(nullptr, memoryStream(data, size));
        parser.setShallow(true, kKeptWhole);
        parser.setStreamsUnread(true);
        int num = 0, gen = 0;
        parser.parseObjectHeader(num, gen);
        parser.parseObject(value);
    } catch (const CPdfException&) {
        std::abort();
    }
    if (value.type() != PDF_DICT || value.dictValue()->entries().size() != found.size())
        std::abort();
    for (const auto& [key, item] : value.dictValue()->entries()) {
        auto made = found.find(key);
        if (made == found.end() || !sameValue(item, made->second))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        CPdfParser parser(nullptr, memoryStream(data, size));
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
