#include "font/CFontFace.h"

#ifndef _WIN32
#include <fontconfig/fontconfig.h>
#endif
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <tuple>
#include <vector>

#include "pdf/CPdfException.h"
#include "platform/Platform.h"
#ifdef _WIN32
#include "platform/WindowsFiles.h"
#endif

namespace {

// The largest CJK collections are about 30 MB; a larger file is not a font
// anyone stamps with, and is not mapped.
constexpr int64_t kLargestFontFile = int64_t(64) << 20;
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

#ifndef _WIN32
struct CFontconfigRelease {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
    void operator()(FcCharSet* charSet) const { FcCharSetDestroy(charSet); }
    void operator()(FcFontSet* fontSet) const { FcFontSetDestroy(fontSet); }
    void operator()(FcObjectSet* objects) const { FcObjectSetDestroy(objects); }
};
template <typename T>
using FcHandle = std::unique_ptr<T, CFontconfigRelease>;
#endif

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

// The whole file for HarfBuzz; nullptr when it cannot be read.
HbBlob fileBlob(const std::string& path)
{
#ifdef _WIN32
    // HarfBuzz would take the name in the ANSI code page, and the program's
    // names are UTF-8. Mapped, a scan of the fonts folders reads only the
    // tables it looks at.
    const char* view = nullptr;
    size_t size = 0;
    if (!platform::windows::mapFile(path, view, size))
        return nullptr;
    if (size > static_cast<uint64_t>(kLargestFontFile)) {
        platform::windows::unmapFile(view);
        return nullptr;
    }
    return HbBlob(hb_blob_create(view, static_cast<unsigned>(size), HB_MEMORY_MODE_READONLY, const_cast<char*>(view),
                                 [](void* mapped) { platform::windows::unmapFile(static_cast<const char*>(mapped)); }));
#else
    return HbBlob(hb_blob_create_from_file_or_fail(path.c_str()));
#endif
}

#ifdef _WIN32
// Windows has no fontconfig: the installed fonts are the files of its fonts
// folders, read with HarfBuzz in an order that is the same from run to run.

// A folder of tens of thousands of fonts cannot hold up a run: no more are read.
constexpr size_t kMostFontFiles = 5000;

// Calls `visit(file, index, face)` with each face of each installed font
// file, the system's folder first and each folder's files by name, until it
// returns true.
template <typename Visit>
void eachInstalledFace(Visit visit)
{
    size_t left = kMostFontFiles;
    for (const std::string& folder : platform::windows::fontFolders()) {
        const std::vector<std::string> names = platform::windows::filesIn(folder, {".ttf", ".otf", ".ttc"}, left);
        left -= names.size();
        for (const std::string& name : names) {
            const std::string file = folder + '\\' + name;
            const HbBlob blob = fileBlob(file);
            const unsigned faces = blob ? hb_face_count(blob.get()) : 0;
            for (unsigned index = 0; index < faces; ++index)
                if (visit(file, index, HbFace(hb_face_create(blob.get(), index)).get()))
                    return;
        }
    }
}

// Whether one of the face's family names (ids 1 and 16, in any language) is `family`, ignoring case.
bool namesFamily(hb_face_t* face, const std::string& family)
{
    unsigned count = 0;
    const hb_ot_name_entry_t* entries = hb_ot_name_list_names(face, &count);
    for (unsigned index = 0; index < count; ++index) {
        const hb_ot_name_entry_t& entry = entries[index];
        if (entry.name_id != HB_OT_NAME_ID_FONT_FAMILY && entry.name_id != HB_OT_NAME_ID_TYPOGRAPHIC_FAMILY)
            continue;
        char name[256] = {};
        unsigned length = sizeof name;
        hb_ot_name_get_utf8(face, entry.name_id, entry.language, &length, name);
        if (platform::windows::sameIgnoringCase(name, family))
            return true;
    }
    return false;
}

// The file and face of the installed font of family `family`: of its faces
// the upright one nearest to the regular weight and the normal width, as
// fontconfig chooses; an empty file when no face is of that family.
std::pair<std::string, unsigned> installedFamily(const std::string& family)
{
    using Distance = std::tuple<bool, float, float>;
    std::pair<std::string, unsigned> best;
    Distance bestDistance;
    eachInstalledFace([&](const std::string& file, unsigned index, hb_face_t* face) {
        if (!namesFamily(face, family))
            return false;
        const HbFont font(hb_font_create(face));
        const auto style = [&font](hb_style_tag_t tag) { return hb_style_get_value(font.get(), tag); };
        const Distance distance(style(HB_STYLE_TAG_ITALIC) > 0 || style(HB_STYLE_TAG_SLANT_ANGLE) != 0,
                                std::abs(style(HB_STYLE_TAG_WEIGHT) - 400), std::abs(style(HB_STYLE_TAG_WIDTH) - 100));
        if (best.first.empty() || distance < bestDistance) {
            best = {file, index};
            bestDistance = distance;
        }
        return distance == Distance(false, 0, 0); // none is nearer
    });
    return best;
}
#else
std::string fontconfigString(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    return FcPatternGetString(pattern, object, 0, &value) == FcResultMatch ? reinterpret_cast<char*>(value) : "";
}

// fontconfig's configuration, loaded once for the process: loading it reads
// every font cache, and a batch asks for a font once a file.
FcConfig* sharedConfig()
{
    static const FcHandle<FcConfig> loaded(FcInitLoadConfigAndFonts());
    return loaded.get();
}

// The file and face of the installed font of family `family`; an empty
// file when fontconfig's best match is of another family.
std::pair<std::string, unsigned> installedFamily(const std::string& family)
{
    FcConfig* const config = sharedConfig();
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    if (!config || !pattern)
        return {};
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const FcHandle<FcPattern> match(FcFontMatch(config, pattern.get(), &result));
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
#endif

} // namespace

CFontFace::CFontFace(std::string label, HbBlob blob, unsigned faceIndex)
    : m_label(std::move(label)), m_blob(std::move(blob))
{
    const unsigned faceCount = hb_face_count(m_blob.get());
    if (faceCount == 0)
        refuse(m_label, "not a font file (HarfBuzz finds no font in it)");
    if (faceIndex >= faceCount)
        refuse(m_label, "--font-index " + std::to_string(faceIndex) + " is out of range: the file holds " +
                            std::to_string(faceCount) + (faceCount == 1 ? " font" : " fonts") + ", from index 0");
    m_face.reset(hb_face_create(m_blob.get(), faceIndex));
    if (hb_face_get_glyph_count(m_face.get()) == 0)
        refuse(m_label, "not a font file (HarfBuzz finds no glyphs in it)");
    m_font.reset(hb_font_create(m_face.get()));
    m_unitsPerEm = static_cast<int>(hb_face_get_upem(m_face.get()));
    hb_font_set_scale(m_font.get(), m_unitsPerEm, m_unitsPerEm);
    checkEmbeddable();
    readMetrics();
    if (m_outlines == EOutlines::Cff)
        readCffCharset();
}

std::unique_ptr<CFontFace> CFontFace::open(const std::string& fileOrFamily, unsigned faceIndex)
{
    std::string path = fileOrFamily;
    std::string label = "'" + fileOrFamily + "'";
    platform::FileIdentity identity = platform::identify(path);
    if (!identity.isRegular) {
        const auto [file, face] = installedFamily(fileOrFamily);
        if (file.empty())
            refuse(label, "no such file, and no installed font of that family");
        path = file;
        label += " (" + file + ")";
        // --font-index picks a face of a file; a family names its own.
        faceIndex = face;
        identity = platform::identify(path);
    }
    if (identity.size > kLargestFontFile)
        refuse(label, "the file is larger than " + std::to_string(kLargestFontFile >> 20) +
                          " MB, more than any font file this program reads");
    HbBlob blob = fileBlob(path);
    if (!blob)
        refuse(label, "cannot be read: " + platform::openFailureText(path));
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

void CFontFace::readCffCharset()
{
    const HbBlob blob = tableBlob(m_face.get(), HB_TAG('C', 'F', 'F', ' '));
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    m_cffCharset = CCffCharset::read(std::string_view(data ? data : "", length));
    // Every glyph the shaper can give must have its CID.
    if (!m_cffCharset || m_cffCharset->glyphCount() < glyphCount())
        refuse(m_label, "its 'CFF ' table is damaged: its Top DICT, glyph count or charset (the CIDs by which a PDF "
                        "viewer finds its glyphs) cannot be read");
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
    unsigned fileLength = 0;
    const char* fileData = hb_blob_get_data(m_blob.get(), &fileLength);
    if (std::string_view(fileData, fileLength).substr(0, 4) != "ttcf")
        return std::string(fileData, fileLength);
    // A face of a collection, even of one face only, shares the file's
    // tables: HarfBuzz's face builder writes them into a font file of their own.
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

#ifdef _WIN32
std::unique_ptr<CFontFace> CFontFace::findCovering(const std::u32string& text)
{
    std::unique_ptr<CFontFace> found;
    eachInstalledFace([&](const std::string& file, unsigned index, hb_face_t* face) {
        const HbFont font(hb_font_create(face));
        hb_codepoint_t glyph = 0;
        for (char32_t c : text)
            if (!showsNothing(c) && !hb_font_get_nominal_glyph(font.get(), c, &glyph))
                return false;
        try {
            found = open(file, index);
        } catch (const CPdfException&) {
            // Not embeddable (CFF2, bitmaps, licence): the next one may be.
        }
        return found != nullptr;
    });
    return found;
}

std::optional<char32_t> CFontFace::firstInNoFont(const std::u32string& text)
{
    std::u32string missing;
    for (char32_t c : text)
        if (!showsNothing(c))
            missing += c;
    if (missing.empty())
        return std::nullopt;
    eachInstalledFace([&missing](const std::string&, unsigned, hb_face_t* face) {
        const HbFont font(hb_font_create(face));
        hb_codepoint_t glyph = 0;
        missing.erase(std::remove_if(missing.begin(), missing.end(),
                                     [&](char32_t c) { return hb_font_get_nominal_glyph(font.get(), c, &glyph); }),
                      missing.end());
        return missing.empty();
    });
    return missing.empty() ? std::nullopt : std::optional<char32_t>(missing.front());
}
#else
std::unique_ptr<CFontFace> CFontFace::findCovering(const std::u32string& text)
{
    FcConfig* const config = sharedConfig();
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    const FcHandle<FcCharSet> characters(FcCharSetCreate());
    if (!config || !pattern || !characters)
        return nullptr;
    for (char32_t c : text)
        if (!showsNothing(c))
            FcCharSetAddChar(characters.get(), c);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, characters.get());
    FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const FcHandle<FcFontSet> sorted(FcFontSort(config, pattern.get(), FcFalse, nullptr, &result));
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
    FcConfig* const config = sharedConfig();
    const FcHandle<FcPattern> pattern(FcPatternCreate());
    const FcHandle<FcObjectSet> objects(FcObjectSetBuild(FC_CHARSET, nullptr));
    if (!config || !pattern || !objects)
        return std::nullopt;
    FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
    const FcHandle<FcFontSet> fonts(FcFontList(config, pattern.get(), objects.get()));
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
#endif
