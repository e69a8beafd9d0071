#pragma once

#include <chrono>
#include <cstdint>

namespace native_worker {

// The worker's one time source: the steady clock. Clock lets the session's
// tests pass a deadline without waiting for it.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SteadyClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

// Milliseconds on the same clock: the unit of every process and transport
// limit, kept in an integer so that threads can share it in an atomic.
inline std::int64_t monotonicMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace native_worker
