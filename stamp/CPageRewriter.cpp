#include "stamp/CPageRewriter.h"

#include "load/CPdfMemoryStream.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "stamp/COutputFile.h"
#include "stamp/CPageRecord.h"
#include "stamp/ObjectText.h"
#include "stamp/StampObjects.h"

namespace {

const CPdfDict* dictionaryOf(const CPdfObject& value) { return value.type() == PDF_DICT ? value.dictValue() : nullptr; }

// What storedEntry gives for a scanned entry (nullptr: absent).
CStoredEntry scannedEntry(const CPdfDictScanner::CEntry* entry)
{
    CStoredEntry stored;
    if (entry) {
        stored.type = entry->type;
        stored.num = entry->num;
        stored.gen = entry->gen;
    }
    return stored;
}

} // namespace

CPageRewriter::CPageRewriter(const CContext& context) : m_context(context)
{
    m_imageEntry = formatText("/XObject << /%s %d 0 R >>", context.imName.c_str(), context.imObjNum);
    m_imageItem = formatText(" /%s %d 0 R ", context.imName.c_str(), context.imObjNum);
    m_stateEntry = formatText("/ExtGState << /%s %d 0 R >>", context.gsName.c_str(), context.gsObjNum);
    m_stateItem = formatText(" /%s %d 0 R ", context.gsName.c_str(), context.gsObjNum);
}

int CPageRewriter::generationFor(int num) const
{
    const CXrefRecord& record = m_context.xref.records()[static_cast<size_t>(num)];
    // A compressed object's text was given generation 0.
    return record.type == XREF_IN_OBJSTM ? 0 : record.gen;
}

void CPageRewriter::writeObject(int num, const CObjectText& text)
{
    if (num >= 0 && num < static_cast<int>(m_context.outRecords.size())) {
        CXrefRecord& record = m_context.outRecords[static_cast<size_t>(num)];
        record.offset = static_cast<int32_t>(m_context.output.position());
        record.gen = generationFor(num);
        record.type = XREF_IN_FILE;
    }
    m_context.output.write(text.bytes());
}

template <class Edit>
void CPageRewriter::rewriteObject(int num, EEdit kind, Edit edit)
{
    if (num < 0 || num >= m_context.xref.recordCount())
        return;
    auto last = m_lastEdit.find(num);
    if (kind != EDIT_CONTENTS && last != m_lastEdit.end() && last->second == kind)
        return; // the copy written for an earlier page is this one, byte for byte
    CObjectText text(readObjectText(m_context.input, num, m_context.xref));
    // Nothing to write: the object keeps whatever record it had.
    if (text.empty())
        return;
    edit(text);
    writeObject(num, text);
    m_lastEdit[num] = kind;
}

void CPageRewriter::rewrite(const std::string& pageText, int pageNum, const CPageRecord& page)
{
    CObjectText text(pageText);
    rewriteContents(text, page.contents);

    if (page.resources.type == PDF_DICT) {
        editResources(text, true, page.resourcesXObject, page.resourcesExtGState);
    } else if (page.resources.type == PDF_REF) {
        editResourcesObject(page.resources.num, page.resources.gen);
    } else if (page.resources.type == PDF_NULL) {
        // No resources of its own: the page takes over what it inherits,
        // extended with our names, so the stamp shows and nothing is lost.
        const CInheritedResources* inherited = page.inheritedResources.get();
        size_t open = text.findFrom("<<", 0);
        if (open != text.end()) {
            if (!inherited) {
                text.insertText(open + 2, "/Resources << " + m_imageEntry + " " + m_stateEntry + " >>");
            } else if (inherited->kind == CInheritedResources::REFERENCE) {
                std::string entry = referenceText("/Resources ", inherited->num, " ");
                appendInteger(entry, inherited->gen);
                entry += " R";
                text.insertText(open + 2, entry);
                if (inherited->num >= 0 && inherited->num < m_context.xref.recordCount())
                    editResourcesObject(inherited->num, inherited->gen);
            } else if (inherited->kind == CInheritedResources::INLINE) {
                text.insertText(open + 2, "/Resources " + inherited->text);
                editResources(text, true, storedEntry(inherited->dict.dictValue(), "XObject"),
                              storedEntry(inherited->dict.dictValue(), "ExtGState"));
            }
        }
    }

    writeObject(pageNum, text);
}

void CPageRewriter::editResourcesObject(int num, int gen)
{
    if (num < 0 || num >= m_context.xref.recordCount())
        throw CPdfException("Corrupted PDF file");
    rewriteObject(num, EDIT_RESOURCES, [&](CObjectText& resources) {
        CStoredEntry xobject, extGState;
        resourceEntryKinds(num, gen, resources.bytes(), xobject, extGState);
        editResources(resources, false, xobject, extGState);
    });
}

