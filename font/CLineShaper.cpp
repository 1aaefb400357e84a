#include "font/CLineShaper.h"

#include <hb.h>

#include <algorithm>

#include "font/CFontFace.h"
#include "pdf/PdfTextString.h"

// A line that mixes directions is cut into runs of one level and one
// script, each shaped on its own, and the runs are put in visual order the
// way the bidi algorithm reorders levels. The levels come from a simpler
// reading than that algorithm's: a letter's direction is its script's;
// digits read left to right, one level above right-to-left letters before
// them; neutrals (spaces, punctuation) take the direction of both sides
// when they agree, else the line's, which its first letter sets. There are
// no embeddings, overrides or isolates, and no separators within numbers.

namespace {

enum class EClass { Neutral, LeftToRight, RightToLeft, Digit };

struct CRun {
    unsigned start = 0; // bytes of the line
    unsigned end = 0;
    hb_script_t script = HB_SCRIPT_COMMON;
    int level = 0; // even left to right, odd right to left
};

// Scripts of their own, unlike spaces, punctuation (common) and marks (inherited).
bool ownScript(hb_script_t script)
{
    return script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED && script != HB_SCRIPT_UNKNOWN;
}

EClass classOf(hb_unicode_funcs_t* unicode, hb_codepoint_t c)
{
    if (hb_unicode_general_category(unicode, c) == HB_UNICODE_GENERAL_CATEGORY_DECIMAL_NUMBER)
        return EClass::Digit;
    const hb_script_t script = hb_unicode_script(unicode, c);
    if (!ownScript(script))
        return EClass::Neutral;
    return hb_script_get_horizontal_direction(script) == HB_DIRECTION_RTL ? EClass::RightToLeft : EClass::LeftToRight;
}

// The level of each character of `classes`.
std::vector<int> levelsOf(const std::vector<EClass>& classes)
{
    const auto first = std::find_if(classes.begin(), classes.end(),
                                    [](EClass c) { return c == EClass::LeftToRight || c == EClass::RightToLeft; });
    const bool lineRightToLeft = first != classes.end() && *first == EClass::RightToLeft;
    // Digits after right-to-left letters count as right to left around them.
    std::vector<bool> rightToLeft(classes.size());
    bool letterRightToLeft = lineRightToLeft;
    for (size_t index = 0; index < classes.size(); ++index) {
        if (classes[index] == EClass::LeftToRight || classes[index] == EClass::RightToLeft)
            letterRightToLeft = classes[index] == EClass::RightToLeft;
        rightToLeft[index] =
            classes[index] == EClass::Digit ? letterRightToLeft : classes[index] == EClass::RightToLeft;
    }
    std::vector<int> levels(classes.size());
    const int leftToRightLevel = lineRightToLeft ? 2 : 0;
    for (size_t index = 0; index < classes.size(); ++index) {
        if (classes[index] == EClass::Digit) {
            levels[index] = rightToLeft[index] || lineRightToLeft ? 2 : 0;
        } else if (classes[index] != EClass::Neutral) {
            levels[index] = rightToLeft[index] ? 1 : leftToRightLevel;
        } else {
            bool before = lineRightToLeft, after = lineRightToLeft;
            for (size_t back = index; back-- > 0;)
                if (classes[back] != EClass::Neutral) {
                    before = rightToLeft[back];
                    break;
                }
            for (size_t next = index + 1; next < classes.size(); ++next)
                if (classes[next] != EClass::Neutral) {
                    after = rightToLeft[next];
                    break;
                }
            levels[index] = before != after ? (lineRightToLeft ? 1 : 0) : before ? 1 : leftToRightLevel;
        }
    }
    return levels;
}

// The runs of the line whose characters (and their first bytes) are `infos`, in visual order.
std::vector<CRun> runsOf(const hb_glyph_info_t* infos, unsigned count, unsigned lineLength)
{
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    std::vector<EClass> classes(count);
    std::vector<hb_script_t> scripts(count);
    for (unsigned index = 0; index < count; ++index) {
        classes[index] = classOf(unicode, infos[index].codepoint);
        scripts[index] = hb_unicode_script(unicode, infos[index].codepoint);
    }
    const std::vector<int> levels = levelsOf(classes);
    // Common and inherited characters belong to the script before them.
    hb_script_t current = HB_SCRIPT_COMMON;
    for (unsigned index = 0; index < count && current == HB_SCRIPT_COMMON; ++index)
        if (ownScript(scripts[index]))
            current = scripts[index];
    std::vector<CRun> runs;
    for (unsigned index = 0; index < count; ++index) {
        if (ownScript(scripts[index]))
            current = scripts[index];
        // A script shapes only in its own direction: digits amid Arabic are a run of no script.
        const bool agrees = !ownScript(current) || (hb_script_get_horizontal_direction(current) == HB_DIRECTION_RTL) ==
                                                       (levels[index] % 2 == 1);
        const hb_script_t script = agrees ? current : HB_SCRIPT_COMMON;
        if (runs.empty() || runs.back().level != levels[index] || runs.back().script != script) {
            if (!runs.empty())
                runs.back().end = infos[index].cluster;
            runs.push_back({infos[index].cluster, 0, script, levels[index]});
        }
    }
    if (!runs.empty())
        runs.back().end = lineLength;
    // Visual order: from the highest level down, every stretch of runs at
    // that level or above is reversed.
    for (int level = 2; level >= 1; --level) {
        for (auto first = runs.begin(); first != runs.end();) {
            if (first->level < level) {
                ++first;
                continue;
            }
            auto last = std::find_if(first, runs.end(), [level](const CRun& run) { return run.level < level; });
            std::reverse(first, last);
            first = last;
        }
    }
    return runs;
}

} // namespace

