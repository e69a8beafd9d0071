#pragma once

#include "platform/byte_ports.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace native_worker::transport {

// Serialises messages to lines and writes them on a thread of its own, so a
// host application that reads slowly never blocks the serve loop.
class HostWriter {
public:
    static constexpr std::size_t lineSizeBound = 6'400'001;
    static constexpr std::uint64_t queuedBytesBound = 12'800'000;
    static constexpr std::size_t queuedLinesBound = 64;
    static constexpr std::int64_t stallBeforeCancelMs = 2000;

    explicit HostWriter(platform::OutputPort& output);
    ~HostWriter();
    HostWriter(const HostWriter&) = delete;
    HostWriter& operator=(const HostWriter&) = delete;

    // Queues one compact line; a refusal only sets the failure flag. Throws when
    // the message holds invalid UTF-8.
    void send(nlohmann::json message);
    bool failed() const { return failed_.load(); }
    // Monotonic milliseconds at which the current write began; 0 when idle.
    std::int64_t writeStartedAt() const { return writeStartedAt_.load(); }
    // Writes out what is queued (cancelling a failed or stalled write) and joins.
    void stop();

private:
    void run();
    bool writeWhole(const std::string& line);

    platform::OutputPort& output_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    std::uint64_t queuedBytes_ = 0;
    bool stopRequested_ = false;
    std::thread thread_;
    std::atomic<bool> failed_{false};
    std::atomic<std::int64_t> writeStartedAt_{0};
};

}  // namespace native_worker::transport
