#pragma once

#include <vector>

#include "document/CStampMark.h"

class CPdfFile;
struct CPageRecord;

// The stamps this program wrote on one page, found by their marks: in the
// streams of the page's /Contents and in its annotations.
class CPageStamps {
public:
    struct CFound {
        CStampMark mark;
        bool annotation = false;
    };

    // Reads the marks on `page` of `input`, content stamps first, each in
    // the order the page draws it.
    CPageStamps(CPdfFile& input, const CPageRecord& page);

    const std::vector<CFound>& found() const { return m_found; }
    // How many marks are there but cannot be read (damaged, or half
    // removed by another tool): they are left as they are.
    int damaged() const { return m_damaged; }

private:
    void readMark(const CPdfDict* holder, bool annotation);

    std::vector<CFound> m_found;
    int m_damaged = 0;
};
