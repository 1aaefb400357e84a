#include "document/CPageTreeWalker.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "load/CObjectReader.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"

namespace {

// The box of corners `numbers`, normalised so that the lower-left corner
// comes first; false when one is not finite as a float.
bool normalisedBox(const double numbers[4], float box[4])
{
    float corners[4];
    for (int i = 0; i < 4; ++i) {
        corners[i] = static_cast<float>(numbers[i]);
        if (!std::isfinite(corners[i]))
            return false;
    }
    box[0] = std::min(corners[0], corners[2]);
    box[1] = std::min(corners[1], corners[3]);
    box[2] = std::max(corners[0], corners[2]);
    box[3] = std::max(corners[1], corners[3]);
    return true;
}

// The box `value` gives, normalised.
bool boxOf(const CPdfObject& value, float box[4])
{
    if (value.type() != PDF_ARRAY || value.arrayValue()->count() < 4)
        return false;
    double numbers[4];
    for (int i = 0; i < 4; ++i) {
        CPdfObject item;
        value.arrayValue()->getItem(i, item);
        if (!item.isNumber())
            return false;
        numbers[i] = item.numberValue();
    }
    return normalisedBox(numbers, box);
}

// /Rotate as 0, 90, 180 or 270: counted modulo 360, negative values counted
// back, and anything that is not a quarter turn ignored.
bool rotateOf(const CPdfObject& value, int& rotate)
{
    if (!value.isNumber())
        return false;
    double degrees = value.numberValue();
    if (!std::isfinite(degrees) || degrees != std::floor(degrees) || std::fabs(degrees) > 1e9) {
        rotate = 0;
        return true;
    }
    long long turn = static_cast<long long>(degrees) % 360;
    if (turn < 0)
        turn += 360;
    rotate = turn % 90 == 0 ? static_cast<int>(turn) : 0;
    return true;
}

// The entries the walk reads from a node or page; of those it reads the
// boxes, the resources' own entries and the kids whole, and only the kind
// of the others.
const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources", "Kids"};

bool keptWhole(const char* key) { return std::find(kKeptWhole.begin(), kKeptWhole.end(), key) != kKeptWhole.end(); }

void copyBox(const float from[4], float to[4]) { std::copy(from, from + 4, to); }

// Visiting more kids than twice the object count means the tree is a
// graph that lists its nodes over and over: damaged data, not a document.
constexpr int64_t kVisitsPerObject = 2;

} // namespace

constexpr float CPageTreeWalker::kDefaultBox[4];

CPageTreeWalker::CPageTreeWalker(CObjectReader& reader) : m_reader(reader), m_xref(reader.xref()) {}

bool CPageTreeWalker::readScanned(int num, CPdfObjectHead& head, CNode& node) const
{
    // Most kids are plain enough to be read from the bytes their head was
    // scanned from; that gives what the shallow parse of readParsed gives
    // for the keys the walk reads.
    const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
    if (!head.plain || head.type != PDF_DICT || head.isStream() || head.num != num ||
        (record.type != XREF_IN_OBJSTM && head.gen != record.gen) ||
        !CPdfDictScanner::readsWhole(node.text, head.dict, kKeptWhole))
        return false;
    node.layout = std::move(head.dict);
    node.scanned = true;
    return true;
}

void CPageTreeWalker::entry(const CNode& node, const char* key, CPdfObject& out) const
{
    out.clear();
    if (node.scanned) {
        // The first entry for a key counts, as in a parsed dictionary.
        const CPdfEntryLayout* found = node.layout.find(key);
        if (!found || !CPdfDictScanner::makeValue(node.text, *found, keptWhole(key), &m_xref, out)) {
            out.clear();
            out.setNull();
        }
        return;
    }
    if (node.value.type() == PDF_DICT)
        node.value.dictValue()->getValueUnresolved(key, out);
    else
        out.setNull();
}

bool CPageTreeWalker::readBox(const CNode& node, const char* key, float box[4]) const
{
    if (!isDictionary(node))
        return false;
    if (node.scanned) {
        // Four numbers written in place need no array made; a box of
        // references, or of anything else, is read the long way below.
        const CPdfEntryLayout* found = node.layout.find(key);
        if (!found)
            return false;
        double numbers[4];
        if (CPdfDictScanner::leadingNumbers(node.text, *found, numbers, 4))
            return normalisedBox(numbers, box);
    }
    CPdfObject value;
    resolvedEntry(node, key, value);
    return boxOf(value, box);
}

