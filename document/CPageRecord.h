#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/CPdfObject.h"

// The /Resources a page inherits from the nearest ancestor that has one.
struct CInheritedResources {
    enum EKind {
        REFERENCE, // "/Resources N G R" in the ancestor
        INLINE,    // a dictionary written in the ancestor's text
        UNKNOWN,   // an inline dictionary whose text could not be located
    };
    EKind kind = UNKNOWN;
    int num = 0;
    int gen = 0;
    std::string text; // INLINE: the dictionary exactly as the ancestor writes it
};

// A dictionary entry as written: its kind, the object it names when it is a
// reference, and where it stands in the object's text.
struct CStoredEntry {
    bool present = false;
    EPdfType type = PDF_NULL;
    int num = 0;
    int gen = 0;
    int64_t keyEnd = 0;     // just after the key
    int64_t valueBegin = 0; // the value's first byte
    int64_t valueEnd = 0;   // just after its last
    int64_t following = -1; // the next token after the value, -1 when none
};

class CPdfDictLayout;
// How the dictionary laid out as `layout` writes its entry `key` (the first
// for the key, the one that counts).
CStoredEntry storedEntry(const CPdfDictLayout& layout, std::string_view key);

// Page numbers as a warning lists them: "1, 4, 9".
std::string pageList(const std::vector<int>& pages);

// One page to stamp, in document order.
struct CPageRecord {
    int objectNumber = 0;
    // The first place the tree lists this page object. A page listed again
    // is one object: it is written, and stamped when selected, at its first place.
    bool firstOccurrence = true;
    float cropBox[4] = {0, 0, 612, 792}; // x0 y0 x1 y1, lower-left first
    float trimBox[4] = {0, 0, 612, 792};
    int rotate = 0; // effective /Rotate: 0, 90, 180 or 270
    // What the nearest ancestor with /Resources has (null when none has),
    // for a page without resources of its own; shared by the pages below
    // that ancestor.
    std::shared_ptr<const CInheritedResources> inheritedResources;
    // Where the page's dictionary opens in its text, and how it writes
    // /Contents, /Resources and /Annots there: what the rewrite needs to know, read
    // while the page was parsed for the walk. -1: the page's text could not
    // be laid out, and the page is left as it is.
    int64_t dictOpen = -1;
    CStoredEntry contents;
    CStoredEntry resources;
    CStoredEntry annots;
    // The page's object text as the walk read it, kept (within a memory
    // budget) so the rewrite need not read it again; empty otherwise.
    std::string text;
    // The catalog's /Pages names this page: no node is above it. The
    // output puts one there, numbered `newParent` (0 until it is written),
    // which the page names as its /Parent.
    bool namedByCatalog = false;
    int newParent = 0;
};
