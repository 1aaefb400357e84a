#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

class CPdfStream;
class CPdfStreamEndRule;

// Where objects really stand in a damaged file: one sequential pass over the
// whole file that notes every "N G obj" header (the last one for a number
// wins, as an update would have it) and every "trailer" keyword. Stream data
// is skipped, ended by the input's stream end rule as an unknown length ends
// it, so that bytes inside it are not taken for headers. Memory grows with
// the objects found, not with the file.
class CObjectScan {
public:
    struct CHeader {
        int num = 0;
        int gen = 0;
        int64_t offset = 0; // of the header's first digit, counted from the document's start
    };

    // Scans `file` from `base` (the "%PDF-" header) to its end, with `ends`
    // the rule for its streams. Numbers above `maxNum` are not objects of any
    // real document and are passed over.
    void run(CPdfStream& file, CPdfStreamEndRule& ends, int64_t base, int64_t maxNum);

    // The last header of object `num`; false when the file has none.
    bool find(int num, CHeader& header) const;
    // Every object's last header, in the order they stand in the file.
    std::vector<CHeader> headersInFileOrder() const;
    // Where each "trailer" keyword ends, counted from the document's start.
    const std::vector<int64_t>& trailers() const { return m_trailers; }

private:
    std::unordered_map<int, CHeader> m_headers;
    std::vector<int64_t> m_trailers;
};
