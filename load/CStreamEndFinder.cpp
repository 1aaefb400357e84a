#include "load/CStreamEndFinder.h"

#include <algorithm>
#include <utility>

#include "load/CPdfFileWindowStream.h"
#include "load/CRepairLog.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfObject.h"

CStreamEndFinder::CStreamEndFinder(std::shared_ptr<CFileSource> file, CRepairLog& log)
    : m_file(std::move(file)), m_log(&log)
{
}

bool CStreamEndFinder::find(int num, int64_t keywordEnd, int64_t claimedLength, CPdfStreamEnd& end)
{
    end = CPdfStreamEnd();
    int64_t nextLine = claimedLength >= 0 ? lineAfter(keywordEnd) : -1;
    if (nextLine >= 0 && endsAfter(nextLine, claimedLength, end))
        return true;
    // Data on the keyword's own line ("stream q ... Q"), which lenient
    // readers accept: it starts after the blanks.
    const int64_t onLine = dataOnKeywordLine(keywordEnd);
    if (onLine >= 0 && claimedLength >= 0 && endsAfter(onLine, claimedLength, end))
        return true;
    if (onLine < 0 && nextLine < 0) {
        // Only blanks stand before the line end: passing them all stays linear.
        nextLine = lineAfter(keywordEnd, INT64_MAX);
        if (claimedLength >= 0 && endsAfter(nextLine, claimedLength, end))
            return true;
    }
    end.dataBegin = onLine >= 0 ? onLine : nextLine;
    if (!findEndByKeyword(end))
        return false;
    if (num >= 0)
        m_log->wrongLength(num, end.endstreamMissing);
    return true;
}

std::string_view CStreamEndFinder::bytesAt(int64_t position, char* buffer, size_t count)
{
    if (const CFileSource::Block* block = m_file->peekBlock(position)) {
        const size_t skip = static_cast<size_t>(position - block->offset);
        const size_t held = block->size() - skip;
        if (held >= count || block->offset + static_cast<int64_t>(block->size()) == m_file->size())
            return std::string_view(reinterpret_cast<const char*>(block->data()) + skip, std::min(held, count));
    }
    return std::string_view(buffer, m_file->read(position, buffer, count));
}

int64_t CStreamEndFinder::lineAfter(int64_t keywordEnd, int64_t limit)
{
    char buffer[kPeek];
    for (int64_t at = keywordEnd; at - keywordEnd < limit;) {
        const std::string_view bytes = bytesAt(at, buffer, kPeek);
        if (bytes.empty())
            return at; // the file ends on the keyword's line
        const size_t count =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(bytes.size()), limit - (at - keywordEnd)));
        for (size_t i = 0; i < count; ++i) {
            const int64_t position = at + static_cast<int64_t>(i);
            if (bytes[i] == '\n')
                return position + 1;
            if (bytes[i] == '\r') {
                char next = 0;
                const bool crlf = i + 1 < bytes.size() ? bytes[i + 1] == '\n'
                                                       : m_file->read(position + 1, &next, 1) == 1 && next == '\n';
                return position + (crlf ? 2 : 1);
            }
        }
        at += static_cast<int64_t>(count);
    }
    return -1;
}

int64_t CStreamEndFinder::dataOnKeywordLine(int64_t keywordEnd)
{
    char buffer[kPeek];
    for (int64_t at = keywordEnd;;) {
        const std::string_view bytes = bytesAt(at, buffer, kPeek);
        if (bytes.empty())
            return -1;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == ' ' || c == '\t' || c == '\f')
                continue;
            return c == '\r' || c == '\n' ? -1 : at + static_cast<int64_t>(i);
        }
        at += static_cast<int64_t>(bytes.size());
    }
}

bool CStreamEndFinder::endsAfter(int64_t begin, int64_t length, CPdfStreamEnd& end)
{
    if (!endstreamAt(begin + length, end))
        return false;
    end.dataBegin = begin;
    end.dataEnd = begin + length;
    end.lengthRight = true;
    return true;
}

