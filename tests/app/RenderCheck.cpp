#include "tests/app/RenderCheck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/TestUtil.h"

namespace render {

int Raster::lightness(int x, int y) const
{
    const unsigned char* p = at(x, y);
    int sum = 0;
    for (int c = 0; c < channels; ++c)
        sum += p[c];
    return sum / channels;
}

namespace {

// The next header field of a PNM file, skipping white space and comments.
bool nextField(const std::string& bytes, size_t& pos, long& value)
{
    for (;;) {
        while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos])))
            ++pos;
        if (pos < bytes.size() && bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n')
                ++pos;
            continue;
        }
        break;
    }
    size_t start = pos;
    value = 0;
    while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && pos - start < 9)
        value = value * 10 + (bytes[pos++] - '0');
    return pos > start;
}

} // namespace

bool parsePnm(const std::string& bytes, Raster& out)
{
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        return false;
    const int channels = bytes[1] == '5' ? 1 : 3;
    size_t pos = 2;
    long width = 0, height = 0, maxval = 0;
    if (!nextField(bytes, pos, width) || !nextField(bytes, pos, height) || !nextField(bytes, pos, maxval))
        return false;
    if (maxval != 255 || width <= 0 || height <= 0 || pos >= bytes.size())
        return false;
    ++pos; // the single white-space byte before the samples
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * channels;
    if (bytes.size() - pos < size)
        return false;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.channels = channels;
    out.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                    bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
    return true;
}

std::vector<Raster> renderPages(const std::string& pdf, const RenderOptions& options)
{
    vtest::TempDir folder;
    std::ostringstream command;
    command << "pdftoppm -r " << options.dpi << (options.gray ? " -gray" : "") << (options.cropBox ? " -cropbox" : "")
            << " " << vtest::shellQuote(pdf) << " " << vtest::shellQuote(folder.file("page")) << " 2>/dev/null";
    if (vtest::runCommand(command.str()).status != 0)
        return {};
    // page-1.ppm, or page-01.ppm and so on with more pages: order by the number.
    std::map<long, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        std::string name = entry.path().filename().string();
        size_t dash = name.rfind('-');
        if (name.rfind("page-", 0) != 0 || dash == std::string::npos)
            continue;
        files[std::strtol(name.c_str() + dash + 1, nullptr, 10)] = entry.path().string();
    }
    std::vector<Raster> pages;
    for (const auto& [number, path] : files) {
        Raster raster;
        if (!parsePnm(vtest::readFile(path), raster))
            return {};
        pages.push_back(std::move(raster));
    }
    return pages;
}

double View::displayWidth() const
{
    return rotate == 90 || rotate == 270 ? box.y1 - box.y0 : box.x1 - box.x0;
}

double View::displayHeight() const
{
    return rotate == 90 || rotate == 270 ? box.x1 - box.x0 : box.y1 - box.y0;
}

void View::pointToDisplay(double x, double y, double& dx, double& dy) const
{
    // /Rotate turns the page clockwise for display.
    switch (rotate) {
    case 90:
        dx = y - box.y0;
        dy = box.x1 - x;
        break;
    case 180:
        dx = box.x1 - x;
        dy = box.y1 - y;
        break;
    case 270:
        dx = box.y1 - y;
        dy = x - box.x0;
        break;
    default:
        dx = x - box.x0;
        dy = y - box.y0;
        break;
    }
}

Rect View::rectToDisplay(double x0, double y0, double x1, double y1) const
{
    double ax, ay, bx, by;
    pointToDisplay(x0, y0, ax, ay);
    pointToDisplay(x1, y1, bx, by);
    return Rect{std::min(ax, bx), std::min(ay, by), std::fabs(bx - ax), std::fabs(by - ay)};
}

namespace {

int grayOf(const Rgb& c) { return static_cast<int>(std::lround(0.3 * c.r + 0.59 * c.g + 0.11 * c.b)); }

// Distance in points from the rectangle's edge: positive inside, negative outside.
double edgeDistance(const Rect& r, double x, double y)
{
    double inside = std::min({x - r.left, r.left + r.width - x, y - r.bottom, r.bottom + r.height - y});
    if (inside >= 0)
        return inside;
    return -std::max({r.left - x, x - (r.left + r.width), r.bottom - y, y - (r.bottom + r.height)});
}

} // namespace

