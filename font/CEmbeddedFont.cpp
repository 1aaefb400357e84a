#include "font/CEmbeddedFont.h"

#include <algorithm>
#include <vector>

#include <zlib.h>

#include <cmath>
#include <stdexcept>

#include "filters/Deflate.h"
#include "font/CidWidths.h"
#include "font/ToUnicodeCMap.h"
#include "image/CNewObjectWriter.h"
#include "pdf/CPdfException.h"
#include "pdf/PdfFormat.h"

namespace {

// A glyph is moved only when the pen is off by this much (thousandths of the
// em); what is left is carried on to the next glyph.
constexpr double kSmallestAdjustment = 0.5;

std::string deflated(const std::string& data) { return deflateBytes(data, Z_BEST_COMPRESSION, "the embedded font"); }

void appendCid(std::string& text, uint32_t cid)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += kHex[(cid >> shift) & 15];
}

// A glyph's width as /W gives it.
int widthOf(const CFontFace& face, uint32_t glyph) { return static_cast<int>(std::lround(face.advance(glyph))); }

void appendLine(std::string& text, const char* key, long long value)
{
    text += key;
    appendInteger(text, value);
    text += '\n';
}

} // namespace

CEmbeddedFont::CEmbeddedFont(std::unique_ptr<CFontFace> face) : m_face(std::move(face)), m_shaper(*m_face) {}

CShapedLine CEmbeddedFont::shape(const std::string& text)
{
    if (m_subset)
        throw std::logic_error("CEmbeddedFont: a line shaped after the subset was made");
    CShapedLine line = m_shaper.shape(text);
    // Each cluster's characters go to its glyphs: a glyph the font's
    // character map gives for one of them shows that one (a base letter, a
    // mark); the others go to the first glyph that shows none (a ligature,
    // a joined form). A glyph keeps the text it was first given, but one
    // straight from the character map wins.
    const std::vector<CShapedGlyph>& glyphs = line.glyphs;
    // Where each cluster's text ends: at the next cluster's start in the line.
    std::vector<uint32_t> starts;
    starts.reserve(glyphs.size());
    for (const CShapedGlyph& glyph : glyphs)
        starts.push_back(glyph.cluster);
    std::sort(starts.begin(), starts.end());
    for (size_t first = 0; first < glyphs.size();) {
        size_t last = first;
        bool known = true; // every glyph's text came from the character map already
        while (last < glyphs.size() && glyphs[last].cluster == glyphs[first].cluster) {
            m_glyphs.insert(glyphs[last].glyph);
            known = known && m_fromCharacterMap.count(glyphs[last].glyph);
            ++last;
        }
        // A page-numbered text meets the same glyphs on every page: their text is settled.
        if (known) {
            first = last;
            continue;
        }
        const auto next = std::upper_bound(starts.begin(), starts.end(), glyphs[first].cluster);
        const size_t end = next == starts.end() ? text.size() : *next;
        std::u32string characters =
            CLineShaper::characters(text.substr(glyphs[first].cluster, end - glyphs[first].cluster));
        std::vector<bool> own(last - first);
        for (size_t index = first; index < last; ++index) {
            for (size_t at = 0; at < characters.size(); ++at) {
                if (characters[at] != 0 && m_face->glyphFor(characters[at]) == glyphs[index].glyph) {
                    m_textOfGlyph[glyphs[index].glyph] = std::u32string(1, characters[at]);
                    m_fromCharacterMap.insert(glyphs[index].glyph);
                    characters[at] = 0;
                    own[index - first] = true;
                    break;
                }
            }
        }
        characters.erase(std::remove(characters.begin(), characters.end(), char32_t(0)), characters.end());
        for (size_t index = first; index < last && !characters.empty(); ++index) {
            if (own[index - first])
                continue;
            m_textOfGlyph.emplace(glyphs[index].glyph, characters);
            break;
        }
        first = last;
    }
    return line;
}

