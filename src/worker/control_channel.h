#pragma once

#include "media/peer.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <string>
#include <string_view>

// Sending on the host peer's data channels by label.
namespace native_worker {

// Sends the text on every open channel with this label, without holding the
// peer's lock while sending; true when at least one channel took it.
bool sendOnChannel(Peer& peer, std::string_view label, std::string_view text);

// The "displayList" message, made once the host's capture has started and
// sent on "control" each time that channel opens. The engine thread that
// reports the opening sends it before the remote control hears of it, so
// that it always comes before "controlReady".
class DisplayAnnouncement {
public:
    // The serve loop's thread, once; no announcement when the displays are
    // unknown or their names are not UTF-8.
    void prepare(const nlohmann::json& displays, std::string_view activeId);
    // Any thread; nothing until prepared.
    void sendOn(Peer& peer) const;

private:
    std::string message_;
    std::atomic<bool> prepared_{false};
};

}  // namespace native_worker
