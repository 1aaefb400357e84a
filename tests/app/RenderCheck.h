#pragma once

#include <string>
#include <vector>

// Renders PDF pages with pdftoppm and compares a stamped page with the page
// it was made from, pixel by pixel, in the coordinates a viewer shows.
namespace render {

// One rendered page: PGM (1 channel) or PPM (3 channels), rows top to bottom.
struct Raster {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<unsigned char> data;

    const unsigned char* at(int x, int y) const { return &data[(static_cast<size_t>(y) * width + x) * channels]; }
    // 0 (black) .. 255 (white); the mean of the channels for colour.
    int lightness(int x, int y) const;
};

// Parses binary PGM (P5) or PPM (P6) with maxval 255. False on anything else.
bool parsePnm(const std::string& bytes, Raster& out);

struct RenderOptions {
    int dpi = 36;
    bool gray = false;
    bool cropBox = true; // render the crop box (a viewer's page); false: the media box
};
// Every page of `pdf` in page order; empty when pdftoppm fails.
std::vector<Raster> renderPages(const std::string& pdf, const RenderOptions& options);

// A PDF rectangle: lower-left x, y, upper-right x, y.
struct Box {
    double x0 = 0, y0 = 0, x1 = 612, y1 = 792;
};

// A point or rectangle as a viewer shows the page: points measured from the
// bottom-left corner of the displayed (rotated) rendered box.
struct Rect {
    double left = 0, bottom = 0, width = 0, height = 0;
};
struct View {
    Box box;        // the box that is rendered
    int rotate = 0; // 0, 90, 180 or 270, clockwise as in /Rotate
    double displayWidth() const;
    double displayHeight() const;
    // User-space point to displayed point.
    void pointToDisplay(double x, double y, double& dx, double& dy) const;
    // User-space rectangle (any two corners) to its displayed rectangle.
    Rect rectToDisplay(double x0, double y0, double x1, double y1) const;
};

struct Rgb {
    int r = 0, g = 0, b = 0;
};

// What a stamp should look like on the displayed page: upright, filling
// `rect`, its colour changing across its displayed width at the band starts.
struct ExpectedStamp {
    Rect rect;
    std::vector<std::pair<double, Rgb>> bands{{0.0, Rgb{}}}; // (start as a fraction of the width, colour)
    double opacity = 1.0;
};

struct Tolerance {
    double edgePixels = 2;   // pixels this close to a stamp edge or band boundary are not judged
    int stampChannel = 40;   // per channel, inside a stamp
    int outsideChannel = 12; // per channel, everywhere else (compared with the unstamped page)
};

struct Comparison {
    long stampPixels = 0;       // judged inside stamps
    long stampMismatches = 0;
    long outsidePixels = 0;
    long outsideMismatches = 0;
    bool stampsVisible = true;  // each stamp had most of its interior judged
    std::string problems;       // the first few mismatches, readable
    bool ok() const { return stampMismatches == 0 && outsideMismatches == 0 && stampsVisible; }
};

// `after` is `before` with `stamps` painted over it (later ones on top).
// Both are renders of the same page at `dpi`; `view` says what was rendered.
Comparison compareStamped(const Raster& before, const Raster& after, const View& view, double dpi,
                          const std::vector<ExpectedStamp>& stamps, const Tolerance& tolerance = Tolerance());

std::string describe(const Comparison& comparison);

} // namespace render
