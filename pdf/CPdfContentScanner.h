#pragma once

#include <cstddef>
#include <cstdint>

// What a run of page content leaves behind for what follows it: how the
// q/Q depth moved and whether a text object stays open.
struct CContentEffect {
    enum EText { TEXT_AS_BEFORE, TEXT_OPEN, TEXT_CLOSED };
    int64_t lowest = 0; // the lowest depth reached, from 0 at the start (a Q without its q goes below)
    int64_t depth = 0;  // the depth at the end
    EText text = TEXT_AS_BEFORE; // after the last BT or ET, if any

    // The effect of this content followed by `next`.
    CContentEffect then(const CContentEffect& next) const;
    bool operator==(const CContentEffect& other) const
    {
        return lowest == other.lowest && depth == other.depth && text == other.text;
    }
};

// Counts the operators q, Q, BT and ET in content-stream bytes given in any
// number of pieces: tokens, strings, comments and inline images may run
// from one piece into the next. Bytes inside strings, names, comments and
// inline image data are never taken for operators.
class CPdfContentScanner {
public:
    void scan(const uint8_t* bytes, size_t count);
    // Ends the content (a token at the very end counts) and gives its effect.
    CContentEffect finish();

private:
    enum EState {
        NORMAL,
        TOKEN,        // a regular token; the first kTokenKeep bytes kept
        NAME,         // after "/"
        COMMENT,      // after "%", to the line end
        STRING,       // inside ( ), nested m_nesting deep
        STRING_ESCAPE,
        LESS,         // after "<": a hex string or "<<"
        HEX,          // inside < >
        IMAGE_SPACE,  // after "ID": the one white-space byte before the data
        IMAGE_DATA,   // inline image data, ended by white space, "EI", then a delimiter
    };
    static constexpr size_t kTokenKeep = 3;

    void endToken();
    // Ends the token at `p`, the byte after it, stepping over what belongs to an inline image.
    void endTokenAt(const uint8_t*& p);

    EState m_state = NORMAL;
    char m_token[kTokenKeep] = {};
    size_t m_tokenLength = 0;
    int64_t m_nesting = 0;
    bool m_inImageDictionary = false; // between BI and ID
    int m_imageMatch = 0;             // of white space, "E", "I" seen in the data
    CContentEffect m_effect;
};
