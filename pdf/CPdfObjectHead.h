#pragma once

#include <cstdint>
#include <string>

#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfObject.h"

// What an indirect object's text starts with: "N G obj", its value, and the
// token after the value, which is "endobj", or "stream" when the value is a
// stream's dictionary. Positions are those of the bytes read.
struct CPdfObjectHead {
    int num = 0;
    int gen = 0;
    EPdfType type = PDF_NONE; // of the value as written: PDF_REF for "N G R"
    int64_t valueBegin = 0;
    int64_t valueEnd = 0;
    CPdfDictLayout dict; // when the value is a dictionary
    std::string keyword; // the token after the value, when it is a keyword
    int64_t keywordBegin = 0;
    int64_t keywordEnd = 0;
    // Read by the dictionary scanner: every value in it is plain syntax,
    // which the scanner's makeValue reads from the same bytes.
    bool plain = false;

    bool endsAtEndobj() const { return keyword == "endobj"; }
    bool isStream() const { return type == PDF_DICT && keyword == "stream"; }
};
