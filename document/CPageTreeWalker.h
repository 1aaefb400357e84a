#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/CPageRecord.h"
#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"

class CObjectReader;
class CPdfDict;
class CXrefTable;

// Lists a document's pages in reading order with their boxes, rotation,
// inherited resources and where their entries stand in their text. Each
// node's /Kids is read as a parsed array; a kid is a node or a page by its
// /Type, or by whether it has /Kids when /Type says neither, as viewers do.
class CPageTreeWalker {
public:
    explicit CPageTreeWalker(CObjectReader& reader);

    // Walks the tree below the root node `rootNum`: at most the root's
    // /Count pages are recorded, or all the walk finds when /Count is not an
    // integer. A root that is no dictionary gives no pages, and a root that
    // is a page (/Type /Page) is the only page; kids that do not exist or
    // loop back to a node above them are skipped; each is recorded as a
    // repair. Throws CPdfException "PDF file was damaged" for a tree that
    // never ends.
    // With `stopAfter`, the walk ends once it has recorded that many pages.
    void walkPageTree(int rootNum, std::vector<CPageRecord>& pages, size_t stopAfter = SIZE_MAX);
    // Walks the tree the catalog's /Pages names and returns the page count:
    // the pages found, or, when the walk stopped after `stopAfter`, the
    // root's /Count (an integer, at most the object count) when it is
    // more. A catalog without a tree gives none, recorded as a repair.
    int walkDocument(std::vector<CPageRecord>& pages, size_t stopAfter = SIZE_MAX);
    // The root's /Count when the root is a node whose /Count is an integer,
    // without the walk; else the page count walkDocument gives.
    int countDocument();
    // The root's /Count as walkPageTree() read it: PDF_INT, or PDF_NULL when it has none that is an integer.
    const CPdfObject& rootCount() const { return m_rootCount; }

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
    // A node or page as the walk reads it.
    struct CNode {
        std::string text;      // its object text; empty when it has none
        CPdfObject value;      // its dictionary, as deep as the walk looks (or what the object is), unless `scanned`
        CPdfDictLayout layout; // where its entries stand in `text`, when `laidOut`
        bool laidOut = false;
        // A dictionary in plain syntax, whose values are read from `text`
        // where `layout` says they stand, as the parser would read them.
        bool scanned = false;
    };
    struct CFrame {
        int num = 0;
        std::vector<int> kids;
        size_t next = 0; // the next kid to visit
        CInherited inherited;
    };

    // The root node the catalog's /Pages names; -1 when it names none.
    int pagesRoot() const;
    // Reads object `num`: from its text when that serves (as its head was
    // scanned when plain, else by a shallow parse), else by fetching it.
    void readNode(int num, CNode& node);
    bool readScanned(int num, CPdfObjectHead& head, CNode& node) const;
    // Whether `node` is a dictionary (a node or a page can be nothing else).
    static bool isDictionary(const CNode& node) { return node.scanned || node.value.type() == PDF_DICT; }
    // The value of `key` in `node`'s dictionary as written, a reference unresolved; PDF_NULL when absent.
    void entry(const CNode& node, const char* key, CPdfObject& out) const;
    // A box given as an array of four numbers (items may be references),
    // lower-left corner first; false when `node` has no such entry `key`.
    bool readBox(const CNode& node, const char* key, float box[4]) const;
    bool readRotate(const CNode& node, int& rotate) const;
    bool readParsed(int num, CNode& node) const;
    // Whether `node` is a page tree node rather than a page.
    bool isTreeNode(const CNode& node) const;
    // Whether `node` says it is a page (/Type /Page).
    bool isPage(const CNode& node) const;
    // Records page `num` (its text too, within the budget, at its first place).
    void keepPage(int num, const CInherited& parent, CNode& node, std::vector<CPageRecord>& pages);
    // The kids a node lists, by object number.
    std::vector<int> kidsOf(const CNode& node) const;
    // The attributes `node` sets, on top of what its parent passed on.
    CInherited inherit(const CInherited& parent, const CNode& node) const;
    // Fills `page`, a new record, for page `num`.
    void makePage(CPageRecord& page, int num, const CInherited& parent, const CNode& node) const;
    // The value of `key` in `node`'s dictionary, a reference resolved.
    void resolvedEntry(const CNode& node, const char* key, CPdfObject& out) const;

    CObjectReader& m_reader;
    CXrefTable& m_xref;
    CPdfObject m_rootCount;
    size_t m_textBudget = kPageTextBudget;
    std::vector<bool> m_listed; // by object number: a page recorded already
};