std::u32string CLineShaper::characters(const std::string& line) { return utf8CodePoints(line); }

CShapedLine CLineShaper::shape(const std::string& line) const
{
    CShapedLine shaped;
    shaped.text = line;
    const int length = static_cast<int>(line.size());
    // Two buffers made once and cleared for each use: a page-numbered
    // text shapes a line for every page.
    if (!m_characters) {
        m_characters.reset(hb_buffer_create());
        m_glyphs.reset(hb_buffer_create());
    }
    hb_buffer_clear_contents(m_characters.get());
    hb_buffer_add_utf8(m_characters.get(), line.data(), length, 0, length);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(m_characters.get(), &count);
    const double scale = 1000.0 / m_face.unitsPerEm();
    for (const CRun& run : runsOf(infos, count, static_cast<unsigned>(length))) {
        hb_buffer_t* const buffer = m_glyphs.get();
        hb_buffer_clear_contents(buffer);
        // The whole line is the context; clusters count its bytes.
        hb_buffer_add_utf8(buffer, line.data(), length, run.start, static_cast<int>(run.end - run.start));
        hb_buffer_set_direction(buffer, run.level % 2 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer, run.script);
        hb_buffer_guess_segment_properties(buffer);
        // HarfBuzz's default features: kerning, ligatures, marks.
        hb_shape(m_face.harfBuzzFont(), buffer, nullptr, 0);
        unsigned glyphCount = 0;
        const hb_glyph_info_t* glyphs = hb_buffer_get_glyph_infos(buffer, &glyphCount);
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &glyphCount);
        for (unsigned index = 0; index < glyphCount; ++index) {
            CShapedGlyph glyph;
            glyph.glyph = glyphs[index].codepoint;
            glyph.cluster = glyphs[index].cluster;
            glyph.advance = positions[index].x_advance * scale;
            glyph.xOffset = positions[index].x_offset * scale;
            glyph.yOffset = positions[index].y_offset * scale;
            if (!shaped.glyphs.empty() && glyph.cluster < shaped.glyphs.back().cluster)
                shaped.reordered = true;
            shaped.advance += glyph.advance;
            shaped.glyphs.push_back(glyph);
        }
    }
    return shaped;
}
