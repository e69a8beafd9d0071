#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace native_worker::congestion {

struct RateBounds {
    std::int64_t minimumBps = 0;
    std::int64_t startBps = 0;
    std::int64_t maximumBps = 0;

    std::int64_t clamp(double bps) const {
        if (!std::isfinite(bps)) return maximumBps;
        return std::clamp(static_cast<std::int64_t>(bps), minimumBps, maximumBps);
    }
};

}  // namespace native_worker::congestion
