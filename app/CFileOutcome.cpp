#include "app/CFileOutcome.h"

#include <cstdio>

#include "pdf/CPdfException.h"

namespace {

// The length of the UTF-8 sequence at `at`, 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF are not).
size_t utf8Length(const std::string& text, size_t at)
{
    const auto byte = [&text](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned first = byte(at);
    const auto continuation = [&byte](size_t i) { return (byte(i) & 0xC0u) == 0x80u; };
    if (first >= 0xC2 && first <= 0xDF)
        return continuation(at + 1) ? 2 : 0;
    if (first >= 0xE0 && first <= 0xEF) {
        const unsigned second = byte(at + 1);
        if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second > 0x9F))
            return 0;
        return continuation(at + 1) && continuation(at + 2) ? 3 : 0;
    }
    if (first >= 0xF0 && first <= 0xF4) {
        const unsigned second = byte(at + 1);
        if ((first == 0xF0 && second < 0x90) || (first == 0xF4 && second > 0x8F))
            return 0;
        return continuation(at + 1) && continuation(at + 2) && continuation(at + 3) ? 4 : 0;
    }
    return 0;
}

std::string known(int64_t value) { return value < 0 ? "null" : std::to_string(value); }

const char* statusName(CFileOutcome::EStatus status)
{
    return status == CFileOutcome::STAMPED   ? "stamped"
           : status == CFileOutcome::REFUSED ? "refused"
           : status == CFileOutcome::SKIPPED ? "skipped"
                                             : "failed";
}

} // namespace

void CFileOutcome::fail(const CPdfException& error)
{
    std::string text = error.message();
    const size_t begin = text.find_first_not_of("\r\n"), end = text.find_last_not_of("\r\n");
    message = begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
    status = error.refused() ? REFUSED : FAILED;
    outputBytes = 0;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = utf8Length(text, i);
            if (length == 0) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\udc%02x", c);
                out += escape;
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string CFileOutcome::jsonLine() const
{
    std::string warningList;
    for (const std::string& warning : warnings)
        warningList += (warningList.empty() ? "" : ", ") + jsonString(warning);
    // First, so that `sort -n -k2,2` puts the reports of a list's shards back in list order.
    std::string line = position ? "{\"position\": " + std::to_string(*position) + ", " : std::string("{");
    line += "\"input\": " + jsonString(input) + ", \"output\": " + jsonString(output) + ", \"status\": \"" +
            (listed && status == STAMPED ? "listed" : statusName(status)) + "\", \"message\": " + jsonString(message) +
            ", \"warnings\": [" + warningList + "], \"pages\": " + known(pages) +
            ", \"pages_stamped\": " + known(pagesStamped) + ", \"encrypted\": " + (encrypted ? "true" : "false") +
            ", \"repaired\": " + (repaired ? "true" : "false") + ", \"seconds\": " + decimalText(seconds, 4) +
            ", \"input_bytes\": " + known(inputBytes) + ", \"output_bytes\": " + known(outputBytes) +
            ", \"dry_run\": " + (dryRun ? "true" : "false");
    if (numbered) {
        const auto number = [](const std::string& text) { return text.empty() ? "null" : jsonString(text); };
        line += ", \"bates_first\": " + number(batesFirst) + ", \"bates_last\": " + number(batesLast) +
                ", \"bates_unused\": " +
                (unusedFirst.empty() ? "null" : "[" + jsonString(unusedFirst) + ", " + jsonString(unusedLast) + "]");
    }
    if (dryRun || listed) {
        std::string list;
        for (const CPlaced& placed : stamps)
            list += std::string(list.empty() ? "" : ", ") + "{\"page\": " + std::to_string(placed.page) +
                    ", \"x\": " + decimalText(placed.mark.x, 3) + ", \"y\": " + decimalText(placed.mark.y, 3) +
                    ", \"width\": " + decimalText(placed.mark.width, 3) +
                    ", \"height\": " + decimalText(placed.mark.height, 3) + ", \"id\": " + jsonString(placed.mark.id) +
                    ", \"kind\": \"" + CStampMark::kindName(placed.mark.kind) + "\", \"placement\": \"" +
                    CStampMark::placementName(placed.annotation, placed.mark.underlay) + "\", \"layer\": " +
                    (placed.mark.layer.empty() ? std::string("null") : jsonString(placed.mark.layer)) + "}";
        line += ", \"stamps\": [" + list + "]";
    }
    return line + "}\n";
}

std::string decimalText(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string shown = text;
    while (shown.back() == '0')
        shown.pop_back();
    if (shown.back() == '.')
        shown.pop_back();
    return shown == "-0" ? "0" : shown;
}
