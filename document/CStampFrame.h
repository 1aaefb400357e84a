#pragma once

// How the streams around a page's content bring the stamp back to the
// page's initial graphics state, outside any text object.
struct CStampFrame {
    // The prefix saves the initial state this many times. Every state it
    // saves is the initial one, so up to kPrefixSaves - 1 extra Q of the page
    // restore nothing else, and the stamp's one Q still finds the initial
    // state: no reading of the content is needed for them. Four covers the
    // one or two extra Q that real files have, and keeps the page well
    // within the nesting depth of 28 that viewers are only required to
    // support.
    static constexpr int kPrefixSaves = 4;
    int saves = kPrefixSaves;
    int restores = 1;     // Q before the stamp draws: the states the page left open, plus one
    bool endText = false; // the page leaves a text object open: ET first
};
