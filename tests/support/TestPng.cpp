#include "tests/support/TestPng.h"

#include <png.h>

#include <algorithm>
#include <stdexcept>

namespace vtest {

namespace {

bool isGrey(PngKind kind) { return kind == PngKind::Grey || kind == PngKind::GreyKey || kind == PngKind::GreyAlpha; }
bool isPalette(PngKind kind)
{
    return kind == PngKind::Palette || kind == PngKind::PaletteKey || kind == PngKind::PaletteAlpha;
}
bool hasAlpha(PngKind kind) { return kind == PngKind::GreyAlpha || kind == PngKind::RgbAlpha; }

int colourType(PngKind kind)
{
    if (isPalette(kind))
        return PNG_COLOR_TYPE_PALETTE;
    if (isGrey(kind))
        return hasAlpha(kind) ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
    return hasAlpha(kind) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
}

void appendSample(std::vector<png_byte>& row, int& bits, int depth, unsigned value)
{
    if (depth == 16) {
        row.push_back(static_cast<png_byte>(value >> 8));
        row.push_back(static_cast<png_byte>(value));
    } else if (depth == 8) {
        row.push_back(static_cast<png_byte>(value));
    } else {
        if (bits % 8 == 0)
            row.push_back(0);
        row.back() |= static_cast<png_byte>(value << (8 - depth - bits % 8));
        bits += depth;
    }
}

void writeToString(png_structp png, png_bytep data, size_t size)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

void flushNothing(png_structp) {}

// Test images are well-formed: an error here is a fault of the test itself.
[[noreturn]] void throwError(png_structp, png_const_charp message) { throw std::runtime_error(message); }

// A small ICC profile of the colour model: the header and one tag (the
// white point), enough for libpng's checks, then bytes that compress badly:
// libpng takes a whole iCCP chunk of under 81 bytes for one cut short.
std::string iccProfile(bool grey)
{
    std::string profile(164 + 128, '\0');
    for (size_t i = 164; i < profile.size(); ++i)
        profile[i] = static_cast<char>(i * 151 % 251);
    auto put32 = [&profile](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            profile[at + i] = static_cast<char>(value >> (24 - 8 * i));
    };
    put32(0, static_cast<uint32_t>(profile.size()));
    put32(8, 0x02100000); // version 2.1
    profile.replace(12, 4, "mntr");
    profile.replace(16, 4, grey ? "GRAY" : "RGB ");
    profile.replace(20, 4, "XYZ ");
    profile.replace(36, 4, "acsp");
    put32(68, 0x0000F6D6); // the D50 illuminant
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    put32(128, 1); // one tag: the white point, D50
    profile.replace(132, 4, "wtpt");
    put32(136, 144);
    put32(140, 20);
    profile.replace(144, 4, "XYZ ");
    put32(152, 0x0000F6D6);
    put32(156, 0x00010000);
    put32(160, 0x0000D32D);
    return profile;
}

} // namespace

std::array<PngBand, 3> pngBands(const PngPlan& plan)
{
    const bool alpha = hasAlpha(plan.kind) || plan.kind == PngKind::PaletteAlpha;
    const bool clear = plan.kind != PngKind::Grey && plan.kind != PngKind::Rgb && plan.kind != PngKind::Palette;
    std::array<PngBand, 3> bands{PngBand{{255, 0, 0}, 1.0}, PngBand{{0, 0, 255}, alpha ? 128 / 255.0 : 1.0},
                                 PngBand{{0, 255, 0}, clear ? 0.0 : 1.0}};
    if (isPalette(plan.kind) && plan.depth == 1)
        bands[1] = bands[0]; // two entries: red, and green for the clear band
    if (isGrey(plan.kind)) {
        // Grey levels the depth holds exactly; at 1 bit the middle band is black.
        const int max = (1 << plan.depth) - 1;
        const int mid = plan.depth == 1 ? 0 : ((max + 1) / 2 * 255 + max / 2) / max;
        bands[0].rgb = {0, 0, 0};
        bands[1].rgb = {mid, mid, mid};
        bands[2].rgb = {255, 255, 255};
    }
    return bands;
}

std::string bandPng(const PngPlan& plan)
{
    const std::array<PngBand, 3> bands = pngBands(plan);
    std::string file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, throwError, nullptr);
    png_infop info = png_create_info_struct(png);
    struct Guard {
        png_structp& png;
        png_infop& info;
        ~Guard() { png_destroy_write_struct(&png, &info); }
    } guard{png, info};
    png_set_write_fn(png, &file, writeToString, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(plan.width), static_cast<png_uint_32>(plan.height), plan.depth,
                 colourType(plan.kind), plan.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const unsigned max = (1u << plan.depth) - 1;
    if (isPalette(plan.kind)) {
        const int entries = plan.depth == 1 ? 2 : 3;
        png_color palette[3];
        png_byte alphas[3];
        for (int i = 0; i < entries; ++i) {
            const PngBand& band = bands[entries == 2 && i == 1 ? 2 : static_cast<size_t>(i)];
            palette[i] = {static_cast<png_byte>(band.rgb[0]), static_cast<png_byte>(band.rgb[1]),
                          static_cast<png_byte>(band.rgb[2])};
            alphas[i] = static_cast<png_byte>(band.alpha * 255 + 0.5);
        }
        png_set_PLTE(png, info, palette, entries);
        if (plan.kind != PngKind::Palette)
            png_set_tRNS(png, info, alphas, entries, nullptr);
    } else if (plan.kind == PngKind::GreyKey || plan.kind == PngKind::RgbKey) {
        png_color_16 key{};
        key.gray = static_cast<png_uint_16>(max);
        key.green = static_cast<png_uint_16>(max); // green, the third band
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (plan.iccProfile) {
        const std::string profile = iccProfile(isGrey(plan.kind));
        png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, reinterpret_cast<png_const_bytep>(profile.data()),
                     static_cast<png_uint_32>(profile.size()));
    }
    png_write_info(png, info);

    std::vector<std::vector<png_byte>> rows(static_cast<size_t>(plan.height));
    uint32_t random = 12345;
    auto vary = [&random, &plan, max](unsigned value) {
        if (!plan.noise || plan.depth < 8)
            return value;
        random = random * 1103515245 + 12345;
        const unsigned step = (random >> 16) % 48 * (max / 255);
        return value >= max / 2 ? value - step : value + step;
    };
    for (auto& row : rows) {
        int bits = 0;
        for (int x = 0; x < plan.width; ++x) {
            const int band = x * 3 / plan.width;
            const PngBand& b = bands[static_cast<size_t>(band)];
            if (isPalette(plan.kind)) {
                appendSample(row, bits, plan.depth, static_cast<unsigned>(plan.depth == 1 ? band / 2 : band));
                continue;
            }
            if (isGrey(plan.kind)) {
                appendSample(row, bits, plan.depth, vary((static_cast<unsigned>(b.rgb[0]) * max + 127) / 255));
            } else {
                for (int c = 0; c < 3; ++c)
                    appendSample(row, bits, plan.depth, vary((static_cast<unsigned>(b.rgb[c]) * max + 127) / 255));
            }
            if (hasAlpha(plan.kind))
                appendSample(row, bits, plan.depth, static_cast<unsigned>(b.alpha * max + 0.5));
        }
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    return file;
}

std::string pngName(const PngPlan& plan)
{
    static const char* const kNames[] = {"grey",      "grey-key", "grey-alpha",  "rgb",          "rgb-key",
                                         "rgb-alpha", "palette",  "palette-key", "palette-alpha"};
    std::string name = kNames[static_cast<int>(plan.kind)] + std::string("-") + std::to_string(plan.depth);
    if (plan.interlaced)
        name += "-interlaced";
    if (plan.iccProfile)
        name += "-icc";
    return name;
}

} // namespace vtest
