#include "page/CPageRewriter.h"

#include <algorithm>

#include "document/CPageRecord.h"
#include "load/CObjectReader.h"
#include "load/CXrefTable.h"
#include "page/StampObjects.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfLexer.h"
#include "write/COutputWriter.h"

namespace {

bool isWhitespaceByte(char c) { return CPdfLexer::isWhitespace(static_cast<unsigned char>(c)); }

// Where the closing text of a content list made from one reference goes:
// after the blanks that follow the reference on its line, so the list closes
// before a line end or the next entry, and outside any comment.
size_t afterReference(const std::string& text, const CStoredEntry& entry)
{
    const size_t end = static_cast<size_t>(entry.valueEnd);
    if (entry.following < entry.valueEnd || static_cast<size_t>(entry.following) > text.size())
        return end;
    // Only blanks and comments stand between the reference and the next
    // token; the line end that closes the last comment must stay after it.
    const size_t following = static_cast<size_t>(entry.following);
    size_t floor = end;
    for (size_t i = end; i < following; ++i) {
        if (text[i] != '%')
            continue;
        while (i < following && text[i] != '\r' && text[i] != '\n')
            ++i;
        if (i >= following)
            return end;
        floor = i + (text[i] == '\r' && i + 1 < following && text[i + 1] == '\n' ? 2 : 1);
    }
    size_t position = following;
    while (position > floor && (text[position - 1] == '\r' || text[position - 1] == '\n'))
        --position;
    return position;
}

// An array's text runs from its "[" to its "]"; one cut short has no "]".
bool closesArray(const std::string& text, int64_t begin, int64_t end)
{
    return begin >= 0 && end > begin + 1 && static_cast<size_t>(end) <= text.size() && text[begin] == '[' &&
           text[end - 1] == ']';
}

} // namespace

void CPageRewriter::setImageVariants(const std::vector<std::string>& names)
{
    m_variantNames = names;
    m_imageEntry = formatText("/%s <<", m_context.imCategory);
    m_imageItem.clear();
    for (size_t variant = 0; variant < names.size(); ++variant)
        m_imageItem +=
            formatText(" /%s %d 0 R ", names[variant].c_str(), m_context.imObjNum + static_cast<int>(variant));
    m_imageEntry += m_imageItem + ">>";
}

CPageRewriter::CPageRewriter(const CContext& context) : m_context(context)
{
    // A stamp drawn by each page as paths names no object.
    if (context.imObjNum > 0)
        m_imageEntry = formatText("/%s << /%s %d 0 R >>", context.imCategory, context.imName.c_str(), context.imObjNum);
    m_imageItem = formatText(" /%s %d 0 R ", context.imName.c_str(), context.imObjNum);
    if (!context.im2Name.empty()) {
        m_imageEntry = formatText("/XObject << /%s %d 0 R /%s %d 0 R >>", context.imName.c_str(), context.imObjNum,
                                  context.im2Name.c_str(), context.im2ObjNum);
        m_imageItem = formatText(" /%s %d 0 R /%s %d 0 R ", context.imName.c_str(), context.imObjNum,
                                 context.im2Name.c_str(), context.im2ObjNum);
    }
    m_stateEntry = formatText("/ExtGState << /%s %d 0 R >>", context.gsName.c_str(), context.gsObjNum);
    if (context.layerNum > 0) {
        m_layerEntry = formatText("/Properties << /%s %d 0 R >>", context.layerName.c_str(), context.layerNum);
        m_layerItem = formatText(" /%s %d 0 R ", context.layerName.c_str(), context.layerNum);
    }
    m_stateItem = formatText(" /%s %d 0 R ", context.gsName.c_str(), context.gsObjNum);
}

int CPageRewriter::generationFor(int num) const
{
    return m_context.xref.records()[static_cast<size_t>(num)].objectGen();
}

void CPageRewriter::writeObject(int num, const CObjectText& text)
{
    const bool listed = num >= 0 && num < m_context.xref.recordCount();
    m_context.writer.writeChangedObject(num, listed ? generationFor(num) : 0, text.bytes());
}

