#include "worker/control_channel.h"

#include "input/control_messages.h"

namespace native_worker {

bool sendOnChannel(Peer& peer, std::string_view label, std::string_view text) {
    bool sent = false;
    for (Channel* channel : peer.channelsLabelled(label)) sent = channel->sendText(text) || sent;
    return sent;
}

void DisplayAnnouncement::prepare(const nlohmann::json& displays, std::string_view activeId) {
    if (activeId.empty() || !displays.is_array() || displays.empty()) return;
    try {
        message_ = displayListMessage(displays, activeId);
    } catch (...) {
        return;  // an announcement that cannot be built is simply not made
    }
    prepared_.store(true, std::memory_order_release);
}

void DisplayAnnouncement::sendOn(Peer& peer) const {
    if (prepared_.load(std::memory_order_acquire)) sendOnChannel(peer, "control", message_);
}

}  // namespace native_worker
