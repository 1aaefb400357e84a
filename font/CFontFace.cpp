#include "font/CFontFace.h"

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "pdf/CPdfException.h"

namespace {

// The largest CJK collections are about 30 MB; a larger file is not a font
// anyone stamps with, and is not mapped.
constexpr std::uintmax_t kLargestFontFile = 64u << 20;
// PostScript names are at most 63 characters long.
constexpr size_t kLongestPostScriptName = 63;

// OS/2 fsType: the embedding bits, and what they say.
constexpr unsigned kEmbeddingBits = 0x000F;
constexpr unsigned kRestrictedLicence = 0x0002;
constexpr unsigned kNoSubsetting = 0x0100;
constexpr unsigned kBitmapEmbeddingOnly = 0x0200;
// The FontDescriptor flags this program can tell.
constexpr int kFixedPitchFlag = 1;
constexpr int kSymbolicFlag = 4; // a CID font's glyphs are not in the standard Latin set
constexpr int kItalicFlag = 64;

struct CFontconfigRelease {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
    void operator()(FcCharSet* charSet) const { FcCharSetDestroy(charSet); }
    void operator()(FcFontSet* fontSet) const { FcFontSetDestroy(fontSet); }
    void operator()(FcObjectSet* objects) const { FcObjectSetDestroy(objects); }
};
template <typename T>
using FcHandle = std::unique_ptr<T, CFontconfigRelease>;

[[noreturn]] void refuse(const std::string& label, const std::string& problem)
{
    throw CPdfException(CPdfException::EKind::UsageError, "\n--font " + label + ": " + problem + "\n");
}

HbBlob tableBlob(hb_face_t* face, uint32_t tag) { return HbBlob(hb_face_reference_table(face, tag)); }

// A big-endian number of `size` bytes at `offset` of table `tag`; 0 when the table is shorter.
uint32_t tableNumber(hb_face_t* face, uint32_t tag, unsigned offset, unsigned size)
{
    const HbBlob blob = tableBlob(face, tag);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    if (length < offset + size)
        return 0;
    uint32_t value = 0;
    for (unsigned index = 0; index < size; ++index)
        value = value << 8 | static_cast<unsigned char>(data[offset + index]);
    return value;
}

int16_t signedTableNumber(hb_face_t* face, uint32_t tag, unsigned offset)
{
    return static_cast<int16_t>(tableNumber(face, tag, offset, 2));
}

bool hasTable(hb_face_t* face, uint32_t tag) { return hb_blob_get_length(tableBlob(face, tag).get()) > 0; }

std::string fontconfigString(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    return FcPatternGetString(pattern, object, 0, &value) == FcResultMatch ? reinterpret_cast<char*>(value) : "";
}

// The file and face of the installed font of family `family`; an empty
// file when fontconfig's best match is of another family.
std::pair<std::string, unsigned> installedFamily(const std::string& family)
{
    const FcHandle<FcConfig> config(FcInitLoadConfigAndFonts());
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    if (!config || !pattern)
        return {};
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const FcHandle<FcPattern> match(FcFontMatch(config.get(), pattern.get(), &result));
    if (!match)
        return {};
    // fontconfig always finds some font: it must be of the family asked for.
    FcChar8* matched = nullptr;
    for (int index = 0; FcPatternGetString(match.get(), FC_FAMILY, index, &matched) == FcResultMatch; ++index) {
        if (FcStrCmpIgnoreCase(matched, reinterpret_cast<const FcChar8*>(family.c_str())) == 0) {
            int face = 0;
            FcPatternGetInteger(match.get(), FC_INDEX, 0, &face);
            // The high bits name an instance of a variable font.
            return {fontconfigString(match.get(), FC_FILE), static_cast<unsigned>(face) & 0xFFFF};
        }
    }
    return {};
}

} // namespace

CFontFace::CFontFace(std::string label, HbBlob blob, unsigned faceIndex)
    : m_label(std::move(label)), m_blob(std::move(blob))
{
    m_faceCount = hb_face_count(m_blob.get());
    if (m_faceCount == 0)
        refuse(m_label, "not a font file (HarfBuzz finds no font in it)");
    if (faceIndex >= m_faceCount)
        refuse(m_label, "--font-index " + std::to_string(faceIndex) + " is out of range: the file holds " +
                            std::to_string(m_faceCount) + (m_faceCount == 1 ? " font" : " fonts") + ", from index 0");
    m_face.reset(hb_face_create(m_blob.get(), faceIndex));
    if (hb_face_get_glyph_count(m_face.get()) == 0)
        refuse(m_label, "not a font file (HarfBuzz finds no glyphs in it)");
    m_font.reset(hb_font_create(m_face.get()));
    m_unitsPerEm = static_cast<int>(hb_face_get_upem(m_face.get()));
    hb_font_set_scale(m_font.get(), m_unitsPerEm, m_unitsPerEm);
    checkEmbeddable();
    readMetrics();
}

