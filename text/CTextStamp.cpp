#include "text/CTextStamp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "font/CEmbeddedFont.h"
#include "font/CFontFace.h"
#include "font/GlyphOutline.h"
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

[[noreturn]] void refuseNoCoveringFont()
{
    throw CPdfException(CPdfException::EKind::UsageError,
                        "\n--text cannot be shown: no installed font has all of its characters (name one with "
                        "--font)\n");
}

[[noreturn]] void refuseCharacter(char32_t c, const std::string& why)
{
    throw CPdfException(CPdfException::EKind::UsageError,
                        "\n--text cannot be shown: " + characterName(c) + " (" + why + ")\n");
}

// The decimals of 1/size that keep a box of `size` points its size once scaled back.
int unitPrecision(double size) { return 6 + static_cast<int>(std::ceil(std::log10(std::max(size, 1.0)))); }

void appendNumber(std::string& text, double value, int precision)
{
    appendFixed(text, std::abs(value) < 0.0005 ? 0.0 : value, precision);
    text += ' ';
}

} // namespace

CTextStamp::CTextStamp(const CStampSettings& settings, const CTextFields& fields, const std::vector<CPageFields>& pages,
                       int pdfaPart)
    : CStampImage(*settings.text, nullptr), m_settings(settings), m_cidSet(pdfaPart == 1)
{
    const CTextTemplate text = CTextTemplate(*settings.text).filledFor(fields);
    std::vector<std::vector<std::string>> fillings;
    if (text.variesByPage() && !pages.empty()) {
        for (const CPageFields& page : pages) {
            if (page.page < 1)
                continue;
            if (m_textOfPage.size() < static_cast<size_t>(page.page))
                m_textOfPage.resize(static_cast<size_t>(page.page), -1);
            m_textOfPage[static_cast<size_t>(page.page - 1)] = static_cast<int>(fillings.size());
            fillings.push_back(text.lines(fields, page));
        }
    } else {
        fillings.push_back(text.lines(fields));
    }
    // Paths need a font's outlines, even for text Helvetica would show.
    if (pdfaPart > 0 || settings.asPaths || settings.font || !measureInHelvetica(fillings)) {
        chooseFont(fillings, pdfaPart > 0);
        for (const std::vector<std::string>& lines : fillings)
            m_texts.push_back(measure(lines));
    }
    if (m_font && !settings.asPaths) {
        m_font->finish();
        if (m_font->embedsWholeFont())
            m_warnings.push_back("the licence of " + m_font->face().label() +
                                 " allows no subset: the whole font is embedded");
    }
    const double ascent = m_font ? m_font->face().ascender() : kHelveticaAscent;
    const double descent = m_font ? m_font->face().descender() : kHelveticaDescent;
    m_textHeight = ((m_texts.front().widths.size() - 1) * kLeading + (ascent - descent) / 1000.0) * settings.fontSize;
    // An image's size is whole points; the text is aligned in that box.
    constexpr double kLargest = 1e9;
    m_width = static_cast<int>(std::clamp(std::ceil(m_textWidth - 1e-9), 1.0, kLargest));
    m_height = static_cast<int>(std::clamp(std::ceil(m_textHeight - 1e-9), 1.0, kLargest));
    m_traits.fontNotEmbedded = !m_font && !settings.asPaths;
    const bool sized = settings.sizeX != -1;
    m_boxWidth = sized ? settings.sizeX : m_width;
    m_boxHeight = sized ? settings.sizeY : m_height;
    if (sized)
        m_scale = std::min(m_boxWidth / std::max(m_textWidth, 1e-9), m_boxHeight / std::max(m_textHeight, 1e-9));

    const double size = settings.fontSize * m_scale;
    // Each line's glyphs kept as the operators that show them: a tenth of
    // the memory of its shaped glyphs, for a text on every page of a large file.
    if (m_font && !settings.asPaths)
        for (CText& filling : m_texts) {
            for (const CShapedLine& line : filling.shaped)
                filling.shown.push_back(m_font->showText(line, size));
            filling.shaped = std::vector<CShapedLine>();
        }
    m_textHead = "q\n";
    for (int shift : {16, 8, 0})
        appendNumber(m_textHead, ((settings.color >> shift) & 0xFF) / 255.0, 3);
    m_textHead += settings.outline ? "RG\n" : "rg\n";
    if (settings.outline) {
        // A stroke a thirtieth of the size reads as an outline at any size.
        appendNumber(m_textHead, size / 30, 3);
        m_textHead += "w\n";
    }
    if (!settings.asPaths)
        m_textHead += settings.outline ? "BT\n1 Tr\n/" : "BT\n/";
    m_textSize = " ";
    appendNumber(m_textSize, size, 4);
    m_textSize += "Tf\n";
    // The text's block stands in the middle of the box's height.
    const double top = (m_boxHeight + m_textHeight * m_scale) / 2;
    for (size_t index = 0; index < m_texts.front().widths.size(); ++index) {
        std::string baseline;
        m_baselineY.push_back(top - (ascent / 1000.0 + index * kLeading) * size);
        appendNumber(baseline, m_baselineY.back(), 3);
        m_baselines.push_back(baseline + "Tm ");
    }
    m_unitSquare = "q\n";
    appendFixed(m_unitSquare, 1 / m_boxWidth, unitPrecision(m_boxWidth));
    m_unitSquare += " 0 0 ";
    appendFixed(m_unitSquare, 1 / m_boxHeight, unitPrecision(m_boxHeight));
    m_unitSquare += " 0 0 cm\n";
}