template <class Edit>
CPageRewriter::EOutcome CPageRewriter::rewriteObject(int num, int gen, EEdit kind, Edit edit)
{
    // A reference to an object the table does not hold, or of another
    // generation, is null.
    if (num < 0 || num >= m_context.xref.recordCount())
        return MISSING;
    const CXrefRecord& record = m_context.xref.records()[static_cast<size_t>(num)];
    if (record.type == XREF_FREE || gen != generationFor(num))
        return MISSING;
    if (m_lastEdit.empty())
        m_lastEdit.resize(static_cast<size_t>(m_context.xref.recordCount()), 0);
    if (kind != EDIT_CONTENTS && kind != EDIT_ANNOTS && m_lastEdit[static_cast<size_t>(num)] == kind + 1)
        return EDITED; // the copy written for an earlier page is this one, byte for byte
    // Its own head: an edit may rewrite further objects while it uses this one.
    CPdfObjectHead head;
    const std::string original = m_context.reader.text(num, &head);
    if (original.empty() || head.type == PDF_NONE || head.num != num ||
        (record.type == XREF_IN_FILE && head.gen != record.gen))
        return MISSING;
    CObjectText text(original);
    if (!edit(text, head))
        return NOT_EDITABLE;
    writeObject(num, text);
    m_lastEdit[static_cast<size_t>(num)] = static_cast<uint8_t>(kind + 1);
    return EDITED;
}

EPdfType CPageRewriter::objectKind(int num, int gen)
{
    if (num < 0 || num >= m_context.xref.recordCount())
        return PDF_NULL;
    const CXrefRecord& record = m_context.xref.records()[static_cast<size_t>(num)];
    if (record.type == XREF_FREE || gen != generationFor(num))
        return PDF_NULL;
    if (!m_context.reader.head(num, m_head) || m_head.num != num ||
        (record.type == XREF_IN_FILE && m_head.gen != record.gen))
        return PDF_NULL;
    return m_head.isStream() ? PDF_STREAM : m_head.type;
}

void CPageRewriter::rewritePageObject(const std::string& pageText, int pageNum, const CPageRecord& page, int prefixNum,
                                      int stampNum)
{
    CObjectText text(pageText);
    // A page whose text could not be laid out is copied as it stands.
    if (page.dictOpen >= 0) {
        rewriteContents(pageText, text, page, prefixNum, stampNum);
        rewriteResources(pageText, text, page);
        nameNewParent(pageText, text, page);
    }
    writeObject(pageNum, text);
}

void CPageRewriter::nameNewParent(const std::string& original, CObjectText& text, const CPageRecord& page)
{
    CPdfDictLayout layout;
    if (page.newParent <= 0 || page.dictOpen < 0 ||
        !CObjectReader::dictLayoutAt(original, static_cast<size_t>(page.dictOpen), layout))
        return;
    const CStoredEntry parent = storedEntry(layout, "Parent");
    const std::string node = referenceText("", page.newParent, " 0 R");
    if (parent.present)
        text.replaceAt(static_cast<size_t>(parent.valueBegin), static_cast<size_t>(parent.valueEnd), node);
    else
        text.insertAt(static_cast<size_t>(page.dictOpen) + 2, "/Parent " + node + " ");
}

void CPageRewriter::writeAsItStands(const CPageRecord& page)
{
    const std::string original = page.text.empty() ? m_context.reader.text(page.objectNumber) : page.text;
    if (original.empty())
        return;
    CObjectText text(original);
    nameNewParent(original, text, page);
    writeObject(page.objectNumber, text);
}

std::string CPageRewriter::referenceItems(int num)
{
    CPdfObjectHead head;
    const std::string text = m_context.reader.text(num, &head);
    CPdfEntryLayout array;
    array.type = head.type;
    array.valueBegin = head.valueBegin;
    array.valueEnd = head.valueEnd;
    std::vector<std::pair<int, int>> refs;
    if (text.empty() || head.num != num || !CPdfDictScanner::referenceList(text, array, refs))
        return std::string();
    std::string items = "[";
    for (const auto& [itemNum, itemGen] : refs) {
        items += referenceText(items.size() > 1 ? " " : "", itemNum, " ");
        appendInteger(items, itemGen);
        items += " R";
    }
    return items;
}

