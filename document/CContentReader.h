#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/CStampFrame.h"
#include "pdf/CPdfContentScanner.h"

class CObjectReader;
class CXrefTable;
struct CPageRecord;

// Learns what a page's own content leaves open (states, a text object), so
// that its stamp can close them. Each content stream is decoded and scanned
// once, however many pages list it; a run decodes at most its budget of
// bytes in all, because decoding every page of a large text file would cost
// several times the rest of the run. What it cannot learn (a filter it does
// not decode, the budget spent) leaves the page with the default frame.
class CContentReader {
public:
    // Decoding and scanning content costs about five times as much per byte
    // as the rest of a run costs per byte of input: a run decodes at most
    // this much content whatever the input's size (what small files hold)...
    static constexpr int64_t kBudgetBase = 128 * 1024;
    // ...and one byte more for each this many bytes of the input, which
    // keeps the reading within a fifth of the run's time.
    static constexpr int64_t kBudgetShare = 32;
    // Unbalanced operators beyond this count are damage, not content to follow.
    static constexpr int64_t kMaxRestores = 4096;

    // `earlierStamp(num)` tells whether object `num` is a stamp an earlier
    // mark pass wrote: content that ends with one ends in the initial state.
    CContentReader(CObjectReader& reader, int64_t budget, std::function<bool(int)> earlierStamp);

    static int64_t budgetFor(int64_t inputSize) { return kBudgetBase + inputSize / kBudgetShare; }

    // The frame for page `page`, whose text is `pageText`.
    CStampFrame frameFor(const std::string& pageText, const CPageRecord& page);
    // The frame for content with `effect`; the default when it is not known.
    static CStampFrame frameFor(const std::optional<CContentEffect>& effect);

    int64_t budgetLeft() const { return m_budget; }

private:
    struct CStreamRef {
        int num = 0;
        int gen = 0;
    };
    // What the page's content leaves; nothing when that cannot be learnt.
    std::optional<CContentEffect> pageEffect(const std::string& pageText, const CPageRecord& page);
    // The streams an array written in `text` lists; false when it is no array.
    static bool arrayItems(const std::string& text, int64_t begin, int64_t end, std::vector<CStreamRef>& items);
    std::optional<CContentEffect> streamEffect(const CStreamRef& stream);
    std::optional<CContentEffect> readStream(const CStreamRef& stream);

    CObjectReader& m_reader;
    CXrefTable& m_xref;
    int64_t m_budget;
    std::function<bool(int)> m_earlierStamp;
    std::unordered_map<int, std::optional<CContentEffect>> m_streams; // by object number
};
