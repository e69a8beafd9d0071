#include "input/control_channel.h"

#include "input/control_messages.h"

namespace native_worker {

bool sendOnChannel(Peer& peer, std::string_view label, std::string_view text) {
    bool sent = false;
    for (Channel* channel : peer.channelsLabelled(label)) sent = channel->sendText(text) || sent;
    return sent;
}

void sendDisplayList(Peer& peer, const nlohmann::json& displays, std::string_view activeId) {
    if (activeId.empty() || !displays.is_array() || displays.empty()) return;
    try {
        sendOnChannel(peer, "control", displayListMessage(displays, activeId));
    } catch (...) {
        // An announcement that cannot be built or sent is simply not made.
    }
}

}  // namespace native_worker
