#include "page/StampPlacement.h"

#include <algorithm>
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

// M_PI's value: strict C++ (MinGW-w64 among others) does not declare M_PI.
constexpr double kPi = 3.14159265358979323846;

int saturate(int64_t value) { return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value); }
int addSaturated(int a, int b) { return saturate(static_cast<int64_t>(a) + b); }

// Box value minus an integer setting, formed in the box's float precision.
int truncDiff(float boxValue, int setting) { return truncateToInt(boxValue - static_cast<float>(setting)); }

// One axis of the page as displayed (rightwards or upwards), in page terms:
// the page axis it runs along (0 = x, 1 = y) and whether it runs the same way.
struct CDisplayAxis {
    int pageAxis;
    bool forward;
};

} // namespace

Placement computePlacement(const PlacementSettings& s, const float box[4], int rotate)
{
    // A rotated page is shown turned clockwise; positions are measured on the
    // page as displayed, and the image is turned back so it shows upright.
    const int turn = s.forcePortrait ? rotate : 0;
    CDisplayAxis horizontal{0, true}, vertical{1, true};
    if (turn == 90)
        horizontal = {1, true}, vertical = {0, false};
    else if (turn == 180)
        horizontal = {0, false}, vertical = {1, false};
    else if (turn == 270)
        horizontal = {1, false}, vertical = {0, true};

    // `distance` from the displayed left/bottom edge, or from the right/top
    // one when `fromFar`; -1 centres. A distance from a low page edge is
    // added to the truncated edge, one from a high edge is subtracted before
    // truncating, as the page's own placement does; a fraction is then added exactly.
    auto place = [box](const CDisplayAxis& axis, double distance, bool fromFar) -> double {
        const float low = box[axis.pageAxis], high = box[axis.pageAxis + 2];
        if (distance == -1)
            return truncateToInt(low + (high - low) * 0.5);
        const int whole = truncateToInt(distance);
        const double fraction = distance - whole;
        return axis.forward != fromFar ? addSaturated(truncateToInt(low), whole) + fraction
                                       : truncDiff(high, whole) - fraction;
    };
    double across = place(horizontal, s.posX, s.flipH);
    const double up = place(vertical, s.posY, s.flipV);

    // Alignment moves the image along the displayed horizontal, leftwards.
    if (s.align != "left") {
        const double width = s.align == "center" ? s.sizeX * 0.5 : s.sizeX;
        const double shift = s.sizeX == std::trunc(s.sizeX) ? truncateToInt(width) : width;
        // Saturating, as whole-number placement always has.
        across = std::clamp(horizontal.forward ? across - shift : across + shift, double(INT_MIN), double(INT_MAX));
    }

    Placement p;
    double anchor[2];
    anchor[horizontal.pageAxis] = across;
    anchor[vertical.pageAxis] = up;
    p.anchorX = anchor[0];
    p.anchorY = anchor[1];
    p.angle = static_cast<float>(turn);
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
        double radians = static_cast<double>(angle) * (kPi / 180.0);
        cosine = std::cos(radians);
        sine = std::sin(radians);
    }
    matrix[0] = cosine;
    matrix[1] = sine;
    matrix[2] = -sine;
    matrix[3] = cosine;
}

CStampRect displayedRect(double x, double y, float angle, double width, double height, const float box[4], int rotate)
{
    double m[4];
    rotationMatrix(angle, m);
    double low[2] = {0, 0}, high[2] = {0, 0};
    for (int corner = 0; corner < 4; ++corner) {
        const double u = (corner & 1) ? width : 0, v = (corner & 2) ? height : 0;
        const double pageX = x + m[0] * u + m[2] * v, pageY = y + m[1] * u + m[3] * v;
        // A viewer turns the page clockwise by /Rotate.
        double shown[2];
        switch (rotate) {
        case 90:
            shown[0] = pageY - box[1], shown[1] = box[2] - pageX;
            break;
        case 180:
            shown[0] = box[2] - pageX, shown[1] = box[3] - pageY;
            break;
        case 270:
            shown[0] = box[3] - pageY, shown[1] = pageX - box[0];
            break;
        default:
            shown[0] = pageX - box[0], shown[1] = pageY - box[1];
        }
        for (int axis = 0; axis < 2; ++axis) {
            low[axis] = corner == 0 ? shown[axis] : std::min(low[axis], shown[axis]);
            high[axis] = corner == 0 ? shown[axis] : std::max(high[axis], shown[axis]);
        }
    }
    return CStampRect{low[0], low[1], high[0] - low[0], high[1] - low[1]};
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
