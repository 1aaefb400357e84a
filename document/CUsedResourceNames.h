#pragma once

#include <set>
#include <string>
#include <string_view>
#include <unordered_set>

#include "pdf/CPdfDictLayout.h"

class CObjectReader;
struct CPageRecord;

// The names that pages' resources already hold, in any category (/XObject,
// /ExtGState, /Font, /Properties, ...): names an earlier stamp put there
// included. A run picks its own names outside them, since a name repeated in
// a resource dictionary would make the later key win for the page's own
// content too.
class CUsedResourceNames {
public:
    explicit CUsedResourceNames(CObjectReader& reader);

    // Adds the names the resources of `page` hold, its own or inherited.
    void addPage(const CPageRecord& page);
    bool holds(const std::string& name) const { return m_names.count(name) != 0; }

private:
    // A resource dictionary laid out in `text` as `layout`.
    void addResources(std::string_view text, const CPdfDictLayout& layout);
    // Resource dictionary object `num`, read once.
    void addResourcesObject(int num);
    // The layout of dictionary object `num` (no entries when it is none).
    CPdfDictLayout readDict(int num);
    void addKeys(const CPdfDictLayout& layout);

    CObjectReader& m_reader;
    std::set<int> m_seenObjects;
    std::set<const void*> m_seenInherited;
    std::unordered_set<std::string> m_names;
};
