#pragma once

#include "media/displays.h"
#include "platform/input_record.h"

#include <optional>

// Pointer geometry in physical pixels of the virtual desktop.
namespace native_worker {

bool isValidRectangle(const VirtualScreen& rectangle);
bool isValidDisplay(const DisplayTarget& display);
VirtualScreen frameOf(const DisplayTarget& display);
bool liesInside(const VirtualScreen& inner, const VirtualScreen& outer);

// Into [x, x + width - 1] and [y, y + height - 1].
kelvarn::input::Point clampInto(kelvarn::input::Point point, const VirtualScreen& rectangle);

// A point of the display from fractions of it (0 to 1), or from pixels of the
// captured picture; empty for an invalid display or unusable values.
std::optional<kelvarn::input::Point> mapFractions(const DisplayTarget& display, double fx, double fy);
std::optional<kelvarn::input::Point> mapPicturePixels(const DisplayTarget& display, double px, double py);

// An absolute move to the point, on the 0..65535 scale of the whole desktop.
std::optional<kelvarn::input::InputRecord> absoluteRecord(const VirtualScreen& desktop, kelvarn::input::Point point);

}  // namespace native_worker
