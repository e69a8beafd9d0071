#pragma once

#include "base/field_checks.h"
#include "input/gate_state.h"
#include "input/input_injector.h"
#include "media/displays.h"
#include "platform/input_sink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace native_worker {

// The host side of the "control" and "motion" channels: tells the controller
// when its input is admitted, and validates and injects what it sends. Every
// operation runs under one mutex, and the send function is called under it,
// so whatever send locks comes after this mutex in the lock order. Gate
// updates are applied on a thread of the control's own, since applying one
// may release held input through a sink that waits on its system (an X
// server that stalls), and whoever updates the gate must not wait with it.
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
    // Waits at most gatePatience for the gate to be applied, and not at all
    // while an earlier one still waits. A revoking gate is always applied,
    // even when a later one comes before it was.
    void updateGate(const GateState& gate);
    bool isReady() const;
    // Releases all held input; nothing is ever admitted again.
    void shutdown();

    static constexpr std::chrono::milliseconds gatePatience{500};

private:
    void applyGate(const GateState& gate);
    void applyPostedGates();
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
    // Written under the mutex, read without it.
    std::atomic<bool> ready_{false};
    bool closed_ = false;
    std::string lastReason_;

    // Gates waiting for the control's thread, and how many were posted and
    // applied. The gate mutex is never held while the control's is waited for.
    std::mutex gateMutex_;
    // A plain condition variable and flag, not a stop token: mingw-w64's
    // stop-token wait sometimes missed the stop under Wine, and the join hung.
    std::condition_variable gatePosted_;
    std::condition_variable gateApplied_;
    bool stopping_ = false;
    std::optional<GateState> postedRevocation_;
    std::optional<GateState> postedGate_;
    std::uint64_t gatesPosted_ = 0;
    std::uint64_t gatesApplied_ = 0;
    std::thread gateThread_;
};

}  // namespace native_worker