std::unique_ptr<CFontFace> CFontFace::open(const std::string& fileOrFamily, unsigned faceIndex)
{
    std::string path = fileOrFamily;
    std::string label = "'" + fileOrFamily + "'";
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        const auto [file, face] = installedFamily(fileOrFamily);
        if (file.empty())
            refuse(label, "no such file, and no installed font of that family");
        path = file;
        label += " (" + file + ")";
        // --font-index picks a face of a file; a family names its own.
        faceIndex = face;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        refuse(label, "cannot be read: " + error.message());
    if (size > kLargestFontFile)
        refuse(label, "the file is larger than " + std::to_string(kLargestFontFile >> 20) +
                          " MB, more than any font file this program reads");
    HbBlob blob(hb_blob_create_from_file_or_fail(path.c_str()));
    if (!blob)
        refuse(label, "cannot be read");
    return std::unique_ptr<CFontFace>(new CFontFace(label, std::move(blob), faceIndex));
}

void CFontFace::checkEmbeddable() const
{
    hb_face_t* face = m_face.get();
    if (hasTable(face, HB_TAG('C', 'F', 'F', '2')))
        refuse(m_label, "its outlines are CFF2 (a variable font's), which a PDF cannot embed; use a TrueType "
                        "or CFF version of the font");
    if (!hasTable(face, HB_TAG('g', 'l', 'y', 'f')) && !hasTable(face, HB_TAG('C', 'F', 'F', ' ')))
        refuse(m_label, "it has no outlines ('glyf' or 'CFF ' table), only colour or bitmap glyphs, which a PDF "
                        "cannot embed as a font");
    const unsigned fsType = tableNumber(face, HB_TAG('O', 'S', '/', '2'), 8, 2);
    if ((fsType & kEmbeddingBits) == kRestrictedLicence)
        refuse(m_label, "its licence forbids embedding it (OS/2 fsType: restricted licence embedding)");
    if (fsType & kBitmapEmbeddingOnly)
        refuse(m_label, "its licence allows embedding its bitmaps only (OS/2 fsType), and it is embedded as outlines");
}

int CFontFace::thousandths(double fontUnits) const
{
    return static_cast<int>(std::lround(fontUnits * 1000 / m_unitsPerEm));
}

void CFontFace::readMetrics()
{
    hb_face_t* face = m_face.get();
    hb_font_t* font = m_font.get();
    m_outlines = hasTable(face, HB_TAG('g', 'l', 'y', 'f')) ? EOutlines::TrueType : EOutlines::Cff;
    m_subsettingAllowed = !(tableNumber(face, HB_TAG('O', 'S', '/', '2'), 8, 2) & kNoSubsetting);

    char name[kLongestPostScriptName + 1] = {};
    unsigned length = sizeof name;
    hb_ot_name_get_utf8(face, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &length, name);
    for (const char* c = name; *c; ++c) {
        const bool delimiter = std::string_view("()<>[]{}/%#").find(*c) != std::string_view::npos;
        if (*c > ' ' && *c < 127 && !delimiter)
            m_postScriptName += *c;
    }
    if (m_postScriptName.empty())
        m_postScriptName = "Font";

    hb_position_t position = 0;
    hb_ot_metrics_get_position_with_fallback(font, HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER, &position);
    m_ascender = thousandths(position);
    hb_ot_metrics_get_position_with_fallback(font, HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER, &position);
    m_descender = thousandths(position);
    hb_ot_metrics_get_position_with_fallback(font, HB_OT_METRICS_TAG_CAP_HEIGHT, &position);
    m_capHeight = thousandths(position);

    // The 'head' table's box of all glyphs: xMin, yMin, xMax, yMax.
    const uint32_t head = HB_TAG('h', 'e', 'a', 'd');
    m_box = {thousandths(signedTableNumber(face, head, 36)), thousandths(signedTableNumber(face, head, 38)),
             thousandths(signedTableNumber(face, head, 40)), thousandths(signedTableNumber(face, head, 42))};

    m_italicAngle = hb_style_get_value(font, HB_STYLE_TAG_SLANT_ANGLE);
    m_flags = kSymbolicFlag;
    if (tableNumber(face, HB_TAG('p', 'o', 's', 't'), 12, 4) != 0)
        m_flags |= kFixedPitchFlag;
    if (m_italicAngle != 0 || hb_style_get_value(font, HB_STYLE_TAG_ITALIC) > 0)
        m_flags |= kItalicFlag;
    // Viewers use the stem width only to fake a missing font; the usual
    // estimate from the weight class (400 gives 88, 700 gives 166).
    const double weight = hb_style_get_value(font, HB_STYLE_TAG_WEIGHT);
    m_stemV = static_cast<int>(std::lround(50 + weight * weight / (65.0 * 65.0)));
}

