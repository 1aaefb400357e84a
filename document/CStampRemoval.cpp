#include "document/CStampRemoval.h"

#include <algorithm>

#include "document/CObjectEdits.h"
#include "document/CPageRecord.h"
#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfStream.h"

namespace {

// Stamps' own objects are a handful each; past this the graph is no stamp's.
constexpr size_t kMaxReachable = 100000;

void collectRefs(const CPdfObject& value, std::vector<CPageStamps::CRef>& refs, int depth = 0)
{
    if (depth > 32)
        return;
    if (value.type() == PDF_REF) {
        refs.push_back({value.refNum(), value.refGen()});
    } else if (value.type() == PDF_ARRAY) {
        for (int i = 0; i < value.arrayValue()->count(); ++i) {
            CPdfObject item;
            value.arrayValue()->getItemUnresolved(i, item);
            collectRefs(item, refs, depth + 1);
        }
    } else if (value.type() == PDF_DICT || value.type() == PDF_STREAM) {
        const CPdfDict* dict = value.type() == PDF_DICT ? value.dictValue() : value.streamValue()->streamDict();
        if (dict)
            for (const auto& entry : dict->entries())
                collectRefs(entry.second, refs, depth + 1);
    }
}

// Whether the array `entry` of a page whose text is `pageText` can lose
// items: in place, or in the array object it names; absent holds none.
bool arrayEditable(CPdfFile& input, const std::string& pageText, const CStoredEntry& entry)
{
    std::vector<CPdfEntryLayout> items;
    CPdfEntryLayout array;
    array.type = PDF_ARRAY;
    if (!entry.present)
        return true;
    if (entry.type == PDF_ARRAY) {
        array.valueBegin = entry.valueBegin;
        array.valueEnd = entry.valueEnd;
        return CPdfDictScanner::arrayItems(pageText, array, items);
    }
    if (entry.type != PDF_REF)
        return false;
    CPdfObjectHead head;
    const std::string text = input.reader().text(entry.num, &head);
    array.valueBegin = head.valueBegin;
    array.valueEnd = head.valueEnd;
    return !text.empty() && head.num == entry.num && head.type == PDF_ARRAY &&
           CPdfDictScanner::arrayItems(text, array, items);
}

} // namespace

CStampRemoval::CStampRemoval(CPdfFile& input, const std::vector<CPageRecord>& pages, const std::set<std::string>& ids)
    : m_input(input), m_onPage(pages.size())
{
    m_idsNotFound = ids;
    std::vector<int> damagedPages, uneditablePages;
    std::vector<CPageStamps::CRef> dropRoots, keepRoots, keptOwn;
    std::set<int> groupsGoing, groupsKept;
    for (size_t index = 0; index < pages.size(); ++index) {
        if (!pages[index].firstOccurrence)
            continue;
        const CPageStamps stamps(input, pages[index]);
        if (stamps.damaged() > 0)
            damagedPages.push_back(static_cast<int>(index) + 1);
        // A page whose lists cannot be edited keeps its stamps, and what they use.
        bool contentGoes = false, annotationsGo = false;
        for (const CPageStamps::CFound& found : stamps.found())
            if (ids.empty() || ids.count(found.mark.id) > 0)
                (found.annotation ? annotationsGo : contentGoes) = true;
        bool editable = true;
        if (contentGoes || annotationsGo) {
            const CPageRecord& page = pages[index];
            const std::string text = page.text.empty() ? input.reader().text(page.objectNumber) : page.text;
            editable = page.dictOpen >= 0 && !text.empty() && (!contentGoes || arrayEditable(input, text, page.contents)) &&
                       (!annotationsGo || arrayEditable(input, text, page.annots));
            if (!editable)
                uneditablePages.push_back(static_cast<int>(index) + 1);
        }
        for (const CPageStamps::CFound& found : stamps.found()) {
            const bool wanted = ids.empty() || ids.count(found.mark.id) > 0;
            if (wanted)
                m_idsNotFound.erase(found.mark.id);
            const bool removed = editable && wanted;
            std::vector<CPageStamps::CRef>& roots = removed ? dropRoots : keepRoots;
            for (const CPageStamps::CName& name : found.names) {
                roots.push_back(name.object);
                if (name.category == "Properties")
                    (removed ? groupsGoing : groupsKept).insert(name.object.num);
            }
            if (found.layerGroup.num > 0)
                (removed ? groupsGoing : groupsKept).insert(found.layerGroup.num);
            if (found.annotation) {
                // Its appearance, not the page its /P names.
                CPdfObject annotation, appearance;
                input.xref().fetchObjectOrNull(found.annotationObject.num, found.annotationObject.gen, annotation);
                if (annotation.type() == PDF_DICT)
                    annotation.dictValue()->getValueUnresolved("AP", appearance);
                collectRefs(appearance, roots);
            }
            if (!removed) {
                for (const CPageStamps::CRef& own : {found.stream, found.before, found.annotationObject})
                    keptOwn.push_back(own);
                continue;
            }
            m_onPage[index].push_back(found);
            ++(found.annotation ? m_annotations : m_content);
            for (const CPageStamps::CRef& own : {found.stream, found.before, found.annotationObject})
                if (own.num > 0)
                    m_dropped.insert(own.num);
        }
    }
    if (!uneditablePages.empty())
        m_warnings.push_back("page " + pageList(uneditablePages) +
                             ": its /Contents or /Annots is written in a way that cannot be edited, so its stamps stay");
    if (!damagedPages.empty())
        m_warnings.push_back(CPageStamps::damagedWarning(damagedPages));
    // What the stamps taken off used alone goes with them; with a mark that
    // cannot be read, anything may still be used by it.
    if (damagedPages.empty()) {
        std::set<int> dropped, kept;
        addReachable(dropRoots, dropped);
        addReachable(keepRoots, kept);
        for (int num : dropped)
            if (!kept.count(num))
                m_dropped.insert(num);
        // A layer goes with its last stamp, when the catalog's lists of layers can lose it.
        std::set<int> gone;
        for (int group : groupsGoing)
            if (!groupsKept.count(group))
                gone.insert(group);
        if (!gone.empty() && unlistGroups(gone))
            m_dropped.insert(gone.begin(), gone.end());
        else
            for (int group : groupsGoing)
                m_dropped.erase(group);
    }
    const int64_t base = appendedUpdateBase();
    if (base > 0 && any() && damagedPages.empty()) {
        // Exactly the update: every object of the stamps taken off is in it,
        // and no stamp that stays is.
        bool exact = true;
        for (int num : m_dropped)
            exact = exact && offsetOf(num) >= base;
        std::set<int> kept;
        addReachable(keepRoots, kept);
        for (int num : kept)
            exact = exact && offsetOf(num) < base;
        for (const CPageStamps::CRef& own : keptOwn)
            exact = exact && offsetOf(own.num) < base;
        if (exact)
            m_lastUpdateBase = base;
    }
}

