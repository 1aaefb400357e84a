#include "font/CCffCharset.h"

#include <array>

namespace {

// The DICT operators read (a two-byte one as 1200 plus its second byte).
constexpr int kCharsetOperator = 15;
constexpr int kCharStringsOperator = 17;
constexpr int kRosOperator = 1230;
constexpr int kEscape = 12;
constexpr int kLastOperator = 21;
// A DICT's operands are at most 48 before their operator.
constexpr size_t kMostOperands = 48;
// Charset offsets 0 to 2 name the predefined charsets of name-keyed fonts.
constexpr uint32_t kLastPredefinedCharset = 2;
constexpr uint32_t kLastCid = 0xFFFF;

// The big-endian number of `size` bytes at `at`; false when it runs past the bytes.
bool readNumber(std::string_view bytes, size_t at, size_t size, uint32_t& value)
{
    if (at > bytes.size() || bytes.size() - at < size)
        return false;
    value = 0;
    for (size_t index = 0; index < size; ++index)
        value = value << 8 | static_cast<unsigned char>(bytes[at + index]);
    return true;
}

// An INDEX: its entries' offsets count from the byte before its data.
struct CIndex {
    uint32_t count = 0;
    uint32_t offSize = 0;
    size_t offsets = 0; // where the offset array starts
    size_t dataBase = 0;
    size_t end = 0; // the first byte after it
};

// The INDEX at `at`, its last offset within the table; nullopt when it is not.
std::optional<CIndex> indexAt(std::string_view table, size_t at)
{
    CIndex index;
    if (!readNumber(table, at, 2, index.count))
        return std::nullopt;
    if (index.count == 0) {
        index.end = at + 2;
        return index;
    }
    if (!readNumber(table, at + 2, 1, index.offSize) || index.offSize < 1 || index.offSize > 4)
        return std::nullopt;
    index.offsets = at + 3;
    index.dataBase = index.offsets + (size_t(index.count) + 1) * index.offSize - 1;
    uint32_t first = 0, last = 0;
    if (!readNumber(table, index.offsets, index.offSize, first) || first != 1 ||
        !readNumber(table, index.offsets + size_t(index.count) * index.offSize, index.offSize, last) ||
        last > table.size() - index.dataBase)
        return std::nullopt;
    index.end = index.dataBase + last;
    return index;
}

// The bytes of entry `number` of `index`; nullopt when its offsets fall outside the INDEX's data.
std::optional<std::string_view> entryOf(std::string_view table, const CIndex& index, uint32_t number)
{
    uint32_t start = 0, end = 0;
    if (number >= index.count ||
        !readNumber(table, index.offsets + size_t(number) * index.offSize, index.offSize, start) ||
        !readNumber(table, index.offsets + (size_t(number) + 1) * index.offSize, index.offSize, end) || start < 1 ||
        start > end || index.dataBase + end > index.end)
        return std::nullopt;
    return table.substr(index.dataBase + start, end - start);
}

struct CTopDict {
    bool ros = false;
    std::optional<uint32_t> charset;
    std::optional<uint32_t> charStrings;
};

// The Top DICT's operators that say where the charset and CharStrings are,
// and whether the font is CID-keyed; false when the DICT is malformed.
bool readTopDict(std::string_view dict, CTopDict& top)
{
    std::array<int64_t, kMostOperands> operands{};
    std::array<bool, kMostOperands> whole{}; // not a real number
    size_t count = 0;
    const auto byteAt = [&dict](size_t at) { return static_cast<unsigned char>(dict[at]); };
    for (size_t at = 0; at < dict.size();) {
        const unsigned lead = byteAt(at++);
        if (lead <= kLastOperator) {
            int op = static_cast<int>(lead);
            if (lead == kEscape) {
                if (at >= dict.size())
                    return false;
                op = 1200 + byteAt(at++);
            }
            // An offset is one whole, non-negative operand.
            const bool offset = count == 1 && whole[0] && operands[0] >= 0 && operands[0] <= UINT32_MAX;
            if (op == kRosOperator) {
                if (count != 3)
                    return false;
                top.ros = true;
            } else if (op == kCharsetOperator || op == kCharStringsOperator) {
                if (!offset)
                    return false;
                (op == kCharsetOperator ? top.charset : top.charStrings) = static_cast<uint32_t>(operands[0]);
            }
            count = 0;
            continue;
        }
        if (count == kMostOperands)
            return false;
        int64_t value = 0;
        bool isWhole = true;
        uint32_t bytes = 0;
        if (lead == 28 || lead == 29) {
            const size_t size = lead == 28 ? 2 : 4;
            if (!readNumber(dict, at, size, bytes))
                return false;
            value = size == 2 ? int16_t(bytes) : int32_t(bytes);
            at += size;
        } else if (lead == 30) {
            // A real number: nibbles up to the one that ends it (0xF).
            isWhole = false;
            bool ended = false;
            while (!ended && at < dict.size()) {
                const unsigned pair = byteAt(at++);
                ended = (pair >> 4) == 0xF || (pair & 0xF) == 0xF;
            }
            if (!ended)
                return false;
        } else if (lead >= 32 && lead <= 246) {
            value = int64_t(lead) - 139;
        } else if (lead >= 247 && lead <= 254) {
            if (at >= dict.size())
                return false;
            const int64_t magnitude = (int64_t(lead - (lead <= 250 ? 247 : 251)) << 8) + byteAt(at++) + 108;
            value = lead <= 250 ? magnitude : -magnitude;
        } else {
            return false; // reserved
        }
        operands[count] = value;
        whole[count++] = isWhole;
    }
    // A DICT ends with an operator.
    return count == 0;
}

} // namespace