bool CPageTreeWalker::readRotate(const CNode& node, int& rotate) const
{
    if (!isDictionary(node))
        return false;
    CPdfObject value;
    resolvedEntry(node, "Rotate", value);
    return rotateOf(value, rotate);
}

bool CPageTreeWalker::readParsed(int num, CNode& node) const
{
    // What fetching the object gives, parsed from the text in hand and only
    // as deep as the walk looks.
    const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
    try {
        CPdfParser parser(&m_xref, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(node.text.data()),
                                                        node.text.size()));
        parser.setShallow(true, kKeptWhole);
        int headerNum = 0, headerGen = 0;
        if (parser.parseObjectHeader(headerNum, headerGen) && headerNum == num &&
            (record.type == XREF_IN_OBJSTM || headerGen == record.gen)) {
            parser.parseObject(node.value, &node.layout);
            if (node.value.type() == PDF_DICT || node.value.type() == PDF_ARRAY)
                return true;
        }
    } catch (const CPdfException&) {
    }
    node.value.clear();
    return false;
}

void CPageTreeWalker::readNode(int num, CNode& node)
{
    CPdfObjectHead head;
    node.text = m_reader.text(num, &head);
    // A head parsed from the file because it ran past the bytes read first
    // (a long /Kids) may scan plain from the whole text.
    if (!head.plain && !node.text.empty())
        CPdfDictScanner::scanObjectHead(node.text, head);
    node.laidOut = !node.text.empty() && (readScanned(num, head, node) || readParsed(num, node));
    if (node.laidOut)
        return;
    // Anything unusual (no text, a stream, damage) is left to the fetch.
    const int gen = num >= 0 && num < m_xref.recordCount() ? m_xref.records()[static_cast<size_t>(num)].gen : 0;
    m_xref.fetchObject(num, gen, node.value);
}

void CPageTreeWalker::resolvedEntry(const CNode& node, const char* key, CPdfObject& out) const
{
    CPdfObject written;
    entry(node, key, written);
    written.resolve(&m_xref, out);
}

bool CPageTreeWalker::isPage(const CNode& node) const
{
    CPdfObject type;
    resolvedEntry(node, "Type", type);
    return type.type() == PDF_NAME && type.textString() == "Page";
}

bool CPageTreeWalker::isTreeNode(const CNode& node) const
{
    // A bare array of kids, met where a node's /Kids names it.
    if (node.value.type() == PDF_ARRAY)
        return true;
    // Most nodes and pages say what they are with a plain name.
    const CPdfEntryLayout* written = node.scanned ? node.layout.find("Type") : nullptr;
    if (written && written->type == PDF_NAME) {
        const std::string_view name =
            std::string_view(node.text).substr(static_cast<size_t>(written->valueBegin) + 1,
                                               static_cast<size_t>(written->valueEnd - written->valueBegin) - 1);
        if (name == "Pages" || name == "Page")
            return name == "Pages";
    }
    CPdfObject type;
    resolvedEntry(node, "Type", type);
    if (type.type() == PDF_NAME && (type.textString() == "Pages" || type.textString() == "Page"))
        return type.textString() == "Pages";
    CPdfObject kids;
    resolvedEntry(node, "Kids", kids);
    return kids.type() != PDF_NULL;
}

std::vector<int> CPageTreeWalker::kidsOf(const CNode& node) const
{
    // An array written in the node is read straight from its text.
    std::vector<int> nums;
    if (node.scanned) {
        const CPdfEntryLayout* found = node.layout.find("Kids");
        if (found && found->type == PDF_ARRAY && CPdfDictScanner::references(node.text, *found, nums))
            return nums;
        nums.clear();
    }
    CPdfObject kids;
    if (node.value.type() == PDF_ARRAY)
        kids.assign(node.value);
    else
        resolvedEntry(node, "Kids", kids);
    if (kids.type() != PDF_ARRAY)
        return nums;
    // A kid's generation is not checked: the walk fetches what the table holds.
    for (int i = 0; i < kids.arrayValue()->count(); ++i) {
        CPdfObject item;
        kids.arrayValue()->getItemUnresolved(i, item);
        if (item.type() == PDF_REF)
            nums.push_back(item.refNum());
    }
    return nums;
}

