#include "font/ToUnicodeCMap.h"

#include <algorithm>

#include "pdf/PdfFormat.h"

namespace {

// A CMap's bfchar block holds at most 100 entries.
constexpr size_t kLargestBlock = 100;

void appendHex16(std::string& text, unsigned value)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += kHex[(value >> shift) & 15];
}

} // namespace

std::string utf16Hex(const std::u32string& text)
{
    std::string hex;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            appendHex16(hex, 0xD800 + ((c - 0x10000) >> 10));
            appendHex16(hex, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            appendHex16(hex, c);
        }
    }
    return hex;
}

std::string toUnicodeCMap(const std::map<uint32_t, std::u32string>& textOfCid)
{
    std::string text = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                       "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                       "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                       "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (auto it = textOfCid.begin(); it != textOfCid.end();) {
        const size_t count = std::min<size_t>(kLargestBlock, static_cast<size_t>(std::distance(it, textOfCid.end())));
        appendInteger(text, static_cast<long long>(count));
        text += " beginbfchar\n";
        for (size_t index = 0; index < count; ++index, ++it) {
            text += '<';
            appendHex16(text, it->first);
            text += "> <" + utf16Hex(it->second) + ">\n";
        }
        text += "endbfchar\n";
    }
    return text + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}
