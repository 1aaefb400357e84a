#include "pdf/CPdfParser.h"

#include <algorithm>
#include <cstdio>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"
#include "pdf/CPdfStreamEndRule.h"

namespace {

// Counts one level of container nesting for as long as it is open.
class CDepthGuard {
public:
    explicit CDepthGuard(int& depth) : m_depth(depth)
    {
        if (++m_depth > CPdfParser::kMaxNestingDepth) {
            --m_depth;
            throw CPdfException("PDF file was damaged");
        }
    }
    ~CDepthGuard() { --m_depth; }
    CDepthGuard(const CDepthGuard&) = delete;
    CDepthGuard& operator=(const CDepthGuard&) = delete;

private:
    int& m_depth;
};

} // namespace

CPdfParser::CPdfParser(CPdfResolver* table, CPdfStream* stream, bool keepStringBytes)
    : m_table(table), m_lexer(stream)
{
    m_lexer.setKeepStringBytes(keepStringBytes);
    m_lexer.readToken(m_current);
    m_currentBegin = m_lexer.tokenBegin();
    m_currentEnd = m_lexer.tokenEnd();
    m_consumedEnd = m_currentBegin;
    m_lexer.readToken(m_next);
    m_nextBegin = m_lexer.tokenBegin();
    m_nextEnd = m_lexer.tokenEnd();
}

void CPdfParser::advance()
{
    m_consumedEnd = m_currentEnd;
    m_current = std::move(m_next);
    m_currentBegin = m_nextBegin;
    m_currentEnd = m_nextEnd;
    m_lexer.readToken(m_next);
    m_nextBegin = m_lexer.tokenBegin();
    m_nextEnd = m_lexer.tokenEnd();
}

void CPdfParser::parseObject(CPdfObject& out, CPdfDictLayout* layout)
{
    if (layout)
        layout->clear();
    const int64_t begin = m_currentBegin;
    parseValue(out, layout);
    m_valueBegin = begin;
    m_valueEnd = m_consumedEnd;
}

void CPdfParser::parseValue(CPdfObject& out, CPdfDictLayout* layout)
{
    out.clear();
    const bool nested = m_shallow && m_depth > 0 && !(m_depth == 1 && m_keepingValue);
    if (m_current.isKeyword("[")) {
        if (nested) {
            skipContainer();
            out.setNewArray(m_table);
            return;
        }
        parseArray(out);
        return;
    }
    if (m_current.isKeyword("<<")) {
        if (nested) {
            skipContainer();
            out.setNewDict(m_table);
            return;
        }
        parseDictionary(out, layout);
        return;
    }
    if (m_current.type() == PDF_INT) {
        int num = m_current.intValue();
        advance();
        if (m_current.type() == PDF_INT && m_next.isKeyword("R")) {
            out.setRef(num, m_current.intValue());
            advance();
            advance();
        } else {
            out.setInt(num);
        }
        return;
    }
    out.assign(m_current);
    advance();
}

bool CPdfParser::parseObjectHeader(int& num, int& gen)
{
    CPdfObject number, generation, keyword;
    parseValue(number, nullptr);
    parseValue(generation, nullptr);
    parseValue(keyword, nullptr);
    if (number.type() != PDF_INT || generation.type() != PDF_INT || !keyword.isKeyword("obj"))
        return false;
    num = number.intValue();
    gen = generation.intValue();
    return true;
}

bool CPdfParser::parseObjectHead(CPdfObjectHead& head, CPdfObject* value)
{
    head.dict.clear();
    head.keyword.clear();
    head.plain = false;
    if (!parseObjectHeader(head.num, head.gen))
        return false;
    setShallow(true);
    m_streamsUnread = true;
    CPdfObject read;
    CPdfObject& out = value ? *value : read;
    parseObject(out, &head.dict);
    head.type = out.type();
    head.valueBegin = m_valueBegin;
    head.valueEnd = m_valueEnd;
    // Keywords only: brackets are commands too.
    if (m_current.type() == PDF_CMD && CPdfLexer::isRegular(static_cast<unsigned char>(m_current.text()[0]))) {
        head.keyword = m_current.textString();
        head.keywordBegin = m_currentBegin;
        head.keywordEnd = m_currentEnd;
    }
    return true;
}