CPageTreeWalker::CInherited CPageTreeWalker::inherit(const CInherited& parent, const CNode& node) const
{
    CInherited result = parent;
    if (!isDictionary(node))
        return result;
    if (readBox(node, "CropBox", result.cropBox))
        result.hasCropBox = true;
    if (readBox(node, "MediaBox", result.mediaBox))
        result.hasMediaBox = true;
    if (readRotate(node, result.rotate))
        result.hasRotate = true;

    CPdfObject resources;
    entry(node, "Resources", resources);
    if (resources.type() == PDF_REF) {
        auto shared = std::make_shared<CInheritedResources>();
        shared->kind = CInheritedResources::REFERENCE;
        shared->num = resources.refNum();
        shared->gen = resources.refGen();
        result.resources = std::move(shared);
    } else if (resources.type() == PDF_DICT) {
        auto shared = std::make_shared<CInheritedResources>();
        const CPdfEntryLayout* entry = node.laidOut ? node.layout.find("Resources") : nullptr;
        if (entry && entry->type == PDF_DICT) {
            shared->kind = CInheritedResources::INLINE;
            shared->text = node.text.substr(static_cast<size_t>(entry->valueBegin),
                                            static_cast<size_t>(entry->valueEnd - entry->valueBegin));
        }
        result.resources = std::move(shared);
    }
    return result;
}

void CPageTreeWalker::makePage(CPageRecord& page, int num, const CInherited& parent, const CNode& node) const
{
    page.objectNumber = num;
    // Crop box: the page's own, the nearest ancestor's, then the media box
    // the same way, then US Letter. Trim box: the page's own, else the crop box.
    float box[4];
    if (readBox(node, "CropBox", box))
        copyBox(box, page.cropBox);
    else if (parent.hasCropBox)
        copyBox(parent.cropBox, page.cropBox);
    else if (readBox(node, "MediaBox", box))
        copyBox(box, page.cropBox);
    else if (parent.hasMediaBox)
        copyBox(parent.mediaBox, page.cropBox);
    else
        copyBox(kDefaultBox, page.cropBox);
    if (readBox(node, "TrimBox", box))
        copyBox(box, page.trimBox);
    else
        copyBox(page.cropBox, page.trimBox);

    int rotate = 0;
    page.rotate = readRotate(node, rotate) ? rotate : parent.hasRotate ? parent.rotate : 0;

    if (node.laidOut && isDictionary(node)) {
        page.dictOpen = node.layout.open;
        page.contents = storedEntry(node.layout, "Contents");
        page.resources = storedEntry(node.layout, "Resources");
        page.annots = storedEntry(node.layout, "Annots");
    }
    page.inheritedResources = parent.resources;
}

