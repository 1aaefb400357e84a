#pragma once

#include <memory>
#include <string>

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
    CPdfObject dict;  // INLINE: the same dictionary, parsed
};

// A dictionary entry as written: its kind, and the object it names when it
// is a reference.
struct CStoredEntry {
    EPdfType type = PDF_NULL;
    int num = 0;
    int gen = 0;
};

class CPdfDict;
// How `dict` (may be null: PDF_NULL) writes its entry `key`.
CStoredEntry storedEntry(const CPdfDict* dict, const char* key);

// One page to stamp, in document order.
struct CPageRecord {
    int objectNumber = 0;
    float cropBox[4] = {0, 0, 612, 792}; // x0 y0 x1 y1, lower-left first
    float trimBox[4] = {0, 0, 612, 792};
    int rotate = 0; // effective /Rotate: 0, 90, 180 or 270
    // Set when the page has no /Resources of its own but an ancestor has;
    // shared by the pages below that ancestor.
    std::shared_ptr<const CInheritedResources> inheritedResources;
    // How the page writes /Contents and /Resources, and for resources written
    // inline, their /XObject and /ExtGState: what the rewrite needs to know,
    // read while the page was parsed for the walk.
    CStoredEntry contents;
    CStoredEntry resources;
    CStoredEntry resourcesXObject;
    CStoredEntry resourcesExtGState;
    // The page's object text as the walk read it, kept (within a memory
    // budget) so the rewrite need not read it again; empty otherwise.
    std::string text;
};
