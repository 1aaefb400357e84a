#include "text/CTextStamp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "image/CNewObjectWriter.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"
#include "pdf/PdfFormat.h"
#include "text/HelveticaText.h"

namespace {

// Lines stand this many font sizes apart.
constexpr double kLeading = 1.2;

std::string characterName(char32_t c)
{
    if (c == 0xFFFD)
        return "a byte sequence that is not UTF-8";
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    return code;
}

// The decimals of 1/size that keep a box of `size` points its size once scaled back.
int unitPrecision(double size) { return 6 + static_cast<int>(std::ceil(std::log10(std::max(size, 1.0)))); }

void appendNumber(std::string& text, double value, int precision)
{
    appendFixed(text, std::abs(value) < 0.0005 ? 0.0 : value, precision);
    text += ' ';
}

} // namespace

CTextStamp::CTextStamp(const CStampSettings& settings, const CTextFields& fields, const std::vector<CPageFields>& pages)
    : CStampImage(*settings.text, nullptr), m_settings(settings)
{
    const CTextTemplate text = CTextTemplate(*settings.text).filledFor(fields);
    if (text.variesByPage() && !pages.empty()) {
        for (const CPageFields& page : pages) {
            if (page.page < 1)
                continue;
            if (m_textOfPage.size() < static_cast<size_t>(page.page))
                m_textOfPage.resize(static_cast<size_t>(page.page), -1);
            m_textOfPage[static_cast<size_t>(page.page - 1)] = static_cast<int>(m_texts.size());
            m_texts.push_back(measure(text.lines(fields, page)));
        }
    } else {
        m_texts.push_back(measure(text.lines(fields)));
    }
    m_textHeight = ((m_texts.front().lines.size() - 1) * kLeading + (kHelveticaAscent - kHelveticaDescent) / 1000.0) *
                   settings.fontSize;
    // An image's size is whole points; the text is aligned in that box.
    constexpr double kLargest = 1e9;
    m_width = static_cast<int>(std::clamp(std::ceil(m_textWidth - 1e-9), 1.0, kLargest));
    m_height = static_cast<int>(std::clamp(std::ceil(m_textHeight - 1e-9), 1.0, kLargest));
    m_traits.fontNotEmbedded = true;
    const bool sized = settings.sizeX != -1;
    m_boxWidth = sized ? settings.sizeX : m_width;
    m_boxHeight = sized ? settings.sizeY : m_height;
    if (sized)
        m_scale = std::min(m_boxWidth / std::max(m_textWidth, 1e-9), m_boxHeight / std::max(m_textHeight, 1e-9));

    m_textHead = "q\n";
    for (int shift : {16, 8, 0})
        appendNumber(m_textHead, ((settings.color >> shift) & 0xFF) / 255.0, 3);
    m_textHead += "rg\nBT\n/";
    const double size = settings.fontSize * m_scale;
    m_textSize = " ";
    appendNumber(m_textSize, size, 4);
    m_textSize += "Tf\n";
    // The text's block stands in the middle of the box's height.
    const double top = (m_boxHeight + m_textHeight * m_scale) / 2;
    for (size_t index = 0; index < m_texts.front().lines.size(); ++index) {
        std::string baseline;
        appendNumber(baseline, top - (kHelveticaAscent / 1000.0 + index * kLeading) * size, 3);
        m_baselines.push_back(baseline + "Tm <");
    }
    m_unitSquare = "q\n";
    appendFixed(m_unitSquare, 1 / m_boxWidth, unitPrecision(m_boxWidth));
    m_unitSquare += " 0 0 ";
    appendFixed(m_unitSquare, 1 / m_boxHeight, unitPrecision(m_boxHeight));
    m_unitSquare += " 0 0 cm\n";
}

CTextStamp::CText CTextStamp::measure(const std::vector<std::string>& lines)
{
    CText text;
    for (const std::string& line : lines) {
        const std::string codes = codesFor(line);
        int width = 0;
        for (unsigned char code : codes)
            width += helveticaWidth(code);
        m_textWidth = std::max(m_textWidth, width * m_settings.fontSize / 1000);
        text.lines.push_back(codes);
        text.widths.push_back(width);
    }
    return text;
}

std::string CTextStamp::codesFor(const std::string& line)
{
    std::string codes;
    char32_t missing = 0;
    if (!toWinAnsi(line, codes, missing))
        throw CPdfException(CPdfException::EKind::UsageError, "\n--text: the standard font Helvetica cannot show " +
                                                                  characterName(missing) + " in '" + line +
                                                                  "'; this version embeds no other font\n");
    return codes;
}

std::string CTextStamp::textContent(const CText& text, const std::string& fontName) const
{
    const double size = m_settings.fontSize * m_scale;
    std::string content = m_textHead + fontName + m_textSize;
    for (size_t index = 0; index < text.lines.size(); ++index) {
        const double lineWidth = text.widths[index] * size / 1000;
        const double x = m_settings.align == "left"     ? 0
                         : m_settings.align == "center" ? (m_boxWidth - lineWidth) / 2
                                                        : m_boxWidth - lineWidth;
        content += "1 0 0 1 ";
        appendNumber(content, x, 3);
        content += m_baselines[index];
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned char code : text.lines[index])
            content += kHex[code >> 4], content += kHex[code & 15];
        content += "> Tj\n";
    }
    content += "ET\nQ\n";
    return content;
}

std::string CTextStamp::pageContent(int pageIndex, const std::string& fontName) const
{
    if (pageIndex < 0 || static_cast<size_t>(pageIndex) >= m_textOfPage.size() || m_textOfPage[pageIndex] < 0)
        return std::string();
    return m_unitSquare + textContent(m_texts[static_cast<size_t>(m_textOfPage[pageIndex])], fontName) + "Q\n";
}

int CTextStamp::write(CNewObjectWriter& writer) const
{
    static const char kHelvetica[] =
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    if (drawnPerPage())
        return writer.writeNewObject(" 0 obj\n" + std::string(kHelvetica));
    // Accents on capitals rise above the ascender, and some glyphs reach past
    // their advance: the clip leaves them a margin around the box.
    const double margin = m_settings.fontSize * m_scale / 4;
    std::string head = " 0 obj\n<<\n/Type /XObject\n/Subtype /Form\n/BBox [";
    for (double edge : {-margin, -margin, m_boxWidth + margin})
        appendNumber(head, edge, 3);
    appendFixed(head, m_boxHeight + margin, 3);
    // The painter draws every stamp in the unit square: /Matrix maps the box onto it.
    head += "]\n/Matrix [";
    appendFixed(head, 1 / m_boxWidth, unitPrecision(m_boxWidth));
    head += " 0 0 ";
    appendFixed(head, 1 / m_boxHeight, unitPrecision(m_boxHeight));
    head += " 0 0]\n/Resources << /Font << /F1 " + std::string(kHelvetica) + " >> >>\n/Length ";
    return writer.writeNewStream(head, "\n>>\nstream\n", textContent(m_texts.front(), "F1"));
}
