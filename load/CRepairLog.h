#pragma once

#include <set>
#include <string>
#include <vector>

// What the reader repaired in a damaged file, gathered by kind so that each
// kind comes out as one warning line. The job that reads the file owns it
// and prints it; the reader only records.
class CRepairLog {
public:
    // The cross-reference data could not be used, for the reason `why`, and
    // was rebuilt from a scan.
    void tableRebuilt(int objectsFound, std::string why)
    {
        m_rebuiltFrom = objectsFound;
        m_rebuildReason = std::move(why);
    }
    // Object `num` was not at its recorded offset and was found elsewhere.
    void foundByScan(int num) { m_foundByScan.insert(num); }
    // Object `num` is listed in use but stands nowhere in the file.
    void missing(int num) { m_missing.insert(num); }
    // Object `num` has a header but its text could not be read.
    void unreadable(int num) { m_unreadable.insert(num); }
    // Page tree kid `num` is missing, or loops back to a node above it: skipped.
    void skippedKid(int num) { m_skippedKids.insert(num); }
    // The catalog names no page tree: the document is copied without a stamp.
    void noPageTree() { m_noPageTree = true; }
    // Stream `num` does not end where its /Length says; with
    // `endstreamMissing`, its data ends at its "endobj".
    void wrongLength(int num, bool endstreamMissing = false)
    {
        m_wrongLength.insert(num);
        if (endstreamMissing)
            m_endstreamMissing.insert(num);
    }
    // The catalog's /Pages names page `num`, not a page tree node: the
    // document is taken as that one page.
    void pagesIsAPage(int num) { m_pagesIsAPage = num; }

    // One line per kind, without the "Warning: " prefix.
    std::vector<std::string> lines() const;
    void clear() { *this = CRepairLog(); }

private:
    int m_rebuiltFrom = -1;
    std::string m_rebuildReason;
    std::set<int> m_foundByScan;
    std::set<int> m_missing;
    std::set<int> m_unreadable;
    std::set<int> m_wrongLength;
    std::set<int> m_endstreamMissing; // among m_wrongLength
    std::set<int> m_skippedKids;
    bool m_noPageTree = false;
    int m_pagesIsAPage = -1;
};