void CPdfParser::skipContainer()
{
    // The current token opens the container; the lookahead token is already
    // read and counts too. The rest is skipped as bytes, then the two
    // lookahead tokens are read afresh after the container.
    int depth = 1;
    if (m_next.isKeyword("[") || m_next.isKeyword("<<"))
        ++depth;
    else if (m_next.isKeyword("]") || m_next.isKeyword(">>"))
        --depth;
    if (m_next.type() != PDF_EOF) {
        m_lexer.skipOpenContainers(depth);
        m_consumedEnd = m_lexer.stream()->tellPos();
    } else {
        m_consumedEnd = m_currentEnd;
    }
    m_lexer.readToken(m_current);
    m_currentBegin = m_lexer.tokenBegin();
    m_currentEnd = m_lexer.tokenEnd();
    m_lexer.readToken(m_next);
    m_nextBegin = m_lexer.tokenBegin();
    m_nextEnd = m_lexer.tokenEnd();
}

void CPdfParser::parseArray(CPdfObject& out)
{
    CDepthGuard depth(m_depth);
    advance();
    CPdfArray* array = out.setNewArray(m_table);
    CPdfObject item;
    for (;;) {
        if (m_current.isKeyword("]")) {
            advance();
            return;
        }
        // An array left open at the end of the input ends there.
        if (m_current.type() == PDF_EOF)
            return;
        parseValue(item, nullptr);
        array->appendMoved(std::move(item));
        item.clear();
    }
}

void CPdfParser::parseDictionary(CPdfObject& out, CPdfDictLayout* layout)
{
    {
        CDepthGuard depth(m_depth);
        if (layout)
            layout->open = m_currentBegin;
        advance();
        CPdfDict* dict = out.setNewDict(m_table);
        CPdfObject value;
        for (;;) {
            if (m_current.isKeyword(">>"))
                break;
            // A dictionary left open at the end of the input ends there.
            if (m_current.type() == PDF_EOF)
                return;
            if (m_current.type() != PDF_NAME) {
                advance();
                continue;
            }
            std::string key = m_current.textString();
            const int64_t keyBegin = m_currentBegin, keyEnd = m_currentEnd;
            advance();
            if (m_current.type() == PDF_ERROR)
                continue;
            // A key cut off by the end of the input has no value to keep.
            if (m_current.type() == PDF_EOF)
                return;
            m_keepingValue = m_shallow && m_depth == 1 &&
                             std::find(m_keepWhole.begin(), m_keepWhole.end(), key) != m_keepWhole.end();
            const int64_t valueBegin = m_currentBegin;
            parseValue(value, nullptr);
            m_keepingValue = false;
            if (layout) {
                CPdfEntryLayout entry;
                entry.key = key;
                entry.type = value.type();
                if (value.type() == PDF_REF) {
                    entry.num = value.refNum();
                    entry.gen = value.refGen();
                }
                entry.keyBegin = keyBegin;
                entry.keyEnd = keyEnd;
                entry.valueBegin = valueBegin;
                entry.valueEnd = m_consumedEnd;
                layout->entries.push_back(std::move(entry));
            }
            dict->insertMoved(key, std::move(value));
            value.clear();
        }
        if (layout)
            layout->close = m_currentBegin;
    }

    if (!m_next.isKeyword("stream")) {
        advance();
        return;
    }
    if (layout)
        layout->streamKeyword = m_nextBegin;
    if (m_streamsUnread) {
        advance();
        return;
    }
    CPdfStream* stream = buildStream(out);
    if (stream) {
        CPdfRefPtr<CPdfStream> owned = CPdfRefPtr<CPdfStream>::adopt(stream);
        out.setStream(stream); // the value's own reference; ours is dropped on return
    } else {
        out.setError();
    }
}

CPdfStream* CPdfParser::buildStream(const CPdfObject& dict)
{
    if (!m_streamEnds) {
        advance();
        return nullptr;
    }
    CPdfObject length;
    dict.dictValue()->getValue("Length", length);
    // A negative length would seek backwards and could parse the same bytes
    // again for ever; it is as unusable as a missing one.
    const int64_t claimed = length.type() == PDF_INT && length.intValue() >= 0 ? length.intValue() : -1;
    CPdfStream* input = m_lexer.stream();
    CPdfStreamEnd end;
    if (!m_streamEnds->find(m_streamNum, m_nextEnd, claimed, end)) {
        if (claimed >= 0)
            throw CPdfException("Missing 'endstream'");
        input->seekPos(end.dataBegin, SEEK_SET);
        return nullptr;
    }
    // "stream", then the "endstream" the rule found after the data (none
    // when it ends at "endobj").
    input->seekPos(end.dataEnd, SEEK_SET);
    advance();
    if (!end.endstreamMissing)
        advance();
    CPdfRefPtr<CPdfStream> data =
        CPdfRefPtr<CPdfStream>::adopt(input->openStreamData(end.dataBegin, end.dataEnd - end.dataBegin, dict));
    advance();
    return data.detach();
}
