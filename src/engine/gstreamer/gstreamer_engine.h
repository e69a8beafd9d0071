#pragma once

#include "media/engine.h"
#include "platform/display_services.h"

#include <memory>

namespace native_worker::engine {

// The media engine over GStreamer's webrtcbin. Screen sources are the
// monitors of the display services, in their order.
std::unique_ptr<Engine> createGStreamerEngine(platform::DisplayServices& displays);

}  // namespace native_worker::engine