bool CPageRewriter::addAnnotation(const std::string& pageText, int pageNum, const CPageRecord& page, int annotNum,
                                  bool sharedAnnots)
{
    if (page.dictOpen < 0)
        return false;
    const CStoredEntry& annots = page.annots;
    const std::string item = referenceText(" ", annotNum, " 0 R ");
    CObjectText text(pageText);
    EPdfType kind = annots.type;
    if (annots.present && annots.type == PDF_REF)
        kind = objectKind(annots.num, annots.gen);
    if (!annots.present) {
        text.insertAt(static_cast<size_t>(page.dictOpen) + 2, "/Annots [" + item + "]");
    } else if (annots.type == PDF_ARRAY) {
        if (!closesArray(pageText, annots.valueBegin, annots.valueEnd))
            return false;
        text.insertAt(static_cast<size_t>(annots.valueEnd) - 1, item);
    } else if (annots.type == PDF_REF && kind == PDF_ARRAY && sharedAnnots) {
        // Each page shows its own stamp: the shared array would give every
        // page every page's annotation.
        const std::string items = referenceItems(annots.num);
        if (items.empty())
            return false;
        text.replaceAt(static_cast<size_t>(annots.valueBegin), static_cast<size_t>(annots.valueEnd),
                       items + item + "]");
    } else if (annots.type == PDF_REF && kind == PDF_ARRAY) {
        const EOutcome outcome =
            rewriteObject(annots.num, annots.gen, EDIT_ANNOTS, [&](CObjectText& array, const CPdfObjectHead& head) {
                if (head.type != PDF_ARRAY || !closesArray(array.bytes(), head.valueBegin, head.valueEnd))
                    return false;
                array.insertAt(static_cast<size_t>(head.valueEnd) - 1, item);
                return true;
            });
        if (outcome != EDITED)
            return false;
    } else if (kind == PDF_NULL) {
        // A null, or a reference to nothing, is no annotation at all.
        text.replaceAt(static_cast<size_t>(annots.valueBegin), static_cast<size_t>(annots.valueEnd), "[" + item + "]");
    } else {
        return false;
    }
    nameNewParent(pageText, text, page);
    writeObject(pageNum, text);
    return true;
}

void CPageRewriter::rewriteContents(const std::string& original, CObjectText& text, const CPageRecord& page,
                                    int prefixNum, int stampNum)
{
    const CStoredEntry& contents = page.contents;
    // An underlay has no stream after the page's content.
    const bool after = stampNum > 0;
    auto wholeList = [&]() {
        return after ? referenceText("[ ", prefixNum, referenceText(" 0 R ", stampNum, " 0 R ]").c_str())
                     : referenceText("[ ", prefixNum, " 0 R ]");
    };
    if (!contents.present) {
        text.insertAt(static_cast<size_t>(page.dictOpen) + 2, "/Contents " + wholeList());
        return;
    }
    const std::string prefixItem = referenceText(" ", prefixNum, " 0 R ");
    const std::string stampItem = after ? referenceText(" ", stampNum, " 0 R ") : std::string();
    // `bytes`: the array's text as read, before any edit.
    auto editArray = [&](CObjectText& array, const std::string& bytes, int64_t begin, int64_t end) {
        if (!closesArray(bytes, begin, end))
            return false;
        // An underlay before a blank takes none after it: its removal gives back the list's text byte for byte.
        const bool blankFollows = isWhitespaceByte(bytes[static_cast<size_t>(begin) + 1]);
        array.insertAt(static_cast<size_t>(begin) + 1,
                       after || !blankFollows ? prefixItem : referenceText(" ", prefixNum, " 0 R"));
        if (after)
            array.insertAt(static_cast<size_t>(end) - 1, stampItem);
        return true;
    };

    EPdfType kind = contents.type;
    if (contents.type == PDF_REF)
        kind = m_contentsKindOf == page.objectNumber ? m_contentsKind : objectKind(contents.num, contents.gen);
    m_contentsKindOf = -1;
    if (contents.type == PDF_ARRAY) {
        editArray(text, original, contents.valueBegin, contents.valueEnd);
    } else if (contents.type == PDF_REF && kind == PDF_ARRAY) {
        rewriteObject(contents.num, contents.gen, EDIT_CONTENTS, [&](CObjectText& array, const CPdfObjectHead& head) {
            return head.type == PDF_ARRAY && editArray(array, array.bytes(), head.valueBegin, head.valueEnd);
        });
    } else if (contents.type == PDF_REF && kind == PDF_STREAM) {
        // "/Contents 4 0 R" becomes "/Contents [ P 0 R 4 0 R S 0 R ]".
        const size_t keyEnd = static_cast<size_t>(contents.keyEnd);
        const size_t open = keyEnd < static_cast<size_t>(contents.valueBegin) && isWhitespaceByte(original[keyEnd])
                                ? keyEnd + 1
                                : static_cast<size_t>(contents.valueBegin);
        text.insertAt(open, referenceText("[ ", prefixNum, " 0 R "));
        if (after)
            text.insertAt(afterReference(original, contents), referenceText(" ", stampNum, " 0 R ]"));
        else // right after the reference: its removal gives back the page's text byte for byte
            text.insertAt(static_cast<size_t>(contents.valueEnd), " ]");
    } else if (kind == PDF_NULL) {
        // A null (or a reference to nothing) is no content: the page gets ours.
        text.replaceAt(static_cast<size_t>(contents.valueBegin), static_cast<size_t>(contents.valueEnd), wholeList());
    }
    // Anything else (a dictionary, a number) is no content list: left alone.
}

