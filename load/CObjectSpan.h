#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/CPdfObject.h"

// Where the text of an uncompressed object lies in the input file: from its
// "N G obj" through the byte after its "endobj", with what was learnt on the way.
struct CObjectSpan {
    int64_t start = 0;
    int64_t length = 0;
    int num = -1; // the header's numbers
    int gen = 0;
    EPdfType type = PDF_NONE;    // of its value; PDF_STREAM for a stream
    bool isObjectStream = false; // a stream whose /Type is /ObjStm
    // No "endobj" follows the value (or "endstream"): the text ends there,
    // and a copy must add kEndobj.
    bool endobjMissing = false;
    static constexpr const char* kEndobj = "\nendobj\n";
    // A stream whose /Length is wrong or missing: a copy puts lengthText in
    // place of the file's bytes [lengthBegin, lengthEnd) (its /Length value,
    // or nothing before the dictionary's ">>" when it has none).
    int64_t lengthBegin = -1;
    int64_t lengthEnd = -1;
    std::string lengthText;
    bool lengthCorrected() const { return lengthBegin >= 0; }
    // A stream without "endstream" before its "endobj": a copy writes
    // endstreamText at file position endstreamAt, where its data ends (the
    // file's line end, when there is one, follows it there).
    int64_t endstreamAt = -1;
    std::string_view endstreamText;
    static constexpr std::string_view kEndstream = "\nendstream";
    static constexpr std::string_view kEndstreamLine = "\nendstream\n";

    // The copy with its repairs, in order: copy(begin, length) for bytes of
    // the file, write(text) for what the repairs put in.
    template <class Copy, class Write>
    void forEachPiece(Copy&& copy, Write&& write) const
    {
        int64_t at = start;
        if (lengthCorrected()) {
            copy(at, lengthBegin - at);
            write(std::string_view(lengthText));
            at = lengthEnd;
        }
        if (endstreamAt >= 0) {
            copy(at, endstreamAt - at);
            write(endstreamText);
            at = endstreamAt;
        }
        copy(at, start + length - at);
        if (endobjMissing)
            write(std::string_view(kEndobj));
    }
};