unsigned CFontFace::glyphCount() const { return hb_face_get_glyph_count(m_face.get()); }

std::string CFontFace::standaloneFile() const
{
    if (m_faceCount == 1) {
        unsigned length = 0;
        const char* data = hb_blob_get_data(m_blob.get(), &length);
        return std::string(data, length);
    }
    // A face of a collection shares the file with the others: HarfBuzz's
    // face builder writes its tables into a font file of their own.
    const HbFace builder(hb_face_builder_create());
    hb_tag_t tags[64];
    unsigned start = 0;
    for (unsigned count = std::size(tags); count == std::size(tags); start += count) {
        count = std::size(tags);
        hb_face_get_table_tags(m_face.get(), start, &count, tags);
        for (unsigned index = 0; index < count; ++index)
            hb_face_builder_add_table(builder.get(), tags[index], tableBlob(m_face.get(), tags[index]).get());
    }
    const HbBlob blob(hb_face_reference_blob(builder.get()));
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    return std::string(data, length);
}

std::string CFontFace::table(uint32_t tag) const
{
    const HbBlob blob = tableBlob(m_face.get(), tag);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    return std::string(data ? data : "", length);
}

uint32_t CFontFace::glyphFor(char32_t c) const
{
    hb_codepoint_t glyph = 0;
    return hb_font_get_nominal_glyph(m_font.get(), c, &glyph) ? glyph : 0;
}

bool CFontFace::showsNothing(char32_t c)
{
    const bool variationSelector = (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF);
    const hb_unicode_general_category_t category = hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
    return variationSelector || category == HB_UNICODE_GENERAL_CATEGORY_FORMAT ||
           category == HB_UNICODE_GENERAL_CATEGORY_CONTROL;
}

std::optional<char32_t> CFontFace::firstMissing(const std::u32string& text) const
{
    for (char32_t c : text)
        if (!showsNothing(c) && glyphFor(c) == 0)
            return c;
    return std::nullopt;
}

double CFontFace::advance(uint32_t glyph) const
{
    return hb_font_get_glyph_h_advance(m_font.get(), glyph) * 1000.0 / m_unitsPerEm;
}

std::unique_ptr<CFontFace> CFontFace::findCovering(const std::u32string& text)
{
    const FcHandle<FcConfig> config(FcInitLoadConfigAndFonts());
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    const FcHandle<FcCharSet> characters(FcCharSetCreate());
    if (!config || !pattern || !characters)
        return nullptr;
    for (char32_t c : text)
        if (!showsNothing(c))
            FcCharSetAddChar(characters.get(), c);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, characters.get());
    FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
    FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const FcHandle<FcFontSet> sorted(FcFontSort(config.get(), pattern.get(), FcFalse, nullptr, &result));
    for (int index = 0; sorted && index < sorted->nfont; ++index) {
        FcPattern* candidate = sorted->fonts[index];
        FcCharSet* has = nullptr;
        int face = 0;
        if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &has) != FcResultMatch ||
            FcCharSetSubtractCount(characters.get(), has) != 0)
            continue;
        FcPatternGetInteger(candidate, FC_INDEX, 0, &face);
        try {
            std::unique_ptr<CFontFace> font = open(fontconfigString(candidate, FC_FILE), face & 0xFFFF);
            if (!font->firstMissing(text))
                return font;
        } catch (const CPdfException&) {
            // Not embeddable (CFF2, bitmaps, licence): the next one may be.
        }
    }
    return nullptr;
}

std::optional<char32_t> CFontFace::firstInNoFont(const std::u32string& text)
{
    const FcHandle<FcConfig> config(FcInitLoadConfigAndFonts());
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    const FcHandle<FcObjectSet> objects(FcObjectSetBuild(FC_CHARSET, nullptr));
    if (!config || !pattern || !objects)
        return std::nullopt;
    FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
    const FcHandle<FcFontSet> fonts(FcFontList(config.get(), pattern.get(), objects.get()));
    for (char32_t c : text) {
        if (showsNothing(c))
            continue;
        bool found = false;
        for (int index = 0; fonts && index < fonts->nfont && !found; ++index) {
            FcCharSet* has = nullptr;
            found = FcPatternGetCharSet(fonts->fonts[index], FC_CHARSET, 0, &has) == FcResultMatch &&
                    FcCharSetHasChar(has, c);
        }
        if (!found)
            return c;
    }
    return std::nullopt;
}