std::optional<CCffCharset> CCffCharset::read(std::string_view table)
{
    uint32_t major = 0, headerSize = 0;
    if (!readNumber(table, 0, 1, major) || major != 1 || !readNumber(table, 2, 1, headerSize) || headerSize < 4)
        return std::nullopt;
    const std::optional<CIndex> names = indexAt(table, headerSize);
    const std::optional<CIndex> topDicts = names ? indexAt(table, names->end) : std::nullopt;
    const std::optional<std::string_view> dict = topDicts ? entryOf(table, *topDicts, 0) : std::nullopt;
    CTopDict top;
    if (!dict || !readTopDict(*dict, top) || !top.charStrings)
        return std::nullopt;
    const std::optional<CIndex> charStrings = indexAt(table, *top.charStrings);
    if (!charStrings || charStrings->count == 0)
        return std::nullopt;
    CCffCharset charset;
    charset.m_cidKeyed = top.ros;
    charset.m_glyphCount = charStrings->count;
    if (top.ros && !charset.readCharset(table, top.charset.value_or(0)))
        return std::nullopt;
    return charset;
}

bool CCffCharset::readCharset(std::string_view table, size_t offset)
{
    uint32_t format = 0;
    if (offset <= kLastPredefinedCharset || !readNumber(table, offset, 1, format) || format > 2)
        return false;
    m_cids.assign(m_glyphCount, 0);
    std::vector<bool> taken(kLastCid + 1);
    taken[0] = true; // .notdef's
    size_t at = offset + 1;
    // Format 0 lists each glyph's CID from glyph 1 on; formats 1 and 2 ranges
    // of consecutive CIDs: the first, and how many more (in one or two bytes).
    for (uint32_t glyph = 1; glyph < m_glyphCount;) {
        uint32_t first = 0, more = 0;
        if (!readNumber(table, at, 2, first) || (format > 0 && !readNumber(table, at + 2, format, more)))
            return false;
        at += 2 + format;
        if (more >= m_glyphCount - glyph || first + more > kLastCid)
            return false;
        for (uint32_t cid = first; cid <= first + more; ++cid, ++glyph) {
            if (taken[cid])
                return false;
            taken[cid] = true;
            m_cids[glyph] = static_cast<uint16_t>(cid);
        }
    }
    return true;
}

std::optional<uint32_t> CCffCharset::cidOf(uint32_t glyph) const
{
    if (!m_cidKeyed || glyph >= m_cids.size())
        return std::nullopt;
    return m_cids[glyph];
}