bool CPageRewriter::removeReferences(const std::string& original, CObjectText& text, const CPdfEntryLayout& array,
                                     const std::vector<CPageStamps::CRef>& gone, bool single)
{
    std::vector<CPdfEntryLayout> items;
    if (!CPdfDictScanner::arrayItems(original, array, items) || !closesArray(original, array.valueBegin, array.valueEnd))
        return false;
    std::vector<const CPdfEntryLayout*> left;
    for (const CPdfEntryLayout& item : items) {
        if (item.type != PDF_REF ||
            std::find(gone.begin(), gone.end(), CPageStamps::CRef{item.num, item.gen}) == gone.end())
            left.push_back(&item);
    }
    if (left.size() == items.size())
        return true;
    if (single && left.size() == 1 && left[0]->type == PDF_REF) {
        text.replaceAt(static_cast<size_t>(array.valueBegin), static_cast<size_t>(array.valueEnd),
                       original.substr(static_cast<size_t>(left[0]->valueBegin),
                                       static_cast<size_t>(left[0]->valueEnd - left[0]->valueBegin)));
        return true;
    }
    for (const CPdfEntryLayout& item : items)
        if (std::find(left.begin(), left.end(), &item) == left.end())
            text.cutWithSpacesBefore(original, static_cast<size_t>(array.valueBegin) + 1,
                                     static_cast<size_t>(item.valueBegin), static_cast<size_t>(item.valueEnd));
    return true;
}

bool CPageRewriter::removeFromArray(const std::string& original, CObjectText& text, const CStoredEntry& entry,
                                    EEdit kind, const std::vector<CPageStamps::CRef>& gone, bool single)
{
    if (gone.empty() || !entry.present)
        return true;
    if (entry.type == PDF_ARRAY) {
        CPdfEntryLayout array;
        array.type = PDF_ARRAY;
        array.valueBegin = entry.valueBegin;
        array.valueEnd = entry.valueEnd;
        return removeReferences(original, text, array, gone, single);
    }
    if (entry.type != PDF_REF)
        return false;
    return rewriteObject(entry.num, entry.gen, kind, [&](CObjectText& object, const CPdfObjectHead& head) {
               CPdfEntryLayout array;
               array.type = head.type;
               array.valueBegin = head.valueBegin;
               array.valueEnd = head.valueEnd;
               const std::string bytes = object.bytes(); // as read: the edits place themselves by it
               return removeReferences(bytes, object, array, gone, false);
           }) == EDITED;
}

void CPageRewriter::removeNames(const std::string& original, CObjectText& text, const CPdfDictLayout& layout)
{
    const EEdit kinds[4] = {EDIT_IMAGES, EDIT_EXTGSTATES, EDIT_IMAGES, EDIT_PROPERTIES};
    const char* categories[4] = {"XObject", "ExtGState", "Font", "Properties"};
    for (int c = 0; c < 4; ++c) {
        const CStoredEntry value = storedEntry(layout, categories[c]);
        // Only an entry that names the very object the stamp's mark names goes.
        const auto removeIn = [&](const std::string& bytes, CObjectText& edited, const CPdfDictLayout& names) {
            for (const CPdfEntryLayout& entry : names.entries)
                for (const CPageStamps::CName& name : m_namesToRemove)
                    if (name.category == categories[c] && entry.key == name.name && entry.type == PDF_REF &&
                        entry.num == name.object.num && entry.gen == name.object.gen) {
                        edited.cutWithSpacesBefore(bytes, static_cast<size_t>(names.open) + 2,
                                                   static_cast<size_t>(entry.keyBegin),
                                                   static_cast<size_t>(entry.valueEnd));
                        break;
                    }
        };
        if (value.present && value.type == PDF_DICT) {
            CPdfDictLayout names;
            if (CObjectReader::dictLayoutAt(original, static_cast<size_t>(value.valueBegin), names))
                removeIn(original, text, names);
        } else if (value.present && value.type == PDF_REF) {
            rewriteObject(value.num, value.gen, kinds[c], [&](CObjectText& dict, const CPdfObjectHead& head) {
                if (head.type != PDF_DICT)
                    return false;
                const std::string bytes = dict.bytes();
                removeIn(bytes, dict, head.dict);
                return true;
            });
        }
    }
}