void CPageRewriter::resourceEntryKinds(int num, int gen, const std::string& text, CStoredEntry& xobject,
                                       CStoredEntry& extGState) const
{
    // What fetching the object would give: the same checks of generation and
    // header, then its dictionary's top level, parsed from the text in hand.
    xobject = extGState = CStoredEntry();
    const CXrefRecord& record = m_context.xref.records()[static_cast<size_t>(num)];
    if (record.type == XREF_FREE || (record.type == XREF_IN_FILE && record.gen != gen))
        return;
    int headerNum = 0, headerGen = 0;
    // A plain dictionary is read from its bytes.
    CPdfDictScanner scanner;
    if (scanner.scanObject(text, headerNum, headerGen)) {
        if (headerNum != num || (record.type == XREF_IN_FILE && headerGen != gen))
            return;
        xobject = scannedEntry(scanner.find("XObject"));
        extGState = scannedEntry(scanner.find("ExtGState"));
        return;
    }
    CPdfParser parser(&m_context.xref,
                      new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    parser.setShallow(true);
    if (!parser.parseObjectHeader(headerNum, headerGen) || headerNum != num ||
        (record.type == XREF_IN_FILE && headerGen != gen))
        return;
    CPdfObject value;
    parser.parseObject(value);
    xobject = storedEntry(dictionaryOf(value), "XObject");
    extGState = storedEntry(dictionaryOf(value), "ExtGState");
}

void CPageRewriter::rewriteContents(CObjectText& text, const CStoredEntry& contents)
{
    const size_t count = m_context.outRecords.size();
    const long prefix = static_cast<long>(count) - 2;
    const long stamp = static_cast<long>(count) - 1;
    // What the page's /Contents names, and how it is written there.
    EPdfType resolved = contents.type;
    if (contents.type == PDF_REF) {
        CPdfObject target;
        m_context.xref.fetchObject(contents.num, contents.gen, target);
        resolved = target.type();
    }
    const EPdfType stored = contents.type;

    if (resolved == PDF_ARRAY && stored == PDF_REF) {
        rewriteObject(contents.num, EDIT_CONTENTS, [&](CObjectText& array) {
            size_t open = array.findFrom("[", 0);
            if (open != array.end())
                array.insertText(open + 1, referenceText(" ", prefix, " 0 R "));
            size_t close = array.findFrom("]", 0);
            if (close != array.end())
                array.insertText(close, referenceText(" ", stamp, " 0 R "));
        });
    } else if (resolved == PDF_ARRAY && stored == PDF_ARRAY) {
        size_t key = text.findFrom("/Contents", 0);
        size_t open = text.findFrom("[", key);
        if (key != text.end() && open != text.end())
            text.insertText(open + 1, referenceText(" ", prefix, " 0 R "));
        key = text.findFrom("/Contents", 0);
        size_t close = text.findFrom("]", key);
        if (key != text.end() && close != text.end())
            text.insertText(close, referenceText(" ", stamp, " 0 R "));
    } else if (resolved == PDF_NULL && stored == PDF_NULL) {
        size_t open = text.findFrom("<<", 0);
        if (open != text.end())
            text.insertText(open + 2, referenceText("/Contents [ ", prefix, referenceText(" 0 R ", stamp, " 0 R ]").c_str()));
    } else if ((resolved == PDF_STREAM || resolved == PDF_ERROR) && stored == PDF_REF) {
        // "/Contents 4 0 R" becomes "/Contents [ P 0 R 4 0 R S 0 R ]".
        size_t key = text.findFrom("/Contents", 0);
        if (key == text.end() || key + 10 > text.end())
            return;
        text.insertText(key + 10, referenceText("[ ", prefix, " 0 R "));
        key = text.findFrom("/Contents", 0);
        size_t position = key + 10;
        while (position < text.end() && text.at(position) != '/' && text.at(position) != '>' &&
               text.at(position) != '<')
            ++position;
        if (position >= text.end())
            return;
        while (position > key + 10 && (text.at(position - 1) == '\r' || text.at(position - 1) == '\n'))
            --position;
        text.insertText(position, referenceText(" ", stamp, " 0 R ]"));
    }
}

void CPageRewriter::editResources(CObjectText& text, bool inPage, const CStoredEntry& xobject,
                                  const CStoredEntry& extGState)
{
    struct CStep {
        const CStoredEntry& value; // how the dictionary writes the entry
        EEdit kind;
        const char* searchKey;     // "/XObject" or "/ExtGState"
        const std::string& entry;
        const std::string& item;
    };
    const CStep steps[2] = {{xobject, EDIT_XOBJECTS, "/XObject", m_imageEntry, m_imageItem},
                            {extGState, EDIT_EXTGSTATES, "/ExtGState", m_stateEntry, m_stateItem}};
    size_t base = 0;
    for (const CStep& step : steps) {
        // The text changed: find the resources again for every step.
        if (inPage) {
            base = text.findFrom("/Resources", 0);
            if (base == text.end())
                return;
        }
        const EPdfType kind = step.value.type;
        if (kind == PDF_NULL) {
            size_t open = text.findFrom("<<", base);
            if (open != text.end())
                text.insertText(open + 2, step.entry);
        } else if (kind == PDF_DICT) {
            size_t key = text.findFrom(step.searchKey, base);
            size_t open = key == text.end() ? key : text.findFrom("<<", key);
            if (open != text.end())
                text.insertText(open + 2, step.item);
        } else if (kind == PDF_REF) {
            rewriteObject(step.value.num, step.kind, [&](CObjectText& dict) {
                size_t open = dict.findFrom("<<", 0);
                if (open != dict.end())
                    dict.insertText(open + 2, step.item);
            });
        }
    }
}
