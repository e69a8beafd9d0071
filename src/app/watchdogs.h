#pragma once

#include "base/clock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace native_worker {

// Ends the process with exit code 3 when the serve loop misses its deadline.
class ServeWatchdog {
public:
    static constexpr std::int64_t passAllowanceMs = 15000;
    static constexpr std::int64_t shutdownAllowanceMs = 5000;
    // Milliseconds on the monotonic clock; a test's own lets it reach a deadline without waiting for it.
    using Now = std::int64_t (*)();

    explicit ServeWatchdog(Now now = monotonicMilliseconds);
    ~ServeWatchdog();
    ServeWatchdog(const ServeWatchdog&) = delete;
    ServeWatchdog& operator=(const ServeWatchdog&) = delete;

    // The process must reach the next feed within this many milliseconds.
    void feed(std::int64_t allowanceMs);
    void stop();

private:
    const Now now_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::int64_t> deadline_;
    std::thread thread_;
};

// Guards the self-test: if the run outlives its timeout by 5 seconds, prints the
// hard-timeout line and ends the process with exit code 3.
class LoopbackWatchdog {
public:
    static constexpr std::int64_t graceMs = 5000;

    explicit LoopbackWatchdog(std::int32_t timeoutMs);
    ~LoopbackWatchdog();
    LoopbackWatchdog(const LoopbackWatchdog&) = delete;
    LoopbackWatchdog& operator=(const LoopbackWatchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace native_worker