void CStampRemoval::addReachable(std::vector<CPageStamps::CRef> roots, std::set<int>& into) const
{
    CXrefTable& xref = m_input.xref();
    while (!roots.empty() && into.size() < kMaxReachable) {
        const CPageStamps::CRef ref = roots.back();
        roots.pop_back();
        if (ref.num <= 0 || ref.num >= xref.recordCount() || !into.insert(ref.num).second)
            continue;
        try {
            CPdfObject object;
            xref.fetchObjectOrNull(ref.num, ref.gen, object);
            collectRefs(object, roots);
        } catch (const CPdfException&) {
            // An object that cannot be read leads nowhere.
        }
    }
}

bool CStampRemoval::unlistGroups(const std::set<int>& gone)
{
    CObjectEdits edits(m_input);
    CObjectEdits::CPlace catalog, properties, defaults;
    if (!edits.dictOf(m_input.xref().rootNum(), catalog) || !edits.dictAt(catalog, "OCProperties", properties))
        return false;
    const auto isGone = [&](const CPdfEntryLayout& item, std::string_view) {
        return item.type == PDF_REF && gone.count(item.num) > 0;
    };
    // An automatic state of the groups that go alone.
    const auto statesGone = [&](const CPdfEntryLayout& item, std::string_view text) {
        CPdfDictLayout state;
        std::vector<CPdfEntryLayout> groups;
        const CPdfEntryLayout* list = nullptr;
        if (item.type != PDF_DICT || !CObjectReader::dictLayoutAt(text, static_cast<size_t>(item.valueBegin), state) ||
            !(list = state.find("OCGs")) || !CPdfDictScanner::arrayItems(text, *list, groups) || groups.empty())
            return false;
        for (const CPdfEntryLayout& group : groups)
            if (!isGone(group, text))
                return false;
        return true;
    };
    if (!edits.removeFrom(properties, "OCGs", isGone))
        return false;
    if (edits.dictAt(properties, "D", defaults) &&
        !(edits.removeFrom(defaults, "Order", isGone) && edits.removeFrom(defaults, "ON", isGone) &&
          edits.removeFrom(defaults, "OFF", isGone) && edits.removeFrom(defaults, "AS", statesGone)))
        return false;
    m_objectEdits = edits.texts();
    return true;
}

int64_t CStampRemoval::offsetOf(int num) const
{
    const CXrefTable& xref = m_input.xref();
    if (num <= 0 || num >= xref.recordCount())
        return -1;
    const CXrefRecord& record = xref.records()[static_cast<size_t>(num)];
    return record.type == XREF_IN_FILE ? xref.baseOffset() + record.offset : -1;
}

int64_t CStampRemoval::appendedUpdateBase() const
{
    CXrefTable& xref = m_input.xref();
    const CPdfObject& trailer = xref.trailer();
    if (xref.rebuilt() || trailer.type() != PDF_DICT)
        return -1;
    CPdfObject base, previous;
    trailer.dictValue()->getValue("VellicoBase", base);
    trailer.dictValue()->getValue("Prev", previous);
    if (base.type() != PDF_INT || previous.type() != PDF_INT)
        return -1;
    const int64_t length = base.intValue();
    const int64_t newest = xref.baseOffset() + xref.newestSectionOffset();
    // A file another tool wrote again keeps the entry but not the layout it describes.
    if (length <= 0 || length > m_input.file().size() || newest < length ||
        xref.baseOffset() + previous.intValue() >= length)
        return -1;
    char tail[8] = {};
    const int64_t from = std::max<int64_t>(0, length - 7);
    const size_t read = m_input.file().read(from, tail, static_cast<size_t>(length - from));
    const std::string end(tail, read);
    return end.find("%%EOF") != std::string::npos ? length : -1;
}
