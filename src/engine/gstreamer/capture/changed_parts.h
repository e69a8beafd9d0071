#pragma once

#include "platform/display_services.h"

#include <vector>

namespace native_worker::engine::gstreamer {

// The parts of a captured area to grab again, from the changed rectangles of
// the screen: moved into the area's coordinates and clipped to it, grown to
// whole 16-pixel blocks (the encoder's macroblocks, and even for 4:2:0
// chroma). Many small changes become the one rectangle around them, since
// each grab costs a round trip to the server.
std::vector<platform::Rect> changedParts(const std::vector<platform::Rect>& changes, const platform::Rect& area);

}  // namespace native_worker::engine::gstreamer
