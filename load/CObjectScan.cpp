#include "load/CObjectScan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pdf/CPdfLexer.h"
#include "pdf/CPdfStream.h"
#include "pdf/CPdfStreamEndRule.h"

namespace {

constexpr size_t kChunk = 256 * 1024;
// Context kept on each side of a chunk: enough for a header's two numbers
// and the spaces between them, and for a keyword and the byte after it.
constexpr size_t kContext = 64;

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// The bytes of the file at [start, start + size), fewer at its end.
size_t readAt(CPdfStream& file, int64_t start, uint8_t* target, size_t size)
{
    file.seekPos(start, SEEK_SET);
    return file.readBytes(target, size);
}

} // namespace

void CObjectScan::run(CPdfStream& file, CPdfStreamEndRule& ends, int64_t base, int64_t maxNum)
{
    m_headers.clear();
    m_trailers.clear();
    // A file smaller than a chunk is read whole into a buffer of its size:
    // clearing a full one would cost more than scanning a small file.
    const int64_t rest = file.seekPos(0, SEEK_END) - base;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(
        rest + 1, 4 * static_cast<int64_t>(kContext), static_cast<int64_t>(kContext + kChunk + kContext))));
    int64_t bufferStart = base;
    size_t got = 0;
    bool atEnd = false; // the buffer runs to the end of the file
    // The byte at file position `pos`, or -1 outside the buffer (and before the document).
    auto at = [&](int64_t pos) -> int {
        const int64_t index = pos - bufferStart;
        return index >= 0 && index < static_cast<int64_t>(got) ? buffer[static_cast<size_t>(index)] : -1;
    };
    // Whether ">>" ends the bytes before `pos`, blanks and line ends between.
    auto followsDictionary = [&](int64_t pos) {
        int64_t q = pos - 1;
        while (CPdfLexer::isWhitespace(at(q)))
            --q;
        return at(q) == '>' && at(q - 1) == '>';
    };
    bool inComment = false;

    for (int64_t pos = base;; ++pos) {
        // Keep the context on both sides of `pos` in the buffer.
        if (pos < bufferStart || (!atEnd && pos + static_cast<int64_t>(kContext) >= bufferStart + static_cast<int64_t>(got))) {
            bufferStart = std::max(base, pos - static_cast<int64_t>(kContext));
            got = readAt(file, bufferStart, buffer.data(), buffer.size());
            atEnd = got < buffer.size();
        }
        const int c = at(pos);
        if (c < 0)
            break;
        if (inComment) {
            inComment = c != '\r' && c != '\n';
            continue;
        }
        switch (c) {
        case '%':
            inComment = true;
            break;
        case 'o': {
            if (at(pos + 1) != 'b' || at(pos + 2) != 'j' || CPdfLexer::isRegular(at(pos + 3)) ||
                !CPdfLexer::isWhitespace(at(pos - 1)))
                break;
            // Back over "N G ": the generation, spaces, the number.
            int64_t q = pos - 1;
            while (CPdfLexer::isWhitespace(at(q)))
                --q;
            int64_t gen = 0, scale = 1;
            int digits = 0;
            for (; isDigit(at(q)) && digits < 10; --q, ++digits, scale *= 10)
                gen += (at(q) - '0') * scale;
            if (digits == 0 || !CPdfLexer::isWhitespace(at(q)))
                break;
            while (CPdfLexer::isWhitespace(at(q)))
                --q;
            int64_t num = 0;
            scale = 1;
            digits = 0;
            for (; isDigit(at(q)) && digits < 10; --q, ++digits, scale *= 10)
                num += (at(q) - '0') * scale;
            // The number must start a token: the document's start, a space or a delimiter.
            const bool startsToken = q < base || (at(q) >= 0 && !CPdfLexer::isRegular(at(q)));
            if (digits == 0 || !startsToken || num > maxNum || gen > 65535)
                break;
            CHeader& header = m_headers[static_cast<int>(num)];
            header.num = static_cast<int>(num);
            header.gen = static_cast<int>(gen);
            header.offset = q + 1 - base;
            break;
        }
        case 's': {
            bool keyword = !CPdfLexer::isRegular(at(pos - 1)) && !CPdfLexer::isRegular(at(pos + 6));
            for (int k = 0; k < 6 && keyword; ++k)
                keyword = at(pos + k) == "stream"[k];
            // Strings hold the word too: only a line end right after it, or a
            // dictionary's ">>" before it, makes it the keyword.
            if (!keyword || (at(pos + 6) != '\r' && at(pos + 6) != '\n' && !followsDictionary(pos)))
                break;
            // Data that ends at an "endobj" has lost its "endstream": headers
            // in it are more likely objects of their own than data, and stay found.
            CPdfStreamEnd end;
            if (ends.find(-1, pos + 6, -1, end) && !end.endstreamMissing)
                pos = end.endstreamEnd - 1; // on past "endstream"
            break;
        }
        case 't': {
            bool keyword = !CPdfLexer::isRegular(at(pos - 1)) && !CPdfLexer::isRegular(at(pos + 7));
            for (int k = 0; k < 7 && keyword; ++k)
                keyword = at(pos + k) == "trailer"[k];
            if (keyword)
                m_trailers.push_back(pos + 7 - base);
            break;
        }
        default:
            break;
        }
    }
}

bool CObjectScan::find(int num, CHeader& header) const
{
    auto found = m_headers.find(num);
    if (found == m_headers.end())
        return false;
    header = found->second;
    return true;
}

std::vector<CObjectScan::CHeader> CObjectScan::headersInFileOrder() const
{
    std::vector<CHeader> headers;
    headers.reserve(m_headers.size());
    for (const auto& entry : m_headers)
        headers.push_back(entry.second);
    std::sort(headers.begin(), headers.end(),
              [](const CHeader& a, const CHeader& b) { return a.offset < b.offset; });
    return headers;
}
