#include "document/CPageLabels.h"

#include "crypt/CSecurityHandler.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/PdfTextString.h"

namespace {

// A label tree of real files is one or two levels deep; deeper ones, and
// kids that lead back up, are damage, bounded by both limits.
constexpr int kMaxTreeDepth = 32;
constexpr int kMaxTreeNodes = 100000;
// Roman numerals repeat "m" for each thousand, and letters repeat a letter
// once more every 26: beyond these a label is written in digits rather than
// grow without end (a damaged /St would make labels thousands of letters long).
constexpr int kLargestRoman = 3999;
constexpr int kLargestLettered = 26 * 10;

std::string roman(int number)
{
    static const struct {
        int value;
        const char* digits;
    } kNumerals[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
                     {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string text;
    for (const auto& numeral : kNumerals)
        for (; number >= numeral.value; number -= numeral.value)
            text += numeral.digits;
    return text;
}

// 1 is "a", 26 "z", 27 "aa", 53 "aaa".
std::string letters(int number)
{
    return std::string(static_cast<size_t>((number - 1) / 26 + 1), static_cast<char>('a' + (number - 1) % 26));
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

CPageLabels::CPageLabels(CPdfFile& input) : m_input(input)
{
    CXrefTable& xref = input.xref();
    try {
        CPdfObject catalog, tree;
        if (!readObject(xref.rootNum(), xref.rootGen(), catalog) || catalog.type() != PDF_DICT)
            return;
        int budget = kMaxTreeNodes;
        catalog.dictValue()->getValueUnresolved("PageLabels", tree);
        if (tree.type() != PDF_REF)
            readNode(tree, xref.rootNum(), xref.rootGen(), 0, budget);
        else if (m_visited.insert(tree.refNum()).second && readObject(tree.refNum(), tree.refGen(), catalog))
            readNode(catalog, tree.refNum(), tree.refGen(), 0, budget);
    } catch (const CPdfException&) {
        // What was read before the damage stands; the rest is numbered.
    }
}

bool CPageLabels::readObject(int num, int gen, CPdfObject& out)
{
    // Read from the object's text, not fetched: a label is a text string,
    // whose UTF-16 bytes hold NULs that a fetched string ends at.
    const std::string text = m_input.reader().text(num);
    if (text.empty())
        return false;
    CPdfParser parser(nullptr,
                      new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()), true);
    int headerNum = 0, headerGen = 0;
    if (!parser.parseObjectHeader(headerNum, headerGen) || headerNum != num ||
        (headerGen != gen && m_input.xref().records()[static_cast<size_t>(num)].type == XREF_IN_FILE))
        return false;
    out.clear();
    parser.parseObject(out);
    return true;
}

std::string CPageLabels::textOf(const CPdfObject& string, int num, int gen) const
{
    const CXrefTable& xref = m_input.xref();
    const CSecurityHandler* security = xref.securityHandler();
    if (!security || num <= 0 || num >= xref.recordCount())
        return textStringToUtf8(string.textString());
    // The reader gives an object out of an object stream its strings
    // encrypted for it, as if it stood in the file with generation 0.
    const bool inStream = xref.records()[static_cast<size_t>(num)].type == XREF_IN_OBJSTM;
    return textStringToUtf8(security->decryptString(num, inStream ? 0 : gen, string.textString()));
}

void CPageLabels::readNode(const CPdfObject& node, int num, int gen, int depth, int& budget)
{
    if (node.type() != PDF_DICT || depth > kMaxTreeDepth || --budget < 0)
        return;
    // Each value of the tree is met within the object that holds it (for its strings' key), or fetched by its
    // reference.
    // A value written in place belongs to the object that holds it (`inNum`).
    // A node or an array referred to is read once, however many times it is
    // named (a label's dictionary may serve several ranges).
    const auto within = [&](const CPdfObject& value, int inNum, int inGen, CPdfObject& held, int& heldNum, int& heldGen,
                            bool once) {
        heldNum = inNum, heldGen = inGen;
        if (value.type() != PDF_REF)
            return held = value, true;
        heldNum = value.refNum(), heldGen = value.refGen();
        return (!once || m_visited.insert(heldNum).second) && --budget >= 0 && readObject(heldNum, heldGen, held);
    };
    CPdfObject nums, kids;
    int numsNum = 0, numsGen = 0;
    node.dictValue()->getValueUnresolved("Nums", nums);
    CPdfObject pairsValue;
    if (within(nums, num, gen, pairsValue, numsNum, numsGen, true) && pairsValue.type() == PDF_ARRAY) {
        const CPdfArray& pairs = *pairsValue.arrayValue();
        for (int i = 0; i + 1 < pairs.count(); i += 2) {
            CPdfObject key, item, value, style, prefix, start;
            int valueNum = 0, valueGen = 0;
            pairs.getItemUnresolved(i, key);
            pairs.getItemUnresolved(i + 1, item);
            if (key.type() != PDF_INT || key.intValue() < 0 ||
                !within(item, numsNum, numsGen, value, valueNum, valueGen, false) || value.type() != PDF_DICT)
                continue;
            CRange range;
            value.dictValue()->getValueUnresolved("S", style);
            if (style.type() == PDF_NAME && style.textString().size() == 1 &&
                std::string("DRrAa").find(style.textString()[0]) != std::string::npos)
                range.style = style.textString()[0];
            value.dictValue()->getValueUnresolved("P", prefix);
            if (prefix.type() == PDF_STRING)
                range.prefix = textOf(prefix, valueNum, valueGen);
            value.dictValue()->getValueUnresolved("St", start);
            if (start.type() == PDF_INT && start.intValue() >= 1)
                range.start = start.intValue();
            m_ranges[key.intValue()] = range;
        }
    }
    node.dictValue()->getValueUnresolved("Kids", kids);
    CPdfObject kidList;
    int kidsNum = 0, kidsGen = 0;
    if (within(kids, num, gen, kidList, kidsNum, kidsGen, true) && kidList.type() == PDF_ARRAY)
        for (int i = 0; i < kidList.arrayValue()->count(); ++i) {
            CPdfObject item, kid;
            int kidNum = 0, kidGen = 0;
            kidList.arrayValue()->getItemUnresolved(i, item);
            if (within(item, kidsNum, kidsGen, kid, kidNum, kidGen, true))
                readNode(kid, kidNum, kidGen, depth + 1, budget);
        }
}

std::string CPageLabels::label(int pageIndex) const
{
    auto range = m_ranges.upper_bound(pageIndex);
    if (range == m_ranges.begin())
        return std::to_string(pageIndex + 1);
    --range;
    const CRange& labels = range->second;
    const long long number = static_cast<long long>(labels.start) + (pageIndex - range->first);
    if (labels.style == 0)
        return labels.prefix;
    const bool lettered = labels.style == 'a' || labels.style == 'A';
    if (labels.style == 'D' || number > (lettered ? kLargestLettered : kLargestRoman))
        return labels.prefix + std::to_string(number);
    const int spelled = static_cast<int>(number);
    switch (labels.style) {
    case 'r':
        return labels.prefix + roman(spelled);
    case 'R':
        return labels.prefix + upper(roman(spelled));
    case 'a':
        return labels.prefix + letters(spelled);
    default:
        return labels.prefix + upper(letters(spelled));
    }
}