CTextStamp::~CTextStamp() = default;

bool CTextStamp::measureInHelvetica(const std::vector<std::vector<std::string>>& fillings)
{
    for (const std::vector<std::string>& lines : fillings) {
        CText text;
        for (const std::string& line : lines) {
            std::string codes;
            char32_t missing = 0;
            if (!toWinAnsi(line, codes, missing)) {
                m_texts.clear();
                m_textWidth = 0;
                return false;
            }
            int width = 0;
            for (unsigned char code : codes)
                width += helveticaWidth(code);
            m_textWidth = std::max(m_textWidth, width * m_settings.fontSize / 1000);
            text.lines.push_back(codes);
            text.widths.push_back(width);
        }
        m_texts.push_back(std::move(text));
    }
    return true;
}

void CTextStamp::chooseFont(const std::vector<std::vector<std::string>>& fillings, bool pdfa)
{
    // Each character once: a page-numbered text repeats them on every page.
    std::u32string characters;
    for (const std::vector<std::string>& lines : fillings)
        for (const std::string& line : lines)
            characters += CLineShaper::characters(line);
    std::sort(characters.begin(), characters.end());
    characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
    std::unique_ptr<CFontFace> face;
    if (m_settings.font) {
        face = CFontFace::open(*m_settings.font, m_settings.fontIndex);
    } else {
        face = CFontFace::findCovering(characters);
        if (!face) {
            if (const std::optional<char32_t> none = CFontFace::firstInNoFont(characters))
                refuseCharacter(*none, "no installed font has it");
            refuseNoCoveringFont();
        }
        m_warnings.push_back(
            (m_settings.asPaths ? "the text is drawn from the outlines of " : "the text is written in ") +
            face->label() + ", the first installed font that has every character" +
            (pdfa && !m_settings.asPaths ? " (a PDF/A file embeds its fonts)" : ""));
    }
    if (const std::optional<char32_t> missing = face->firstMissing(characters))
        refuseCharacter(*missing, "the font " + face->label() + " has no glyph for it");
    m_font = std::make_unique<CEmbeddedFont>(std::move(face));
}

