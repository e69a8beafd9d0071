#include "input/remote_control.h"

#include "base/error_codes.h"
#include "input/control_messages.h"
#include "input/input_event.h"
#include "platform/process.h"

#include <utility>

namespace native_worker {
namespace {

constexpr std::string_view controlLabel = "control";
constexpr std::string_view motionLabel = "motion";

}  // namespace

RemoteControl::RemoteControl(Identity identity, std::uint64_t inputEpoch, DisplayTarget display,
                             VirtualScreen virtualScreen, kelvarn::input::Sink& sink, Send send)
    : identity_(std::move(identity)),
      inputEpoch_(inputEpoch),
      display_(std::move(display)),
      virtualScreen_(virtualScreen),
      send_(std::move(send)),
      injector_(identity_, sink),
      gateThread_([this] { applyPostedGates(); }) {}

RemoteControl::~RemoteControl() {
    shutdown();
    {
        std::lock_guard lock(gateMutex_);
        stopping_ = true;
    }
    gatePosted_.notify_all();
    gateThread_.join();
}

void RemoteControl::onChannelState(std::string_view label, bool open) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    const bool inputChannel = label == controlLabel || label == motionLabel;
    if (label == controlLabel) controlOpen_ = open;
    if (label == motionLabel) motionOpen_ = open;
    if (!open && (ready_ || controlOpen_ || motionOpen_)) reportUnavailable(unavailable_reasons::channelClosed);
    if (open || !inputChannel)
        tryReady();
    else
        injector_.reset();
}

bool RemoteControl::onMessage(std::string_view label, std::string_view data, bool binary) {
    std::lock_guard lock(mutex_);
    if (closed_ || !ready_ || binary || data.empty() || data.size() > maximumInputBytes) return false;
    if (label != controlLabel && label != motionLabel) return false;
    const InputParseResult parsed = parseInputEvent(data);
    if (!parsed.event || isMotionKind(parsed.event->kind) != (label == motionLabel)) return false;
    const ApplyResult result = injector_.apply(*parsed.event);
    if (result.code == input_codes::injectionFailed) reportUnavailable(unavailable_reasons::injectionFailed);
    return result.injected;
}

void RemoteControl::onPeerLost() {
    std::lock_guard lock(mutex_);
    reportUnavailable(unavailable_reasons::peerLost);
    injector_.reset();
    ready_ = false;
    controlOpen_ = false;
    motionOpen_ = false;
}

void RemoteControl::updateGate(const GateState& gate) {
    std::unique_lock lock(gateMutex_);
    const bool earlierWaits = gatesApplied_ != gatesPosted_;
    if (!gate.isOpen() && !postedRevocation_) {
        postedRevocation_ = gate;
        postedGate_.reset();
    } else {
        postedGate_ = gate;
    }
    const std::uint64_t ticket = ++gatesPosted_;
    gatePosted_.notify_one();
    if (!earlierWaits) gateApplied_.wait_for(lock, gatePatience, [&] { return gatesApplied_ >= ticket; });
}

void RemoteControl::applyPostedGates() {
    platform::nameCurrentThread("input-gate");
    std::unique_lock lock(gateMutex_);
    for (;;) {
        gatePosted_.wait(lock, [this] { return stopping_ || gatesApplied_ != gatesPosted_; });
        if (stopping_) return;
        const std::optional<GateState> revocation = std::exchange(postedRevocation_, std::nullopt);
        const std::optional<GateState> gate = std::exchange(postedGate_, std::nullopt);
        const std::uint64_t taken = gatesPosted_;
        lock.unlock();
        {
            std::lock_guard control(mutex_);
            if (revocation) applyGate(*revocation);
            if (gate) applyGate(*gate);
        }
        lock.lock();
        gatesApplied_ = taken;
        gateApplied_.notify_all();
    }
}

void RemoteControl::applyGate(const GateState& gate) {
    if (closed_) return;
    gate_ = gate;
    if (gate.isOpen()) return tryReady();
    const char* reason = !gate.captureReady   ? unavailable_reasons::captureUnavailable
                         : !gate.inputDesktop ? unavailable_reasons::inputDesktopUnavailable
                                              : unavailable_reasons::inputGate;
    reportUnavailable(reason);
    injector_.reset();
}

bool RemoteControl::isReady() const {
    return ready_.load();
}

void RemoteControl::shutdown() {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    ready_ = false;
    controlOpen_ = false;
    motionOpen_ = false;
    injector_.shutdown();
}

void RemoteControl::tryReady() {
    if (closed_ || ready_ || !controlOpen_ || !motionOpen_) return;
    if (!injector_.activate(inputEpoch_, display_, virtualScreen_, gate_))
        return reportUnavailable(unavailable_reasons::inputGate);
    ready_ = true;
    lastReason_.clear();
    try {
        send_(controlReadyMessage(inputEpoch_));
    } catch (...) {
        // The controller cannot have heard of it: back to waiting, silently.
        ready_ = false;
        injector_.reset();
    }
}

void RemoteControl::reportUnavailable(const char* reason) {
    const bool change = ready_ || lastReason_ != reason;
    ready_ = false;
    lastReason_ = reason;
    if (!change || !send_) return;
    try {
        send_(controlUnavailableMessage(inputEpoch_, reason));
    } catch (...) {
        // A report that cannot be sent is not worth failing the session over.
    }
}

}  // namespace native_worker
