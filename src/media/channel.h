#pragma once

#include "media/engine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace native_worker {

// Observes one data channel: tracks whether it is open, forwards its messages
// and state changes, and counts a fixed greeting text (used by the self-test).
class Channel final : public engine::DataChannelObserver {
public:
    using MessageCallback = std::function<void(std::string_view data, bool binary)>;
    using StateCallback = std::function<void(bool open)>;

    Channel(std::shared_ptr<engine::DataChannel> dataChannel, std::string expectedGreeting, MessageCallback onMessage,
            StateCallback onState);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    void onStateChange(std::int32_t state) override;
    void onMessage(const char* data, std::int32_t length, bool binary) override;

    // Sends a text message; false, with nothing sent, unless the channel is open.
    bool sendText(std::string_view text);
    // Sends the greeting once, on the first call after the channel opened.
    void sendGreetingOnce(std::string_view text);

    bool isOpen() const { return open_.load(); }
    std::int32_t greetingsReceived() const { return greetingsReceived_.load(); }
    engine::DataChannel& dataChannel() { return *dataChannel_; }

private:
    std::shared_ptr<engine::DataChannel> dataChannel_;
    std::atomic<bool> open_{false};
    std::atomic<std::int32_t> greetingsReceived_{0};
    std::string expectedGreeting_;
    bool greetingSent_ = false;
    MessageCallback messageCallback_;
    StateCallback stateCallback_;
};

}  // namespace native_worker
