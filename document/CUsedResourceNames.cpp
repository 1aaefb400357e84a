#include "document/CUsedResourceNames.h"

#include "document/CPageRecord.h"
#include "load/CObjectReader.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObjectHead.h"

CUsedResourceNames::CUsedResourceNames(CObjectReader& reader) : m_reader(reader) {}

void CUsedResourceNames::addPage(const CPageRecord& page)
{
    const CStoredEntry& resources = page.resources;
    if (resources.present && resources.type == PDF_DICT) {
        const std::string read = page.text.empty() ? m_reader.text(page.objectNumber) : std::string();
        const std::string_view text = page.text.empty() ? std::string_view(read) : std::string_view(page.text);
        CPdfDictLayout layout;
        if (CObjectReader::dictLayoutAt(text, static_cast<size_t>(resources.valueBegin), layout))
            addResources(text, layout);
    } else if (resources.present && resources.type == PDF_REF) {
        addResourcesObject(resources.num);
    }
    // What it inherits counts too: the rewrite may give the page a copy of it.
    const CInheritedResources* inherited = page.inheritedResources.get();
    if (!inherited || !m_seenInherited.insert(inherited).second)
        return;
    if (inherited->kind == CInheritedResources::REFERENCE) {
        addResourcesObject(inherited->num);
    } else if (inherited->kind == CInheritedResources::INLINE) {
        CPdfDictLayout layout;
        if (CObjectReader::dictLayoutAt(inherited->text, 0, layout))
            addResources(inherited->text, layout);
    }
}

void CUsedResourceNames::addResources(std::string_view text, const CPdfDictLayout& layout)
{
    for (const CPdfEntryLayout& category : layout.entries) {
        CPdfDictLayout names;
        if (category.type == PDF_DICT &&
            CObjectReader::dictLayoutAt(text, static_cast<size_t>(category.valueBegin), names))
            addKeys(names);
        else if (category.type == PDF_REF && m_seenObjects.insert(category.num).second)
            addKeys(readDict(category.num));
    }
}

void CUsedResourceNames::addResourcesObject(int num)
{
    if (!m_seenObjects.insert(num).second)
        return;
    CPdfObjectHead head;
    const std::string text = m_reader.text(num, &head);
    if (!text.empty() && head.type == PDF_DICT)
        addResources(text, head.dict);
}

CPdfDictLayout CUsedResourceNames::readDict(int num)
{
    CPdfObjectHead head;
    if (m_reader.text(num, &head).empty() || head.type != PDF_DICT)
        return CPdfDictLayout();
    return head.dict;
}

void CUsedResourceNames::addKeys(const CPdfDictLayout& layout)
{
    for (const CPdfEntryLayout& entry : layout.entries)
        m_names.insert(entry.key);
}
