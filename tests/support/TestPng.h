#pragma once

#include <array>
#include <string>
#include <vector>

// PNG files for the tests, written by libpng: every colour type and depth,
// interlaced or not, with tRNS and iCCP where asked.
namespace vtest {

enum class PngKind {
    Grey,
    GreyKey, // tRNS: one grey value clear
    GreyAlpha,
    Rgb,
    RgbKey, // tRNS: one colour clear
    RgbAlpha,
    Palette,
    PaletteKey,   // tRNS: entries either clear or opaque
    PaletteAlpha, // tRNS: one entry half clear
};

struct PngPlan {
    PngKind kind = PngKind::Rgb;
    int depth = 8;
    bool interlaced = false;
    int width = 96;
    int height = 48;
    bool iccProfile = false; // an sRGB (or grey) profile in iCCP
    bool noise = false;      // samples of 8 bits or more varied as in a photo (the bench's stamps)
};

// What one of the three vertical bands of a band image shows: its colour and alpha.
struct PngBand {
    std::array<int, 3> rgb;
    double alpha;
};

// An image in three vertical bands, left to right: opaque; half clear where
// the kind has alpha; clear where it has any transparency. Colours are red,
// blue, green (black, white, white for grey kinds at 1 bit; black, mid grey,
// white otherwise).
std::string bandPng(const PngPlan& plan);
std::array<PngBand, 3> pngBands(const PngPlan& plan);

// A readable name for the case: "rgb-alpha-16-interlaced".
std::string pngName(const PngPlan& plan);

} // namespace vtest
