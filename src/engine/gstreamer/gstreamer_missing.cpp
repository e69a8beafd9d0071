#include "engine/gstreamer/gstreamer_engine.h"
#include "engine/unavailable/unavailable_engine.h"

namespace native_worker::engine {

// Built instead of the real engine when GStreamer's development files are missing.
std::unique_ptr<Engine> createGStreamerEngine(platform::DisplayServices&) {
    return createUnavailableEngine();
}

}  // namespace native_worker::engine
