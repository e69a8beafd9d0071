#pragma once

#include "input/gate_state.h"
#include "input/input_injector.h"
#include "input/sink.h"
#include "media/displays.h"
#include "worker/field_checks.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace native_worker {

// The host side of the "control" and "motion" channels: tells the controller
// when its input is admitted, and validates and injects what it sends. Every
// operation runs under one mutex, and the send function is called under it,
// so whatever send locks comes after this mutex in the lock order.
class RemoteControl {
public:
    // Sends one text message on "control"; its outcome does not matter.
    using Send = std::function<void(const std::string& text)>;

    RemoteControl(Identity identity, std::uint64_t inputEpoch, DisplayTarget display, VirtualScreen virtualScreen,
                  kelvarn::input::Sink& sink, Send send);
    ~RemoteControl();
    RemoteControl(const RemoteControl&) = delete;
    RemoteControl& operator=(const RemoteControl&) = delete;

    void onChannelState(std::string_view label, bool open);
    // True when the message was injected.
    bool onMessage(std::string_view label, std::string_view data, bool binary);
    // Also after shutdown, so that a loss during close is still reported.
    void onPeerLost();
    void updateGate(const GateState& gate);
    bool isReady();
    // Releases all held input; nothing is ever admitted again.
    void shutdown();

private:
    void tryReady();
    void reportUnavailable(const char* reason);

    const Identity identity_;
    const std::uint64_t inputEpoch_;
    const DisplayTarget display_;
    const VirtualScreen virtualScreen_;
    GateState gate_;
    Send send_;
    InputInjector injector_;
    std::mutex mutex_;
    bool controlOpen_ = false;
    bool motionOpen_ = false;
    bool ready_ = false;
    bool closed_ = false;
    std::string lastReason_;
};

}  // namespace native_worker
