#pragma once

#include "media/engine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace native_worker {

struct Stats {
    std::uint64_t encodedFrames = 0;
    std::string codec;
};

// Reduces one statistics answer to the encoded frame count and the mime type
// of the codec of the sent (host) or received (controller) video stream.
Stats buildStats(const std::vector<engine::StatsReport>& reports, bool host);

}  // namespace native_worker