void CPageTreeWalker::walkPageTree(int rootNum, std::vector<CPageRecord>& pages, size_t stopAfter)
{
    const int64_t maxVisits = kVisitsPerObject * m_xref.recordCount() + 16;
    int64_t visits = 0;
    m_listed.clear();
    m_rootCount.clear();
    m_rootCount.setNull();

    std::vector<CFrame> stack;
    {
        CNode root;
        readNode(rootNum, root);
        // No tree: a document without pages, as readers show it.
        if (!isDictionary(root)) {
            m_xref.repairLog().noPageTree();
            return;
        }
        if (isPage(root)) {
            // A catalog whose /Pages names a page: viewers show that page
            // alone, with only its own attributes, whatever its /Parent holds.
            m_xref.repairLog().pagesIsAPage(rootNum);
            keepPage(rootNum, CInherited(), root, pages);
            pages.back().namedByCatalog = true;
            return;
        }
        CPdfObject count;
        resolvedEntry(root, "Count", count);
        if (count.type() == PDF_INT)
            m_rootCount = std::move(count);
        CFrame frame;
        frame.num = rootNum;
        frame.inherited = inherit(CInherited(), root);
        frame.kids = kidsOf(root);
        stack.push_back(std::move(frame));
    }
    const int64_t pageLimit = m_rootCount.type() == PDF_INT ? m_rootCount.intValue() : INT_MAX;
    // Room for the pages the root counts, made once: grown page by page the
    // records were copied and their memory touched twice over. Every page
    // is an object, so the table's size bounds a count that claims more.
    const int64_t wanted = std::min<int64_t>(pageLimit, m_xref.recordCount());
    if (wanted > 0)
        pages.reserve(std::min(static_cast<size_t>(wanted), stopAfter));

    while (!stack.empty() && pages.size() < stopAfter) {
        CFrame& top = stack.back();
        if (top.next >= top.kids.size()) {
            stack.pop_back();
            continue;
        }
        const int num = top.kids[top.next++];
        if (++visits > maxVisits)
            throw CPdfException("PDF file was damaged");

        CNode kid;
        readNode(num, kid);
        // A kid that is not there is left out, as readers leave it out.
        if (!isDictionary(kid)) {
            m_xref.repairLog().skippedKid(num);
            continue;
        }

        if (isTreeNode(kid)) {
            // A node listed again below itself would make the walk endless.
            bool loops = false;
            for (const CFrame& ancestor : stack)
                loops = loops || ancestor.num == num;
            if (loops) {
                m_xref.repairLog().skippedKid(num);
                continue;
            }
            CFrame frame;
            frame.num = num;
            frame.inherited = inherit(stack.back().inherited, kid);
            frame.kids = kidsOf(kid);
            stack.push_back(std::move(frame));
            continue;
        }
        if (static_cast<int64_t>(pages.size()) < pageLimit)
            keepPage(num, stack.back().inherited, kid, pages);
    }
}

void CPageTreeWalker::keepPage(int num, const CInherited& parent, CNode& node, std::vector<CPageRecord>& pages)
{
    makePage(pages.emplace_back(), num, parent, node);
    if (num >= 0 && num < m_xref.recordCount()) {
        if (m_listed.empty())
            m_listed.resize(static_cast<size_t>(m_xref.recordCount()), false);
        pages.back().firstOccurrence = !m_listed[static_cast<size_t>(num)];
        m_listed[static_cast<size_t>(num)] = true;
    }
    if (pages.back().firstOccurrence && node.laidOut && node.text.size() <= m_textBudget) {
        m_textBudget -= node.text.size();
        pages.back().text = std::move(node.text);
    }
}

int CPageTreeWalker::pagesRoot() const
{
    CPdfObject catalog;
    m_xref.fetchObject(m_xref.rootNum(), m_xref.rootGen(), catalog);
    CPdfObject root;
    if (catalog.type() == PDF_DICT)
        catalog.dictValue()->getValueUnresolved("Pages", root);
    return root.type() == PDF_REF ? root.refNum() : -1;
}

int CPageTreeWalker::walkDocument(std::vector<CPageRecord>& pages, size_t stopAfter)
{
    pages.clear();
    const int root = pagesRoot();
    if (root < 0) {
        // No tree: a document without pages, copied as it stands.
        m_xref.repairLog().noPageTree();
        return 0;
    }
    walkPageTree(root, pages, stopAfter);
    // A damaged /Count would be believed: a walk that went through the
    // whole tree counted the pages itself.
    if (pages.size() < stopAfter || m_rootCount.type() != PDF_INT)
        return static_cast<int>(pages.size());
    // One that stopped early has only /Count, which no more pages than
    // objects can fill.
    const int64_t counted = std::min<int64_t>(m_rootCount.intValue(), m_xref.recordCount());
    return static_cast<int>(std::max<int64_t>(counted, static_cast<int64_t>(pages.size())));
}

int CPageTreeWalker::countDocument()
{
    const int root = pagesRoot();
    if (root >= 0) {
        CNode node;
        readNode(root, node);
        CPdfObject count;
        if (isDictionary(node) && !isPage(node))
            resolvedEntry(node, "Count", count);
        if (count.type() == PDF_INT)
            return count.intValue();
    }
    std::vector<CPageRecord> pages;
    return walkDocument(pages);
}
