#pragma once

#include <string>
#include <vector>

#include "document/CStampMark.h"

class CPdfDict;
class CPdfFile;
struct CPageRecord;

// The stamps this program wrote on one page, found by their marks: in the
// streams of the page's /Contents and in its annotations.
class CPageStamps {
public:
    struct CRef {
        int num = 0;
        int gen = 0;
        bool operator==(const CRef& other) const { return num == other.num && gen == other.gen; }
    };
    // A resource entry the stamp added to the page: /category << /name ref >>.
    struct CName {
        std::string category;
        std::string name;
        CRef object;
    };
    struct CFound {
        CStampMark mark;
        bool annotation = false;
        // A content stamp: its stream, and the stream before the page's own
        // content that goes with it (0 for an underlay, whose stream is that one).
        CRef stream;
        CRef before;
        bool wasOneStream = false; // the page's /Contents was one stream before the stamp
        std::vector<CName> names;
        // An annotation stamp: the annotation (0 when written in place).
        CRef annotationObject;
        // The optional content group the stamp is in (0: none).
        CRef layerGroup;
    };

    // Reads the marks on `page` of `input`, content stamps first, each in
    // the order the page draws it.
    CPageStamps(CPdfFile& input, const CPageRecord& page);

    const std::vector<CFound>& found() const { return m_found; }
    // How many marks are there but cannot be read, or are not whole (damaged,
    // or half removed by another tool): they are left as they are.
    int damaged() const { return m_damaged; }
    // The warning for pages (1-based) with such marks.
    static std::string damagedWarning(const std::vector<int>& pages);

private:
    // Reads the mark of `holder`, the dictionary of the stream or annotation
    // `object` (0 for one written in place); `contents` are the page's streams.
    void readMark(const CPdfDict* holder, CRef object, bool annotation, const std::vector<CRef>& contents);

    std::vector<CFound> m_found;
    int m_damaged = 0;
};
