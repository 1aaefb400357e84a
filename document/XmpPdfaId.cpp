#include "document/XmpPdfaId.h"

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kPdfaIdNamespace = "http://www.aiim.org/pdfa/ns/id/";

// Open elements are nested at most this deep; XMP packets need a dozen levels.
constexpr size_t kMaxDepth = 256;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

int partNumber(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 2)
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A small XML reader: elements, attributes and namespace scopes; comments,
// processing instructions, CDATA and the doctype are passed over.
class CXmlScan {
public:
    explicit CXmlScan(std::string_view xml) : m_xml(xml) {}

    int pdfaPart()
    {
        while (m_at < m_xml.size()) {
            const size_t open = m_xml.find('<', m_at);
            if (open == std::string_view::npos)
                return 0;
            if (m_partElement >= 0) // the text of a pdfaid:part element
                m_text.append(m_xml.substr(m_at, open - m_at));
            m_at = open;
            if (!step())
                return 0;
            if (m_found > 0)
                return m_found;
        }
        return 0;
    }

private:
    struct CElement {
        std::string name;
        std::vector<std::pair<std::string, std::string>> bindings; // prefix, namespace
    };

    bool skipPast(std::string_view end)
    {
        const size_t found = m_xml.find(end, m_at);
        if (found == std::string_view::npos)
            return false;
        m_at = found + end.size();
        return true;
    }

    // One markup construct starting at m_at ('<'); false on damage.
    bool step()
    {
        const std::string_view rest = m_xml.substr(m_at);
        if (rest.compare(0, 4, "<!--") == 0)
            return skipPast("-->");
        if (rest.compare(0, 2, "<?") == 0)
            return skipPast("?>");
        if (rest.compare(0, 9, "<![CDATA[") == 0) {
            const size_t end = m_xml.find("]]>", m_at);
            if (end == std::string_view::npos)
                return false;
            if (m_partElement >= 0)
                m_text.append(m_xml.substr(m_at + 9, end - m_at - 9));
            m_at = end + 3;
            return true;
        }
        if (rest.compare(0, 2, "<!") == 0)
            return skipPast(">");
        if (rest.compare(0, 2, "</") == 0)
            return endTag();
        return startTag();
    }

    bool endTag()
    {
        if (!skipPast(">") || m_open.empty())
            return false;
        if (m_partElement == static_cast<int>(m_open.size()) - 1) {
            m_found = partNumber(m_text);
            m_partElement = -1;
            m_text.clear();
        }
        m_open.pop_back();
        return true;
    }

    std::string name()
    {
        const size_t begin = m_at;
        while (m_at < m_xml.size() && !isSpace(m_xml[m_at]) && m_xml[m_at] != '>' && m_xml[m_at] != '/' &&
               m_xml[m_at] != '=')
            ++m_at;
        return std::string(m_xml.substr(begin, m_at - begin));
    }

    void skipSpaces()
    {
        while (m_at < m_xml.size() && isSpace(m_xml[m_at]))
            ++m_at;
    }

    // The namespace `prefix` is bound to in the open elements, innermost first.
    std::string_view namespaceOf(std::string_view prefix) const
    {
        for (auto element = m_open.rbegin(); element != m_open.rend(); ++element)
            for (const auto& binding : element->bindings)
                if (binding.first == prefix)
                    return binding.second;
        return {};
    }

    bool inPdfaId(const std::string& qualified, std::string_view local) const
    {
        const size_t colon = qualified.find(':');
        if (colon == std::string::npos || qualified.compare(colon + 1, std::string::npos, local) != 0)
            return false;
        return namespaceOf(std::string_view(qualified).substr(0, colon)) == kPdfaIdNamespace;
    }

    bool startTag()
    {
        ++m_at;
        CElement element;
        element.name = name();
        if (element.name.empty() || m_open.size() >= kMaxDepth)
            return false;
        std::vector<std::pair<std::string, std::string>> attributes;
        for (;;) {
            skipSpaces();
            if (m_at >= m_xml.size())
                return false;
            if (m_xml[m_at] == '>' || m_xml[m_at] == '/')
                break;
            std::string attribute = name();
            skipSpaces();
            if (attribute.empty() || m_at >= m_xml.size() || m_xml[m_at] != '=')
                return false;
            ++m_at;
            skipSpaces();
            if (m_at >= m_xml.size() || (m_xml[m_at] != '"' && m_xml[m_at] != '\''))
                return false;
            const size_t end = m_xml.find(m_xml[m_at], m_at + 1);
            if (end == std::string_view::npos)
                return false;
            std::string value(m_xml.substr(m_at + 1, end - m_at - 1));
            m_at = end + 1;
            if (attribute.compare(0, 6, "xmlns:") == 0)
                element.bindings.emplace_back(attribute.substr(6), value);
            else
                attributes.emplace_back(std::move(attribute), std::move(value));
        }
        const bool empty = m_xml[m_at] == '/';
        if (!skipPast(">"))
            return false;
        m_open.push_back(std::move(element));
        for (const auto& attribute : attributes)
            if (inPdfaId(attribute.first, "part"))
                m_found = partNumber(attribute.second);
        if (empty)
            m_open.pop_back();
        else if (inPdfaId(m_open.back().name, "part"))
            m_partElement = static_cast<int>(m_open.size()) - 1;
        return true;
    }

    std::string_view m_xml;
    size_t m_at = 0;
    std::vector<CElement> m_open;
    int m_partElement = -1; // the depth of an open pdfaid:part element, whose text is gathered
    std::string m_text;
    int m_found = 0;
};

} // namespace

int pdfaPartOf(std::string_view xmp) { return CXmlScan(xmp).pdfaPart(); }
