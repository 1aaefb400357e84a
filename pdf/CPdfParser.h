#pragma once

#include "pdf/CPdfDictLayout.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"

#include <string>
#include <vector>

class CPdfResolver;
class CPdfStream;
class CPdfStreamEndRule;

// Builds complete values (arrays, dictionaries, references, stream objects)
// from the tokens of a lexer, with two tokens of lookahead.
class CPdfParser {
public:
    // Containers are nested at most this deep; deeper input is damaged data,
    // and the limit keeps recursion far from the end of the stack.
    static constexpr int kMaxNestingDepth = 256;

    // `table` may be null (while the cross-reference data itself is read).
    // Takes over the caller's reference to `stream`. With `keepStringBytes`,
    // strings keep their NUL bytes (see CPdfLexer::setKeepStringBytes).
    CPdfParser(CPdfResolver* table, CPdfStream* stream, bool keepStringBytes = false);
    CPdfParser(const CPdfParser&) = delete;
    CPdfParser& operator=(const CPdfParser&) = delete;

    // Parses the next complete object into `out`. When `layout` is given and
    // the object is a dictionary, it receives where the dictionary and its
    // top-level entries stand.
    void parseObject(CPdfObject& out, CPdfDictLayout* layout = nullptr);
    // Parses an indirect object's "N G obj"; false (with the tokens consumed)
    // when the input does not start that way.
    bool parseObjectHeader(int& num, int& gen);
    void advance();
    // Reads what an indirect object starts with: "N G obj", its value as a
    // shallow parse reads it, and the token after it, leaving a stream's data
    // unread; the parser stays in that mode. `value`, when given, receives
    // the value so read. False when the input does not start with "N G obj".
    bool parseObjectHead(CPdfObjectHead& head, CPdfObject* value = nullptr);

    // Where the value the last top-level parseObject call returned stands:
    // from its first token's first byte to just after its last token.
    int64_t valueBegin() const { return m_valueBegin; }
    int64_t valueEnd() const { return m_valueEnd; }
    // Where the current token (the one after the last value) stands.
    int64_t currentBegin() const { return m_currentBegin; }
    int64_t currentEnd() const { return m_currentEnd; }

    // A stream object comes out as its dictionary, and its "stream" keyword
    // stays the current token: for callers that find the data themselves.
    void setStreamsUnread(bool unread) { m_streamsUnread = unread; }
    // Where stream data ends is the input's to decide: without a rule (text
    // in memory holds no data to read) a stream object comes out as an error
    // and its "stream" keyword stays the current token. `num` is the object
    // being read, for the rule's repair log; -1 when none is.
    void setStreamEnds(CPdfStreamEndRule* rule, int num = -1)
    {
        m_streamEnds = rule;
        m_streamNum = num;
    }

    // Containers nested in the one parsed are consumed but not built: they
    // come out empty, of the right kind. For callers that only need to know
    // how the top level is written; the values of the keys in `keepWhole`
    // are parsed one level further (a box's numbers, a resource dictionary's
    // entries).
    void setShallow(bool shallow, std::vector<std::string> keepWhole = {})
    {
        m_shallow = shallow;
        m_keepWhole = std::move(keepWhole);
    }

    const CPdfObject& currentToken() const { return m_current; }
    CPdfStream* stream() const { return m_lexer.stream(); }

private:
    void parseValue(CPdfObject& out, CPdfDictLayout* layout);
    void parseArray(CPdfObject& out);
    void parseDictionary(CPdfObject& out, CPdfDictLayout* layout);
    // Returns a new reference to the stream object's data, or nullptr.
    CPdfStream* buildStream(const CPdfObject& dict);
    // Consumes a container whose opening token is current, through its close.
    void skipContainer();

    CPdfResolver* m_table;
    CPdfObject m_current;
    CPdfObject m_next;
    CPdfLexer m_lexer;
    int64_t m_currentBegin = 0;
    int64_t m_currentEnd = 0;
    int64_t m_nextBegin = 0;
    int64_t m_nextEnd = 0;
    int64_t m_consumedEnd = 0; // just after the last token consumed
    int64_t m_valueBegin = 0;
    int64_t m_valueEnd = 0;
    int m_depth = 0;
    bool m_streamsUnread = false;
    CPdfStreamEndRule* m_streamEnds = nullptr; // not owned
    int m_streamNum = -1;
    bool m_shallow = false;
    std::vector<std::string> m_keepWhole;
    bool m_keepingValue = false; // the top-level value being parsed is kept whole
};
