#pragma once

#include <chrono>
#include <cstdint>

namespace native_worker {

// Milliseconds on the steady clock: the unit of every process and transport limit.
inline std::int64_t monotonicMilliseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           1'000'000;
}

}  // namespace native_worker