void CEmbeddedFont::finish()
{
    if (!m_subset)
        m_subset = std::make_unique<CFontSubset>(*m_face, m_glyphs);
}

const CFontSubset& CEmbeddedFont::subset() const
{
    if (!m_subset)
        throw std::logic_error("CEmbeddedFont: used before finish");
    return *m_subset;
}

bool CEmbeddedFont::embedsWholeFont() const { return subset().whole(); }

std::string CEmbeddedFont::showText(const CShapedLine& line, double fontSize) const
{
    const CFontSubset& fontSubset = subset();
    std::string text;
    // Where the pen stands after the glyphs written, and where HarfBuzz puts
    // it, in thousandths of the em (character spacing is 0 in a stamp's text).
    double drawn = 0, shaped = 0;
    double rise = 0;
    bool inArray = false, inHex = false;
    const auto closeHex = [&]() {
        if (inHex)
            text += '>', inHex = false;
    };
    const auto closeArray = [&]() {
        closeHex();
        if (inArray)
            text += "] TJ\n", inArray = false;
    };
    for (const CShapedGlyph& glyph : line.glyphs) {
        if (glyph.yOffset != rise) {
            closeArray();
            rise = glyph.yOffset;
            appendFixed(text, rise * fontSize / 1000, 3);
            text += " Ts\n";
        }
        if (!inArray)
            text += '[', inArray = true;
        const double shift = std::round(drawn - (shaped + glyph.xOffset));
        if (std::abs(shift) >= kSmallestAdjustment) {
            closeHex();
            appendInteger(text, static_cast<long long>(shift));
            drawn -= shift;
        }
        if (!inHex)
            text += '<', inHex = true;
        appendCid(text, fontSubset.cidFor(glyph.glyph));
        drawn += widthOf(*m_face, glyph.glyph);
        shaped += glyph.advance;
    }
    closeArray();
    if (rise != 0)
        text += "0 Ts\n";
    if (!needsActualText(line))
        return text;
    return "/Span << /ActualText <FEFF" + utf16Hex(CLineShaper::characters(line.text)) + "> >> BDC\n" + text + "EMC\n";
}

bool CEmbeddedFont::needsActualText(const CShapedLine& line) const
{
    // Poppler puts a right-to-left run's glyphs in their characters' order
    // itself, and would reverse an /ActualText's text.
    if (line.reordered)
        return false;
    std::u32string spelled;
    for (const CShapedGlyph& glyph : line.glyphs) {
        const auto found = m_textOfGlyph.find(glyph.glyph);
        if (found != m_textOfGlyph.end())
            spelled += found->second;
    }
    return spelled != CLineShaper::characters(line.text);
}

int CEmbeddedFont::writeFontFile(CNewObjectWriter& writer) const
{
    const std::string& file = subset().fontFile();
    std::string head = " 0 obj\n<<\n/Filter /FlateDecode\n";
    if (m_face->outlines() == CFontFace::EOutlines::Cff)
        head += "/Subtype /CIDFontType0C\n";
    else
        appendLine(head, "/Length1 ", static_cast<long long>(file.size()));
    return writer.writeNewStream(head + "/Length ", "\n>>\nstream\n", deflated(file));
}

