#include "document/CObjectEdits.h"

#include "document/CPageRecord.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfObjectHead.h"

CObjectEdits::CEdited* CObjectEdits::load(int num)
{
    if (num <= 0 || num >= m_input.xref().recordCount())
        return nullptr;
    const auto found = m_edited.find(num);
    if (found != m_edited.end())
        return &found->second;
    const std::string text = m_input.reader().text(num);
    if (text.empty())
        return nullptr;
    return &m_edited.emplace(num, CEdited{text, CObjectText(text)}).first->second;
}

bool CObjectEdits::dictOf(int num, CPlace& out)
{
    CEdited* object = load(num);
    CPdfObjectHead head;
    if (!object || !CObjectReader::headOfText(object->original, head) || head.num != num || head.type != PDF_DICT ||
        head.isStream())
        return false;
    out.num = num;
    out.layout = head.dict;
    return true;
}

bool CObjectEdits::dictAt(const CPlace& place, const char* key, CPlace& out)
{
    const CStoredEntry entry = storedEntry(place.layout, key);
    if (entry.present && entry.type == PDF_DICT) {
        out.num = place.num;
        return CObjectReader::dictLayoutAt(m_edited.at(place.num).original, static_cast<size_t>(entry.valueBegin),
                                           out.layout);
    }
    return entry.present && entry.type == PDF_REF && dictOf(entry.num, out);
}

void CObjectEdits::insertInto(const CPlace& place, const std::string& text)
{
    m_edited.at(place.num).text.insertAt(static_cast<size_t>(place.layout.open) + 2, text);
}

void CObjectEdits::appendTo(const CPlace& place, const char* key, const std::string& item, bool make)
{
    CEdited& edited = m_edited.at(place.num);
    const CStoredEntry entry = storedEntry(place.layout, key);
    if (!entry.present) {
        if (make)
            insertInto(place, "/" + std::string(key) + " [" + item + "] ");
    } else if (entry.type == PDF_ARRAY) {
        edited.text.insertAt(static_cast<size_t>(entry.valueEnd) - 1, " " + item);
    } else if (entry.type == PDF_REF) {
        CEdited* array = load(entry.num);
        CPdfObjectHead head;
        if (array && CObjectReader::headOfText(array->original, head) && head.type == PDF_ARRAY)
            array->text.insertAt(static_cast<size_t>(head.valueEnd) - 1, " " + item);
    } else if (make) {
        // A null, or what no array is: the list of ours replaces it.
        edited.text.replaceAt(static_cast<size_t>(entry.valueBegin), static_cast<size_t>(entry.valueEnd),
                              "[" + item + "]");
    }
}

bool CObjectEdits::removeFrom(const CPlace& place, const char* key,
                              const std::function<bool(const CPdfEntryLayout& item, std::string_view text)>& goes)
{
    const CStoredEntry entry = storedEntry(place.layout, key);
    if (!entry.present)
        return true;
    CEdited* holder = &m_edited.at(place.num);
    CPdfEntryLayout array;
    array.type = PDF_ARRAY;
    array.valueBegin = entry.valueBegin;
    array.valueEnd = entry.valueEnd;
    if (entry.type == PDF_REF) {
        CPdfObjectHead head;
        holder = load(entry.num);
        if (!holder || !CObjectReader::headOfText(holder->original, head) || head.type != PDF_ARRAY)
            return false;
        array.valueBegin = head.valueBegin;
        array.valueEnd = head.valueEnd;
    } else if (entry.type != PDF_ARRAY) {
        return false;
    }
    const std::string& text = holder->original;
    std::vector<CPdfEntryLayout> items;
    if (!CPdfDictScanner::arrayItems(text, array, items))
        return false;
    for (const CPdfEntryLayout& item : items) {
        if (!goes(item, text))
            continue;
        holder->text.cutWithSpacesBefore(text, static_cast<size_t>(array.valueBegin) + 1,
                                         static_cast<size_t>(item.valueBegin), static_cast<size_t>(item.valueEnd));
    }
    return true;
}

std::map<int, std::string> CObjectEdits::texts() const
{
    std::map<int, std::string> texts;
    for (const auto& [num, edited] : m_edited)
        if (edited.text.bytes() != edited.original)
            texts.emplace(num, edited.text.bytes());
    return texts;
}
