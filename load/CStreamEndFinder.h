#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "load/CFileSource.h"
#include "pdf/CPdfStreamEndRule.h"

class CRepairLog;

// The one rule for where a stream object's data ends in the input file,
// asked by the parser, the scan of a damaged file and the object copier:
// - the data starts on the line after the "stream" keyword, and /Length is
//   right when "endstream" follows the data it measures;
// - data written on the keyword's own line starts after the blanks that
//   follow the keyword, and /Length is tried from there too;
// - otherwise /Length is wrong or missing: the data runs to the line end
//   before the next "endstream", which must be a keyword of its own;
// - when an "endobj" that ends the object comes first (the "endstream" is
//   missing or misspelt), the data runs to the line end before it, as
//   lenient readers take it; a right /Length never gets that far, so an
//   "endobj" inside the data it measures cuts nothing.
// A wrong length is recorded in the repair log here, and nowhere else.
class CStreamEndFinder final : public CPdfStreamEndRule {
public:
    CStreamEndFinder(std::shared_ptr<CFileSource> file, CRepairLog& log);

    bool find(int num, int64_t keywordEnd, int64_t claimedLength, CPdfStreamEnd& end) override;
    void setRepairLog(CRepairLog& log) { m_log = &log; }

private:
    // Bytes read at once after a keyword or after data: enough for the
    // tokens looked at there in all but odd files, which the lexer reads.
    static constexpr size_t kPeek = 64;
    // Bytes looked at after an "endobj" to see whether it ends an object:
    // another header or the table follows within them in real files, and a
    // bound keeps a file of many such words linear.
    static constexpr size_t kEndobjLook = 256;
    // Bytes looked at for the line end after a "stream" keyword: writers put
    // a few blanks before it, and a bound keeps a line of many streams linear.
    static constexpr int64_t kLineEndLook = 256;

    // Up to `count` bytes at `position`: in place in the cache when one block
    // holds them, else copied into `buffer`. Valid until the next read.
    std::string_view bytesAt(int64_t position, char* buffer, size_t count);
    // After the line end (CR, LF or CR LF) that ends the keyword's line; -1
    // when none stands within `limit` bytes of the keyword.
    int64_t lineAfter(int64_t keywordEnd, int64_t limit = kLineEndLook);
    // The first byte after the blanks that follow the keyword, when it is on
    // the keyword's line; -1 when only blanks stand there.
    int64_t dataOnKeywordLine(int64_t keywordEnd);
    // Whether data from `begin` of `length` bytes is followed by "endstream".
    bool endsAfter(int64_t begin, int64_t length, CPdfStreamEnd& end);
    // Whether "endstream" is the next token at `dataEnd`; sets where it and
    // the "endobj" after it stand.
    bool endstreamAt(int64_t dataEnd, CPdfStreamEnd& end);
    // Whether the token at `position` is an "endobj" that ends an object:
    // what follows it is another object's header, the cross-reference data
    // or the end of the file. The word alone may stand in the data.
    bool objectEndsAt(int64_t position);
    // Where the data ends when /Length does not say: before the first
    // "endstream" or "endobj" at or after `end.dataBegin`, whichever is a
    // keyword and comes first. False when neither is there.
    bool findEndByKeyword(CPdfStreamEnd& end);
    // The first `word` at or after `from`, or -1. Searches already made
    // answer later ones that start within what they passed over, so a file
    // of many broken streams stays linear.
    int64_t firstAfter(std::map<int64_t, int64_t>& searches, std::string_view word, int64_t from);
    // `keyword` (at or after `data`) less the line end before it.
    int64_t lessLineEnd(int64_t keyword, int64_t data);

    std::shared_ptr<CFileSource> m_file;
    CRepairLog* m_log;                              // not owned
    std::map<int64_t, int64_t> m_endstreamSearches; // start -> first "endstream" at or after it, or -1
    std::map<int64_t, int64_t> m_endobjSearches;    // start -> first "endobj" at or after it, or -1
};
