#pragma once

#include <chrono>

namespace native_worker {

// The session's time source, so tests can pass a deadline without waiting for it.
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

}  // namespace native_worker
