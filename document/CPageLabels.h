#pragma once

#include <map>
#include <set>
#include <string>

class CPdfFile;
class CPdfObject;
class CPdfFile;

// The page labels of a document (the catalog's /PageLabels number tree):
// "iv", "A-3" or "7" as a viewer shows a page's name.
class CPageLabels {
public:
    // Reads the catalog's tree; a missing or damaged one labels every page by its number.
    explicit CPageLabels(CPdfFile& input);

    // The label of page `pageIndex` (0-based), UTF-8; its number where no
    // range of the tree covers it.
    std::string label(int pageIndex) const;

private:
    // A range of pages from its first (the map's key) on.
    struct CRange {
        char style = 0;     // 'D', 'R', 'r', 'A', 'a'; 0: the prefix alone
        std::string prefix; // UTF-8
        int start = 1;      // the number of the range's first page
    };
    // Reads the node `node`, a value of object `num` (generation `gen`), whose strings are encrypted for it.
    void readNode(const CPdfObject& node, int num, int gen, int depth, int& budget);
    // Object `num` (or, for a value that is no reference, `value` itself) with
    // every byte of its strings; false when it cannot be read.
    bool readObject(int num, int gen, CPdfObject& out);
    // A string of object `num` as UTF-8, decrypted when the file is encrypted.
    std::string textOf(const CPdfObject& string, int num, int gen) const;

    CPdfFile& m_input;
    std::set<int> m_visited; // the tree's objects read so far
    std::map<int, CRange> m_ranges;
};
