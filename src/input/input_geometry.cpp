#include "input/input_geometry.h"

#include <algorithm>
#include <cmath>

namespace native_worker {
namespace {

using kelvarn::input::InputRecord;
using kelvarn::input::Point;

constexpr double largestCoordinate = 10'000'000;

bool isSize(double value) {
    return std::isfinite(value) && value >= 1 && value <= largestCoordinate;
}

bool isFinite(Point point) {
    return std::isfinite(point.x) && std::isfinite(point.y);
}

}  // namespace

bool isValidRectangle(const VirtualScreen& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::fabs(r.x) <= largestCoordinate &&
           std::fabs(r.y) <= largestCoordinate && isSize(r.width) && isSize(r.height);
}

bool isValidDisplay(const DisplayTarget& display) {
    return !display.id.empty() && display.id.size() <= 256 && isValidRectangle(frameOf(display)) &&
           isSize(display.pixelWidth) && isSize(display.pixelHeight);
}

VirtualScreen frameOf(const DisplayTarget& display) {
    return {display.frameX, display.frameY, display.frameWidth, display.frameHeight};
}

bool liesInside(const VirtualScreen& inner, const VirtualScreen& outer) {
    return outer.x <= inner.x && outer.y <= inner.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

Point clampInto(Point point, const VirtualScreen& r) {
    // Written out rather than std::clamp, which requires low <= high.
    const auto clamp = [](double value, double low, double high) { return std::max(low, std::min(value, high)); };
    return {clamp(point.x, r.x, r.x + r.width - 1), clamp(point.y, r.y, r.y + r.height - 1)};
}

std::optional<Point> mapFractions(const DisplayTarget& display, double fx, double fy) {
    if (!isValidDisplay(display) || !isFinite({fx, fy}) || fx < 0 || fx > 1 || fy < 0 || fy > 1) return std::nullopt;
    const VirtualScreen frame = frameOf(display);
    return clampInto({frame.x + fx * frame.width, frame.y + fy * frame.height}, frame);
}

std::optional<Point> mapPicturePixels(const DisplayTarget& display, double px, double py) {
    if (!isValidDisplay(display) || !isFinite({px, py})) return std::nullopt;
    return mapFractions(display, std::clamp(px / display.pixelWidth, 0.0, 1.0),
                        std::clamp(py / display.pixelHeight, 0.0, 1.0));
}

std::optional<InputRecord> absoluteRecord(const VirtualScreen& desktop, Point point) {
    if (!isValidRectangle(desktop) || !isFinite(point)) return std::nullopt;
    const Point clamped = clampInto(point, desktop);
    InputRecord record;
    record.type = kelvarn::input::inputMouse;
    // std::lround rounds halves away from zero.
    record.dx =
        static_cast<std::int32_t>(std::lround((clamped.x - desktop.x) * 65535 / std::max(1.0, desktop.width - 1)));
    record.dy =
        static_cast<std::int32_t>(std::lround((clamped.y - desktop.y) * 65535 / std::max(1.0, desktop.height - 1)));
    record.dwFlags = kelvarn::input::absoluteMoveFlags;
    return record;
}

}  // namespace native_worker
