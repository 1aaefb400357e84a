#include "stamp/StampPlacement.h"

#include <climits>
#include <cmath>
#include <cstdint>

int truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}

namespace {

int saturate(int64_t value) { return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value); }
int addSaturated(int a, int b) { return saturate(static_cast<int64_t>(a) + b); }
int subtractSaturated(int a, int b) { return saturate(static_cast<int64_t>(a) - b); }

// Box value minus an integer setting, formed in the box's float precision.
int truncDiff(float boxValue, int setting) { return truncateToInt(boxValue - static_cast<float>(setting)); }

} // namespace

Placement computeStampPlacement(const PlacementSettings& s, const float box[4], int rotate)
{
    const float x0 = box[0], y0 = box[1], x1 = box[2], y1 = box[3];
    const bool rot = rotate != 0 && s.forcePortrait;
    Placement p;
    p.anchorX = truncateToInt(x0);
    p.anchorY = truncateToInt(y0);

    if (!s.flipV && !s.flipH) {
        if (!rot) {
            p.anchorX = addSaturated(truncateToInt(x0), s.posX);
            p.anchorY = addSaturated(truncateToInt(y0), s.posY);
        } else {
            // Measured from the bottom-left corner of the page as displayed.
            p.angle = static_cast<float>(rotate);
            if (rotate == 90) {
                p.anchorX = truncDiff(x1, s.posY);
                p.anchorY = addSaturated(truncateToInt(y0), s.posX);
            } else if (rotate == 180) {
                p.anchorX = truncDiff(x1, s.posX);
                p.anchorY = truncDiff(y1, s.posY);
            } else if (rotate == 270) {
                p.anchorX = addSaturated(truncateToInt(x0), s.posY);
                p.anchorY = truncDiff(y1, s.posX);
            }
        }
    }
    if (s.flipV) {
        if (!rot) {
            p.anchorX = addSaturated(p.anchorX, s.posX);
            p.anchorY = truncDiff(y1, s.posY);
        } else {
            p.angle += static_cast<float>(rotate);
            if (rotate == 90) {
                p.anchorX = addSaturated(p.anchorX, s.posY);
                p.anchorY = addSaturated(p.anchorY, s.posX);
            } else if (rotate == 180) {
                p.anchorX = truncDiff(x1, s.posX);
                p.anchorY = addSaturated(p.anchorY, s.posY);
            } else if (rotate == 270) {
                p.anchorX = truncDiff(x1, s.posX);
                p.anchorY = truncDiff(y1, s.posY);
            }
        }
    }
    if (s.flipH) {
        if (!rot) {
            p.anchorX = truncDiff(x1, s.posX);
            p.anchorY = addSaturated(p.anchorY, s.posY);
        } else {
            p.angle += static_cast<float>(rotate);
            if (rotate == 90) {
                p.anchorX = truncDiff(x1, s.posX);
                p.anchorY = truncDiff(y1, s.posY);
            } else if (rotate == 180) {
                p.anchorX = addSaturated(p.anchorX, s.posX);
                p.anchorY = truncDiff(y1, s.posY);
            } else if (rotate == 270) {
                p.anchorX = addSaturated(p.anchorX, s.posY);
                p.anchorY = addSaturated(p.anchorY, s.posX);
            }
        }
    }

    // -1 centres on that axis: half the box's width or height.
    if (s.posX == -1) {
        if (rot)
            p.anchorY = truncateToInt((y1 - y0) * 0.5);
        else
            p.anchorX = truncateToInt((x1 - x0) * 0.5);
    }
    if (s.posY == -1) {
        if (rot)
            p.anchorX = truncateToInt((x1 - x0) * 0.5);
        else
            p.anchorY = truncateToInt((y1 - y0) * 0.5);
    }

    if (s.align != "left") {
        double width = s.align == "center" ? s.sizeX * 0.5 : s.sizeX;
        int shift = truncateToInt(width);
        // Along the page's y axis on a rotated page: the displayed horizontal.
        if (rot)
            p.anchorY = subtractSaturated(p.anchorY, shift);
        else
            p.anchorX = subtractSaturated(p.anchorX, shift);
    }
    return p;
}

void rotationMatrix(float angle, double matrix[4])
{
    double cosine, sine;
    double turns = static_cast<double>(angle) / 90.0;
    if (std::isfinite(turns) && turns == std::floor(turns)) {
        // Quarter turns exactly: cos 90 is 0, not 6e-17.
        static const double kCos[4] = {1, 0, -1, 0};
        static const double kSin[4] = {0, 1, 0, -1};
        int quarter = static_cast<int>(std::fmod(std::fmod(turns, 4.0) + 4.0, 4.0));
        cosine = kCos[quarter];
        sine = kSin[quarter];
    } else {
        double radians = static_cast<double>(angle) * (M_PI / 180.0);
        cosine = std::cos(radians);
        sine = std::sin(radians);
    }
    matrix[0] = cosine;
    matrix[1] = sine;
    matrix[2] = -sine;
    matrix[3] = cosine;
}

MarkGeometry cornerMarkGeometry(ECornerMark mark, const float box[4])
{
    const double x0 = truncateToInt(box[0]), y0 = truncateToInt(box[1]);
    const double x1 = truncateToInt(box[2]), y1 = truncateToInt(box[3]);
    switch (mark) {
    case MARK_BLV:
        return {x0 - 0.25, y0 - 24, 0.25, 15};
    case MARK_BLH:
        return {x0 - 24, y0, 15, 0.25};
    case MARK_TLV:
        return {x0 - 0.25, y1 + 9, 0.25, 15};
    case MARK_TLH:
        return {x0 - 24, y1 - 0.25, 15, 0.25};
    case MARK_BRV:
        return {x1 - 0.25, y0 - 24, 0.25, 15};
    case MARK_BRH:
        return {x1 + 9, y0, 15, 0.25};
    case MARK_TRV:
        return {x1 - 0.25, y1 + 9, 0.25, 15};
    case MARK_TRH:
        return {x1 + 9, y1 - 0.25, 15, 0.25};
    }
    return {};
}
