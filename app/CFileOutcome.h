#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/CStampMark.h"

class CPdfException;

// What became of one input file: one line of the report, and what a worker
// hands back to the program that started it (WorkerChannel packs it).
struct CFileOutcome {
    enum EStatus { STAMPED, REFUSED, FAILED, SKIPPED };

    std::optional<size_t> position; // in a list: the line's place in it, from 0 (blank lines skipped)
    std::string input;
    std::string output;
    EStatus status = STAMPED;
    std::string message; // why it was refused or failed, without line breaks around it
    std::vector<std::string> warnings;
    int pages = -1; // -1: not known (the file failed before its pages were counted)
    int pagesStamped = -1;
    bool encrypted = false;
    bool repaired = false;
    double seconds = 0;
    int64_t inputBytes = -1; // -1: no such file
    int64_t outputBytes = 0;
    bool dryRun = false;
    // A run with {bates}: the numbers of the file's first and last stamped
    // pages (empty when none was stamped), and when it failed after a
    // batch gave it a range, that range, now unused.
    bool numbered = false;
    std::string batesFirst, batesLast;
    std::string unusedFirst, unusedLast;
    struct CPlaced {
        int page;
        CStampMark mark;
        bool annotation;
    };
    // In a dry run: where each stamp would go; in a --list run, the stamps found.
    std::vector<CPlaced> stamps;
    bool listed = false; // a --list run

    // Stamped, or skipped for an output that was there (--skip-existing).
    bool succeeded() const { return status == STAMPED || status == SKIPPED; }
    // Records `error` as the reason the file was not stamped.
    void fail(const CPdfException& error);
    // The report's line for it: one JSON object and a line break.
    std::string jsonLine() const;
};

// `value` with at most `decimals` decimals and no trailing zeros ("12.5",
// "0"), as the console and the report show numbers.
std::string decimalText(double value, int decimals);

// `text` as a JSON string. Bytes that are not UTF-8 are written as the
// escapes \udc80 to \udcff (one per byte, as Python's "surrogateescape"
// reads them), so that every byte of a name is kept.
std::string jsonString(const std::string& text);