int CEmbeddedFont::writeDescriptor(CNewObjectWriter& writer, bool cidSet) const
{
    const int fontFile = writeFontFile(writer);
    int cidSetNum = 0;
    if (cidSet) {
        // One bit per CID from 0, the first CID in the first byte's top bit;
        // CID 0, .notdef, is in every font program, subset or whole.
        std::string bits(1, '\x80');
        for (uint32_t glyph : m_glyphs) {
            const uint32_t cid = subset().cidFor(glyph);
            if (bits.size() <= cid / 8)
                bits.resize(cid / 8 + 1, '\0');
            bits[cid / 8] = static_cast<char>(bits[cid / 8] | (0x80 >> (cid % 8)));
        }
        cidSetNum =
            writer.writeNewStream(" 0 obj\n<<\n/Filter /FlateDecode\n/Length ", "\n>>\nstream\n", deflated(bits));
    }
    const CFontFace& face = *m_face;
    std::string body = " 0 obj\n<<\n/Type /FontDescriptor\n/FontName /";
    body += (subset().whole() ? "" : subset().tag() + "+") + face.postScriptName() + "\n";
    appendLine(body, "/Flags ", face.flags());
    body += "/FontBBox [";
    const CFontFace::CBox box = face.boundingBox();
    for (int edge : {box.left, box.bottom, box.right})
        appendInteger(body, edge), body += ' ';
    appendInteger(body, box.top);
    body += "]\n/ItalicAngle ";
    appendFixed(body, face.italicAngle(), 1);
    body += '\n';
    appendLine(body, "/Ascent ", face.ascender());
    appendLine(body, "/Descent ", face.descender());
    appendLine(body, "/CapHeight ", face.capHeight());
    appendLine(body, "/StemV ", face.stemV());
    body += face.outlines() == CFontFace::EOutlines::Cff ? "/FontFile3" : "/FontFile2";
    body += referenceText(" ", fontFile, " 0 R\n");
    if (cidSetNum)
        body += referenceText("/CIDSet ", cidSetNum, " 0 R\n");
    return writer.writeNewObject(body + ">>");
}

int CEmbeddedFont::writeCidFont(CNewObjectWriter& writer, int descriptor) const
{
    std::map<uint32_t, int> widths;
    for (uint32_t glyph : m_glyphs)
        widths[subset().cidFor(glyph)] = widthOf(*m_face, glyph);
    const int defaultWidth = mostCommonWidth(widths);
    for (auto it = widths.begin(); it != widths.end();)
        it = it->second == defaultWidth ? widths.erase(it) : std::next(it);

    const int num = writer.nextNumber();
    const bool cff = m_face->outlines() == CFontFace::EOutlines::Cff;
    std::string body = " 0 obj\n<<\n/Type /Font\n/Subtype ";
    body += cff ? "/CIDFontType0\n" : "/CIDFontType2\n";
    body += "/BaseFont /" + (subset().whole() ? "" : subset().tag() + "+") + m_face->postScriptName() + "\n";
    body += "/CIDSystemInfo << /Registry " + hexString(writer.stringFor(num, "Adobe")) + " /Ordering " +
            hexString(writer.stringFor(num, "Identity")) + " /Supplement 0 >>\n";
    body += referenceText("/FontDescriptor ", descriptor, " 0 R\n");
    appendLine(body, "/DW ", defaultWidth);
    if (!widths.empty())
        body += "/W " + cidWidthsArray(widths) + "\n";
    if (!cff)
        body += "/CIDToGIDMap /Identity\n";
    return writer.writeNewObject(body + ">>");
}

int CEmbeddedFont::write(CNewObjectWriter& writer, bool cidSet) const
{
    const int cidFont = writeCidFont(writer, writeDescriptor(writer, cidSet));
    std::map<uint32_t, std::u32string> textOfCid;
    for (const auto& [glyph, characters] : m_textOfGlyph)
        if (!characters.empty())
            textOfCid.emplace(subset().cidFor(glyph), characters);
    const int toUnicode = writer.writeNewStream(" 0 obj\n<<\n/Filter /FlateDecode\n/Length ", "\n>>\nstream\n",
                                                deflated(toUnicodeCMap(textOfCid)));
    std::string body = " 0 obj\n<<\n/Type /Font\n/Subtype /Type0\n/BaseFont /";
    body += (subset().whole() ? "" : subset().tag() + "+") + m_face->postScriptName() + "\n";
    body += "/Encoding /Identity-H\n" + referenceText("/DescendantFonts [", cidFont, " 0 R]\n");
    body += referenceText("/ToUnicode ", toUnicode, " 0 R\n");
    return writer.writeNewObject(body + ">>");
}
