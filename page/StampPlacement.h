#pragma once

#include <string>

// Where the stamp goes on one page: the pure arithmetic behind placement and
// corner marks, kept apart from the job so it can be checked case by case.

struct PlacementSettings {
    double posX = 20;
    double posY = 10;
    double sizeX = 100;
    bool flipV = false;
    bool flipH = false;
    bool forcePortrait = true;
    std::string align = "left";
};

struct Placement {
    double anchorX = 0; // where the image's lower-left corner goes, before rotation
    double anchorY = 0;
    float angle = 0.0f; // degrees, counter-clockwise
};

// `cropBox` is x0 y0 x1 y1; `rotate` the page's effective /Rotate (0, 90, 180
// or 270). Positions count from the bottom-left corner of the page as it is
// displayed (from the top or right edge with the flips; -1 centres), and the
// alignment shifts the image leftwards on the displayed page. Whole numbers
// are placed as they always were (box edges truncated, half widths too); a
// fraction moves the stamp by exactly that much more.
Placement computePlacement(const PlacementSettings& settings, const float cropBox[4], int rotate);

// Truncates toward zero to a 32-bit integer, saturating (NaN gives 0).
int truncateToInt(double value);

// The printed rotation matrix entries cos a, sin a, -sin a, cos a for `angle`
// degrees; quarter turns are exact.
void rotationMatrix(float angle, double matrix[4]);

// A rectangle on the page as it is displayed (after /Rotate): points from the
// bottom-left corner of the crop box as shown, x to the right and y up, the
// frame positions are given in.
struct CStampRect {
    double x = 0, y = 0, width = 0, height = 0;
};

// Where an image drawn at `x`, `y` in page space, turned by `angle` degrees
// and `width` x `height` points large, is seen on a page with `cropBox` and
// `rotate`: the rectangle around it.
CStampRect displayedRect(double x, double y, float angle, double width, double height, const float cropBox[4],
                         int rotate);

// The eight corner marks, two per corner: b/t = bottom/top, l/r = left/right,
// h/v = horizontal/vertical line.
enum ECornerMark { MARK_BLV, MARK_BLH, MARK_TLV, MARK_TLH, MARK_BRV, MARK_BRH, MARK_TRV, MARK_TRH };

struct MarkGeometry {
    double x = 0, y = 0, width = 0, height = 0;
};

// A 15-point line, 0.25 point thick, starting 9 points outside the box corner
// and running outward along the extension of a box edge.
MarkGeometry cornerMarkGeometry(ECornerMark mark, const float box[4]);
