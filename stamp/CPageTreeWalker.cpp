#include "stamp/CPageTreeWalker.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "load/CPdfMemoryStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfParser.h"
#include "stamp/ObjectText.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A rectangle given as an array of four numbers (items may be references),
// normalised so that the lower-left corner comes first.
bool readBox(CPdfDict* dict, const char* key, float box[4])
{
    if (!dict)
        return false;
    CPdfObject value;
    dict->getValue(key, value);
    if (value.type() != PDF_ARRAY || value.arrayValue()->count() < 4)
        return false;
    float numbers[4];
    for (int i = 0; i < 4; ++i) {
        CPdfObject item;
        value.arrayValue()->getItem(i, item);
        if (!item.isNumber())
            return false;
        numbers[i] = static_cast<float>(item.numberValue());
        if (!std::isfinite(numbers[i]))
            return false;
    }
    box[0] = std::min(numbers[0], numbers[2]);
    box[1] = std::min(numbers[1], numbers[3]);
    box[2] = std::max(numbers[0], numbers[2]);
    box[3] = std::max(numbers[1], numbers[3]);
    return true;
}

// /Rotate as 0, 90, 180 or 270: counted modulo 360, negative values counted
// back, and anything that is not a quarter turn ignored.
bool readRotate(CPdfDict* dict, int& rotate)
{
    if (!dict)
        return false;
    CPdfObject value;
    dict->getValue("Rotate", value);
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

// The entries the walk reads from a kid; of those it reads the boxes and the
// resources' own entries whole, and only the kind of the others.
const char* const kWalkedKeys[] = {"CropBox", "MediaBox", "TrimBox", "Rotate", "Contents", "Resources"};
const std::vector<std::string> kKeptWhole = {"CropBox", "MediaBox", "TrimBox", "Resources"};

void copyBox(const float from[4], float to[4]) { std::copy(from, from + 4, to); }

// Visiting more kids than twice the object count means the tree is a
// graph that lists its nodes over and over: damaged data, not a document.
constexpr int64_t kVisitsPerObject = 2;

} // namespace

constexpr float CPageTreeWalker::kDefaultBox[4];

CPageTreeWalker::CPageTreeWalker(CFileSource& input, CXrefTable& xref, int pageLimit)
    : m_input(input), m_xref(xref), m_pageLimit(pageLimit)
{
}

CPageTreeWalker::CInherited CPageTreeWalker::inherit(const CInherited& parent, CPdfDict* dict,
                                                     const std::string& text) const
{
    CInherited result = parent;
    if (!dict)
        return result;
    if (readBox(dict, "CropBox", result.cropBox))
        result.hasCropBox = true;
    if (readBox(dict, "MediaBox", result.mediaBox))
        result.hasMediaBox = true;
    if (readRotate(dict, result.rotate))
        result.hasRotate = true;

    CPdfObject resources;
    dict->getValueUnresolved("Resources", resources);
    if (resources.type() == PDF_REF) {
        auto shared = std::make_shared<CInheritedResources>();
        shared->kind = CInheritedResources::REFERENCE;
        shared->num = resources.refNum();
        shared->gen = resources.refGen();
        result.resources = std::move(shared);
    } else if (resources.type() == PDF_DICT) {
        auto shared = std::make_shared<CInheritedResources>();
        size_t begin = 0, end = 0;
        if (findDictEntryValue(text, "Resources", begin, end) && end > begin && text[begin] == '<') {
            shared->kind = CInheritedResources::INLINE;
            shared->text = text.substr(begin, end - begin);
        }
        shared->dict = std::move(resources);
        result.resources = std::move(shared);
    }
    return result;
}

CPageRecord CPageTreeWalker::makePage(int num, const CInherited& parent, CPdfDict* dict) const
{
    CPageRecord page;
    page.objectNumber = num;
    // Crop box: the page's own, the nearest ancestor's, then the media box
    // the same way, then US Letter. Trim box: the page's own, else the crop box.
    float box[4];
    if (readBox(dict, "CropBox", box))
        copyBox(box, page.cropBox);
    else if (parent.hasCropBox)
        copyBox(parent.cropBox, page.cropBox);
    else if (readBox(dict, "MediaBox", box))
        copyBox(box, page.cropBox);
    else if (parent.hasMediaBox)
        copyBox(parent.mediaBox, page.cropBox);
    else
        copyBox(kDefaultBox, page.cropBox);
    if (readBox(dict, "TrimBox", box))
        copyBox(box, page.trimBox);
    else
        copyBox(page.cropBox, page.trimBox);

    int rotate = 0;
    page.rotate = readRotate(dict, rotate) ? rotate : parent.hasRotate ? parent.rotate : 0;

    page.contents = storedEntry(dict, "Contents");
    page.resources = storedEntry(dict, "Resources");
    if (page.resources.type == PDF_DICT) {
        CPdfObject inlineResources;
        dict->getValueUnresolved("Resources", inlineResources);
        page.resourcesXObject = storedEntry(inlineResources.dictValue(), "XObject");
        page.resourcesExtGState = storedEntry(inlineResources.dictValue(), "ExtGState");
    }
    if (page.resources.type == PDF_NULL)
        page.inheritedResources = parent.resources;
    return page;
}

