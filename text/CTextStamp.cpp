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

void appendNumber(std::string& text, double value, int precision)
{
    appendFixed(text, std::abs(value) < 0.0005 ? 0.0 : value, precision);
    text += ' ';
}

} // namespace

CTextStamp::CTextStamp(const CStampSettings& settings, const CTextFields& fields)
    : CStampImage(*settings.text, nullptr), m_settings(settings)
{
    for (const std::string& line : CTextTemplate(*settings.text).lines(fields)) {
        const std::string codes = codesFor(line);
        int width = 0;
        for (unsigned char code : codes)
            width += helveticaWidth(code);
        m_textWidth = std::max(m_textWidth, width * settings.fontSize / 1000);
        m_lines.push_back(codes);
        m_lineWidths.push_back(width);
    }
    m_textHeight =
        ((m_lines.size() - 1) * kLeading + (kHelveticaAscent - kHelveticaDescent) / 1000.0) * settings.fontSize;
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

std::string CTextStamp::formContent() const
{
    const double size = m_settings.fontSize * m_scale;
    // The text's block stands in the middle of the box's height.
    const double top = (m_boxHeight + m_textHeight * m_scale) / 2;
    std::string content = "q\n";
    for (int shift : {16, 8, 0})
        appendNumber(content, ((m_settings.color >> shift) & 0xFF) / 255.0, 3);
    content += "rg\nBT\n/F1 ";
    appendNumber(content, size, 4);
    content += "Tf\n";
    for (size_t index = 0; index < m_lines.size(); ++index) {
        const double lineWidth = m_lineWidths[index] * size / 1000;
        const double x = m_settings.align == "left"     ? 0
                         : m_settings.align == "center" ? (m_boxWidth - lineWidth) / 2
                                                        : m_boxWidth - lineWidth;
        const double baseline = top - (kHelveticaAscent / 1000.0 + index * kLeading) * size;
        content += "1 0 0 1 ";
        appendNumber(content, x, 3);
        appendNumber(content, baseline, 3);
        content += "Tm <";
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned char code : m_lines[index])
            content += kHex[code >> 4], content += kHex[code & 15];
        content += "> Tj\n";
    }
    content += "ET\nQ\n";
    return content;
}

int CTextStamp::write(CNewObjectWriter& writer) const
{
    // Accents on capitals rise above the ascender, and some glyphs reach past
    // their advance: the clip leaves them a margin around the box.
    const double margin = m_settings.fontSize * m_scale / 4;
    std::string head = " 0 obj\n<<\n/Type /XObject\n/Subtype /Form\n/BBox [";
    for (double edge : {-margin, -margin, m_boxWidth + margin})
        appendNumber(head, edge, 3);
    appendFixed(head, m_boxHeight + margin, 3);
    // The painter draws every stamp in the unit square: /Matrix maps the box
    // onto it, with as many decimals as a large box needs to keep its size.
    const auto precision = [](double size) { return 6 + static_cast<int>(std::ceil(std::log10(std::max(size, 1.0)))); };
    head += "]\n/Matrix [";
    appendFixed(head, 1 / m_boxWidth, precision(m_boxWidth));
    head += " 0 0 ";
    appendFixed(head, 1 / m_boxHeight, precision(m_boxHeight));
    head += " 0 0]\n/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
            "/Encoding /WinAnsiEncoding >> >> >>\n/Length ";
    return writer.writeNewStream(head, "\n>>\nstream\n", formContent());
}
