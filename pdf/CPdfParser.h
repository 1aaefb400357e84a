#pragma once

#include "pdf/CPdfLexer.h"
#include "pdf/CPdfObject.h"

#include <string>
#include <vector>

class CPdfResolver;
class CPdfStream;

// Builds complete values (arrays, dictionaries, references, stream objects)
// from the tokens of a lexer, with two tokens of lookahead.
class CPdfParser {
public:
    // Containers are nested at most this deep; deeper input is damaged data,
    // and the limit keeps recursion far from the end of the stack.
    static constexpr int kMaxNestingDepth = 256;

    // `table` may be null (while the cross-reference data itself is read).
    // Takes over the caller's reference to `stream`.
    CPdfParser(CPdfResolver* table, CPdfStream* stream);
    CPdfParser(const CPdfParser&) = delete;
    CPdfParser& operator=(const CPdfParser&) = delete;

    // Parses the next complete object into `out`.
    void parseObject(CPdfObject& out);
    // Parses an indirect object's "N G obj"; false (with the tokens consumed)
    // when the input does not start that way.
    bool parseObjectHeader(int& num, int& gen);
    void advance();

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
    void parseArray(CPdfObject& out);
    void parseDictionary(CPdfObject& out);
    // Returns a new reference to the stream object's data, or nullptr.
    CPdfStream* buildStream(const CPdfObject& dict);
    // Consumes a container whose opening token is current, through its close.
    void skipContainer();

    CPdfResolver* m_table;
    CPdfObject m_current;
    CPdfObject m_next;
    CPdfLexer m_lexer;
    int m_depth = 0;
    bool m_shallow = false;
    std::vector<std::string> m_keepWhole;
    bool m_keepingValue = false; // the top-level value being parsed is kept whole
};
