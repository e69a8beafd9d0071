#pragma once

#include "base/clock.h"

#include <atomic>

namespace native_worker::testing {

// A clock that moves only when the test says so.
class FakeClock final : public Clock {
public:
    TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ticks_.load())); }
    void advance(std::chrono::nanoseconds by) { ticks_.fetch_add(by.count()); }

private:
    std::atomic<std::chrono::nanoseconds::rep> ticks_{1'000'000'000};
};

}  // namespace native_worker::testing