bool CPageRewriter::removeStamps(const std::string& pageText, int pageNum, const CPageRecord& page,
                                 const std::vector<CPageStamps::CFound>& stamps)
{
    if (page.dictOpen < 0)
        return false;
    std::vector<CPageStamps::CRef> streams, annotations;
    bool wasOneStream = false;
    for (const CPageStamps::CFound& stamp : stamps) {
        if (stamp.annotation) {
            annotations.push_back(stamp.annotationObject);
        } else {
            streams.push_back(stamp.stream);
            if (stamp.before.num > 0) // an underlay has no stream before it
                streams.push_back(stamp.before);
            wasOneStream = wasOneStream || stamp.wasOneStream;
        }
    }
    CObjectText text(pageText);
    if (!removeFromArray(pageText, text, page.contents, EDIT_CONTENTS, streams, wasOneStream) ||
        !removeFromArray(pageText, text, page.annots, EDIT_ANNOTS, annotations, false))
        return false;
    if (!streams.empty()) {
        const CStoredEntry& resources = page.resources;
        if (resources.present && resources.type == PDF_DICT) {
            CPdfDictLayout layout;
            if (CObjectReader::dictLayoutAt(pageText, static_cast<size_t>(resources.valueBegin), layout))
                removeNames(pageText, text, layout);
        } else if (resources.present && resources.type == PDF_REF) {
            rewriteObject(resources.num, resources.gen, EDIT_RESOURCES,
                          [&](CObjectText& dict, const CPdfObjectHead& head) {
                              if (head.type != PDF_DICT)
                                  return false;
                              const std::string bytes = dict.bytes();
                              removeNames(bytes, dict, head.dict);
                              return true;
                          });
        }
    }
    nameNewParent(pageText, text, page);
    writeObject(pageNum, text);
    return true;
}

bool CPageRewriter::contentsIsOneStream(const CPageRecord& page)
{
    if (!page.contents.present || page.contents.type != PDF_REF || page.dictOpen < 0)
        return false;
    m_contentsKindOf = page.objectNumber;
    m_contentsKind = objectKind(page.contents.num, page.contents.gen);
    return m_contentsKind == PDF_STREAM;
}

void CPageRewriter::rewriteResources(const std::string& original, CObjectText& text, const CPageRecord& page)
{
    const CStoredEntry& resources = page.resources;
    if (resources.present && resources.type == PDF_DICT) {
        CPdfDictLayout layout;
        if (CObjectReader::dictLayoutAt(original, static_cast<size_t>(resources.valueBegin), layout)) {
            refuseTakenNames(original, layout);
            editResources(text, layout);
        }
        return;
    }
    if (resources.present && resources.type == PDF_REF && editResourcesObject(resources.num, resources.gen) != MISSING)
        return;
    if (!resources.present) {
        // No resources of its own: the page takes over what it inherits,
        // extended with our names, so the stamp shows and nothing is lost.
        const std::string own = resourcesForPage(page);
        if (!own.empty())
            text.insertAt(static_cast<size_t>(page.dictOpen) + 2, "/Resources " + own);
    } else if (resources.type == PDF_REF || resources.type == PDF_NULL) {
        // A null, or a reference to nothing, counts as no resources at all.
        const std::string own = resourcesForPage(page);
        if (!own.empty())
            text.replaceAt(static_cast<size_t>(resources.valueBegin), static_cast<size_t>(resources.valueEnd), own);
    }
}