CTextStamp::CText CTextStamp::measure(const std::vector<std::string>& lines)
{
    CText text;
    for (const std::string& line : lines) {
        text.shaped.push_back(m_font->shape(line));
        const double width = text.shaped.back().advance;
        m_textWidth = std::max(m_textWidth, width * m_settings.fontSize / 1000);
        text.widths.push_back(width);
    }
    return text;
}

void CTextStamp::checkShowable(const CStampSettings& settings)
{
    // The text as far as it is known before a file is read: its fixed parts, and the Bates number's.
    const std::string bates = settings.batesPrefix + settings.batesSuffix;
    std::string codes;
    char32_t missing = 0;
    bool helvetica = toWinAnsi(bates, codes, missing);
    std::u32string characters;
    for (const std::string& line : CTextTemplate(*settings.text).lines(CTextFields())) {
        characters += CLineShaper::characters(line);
        helvetica = helvetica && toWinAnsi(line, codes, missing);
    }
    characters += CLineShaper::characters(bates);
    if (settings.font) {
        const std::unique_ptr<CFontFace> face = CFontFace::open(*settings.font, settings.fontIndex);
        if (const std::optional<char32_t> lacking = face->firstMissing(characters))
            refuseCharacter(*lacking, "the font " + face->label() + " has no glyph for it");
        return;
    }
    // Helvetica shows it, or some installed font must.
    if (helvetica && !settings.asPaths)
        return;
    if (const std::optional<char32_t> none = CFontFace::firstInNoFont(characters))
        refuseCharacter(*none, "no installed font has it");
    if (!characters.empty() && !CFontFace::findCovering(characters))
        refuseNoCoveringFont();
}

std::string CTextStamp::textContent(const CText& text, const std::string& fontName) const
{
    const double size = m_settings.fontSize * m_scale;
    std::string content = m_textHead;
    if (!m_settings.asPaths)
        content += fontName + m_textSize;
    for (size_t index = 0; index < text.widths.size(); ++index) {
        const double lineWidth = text.widths[index] * size / 1000;
        const double x = m_settings.align == "left"     ? 0
                         : m_settings.align == "center" ? (m_boxWidth - lineWidth) / 2
                                                        : m_boxWidth - lineWidth;
        if (m_settings.asPaths) {
            double pen = x;
            for (const CShapedGlyph& glyph : text.shaped[index].glyphs) {
                content +=
                    glyphOutline(m_font->face(), glyph.glyph, size / m_font->face().unitsPerEm(),
                                 pen + glyph.xOffset * size / 1000, m_baselineY[index] + glyph.yOffset * size / 1000);
                pen += glyph.advance * size / 1000;
            }
            continue;
        }
        content += "1 0 0 1 ";
        appendNumber(content, x, 3);
        content += m_baselines[index];
        if (m_font) {
            content += text.shown[index];
            continue;
        }
        content += '<';
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned char code : text.lines[index])
            content += kHex[code >> 4], content += kHex[code & 15];
        content += "> Tj\n";
    }
    content += m_settings.asPaths ? (m_settings.outline ? "S\nQ\n" : "f\nQ\n") : "ET\nQ\n";
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
    // Paths name no font: then the pages name nothing, and the form has no resources.
    if (drawnPerPage() && m_settings.asPaths)
        return 0;
    if (drawnPerPage())
        return m_font ? m_font->write(writer, m_cidSet) : writer.writeNewObject(" 0 obj\n" + std::string(kHelvetica));
    // The form names its font: an embedded one is written first.
    const std::string font = m_settings.asPaths ? std::string()
                             : m_font           ? referenceText("", m_font->write(writer, m_cidSet), " 0 R")
                                                : kHelvetica;
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
    head += font.empty() ? " 0 0]\n/Resources << >>\n/Length "
                         : " 0 0]\n/Resources << /Font << /F1 " + font + " >> >>\n/Length ";
    return writer.writeNewStream(head, "\n>>\nstream\n", textContent(m_texts.front(), "F1"));
}
