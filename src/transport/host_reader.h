#pragma once

#include "platform/byte_ports.h"

#include <cstddef>
#include <deque>
#include <string>

namespace native_worker::transport {

// Turns the bytes of standard input into complete lines without ever blocking.
class HostReader {
public:
    static constexpr int readAttemptsPerPass = 16;
    static constexpr std::size_t chunkSize = 4096;
    static constexpr std::size_t lineQueueBound = 32;
    static constexpr std::size_t lineSizeBound = 6'400'000;

    explicit HostReader(platform::InputPort& input) : input_(input) {}

    // One read pass; throws ProtocolError on a framing or pipe failure.
    void readAvailable();

    bool endOfInput() const { return endOfInput_; }
    std::deque<std::string>& lines() { return lines_; }

private:
    void take(const char* bytes, std::size_t count);

    platform::InputPort& input_;
    std::string partialLine_;
    bool endOfInput_ = false;
    std::deque<std::string> lines_;
};

}  // namespace native_worker::transport
