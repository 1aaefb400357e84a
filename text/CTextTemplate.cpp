#include "text/CTextTemplate.h"

#include <optional>

#include "pdf/CPdfException.h"
#include "text/CStampDate.h"

namespace {

[[noreturn]] void refuse(const std::string& why)
{
    throw CPdfException(CPdfException::EKind::UsageError, "\n--text " + why + "\n");
}

} // namespace

CTextTemplate::CTextTemplate(const std::string& text)
{
    if (text.empty())
        refuse("needs a text to stamp");
    std::string fixed;
    const auto push = [&](EPart kind, const std::string& format = std::string()) {
        if (!fixed.empty())
            m_parts.push_back({EPart::Text, fixed});
        fixed.clear();
        if (kind != EPart::Text)
            m_parts.push_back({kind, format});
    };
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const char next = at + 1 < text.size() ? text[at + 1] : '\0';
        if (c == '\\' && (next == 'n' || next == '\\')) {
            if (next == 'n')
                push(EPart::LineBreak);
            else
                fixed += '\\';
            ++at;
        } else if ((c == '{' && next == '{') || (c == '}' && next == '}')) {
            fixed += c;
            ++at;
        } else if (c == '}') {
            refuse("has a '}' that closes no field (write }} for a brace): '" + text + "'");
        } else if (c == '{') {
            const size_t end = text.find('}', at);
            if (end == std::string::npos)
                refuse("has a field that is not closed: '" + text.substr(at) + "'");
            const std::string name = text.substr(at + 1, end - at - 1);
            if (name == "pages")
                push(EPart::Pages);
            else if (name == "page" || name == "label" || name == "bates")
                push(name == "page" ? EPart::Page : name == "label" ? EPart::Label : EPart::Bates);
            else if (name == "file")
                push(EPart::File);
            else if (name == "date")
                push(EPart::Date, "%Y-%m-%d");
            else if (name.compare(0, 5, "date:") == 0 && CStampDate::unknownConversion(name.substr(5)).empty())
                push(EPart::Date, name.substr(5));
            else if (name.compare(0, 5, "date:") == 0)
                refuse("field {" + name +
                       "} has a conversion that is not one of %Y %y %m %d %H %M %S %j %B %b %A %a "
                       "%%: '" +
                       CStampDate::unknownConversion(name.substr(5)) + "'");
            else
                refuse("field {" + name +
                       "} is not one of {page}, {pages}, {label}, {file}, {date}, {date:FORMAT} and {bates} "
                       "(write {{ for a brace)");
            at = end;
        } else {
            fixed += c;
        }
    }
    push(EPart::Text);
    for (const CPart& part : m_parts) {
        m_labels = m_labels || part.kind == EPart::Label;
        m_bates = m_bates || part.kind == EPart::Bates;
        m_pageCount = m_pageCount || part.kind == EPart::Pages;
        m_pageFields =
            m_pageFields || part.kind == EPart::Page || part.kind == EPart::Label || part.kind == EPart::Bates;
    }
}

CTextTemplate CTextTemplate::filledFor(const CTextFields& fields) const
{
    CTextTemplate filled;
    filled.m_pageFields = m_pageFields;
    filled.m_labels = m_labels;
    filled.m_bates = m_bates;
    filled.m_pageCount = m_pageCount;
    for (const CPart& part : m_parts) {
        const bool ofFile = part.kind == EPart::Pages || part.kind == EPart::File || part.kind == EPart::Date;
        const bool joins = !filled.m_parts.empty() && filled.m_parts.back().kind == EPart::Text;
        if (!ofFile && part.kind != EPart::Text) {
            filled.m_parts.push_back(part);
            continue;
        }
        // Filled alone, a part of the file's is one line of text.
        CTextTemplate alone;
        alone.m_parts.push_back(part);
        const std::string text = alone.lines(fields).front();
        if (joins)
            filled.m_parts.back().text += text;
        else
            filled.m_parts.push_back({EPart::Text, text});
    }
    return filled;
}

std::vector<std::string> CTextTemplate::lines(const CTextFields& fields, const CPageFields& page) const
{
    std::optional<CStampDate> date; // read at the first {date}
    std::vector<std::string> lines(1);
    for (const CPart& part : m_parts) {
        switch (part.kind) {
        case EPart::Text:
            lines.back() += part.text;
            break;
        case EPart::LineBreak:
            lines.emplace_back();
            break;
        case EPart::Pages:
            lines.back() += std::to_string(fields.pages);
            break;
        case EPart::File:
            lines.back() += fields.file;
            break;
        case EPart::Date:
            if (!date)
                (void)date.emplace().read(fields.date); // none: the first day of 1970, as a placeholder
            lines.back() += date->format(part.text);
            break;
        case EPart::Page:
            lines.back() += std::to_string(page.page);
            break;
        case EPart::Label:
            lines.back() += page.label;
            break;
        case EPart::Bates:
            lines.back() += page.bates;
            break;
        }
    }
    return lines;
}
