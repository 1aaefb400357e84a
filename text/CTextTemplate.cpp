#include "text/CTextTemplate.h"

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
                       "} is not one of {pages}, {file}, {date} and {date:FORMAT} (write {{ for a brace)");
            at = end;
        } else {
            fixed += c;
        }
    }
    push(EPart::Text);
}

std::vector<std::string> CTextTemplate::lines(const CTextFields& fields) const
{
    CStampDate date;
    (void)date.read(fields.date); // none: the first day of 1970, as a placeholder
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
            lines.back() += date.format(part.text);
            break;
        }
    }
    return lines;
}