Comparison compareStamped(const Raster& before, const Raster& after, const View& view, double dpi,
                          const std::vector<ExpectedStamp>& stamps, const Tolerance& tolerance)
{
    Comparison result;
    int problems = 0;
    auto note = [&](const std::string& text) {
        if (++problems <= 8)
            result.problems += text + "\n";
    };
    if (before.width != after.width || before.height != after.height || before.channels != after.channels ||
        before.width == 0) {
        result.stampsVisible = false;
        result.outsideMismatches = 1;
        result.problems = "the renders differ in size: " + std::to_string(before.width) + "x" +
                          std::to_string(before.height) + " and " + std::to_string(after.width) + "x" +
                          std::to_string(after.height) + "\n";
        return result;
    }
    const double pointsPerPixel = 72.0 / dpi;
    const double margin = tolerance.edgePixels * pointsPerPixel;
    const double pageHeight = view.displayHeight();
    std::vector<long> judged(stamps.size(), 0);

    for (int py = 0; py < after.height; ++py) {
        for (int px = 0; px < after.width; ++px) {
            const double x = (px + 0.5) * pointsPerPixel;
            const double y = pageHeight - (py + 0.5) * pointsPerPixel;
            // The topmost stamp that covers the pixel decides it.
            int covering = -1;
            bool nearEdge = false;
            for (size_t i = stamps.size(); i-- > 0;) {
                double distance = edgeDistance(stamps[i].rect, x, y);
                if (std::fabs(distance) <= margin) {
                    nearEdge = true;
                    break;
                }
                if (distance > 0) {
                    covering = static_cast<int>(i);
                    break;
                }
            }
            if (nearEdge)
                continue;
            const unsigned char* was = before.at(px, py);
            const unsigned char* now = after.at(px, py);
            auto where = [&] {
                std::ostringstream text;
                text << "pixel (" << px << "," << py << ") = point (" << x << "," << y << ")";
                return text.str();
            };

            if (covering < 0) {
                ++result.outsidePixels;
                for (int c = 0; c < after.channels; ++c) {
                    if (std::abs(now[c] - was[c]) > tolerance.outsideChannel) {
                        ++result.outsideMismatches;
                        note(where() + " outside the stamp changed: channel " + std::to_string(c) + " " +
                             std::to_string(was[c]) + " -> " + std::to_string(now[c]));
                        break;
                    }
                }
                continue;
            }

            const ExpectedStamp& stamp = stamps[static_cast<size_t>(covering)];
            const double along = x - stamp.rect.left;
            const Rgb* colour = nullptr;
            bool nearBand = false;
            for (const auto& [start, rgb] : stamp.bands) {
                double boundary = start * stamp.rect.width;
                if (start > 0 && std::fabs(along - boundary) <= margin)
                    nearBand = true;
                if (along >= boundary)
                    colour = &rgb;
            }
            if (nearBand || !colour)
                continue;
            ++result.stampPixels;
            ++judged[static_cast<size_t>(covering)];
            int expected[3] = {colour->r, colour->g, colour->b};
            if (after.channels == 1)
                expected[0] = grayOf(*colour);
            for (int c = 0; c < after.channels; ++c) {
                double want = stamp.opacity * expected[c] + (1.0 - stamp.opacity) * was[c];
                if (std::fabs(now[c] - want) > tolerance.stampChannel) {
                    ++result.stampMismatches;
                    note(where() + " inside the stamp: channel " + std::to_string(c) + " is " +
                         std::to_string(now[c]) + ", expected about " + std::to_string(std::lround(want)));
                    break;
                }
            }
        }
    }

    // A stamp that lies off the page (or was never drawn where expected
    // and the page happens to match) must not pass for want of pixels.
    for (size_t i = 0; i < stamps.size(); ++i) {
        const Rect& r = stamps[i].rect;
        double w = r.width / pointsPerPixel - 2 * tolerance.edgePixels;
        double h = r.height / pointsPerPixel - 2 * tolerance.edgePixels;
        double area = std::max(0.0, w) * std::max(0.0, h) * 0.6;
        if (area >= 1 && judged[i] < area) {
            result.stampsVisible = false;
            note("stamp " + std::to_string(i) + " had only " + std::to_string(judged[i]) +
                 " pixels inside the page");
        }
    }
    return result;
}

std::string describe(const Comparison& c)
{
    std::ostringstream text;
    text << "stamp pixels " << c.stampPixels << " (" << c.stampMismatches << " wrong), outside pixels "
         << c.outsidePixels << " (" << c.outsideMismatches << " changed)\n"
         << c.problems;
    return text.str();
}

} // namespace render
