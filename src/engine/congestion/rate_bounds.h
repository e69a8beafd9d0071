#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace native_worker::congestion {

struct RateBounds {
    std::int64_t minimumBps = 0;
    std::int64_t startBps = 0;
    std::int64_t maximumBps = 0;

    // A rate that cannot be computed claims nothing. Clamped before it is
    // converted: a double beyond the integer's range does not convert.
    std::int64_t clamp(double bps) const {
        if (std::isnan(bps)) return minimumBps;
        return static_cast<std::int64_t>(
            std::clamp(bps, static_cast<double>(minimumBps), static_cast<double>(maximumBps)));
    }
};

}  // namespace native_worker::congestion
