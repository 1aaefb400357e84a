#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "document/CPageStamps.h"

class CPdfFile;
struct CPageRecord;

// What taking the stamps of some ids off a document takes: the stamps on
// each page, the objects that only they used, and whether they are exactly
// the last update this program appended to the file.
class CStampRemoval {
public:
    // `ids`: the ids to take off; empty for every stamp. `pages` as the walk found them.
    CStampRemoval(CPdfFile& input, const std::vector<CPageRecord>& pages, const std::set<std::string>& ids);

    // The stamps to take off page `pageIndex`.
    const std::vector<CPageStamps::CFound>& onPage(size_t pageIndex) const { return m_onPage[pageIndex]; }
    bool any() const { return m_content + m_annotations > 0; }
    int contentStamps() const { return m_content; }
    int annotationStamps() const { return m_annotations; }
    // Whether object `num` is used by the stamps taken off alone: not written.
    bool drops(int num) const { return m_dropped.count(num) > 0; }
    // Where the last update begins when the stamps taken off are exactly what
    // it added, so that the file as it was before is its first bytes; -1 otherwise.
    int64_t lastUpdateBase() const { return m_lastUpdateBase; }
    // Objects the removal rewrites besides pages: the catalog's lists of
    // layers that lose their last stamp. By number, each one's new text.
    const std::map<int, std::string>& objectEdits() const { return m_objectEdits; }
    // The ids asked for that no stamp carries.
    const std::set<std::string>& idsNotFound() const { return m_idsNotFound; }
    // What to tell: marks left as they are.
    const std::vector<std::string>& warnings() const { return m_warnings; }

private:
    // Takes the groups `gone` out of the catalog's /OCProperties; false when its lists cannot be edited.
    bool unlistGroups(const std::set<int>& gone);
    // Every object reachable from `roots` through references, each added to `into`.
    void addReachable(std::vector<CPageStamps::CRef> roots, std::set<int>& into) const;
    // The offset where the newest update begins, when this program appended it and the file before it is whole.
    int64_t appendedUpdateBase() const;
    // Where object `num` stands in the file; -1 for one in an object stream or none.
    int64_t offsetOf(int num) const;

    CPdfFile& m_input;
    std::vector<std::vector<CPageStamps::CFound>> m_onPage;
    int m_content = 0;
    int m_annotations = 0;
    std::set<int> m_dropped;
    int64_t m_lastUpdateBase = -1;
    std::set<std::string> m_idsNotFound;
    std::map<int, std::string> m_objectEdits;
    std::vector<std::string> m_warnings;
};