bool CStreamEndFinder::endstreamAt(int64_t dataEnd, CPdfStreamEnd& end)
{
    char buffer[kPeek];
    const std::string_view bytes = bytesAt(dataEnd, buffer, kPeek);
    const bool complete = dataEnd + static_cast<int64_t>(bytes.size()) >= m_file->size();
    size_t position = 0, begin = 0;
    std::string_view keyword;
    // Plain bytes are read in place; a token that may go on past them is not.
    auto next = [&]() {
        return CPdfDictScanner::scanKeyword(bytes, position, keyword, begin) && (complete || position < bytes.size());
    };
    if (next()) {
        if (keyword != "endstream")
            return false;
        end.endstreamEnd = dataEnd + static_cast<int64_t>(position);
        if (next()) {
            end.endobjBegin = keyword == "endobj" ? dataEnd + static_cast<int64_t>(begin) : -1;
            return true;
        }
    }
    CPdfLexer lexer(new CPdfFileWindowStream(m_file, dataEnd, 0, CPdfObject()));
    CPdfObject token;
    lexer.readToken(token);
    if (!token.isKeyword("endstream"))
        return false;
    end.endstreamEnd = lexer.tokenEnd();
    lexer.readToken(token);
    end.endobjBegin = token.isKeyword("endobj") ? lexer.tokenBegin() : -1;
    return true;
}

bool CStreamEndFinder::objectEndsAt(int64_t position)
{
    char buffer[kEndobjLook];
    const std::string_view bytes = bytesAt(position, buffer, kEndobjLook);
    const bool complete = position + static_cast<int64_t>(bytes.size()) >= m_file->size();
    size_t at = 0;
    // The regular characters from `at` on; a word that ends where the bytes
    // do may go on past them, and counts as none.
    auto word = [&]() {
        const size_t begin = at;
        while (at < bytes.size() && CPdfLexer::isRegular(static_cast<unsigned char>(bytes[at])))
            ++at;
        return at < bytes.size() || complete ? bytes.substr(begin, at - begin) : std::string_view();
    };
    auto skipBlanksAndComments = [&]() {
        while (at < bytes.size()) {
            if (bytes[at] == '%') {
                while (at < bytes.size() && bytes[at] != '\r' && bytes[at] != '\n')
                    ++at;
            } else if (CPdfLexer::isWhitespace(static_cast<unsigned char>(bytes[at]))) {
                ++at;
            } else {
                return;
            }
        }
    };
    auto isNumber = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (word() != "endobj")
        return false;
    skipBlanksAndComments();
    if (at == bytes.size())
        return complete; // the end of the file
    const std::string_view next = word();
    if (next == "xref" || next == "trailer" || next == "startxref")
        return true;
    // "N G obj"
    if (!isNumber(next))
        return false;
    skipBlanksAndComments();
    if (!isNumber(word()))
        return false;
    skipBlanksAndComments();
    return word() == "obj";
}

bool CStreamEndFinder::findEndByKeyword(CPdfStreamEnd& end)
{
    const int64_t data = end.dataBegin;
    const int64_t endstream = firstAfter(m_endstreamSearches, "endstream", data);
    const int64_t endobj = firstAfter(m_endobjSearches, "endobj", data);
    const bool objectEnds = endobj >= 0 && objectEndsAt(endobj);
    if (endstream >= 0 && (!objectEnds || endstream < endobj)) {
        const int64_t dataEnd = lessLineEnd(endstream, data);
        if (endstreamAt(dataEnd, end)) {
            end.dataEnd = dataEnd;
            return true;
        }
    }
    if (!objectEnds)
        return false;
    end.dataEnd = lessLineEnd(endobj, data);
    end.endstreamEnd = end.dataEnd;
    end.endobjBegin = endobj;
    end.endstreamMissing = true;
    return true;
}

int64_t CStreamEndFinder::firstAfter(std::map<int64_t, int64_t>& searches, std::string_view word, int64_t from)
{
    auto known = searches.upper_bound(from);
    if (known != searches.begin()) {
        --known;
        if (known->second < 0 || known->second >= from)
            return known->second;
    }
    const int64_t found = m_file->find(from, word);
    searches[from] = found;
    return found;
}

int64_t CStreamEndFinder::lessLineEnd(int64_t keyword, int64_t data)
{
    // The line end before the keyword is not part of the data.
    int64_t end = keyword;
    char before[2] = {};
    if (end - data >= 2 && m_file->read(end - 2, before, 2) == 2) {
        if (before[1] == '\n')
            end -= before[0] == '\r' ? 2 : 1;
        else if (before[1] == '\r')
            end -= 1;
    } else if (end - data == 1 && m_file->read(end - 1, before, 1) == 1 && (before[0] == '\n' || before[0] == '\r')) {
        end -= 1;
    }
    return end;
}
