#include "document/CPageStamps.h"

#include <algorithm>

#include "document/CPageRecord.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfStream.h"

namespace {

// The dictionary of `value` where it is a stream; null otherwise.
const CPdfDict* streamDictOf(const CPdfObject& value)
{
    return value.type() == PDF_STREAM && value.streamValue() ? value.streamValue()->streamDict() : nullptr;
}

CPageStamps::CRef refOf(const CPdfObject& value)
{
    return value.type() == PDF_REF ? CPageStamps::CRef{value.refNum(), value.refGen()} : CPageStamps::CRef{};
}

// The resource entries a mark's /Names lists; false when it is no dictionary of dictionaries of references.
bool readNames(const CPdfDict& mark, std::vector<CPageStamps::CName>& names)
{
    CPdfObject all;
    mark.getValue("Names", all);
    if (all.type() != PDF_DICT)
        return false;
    for (const auto& [category, value] : all.dictValue()->entries()) {
        CPdfObject entries;
        all.dictValue()->getValue(category.c_str(), entries);
        if (entries.type() != PDF_DICT)
            return false;
        for (const auto& [name, item] : entries.dictValue()->entries()) {
            if (item.type() != PDF_REF)
                return false;
            names.push_back({category, name, refOf(item)});
        }
    }
    return true;
}

// The streams of `page`'s /Contents, read from the walk's layout and the
// objects' heads rather than fetched; false where they cannot be read so.
bool contentsRefs(CPdfFile& input, const CPageRecord& page, std::vector<std::pair<int, int>>& refs)
{
    const CStoredEntry& contents = page.contents;
    if (page.dictOpen < 0)
        return false;
    if (!contents.present)
        return true;
    CObjectReader& reader = input.reader();
    CPdfObjectHead head;
    CPdfEntryLayout array;
    array.type = PDF_ARRAY;
    if (contents.type == PDF_REF) {
        if (!reader.head(contents.num, head) || head.num != contents.num)
            return false;
        if (head.isStream()) {
            refs.emplace_back(contents.num, contents.gen);
            return true;
        }
        const std::string text = reader.text(contents.num, &head);
        array.type = head.type;
        array.valueBegin = head.valueBegin;
        array.valueEnd = head.valueEnd;
        return head.type == PDF_ARRAY && CPdfDictScanner::referenceList(text, array, refs);
    }
    if (contents.type != PDF_ARRAY)
        return contents.type == PDF_NULL;
    array.valueBegin = contents.valueBegin;
    array.valueEnd = contents.valueEnd;
    return CPdfDictScanner::referenceList(page.text.empty() ? reader.text(page.objectNumber) : page.text, array, refs);
}

} // namespace

CPageStamps::CPageStamps(CPdfFile& input, const CPageRecord& page)
{
    CXrefTable& xref = input.xref();
    if (page.objectNumber <= 0 || page.objectNumber >= xref.recordCount())
        return;
    // Most streams carry no mark, as their heads say: a page without
    // stamps costs little more than the walk, and a stamp's own stream is
    // all that is read whole.
    std::vector<std::pair<int, int>> streams;
    if (!page.annots.present && contentsRefs(input, page, streams)) {
        std::vector<CRef> refs;
        for (const auto& [num, gen] : streams)
            refs.push_back({num, gen});
        for (const CRef& ref : refs) {
            CPdfObjectHead head;
            if (!input.reader().head(ref.num, head) || head.num != ref.num || !head.isStream() ||
                !head.dict.find(CStampMark::kKey))
                continue;
            try {
                const std::string text = input.reader().text(ref.num, &head);
                CPdfObject dict;
                CPdfParser parser(&xref, new CPdfMemoryStream(
                                             nullptr, reinterpret_cast<const uint8_t*>(text.data()) + head.valueBegin,
                                             static_cast<size_t>(head.valueEnd - head.valueBegin)));
                parser.parseObject(dict);
                readMark(dict.type() == PDF_DICT ? dict.dictValue() : nullptr, ref, false, refs);
            } catch (const CPdfException&) {
                ++m_damaged;
            }
        }
        return;
    }
    try {
        CPdfObject object;
        xref.fetchObjectOrNull(page.objectNumber, xref.records()[static_cast<size_t>(page.objectNumber)].objectGen(),
                               object);
        if (object.type() != PDF_DICT)
            return;
        CPdfObject contents;
        object.dictValue()->getValue("Contents", contents);
        std::vector<CPdfObject> streams;
        std::vector<CRef> refs;
        if (contents.type() == PDF_ARRAY) {
            for (int i = 0; i < contents.arrayValue()->count(); ++i) {
                CPdfObject item;
                contents.arrayValue()->getItemUnresolved(i, item);
                refs.push_back(refOf(item));
                contents.arrayValue()->getItem(i, item);
                streams.push_back(item);
            }
        } else {
            CPdfObject stored;
            object.dictValue()->getValueUnresolved("Contents", stored);
            refs.push_back(refOf(stored));
            streams.push_back(contents);
        }
        for (size_t i = 0; i < streams.size(); ++i)
            readMark(streamDictOf(streams[i]), refs[i], false, refs);
        CPdfObject annots;
        object.dictValue()->getValue("Annots", annots);
        if (annots.type() == PDF_ARRAY) {
            for (int i = 0; i < annots.arrayValue()->count(); ++i) {
                CPdfObject item, stored;
                annots.arrayValue()->getItemUnresolved(i, stored);
                annots.arrayValue()->getItem(i, item);
                readMark(item.type() == PDF_DICT ? item.dictValue() : nullptr, refOf(stored), true, refs);
            }
        }
    } catch (const CPdfException&) {
        // What was read before the damage stands.
    }
}

std::string CPageStamps::damagedWarning(const std::vector<int>& pages)
{
    return "page " + pageList(pages) +
           ": a stamp's mark that cannot be read (damaged, or changed by another tool) is left as it is";
}

void CPageStamps::readMark(const CPdfDict* holder, CRef object, bool annotation, const std::vector<CRef>& contents)
{
    if (!holder)
        return;
    CFound found;
    found.annotation = annotation;
    const CStampMark::ERead read = found.mark.read(*holder);
    if (read == CStampMark::ERead::None)
        return;
    if (read == CStampMark::ERead::Damaged) {
        ++m_damaged;
        return;
    }
    CPdfObject markDict, group;
    holder->getValue(CStampMark::kKey, markDict);
    markDict.dictValue()->getValueUnresolved("Layer", group);
    found.layerGroup = refOf(group);
    if (annotation) {
        found.annotationObject = object;
        m_found.push_back(found);
        return;
    }
    // A content stamp is whole with its stream before the page's content
    // (an underlay is that stream), and the resource entries it names.
    CPdfObject mark, value;
    holder->getValue(CStampMark::kKey, mark);
    mark.dictValue()->getValueUnresolved("Before", value);
    found.stream = object;
    found.before = refOf(value);
    // An underlay names no stream before it: one that does is no mark this program wrote.
    const bool before = found.mark.underlay ? value.type() == PDF_NULL
                                            : found.before.num > 0 && std::find(contents.begin(), contents.end(),
                                                                                found.before) != contents.end();
    mark.dictValue()->getValue("Single", value);
    found.wasOneStream = value.type() == PDF_BOOL && value.boolValue();
    const bool whole = found.stream.num > 0 && before && readNames(*mark.dictValue(), found.names);
    if (!whole) {
        ++m_damaged;
        return;
    }
    m_found.push_back(found);
}