bool CPageTreeWalker::readScanned(int num, const std::string& text, CPdfObject& out, bool deep) const
{
    // Most kids are plain enough to be read from their bytes; the scan gives
    // what the shallow parse in readKid gives for the keys the walk reads.
    const CXrefRecord& record = m_xref.records()[static_cast<size_t>(num)];
    CPdfDictScanner scanner;
    int headerNum = 0, headerGen = 0;
    if (!scanner.scanObject(text, headerNum, headerGen, deep) || headerNum != num ||
        (record.type != XREF_IN_OBJSTM && headerGen != record.gen) ||
        !scanner.readsWhole(kKeptWhole))
        return false;
    CPdfDict* dict = out.setNewDict(&m_xref);
    for (const char* key : kWalkedKeys) {
        if (const CPdfDictScanner::CEntry* entry = scanner.find(key)) {
            const bool whole = std::find(kKeptWhole.begin(), kKeptWhole.end(), key) != kKeptWhole.end();
            CPdfObject value;
            scanner.makeValue(*entry, whole, &m_xref, value);
            dict->insertMoved(key, std::move(value));
        }
    }
    return true;
}

bool CPageTreeWalker::readKid(int num, const std::string& text, CPdfObject& out) const
{
    // What fetching the kid gives, parsed from the text in hand and only as
    // deep as the walk looks: the boxes and the resources' entries.
    const int gen = num < m_xref.recordCount() ? m_xref.records()[static_cast<size_t>(num)].gen : 0;
    if (!text.empty()) {
        if (readScanned(num, text, out, false))
            return true;
        const bool compressed = m_xref.records()[static_cast<size_t>(num)].type == XREF_IN_OBJSTM;
        try {
            CPdfParser parser(&m_xref,
                              new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
            parser.setShallow(true, kKeptWhole);
            int headerNum = 0, headerGen = 0;
            if (parser.parseObjectHeader(headerNum, headerGen) && headerNum == num &&
                (compressed || headerGen == gen)) {
                parser.parseObject(out);
                if (out.type() != PDF_STREAM && out.type() != PDF_ERROR)
                    return true;
            }
        } catch (const CPdfException&) {
        }
        out.clear();
    }
    // Anything unusual (no text, a stream, damage) is left to the fetch.
    m_xref.fetchObject(num, gen, out);
    return false;
}

int64_t CPageTreeWalker::nextKid(CFrame& frame) const
{
    const std::string& text = frame.text;
    size_t k = frame.position;
    while (k < text.size()) {
        char c = text[k];
        if (c == ']' || c == '/')
            return -1;
        if (!isDigit(c)) {
            ++k;
            continue;
        }
        uint64_t value = 0;
        while (k < text.size() && isDigit(text[k])) {
            value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[k] - '0'), 0xFFFFFFFFu);
            ++k;
        }
        ++k; // the byte that ends the run is not inspected
        if (!frame.pending) {
            frame.pending = true;
            frame.pendingNum = static_cast<uint32_t>(value);
            continue;
        }
        // The second number of a pair is the generation; the first names the kid.
        frame.pending = false;
        frame.position = k;
        return frame.pendingNum;
    }
    frame.position = k;
    return -1;
}

void CPageTreeWalker::walk(int rootNum, const std::string& rootText, std::vector<CPageRecord>& pages)
{
    const int64_t maxVisits = kVisitsPerObject * m_xref.recordCount() + 16;
    int64_t visits = 0;

    auto startFrame = [](CFrame& frame) {
        size_t k = findBytes(frame.text, "/Kids");
        if (k == 0)
            k = findBytes(frame.text, "[");
        frame.position = k == 0 ? frame.text.size() : k;
    };

    std::vector<CFrame> stack;
    {
        CFrame root;
        root.num = rootNum;
        root.text = rootText;
        CPdfObject node;
        int gen = rootNum >= 0 && rootNum < m_xref.recordCount() ? m_xref.records()[rootNum].gen : 0;
        // A root stored in the file and plain all the way down is read from
        // its text, not parsed in full with its list of every page.
        if (rootNum < 0 || rootNum >= m_xref.recordCount() || rootText.empty() ||
            m_xref.records()[rootNum].type != XREF_IN_FILE || !readScanned(rootNum, rootText, node, true))
            m_xref.fetchObject(rootNum, gen, node);
        root.inherited = inherit(CInherited(), node.type() == PDF_DICT ? node.dictValue() : nullptr, rootText);
        startFrame(root);
        stack.push_back(std::move(root));
    }

    while (!stack.empty()) {
        int64_t kid = nextKid(stack.back());
        if (kid < 0) {
            stack.pop_back();
            continue;
        }
        if (++visits > maxVisits)
            throw CPdfException("PDF file was damaged");
        int num = kid > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(kid);

        std::string kidText = readObjectText(m_input, num, m_xref);
        CPdfObject fetched;
        const bool fromText = readKid(num, kidText, fetched);
        if (fetched.type() == PDF_NULL)
            throw CPdfException("PDF file was damaged");
        CPdfDict* dict = fetched.type() == PDF_DICT ? fetched.dictValue() : nullptr;

        if (findBytes(kidText, "/Pages") != 0 || fetched.type() == PDF_ARRAY) {
            // A node listed again below itself would make the walk endless.
            for (const CFrame& ancestor : stack)
                if (ancestor.num == num)
                    throw CPdfException("PDF file was damaged");
            CFrame frame;
            frame.num = num;
            frame.inherited = inherit(stack.back().inherited, dict, kidText);
            frame.text = std::move(kidText);
            startFrame(frame);
            stack.push_back(std::move(frame));
            continue;
        }
        if (static_cast<int64_t>(pages.size()) < m_pageLimit) {
            pages.push_back(makePage(num, stack.back().inherited, dict));
            if (fromText && kidText.size() <= m_textBudget) {
                m_textBudget -= kidText.size();
                pages.back().text = std::move(kidText);
            }
        }
    }
}
