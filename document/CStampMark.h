#pragma once

#include <cstddef>
#include <string>

class CPdfDict;

// What tells a stamp this program wrote from a page's own content: a
// dictionary under /VellicoStamp in the stamp's content stream (the one
// drawn after the page's own, or an underlay's, drawn before it) or in its
// annotation. It holds names, numbers and references only, so nothing in it
// is encrypted, and tools that rewrite the file keep it as it stands.
struct CStampMark {
    enum class EKind { Image, Text, Pdf, Marks };
    // How a dictionary holds a mark.
    enum class ERead {
        None,    // it holds none
        Found,   // one whose id, kind and place were read
        Damaged, // one that cannot be read: never guessed at
    };

    std::string id;
    EKind kind = EKind::Image;
    // Where the stamp is seen on the displayed page, as a dry run says it.
    double x = 0, y = 0, width = 0, height = 0;
    // The name of the layer the stamp is in (UTF-8), read from its group; empty: none.
    std::string layer;
    // Drawn before the page's content, which lies over it (/Underlay true).
    bool underlay = false;

    static constexpr const char* kKey = "VellicoStamp";
    static constexpr const char* kDefaultId = "stamp";
    static constexpr size_t kLongestId = 100;
    // Whether a stamp can carry `id`: 1 to kLongestId letters, digits, "-", "_" and ".".
    static bool isValidId(const std::string& id);
    // "image", "text", "pdf" or "marks".
    static const char* kindName(EKind kind);
    // Where a stamp lies: "annotation", "underlay" or "content".
    static const char* placementName(bool annotation, bool underlay);

    // "/VellicoStamp << /Id /ID /Kind /Image /Displayed [x y w h]", open for
    // the entries a content stamp adds; " >>" closes it.
    std::string openEntry() const;
    // Reads the mark `holder` holds, if any, into this.
    ERead read(const CPdfDict& holder);
};
