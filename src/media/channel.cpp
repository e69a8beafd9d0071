#include "media/channel.h"

#include <cstdint>
#include <limits>

namespace native_worker {

Channel::Channel(std::shared_ptr<engine::DataChannel> dataChannel, std::string expectedGreeting,
                 MessageCallback onMessage, StateCallback onState)
    : dataChannel_(std::move(dataChannel)),
      expectedGreeting_(std::move(expectedGreeting)),
      messageCallback_(std::move(onMessage)),
      stateCallback_(std::move(onState)) {
    dataChannel_->registerObserver(this);
}

void Channel::onStateChange(std::int32_t state) {
    const bool open = state == engine::dataChannelOpen;
    open_.store(open);
    if (!stateCallback_) return;
    try {
        stateCallback_(open);
    } catch (...) {
        // The engine must never see a callback's failure.
    }
}

void Channel::onMessage(const char* data, std::int32_t length, bool binary) {
    if (!binary && length >= 0 && static_cast<std::size_t>(length) == expectedGreeting_.size() &&
        std::string_view(data, static_cast<std::size_t>(length)) == expectedGreeting_) {
        open_.store(true);
        greetingsReceived_.fetch_add(1);
    }
    if (!messageCallback_ || length < 0) return;
    try {
        messageCallback_(std::string_view(data, static_cast<std::size_t>(length)), binary);
    } catch (...) {
        // The engine must never see a callback's failure.
    }
}

bool Channel::sendText(std::string_view text) {
    if (!open_.load() || text.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    dataChannel_->send(text, false);
    return true;
}

void Channel::sendGreetingOnce(std::string_view text) {
    if (greetingSent_ || !open_.load()) return;
    dataChannel_->send(text, false);
    greetingSent_ = true;
}

}  // namespace native_worker
