#include "font/CFontSubset.h"

#include <hb-subset.h>
#include <hb.h>

#include "font/CCffCharset.h"
#include "font/CFontFace.h"

namespace {

constexpr uint32_t kCffTable = HB_TAG('C', 'F', 'F', ' ');
// A tag is six capital letters.
constexpr int kTagLength = 6;

// FNV-1a (32 bits) over the glyph ids: the same glyphs always give the same
// tag, and different sets seldom the same one.
std::string tagFor(const std::set<uint32_t>& glyphs)
{
    constexpr uint32_t kOffsetBasis = 2166136261u;
    constexpr uint32_t kPrime = 16777619u;
    uint32_t hash = kOffsetBasis;
    for (uint32_t glyph : glyphs)
        for (int shift = 0; shift < 32; shift += 8)
            hash = (hash ^ ((glyph >> shift) & 0xFF)) * kPrime;
    std::string tag;
    for (int index = 0; index < kTagLength; ++index, hash /= 26)
        tag += static_cast<char>('A' + hash % 26);
    return tag;
}

std::string blobBytes(hb_blob_t* blob)
{
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    return std::string(data ? data : "", length);
}

} // namespace

CFontSubset::CFontSubset(const CFontFace& face, std::set<uint32_t> glyphs) : m_glyphs(std::move(glyphs))
{
    m_glyphs.insert(0);
    m_tag = tagFor(m_glyphs);
    if (!face.subsettingAllowed() || !makeSubset(face))
        keepWhole(face);
}

bool CFontSubset::makeSubset(const CFontFace& face)
{
    const HbSubsetInput input(hb_subset_input_create_or_fail());
    if (!input)
        return false;
    hb_set_t* keep = hb_subset_input_glyph_set(input.get());
    for (uint32_t glyph : m_glyphs)
        hb_set_add(keep, glyph);
    // Glyphs are numbered anew from 0 in the subset; a CID-keyed CFF font's
    // charset keeps each glyph's CID, which the content names.
    hb_subset_input_set_flags(input.get(), HB_SUBSET_FLAGS_NO_HINTING);
    // Glyphs are drawn at positions the content gives: no layout tables.
    hb_set_t* dropped = hb_subset_input_set(input.get(), HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (uint32_t tag : {HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'), HB_TAG('G', 'D', 'E', 'F'),
                         HB_TAG('k', 'e', 'r', 'n'), HB_TAG('B', 'A', 'S', 'E'), HB_TAG('J', 'S', 'T', 'F'),
                         HB_TAG('M', 'A', 'T', 'H'), HB_TAG('v', 'h', 'e', 'a'), HB_TAG('v', 'm', 't', 'x'),
                         HB_TAG('V', 'O', 'R', 'G'), HB_TAG('D', 'S', 'I', 'G')})
        hb_set_add(dropped, tag);
    const HbSubsetPlan plan(hb_subset_plan_create_or_fail(face.harfBuzzFace(), input.get()));
    if (!plan)
        return false;
    const HbFace subset(hb_subset_plan_execute_or_fail(plan.get()));
    if (!subset)
        return false;
    const hb_map_t* mapping = hb_subset_plan_old_to_new_glyph_mapping(plan.get());
    if (face.outlines() == CFontFace::EOutlines::TrueType) {
        const HbBlob file(hb_face_reference_blob(subset.get()));
        m_fontFile = blobBytes(file.get());
        for (uint32_t glyph : m_glyphs) {
            m_cids[glyph] = hb_map_get(mapping, glyph);
            if (m_cids[glyph] == HB_MAP_VALUE_INVALID)
                return false;
        }
        return !m_fontFile.empty();
    }
    const HbBlob table(hb_face_reference_table(subset.get(), kCffTable));
    m_fontFile = blobBytes(table.get());
    // A viewer must find each glyph in the subset as in the face: by the
    // same CID, or, in a font that is not CID-keyed, by its new id.
    const std::optional<CCffCharset> charset = CCffCharset::read(m_fontFile);
    if (!charset || charset->cidKeyed() != face.cidKeyed())
        return false;
    for (uint32_t glyph : m_glyphs) {
        const uint32_t kept = hb_map_get(mapping, glyph);
        if (kept == HB_MAP_VALUE_INVALID || kept >= charset->glyphCount() ||
            (face.cidKeyed() && charset->cidOf(kept) != face.cidOf(glyph)))
            return false;
        m_cids[glyph] = face.cidKeyed() ? face.cidOf(glyph) : kept;
    }
    return !m_fontFile.empty();
}

void CFontSubset::keepWhole(const CFontFace& face)
{
    m_whole = true;
    m_cids.clear();
    m_fontFile = face.outlines() == CFontFace::EOutlines::Cff ? face.table(kCffTable) : face.standaloneFile();
    for (uint32_t glyph : m_glyphs)
        m_cids[glyph] = face.cidKeyed() ? face.cidOf(glyph) : glyph;
}

uint32_t CFontSubset::cidFor(uint32_t glyph) const
{
    const auto found = m_cids.find(glyph);
    return found == m_cids.end() ? 0 : found->second;
}