std::string CPageRewriter::resourcesForPage(const CPageRecord& page)
{
    const std::string ours =
        "<< " + m_imageEntry + " " + m_stateEntry + (m_layerEntry.empty() ? "" : " ") + m_layerEntry + " >>";
    const CInheritedResources* inherited = page.inheritedResources.get();
    if (!inherited)
        return ours;
    if (inherited->kind == CInheritedResources::REFERENCE) {
        if (editResourcesObject(inherited->num, inherited->gen) == MISSING)
            return ours;
        std::string entry = referenceText("", inherited->num, " ");
        appendInteger(entry, inherited->gen);
        return entry + " R";
    }
    if (inherited->kind == CInheritedResources::INLINE) {
        CObjectText text(inherited->text);
        CPdfDictLayout layout;
        if (!CObjectReader::dictLayoutAt(inherited->text, 0, layout))
            return std::string();
        refuseTakenNames(inherited->text, layout);
        editResources(text, layout);
        return text.bytes();
    }
    return std::string(); // an inline dictionary whose text could not be located
}

CPageRewriter::EOutcome CPageRewriter::editResourcesObject(int num, int gen)
{
    return rewriteObject(num, gen, EDIT_RESOURCES, [&](CObjectText& resources, const CPdfObjectHead& head) {
        if (head.type != PDF_DICT)
            return false;
        refuseTakenNames(resources.bytes(), head.dict); // before any edit: the text as read
        editResources(resources, head.dict);
        return true;
    });
}

void CPageRewriter::refuseTaken(EEdit kind, const CPdfDictLayout& names) const
{
    const std::string* ours[2] = {&m_context.gsName, nullptr};
    if (kind == EDIT_IMAGES)
        ours[0] = &m_context.imName, ours[1] = &m_context.im2Name;
    else if (kind == EDIT_PROPERTIES)
        ours[0] = &m_context.layerName;
    for (const std::string* name : ours)
        if (name && !name->empty() && names.find(*name))
            throw CNameTaken{*name};
    if (kind == EDIT_IMAGES)
        for (const std::string& name : m_variantNames)
            if (names.find(name))
                throw CNameTaken{name};
}

void CPageRewriter::refuseTakenNames(std::string_view original, const CPdfDictLayout& layout) const
{
    struct CCategory {
        const char* key;
        EEdit kind;
        const std::string& entry; // ours; empty when nothing is added there
    };
    const CCategory categories[3] = {{m_context.imCategory, EDIT_IMAGES, m_imageEntry},
                                     {"ExtGState", EDIT_EXTGSTATES, m_stateEntry},
                                     {"Properties", EDIT_PROPERTIES, m_layerEntry}};
    for (const CCategory& category : categories) {
        // Those by reference are checked as they are rewritten.
        const CStoredEntry value = storedEntry(layout, category.key);
        CPdfDictLayout names;
        if (!category.entry.empty() && value.present && value.type == PDF_DICT &&
            CObjectReader::dictLayoutAt(original, static_cast<size_t>(value.valueBegin), names))
            refuseTaken(category.kind, names);
    }
}

void CPageRewriter::editResources(CObjectText& text, const CPdfDictLayout& layout)
{
    struct CStep {
        const char* key;
        EEdit kind;
        const std::string& entry;
        const std::string& item;
    };
    const CStep steps[3] = {{m_context.imCategory, EDIT_IMAGES, m_imageEntry, m_imageItem},
                            {"ExtGState", EDIT_EXTGSTATES, m_stateEntry, m_stateItem},
                            {"Properties", EDIT_PROPERTIES, m_layerEntry, m_layerItem}};
    for (const CStep& step : steps) {
        if (step.entry.empty())
            continue;
        const CStoredEntry value = storedEntry(layout, step.key);
        if (!value.present) {
            text.insertAt(static_cast<size_t>(layout.open) + 2, step.entry);
        } else if (value.type == PDF_DICT) {
            text.insertAt(static_cast<size_t>(value.valueBegin) + 2, step.item);
        } else if (value.type == PDF_REF || value.type == PDF_NULL) {
            const EOutcome outcome =
                value.type == PDF_NULL
                    ? MISSING
                    : rewriteObject(value.num, value.gen, step.kind,
                                    [&](CObjectText& dict, const CPdfObjectHead& head) {
                                        if (head.type != PDF_DICT)
                                            return false;
                                        refuseTaken(step.kind, head.dict);
                                        dict.insertAt(static_cast<size_t>(head.dict.open) + 2, step.item);
                                        return true;
                                    });
            // A null, or a reference to nothing, holds no names: ours replace it.
            if (outcome == MISSING)
                text.replaceAt(static_cast<size_t>(value.valueBegin), static_cast<size_t>(value.valueEnd),
                               "<<" + step.item + ">>");
        }
    }
}
