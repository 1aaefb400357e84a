#pragma once

#include <memory>
#include <string>
#include <vector>

#include "stamp/CPageRecord.h"

class CFileSource;
class CPdfObject;
class CPdfDict;
class CXrefTable;

// Lists a document's pages in reading order with their boxes, rotation and
// inherited resources. Kids are read from each node's text as pairs of
// numbers after "/Kids"; each kid is fetched to tell nodes from pages and to
// read the inheritable attributes from its dictionary.
class CPageTreeWalker {
public:
    // `pageLimit`: no more records than this (the root's /Count).
    CPageTreeWalker(CFileSource& input, CXrefTable& xref, int pageLimit);

    // Walks the tree below the root node `rootNum` whose text is `rootText`.
    // Throws CPdfException "PDF file was damaged" for a kid that does not
    // exist, a node that contains itself, or a tree that never ends, and
    // "Corrupted PDF file" for a kid numbered beyond the table.
    void walk(int rootNum, const std::string& rootText, std::vector<CPageRecord>& pages);

    static constexpr float kDefaultBox[4] = {0, 0, 612, 792}; // US Letter, when no box is given anywhere
    // Page texts kept for the rewrite take at most this much memory in all.
    static constexpr size_t kPageTextBudget = 8 * 1024 * 1024;

private:
    // What a node passes on to everything below it.
    struct CInherited {
        bool hasCropBox = false;
        float cropBox[4] = {0, 0, 0, 0};
        bool hasMediaBox = false;
        float mediaBox[4] = {0, 0, 0, 0};
        bool hasRotate = false;
        int rotate = 0;
        std::shared_ptr<const CInheritedResources> resources;
    };
    struct CFrame {
        int num = 0;
        std::string text;
        size_t position = 0; // next byte of the kid list to scan
        bool pending = false;
        uint32_t pendingNum = 0;
        CInherited inherited;
    };

    // The attributes `dict` (may be null) sets, on top of what its parent passed on.
    CInherited inherit(const CInherited& parent, CPdfDict* dict, const std::string& text) const;
    CPageRecord makePage(int num, const CInherited& parent, CPdfDict* dict) const;
    // Kid `num` as a parsed value, from its text `text` when that serves
    // (then true: the text is the object's, as the walk would fetch it).
    bool readKid(int num, const std::string& text, CPdfObject& out) const;
    // The same when the text is plain enough to be scanned and its header
    // names the object; false otherwise. `deep`: only when every level is
    // plain, so that the result is also what a full parse gives.
    bool readScanned(int num, const std::string& text, CPdfObject& out, bool deep) const;
    // Scans the top frame's kid list up to its next kid; -1 when the list ends.
    int64_t nextKid(CFrame& frame) const;

    CFileSource& m_input;
    CXrefTable& m_xref;
    int m_pageLimit;
    size_t m_textBudget = kPageTextBudget;
};
