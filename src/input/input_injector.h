#pragma once

#include "base/field_checks.h"
#include "input/gate_state.h"
#include "input/input_event.h"
#include "media/displays.h"
#include "platform/input_record.h"
#include "platform/input_sink.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace native_worker {

struct ApplyResult {
    bool injected = false;
    std::string code;  // empty on success
};

// Admits input for one epoch at a time, validates each event, turns it into
// records for the sink and keeps every press until it is released. Not
// thread-safe: its owner serialises every call.
class InputInjector {
public:
    InputInjector(Identity identity, kelvarn::input::Sink& sink);
    ~InputInjector();
    InputInjector(const InputInjector&) = delete;
    InputInjector& operator=(const InputInjector&) = delete;

    // Resets, then admits input for this epoch; false when it may not.
    bool activate(std::uint64_t epoch, const DisplayTarget& display, const VirtualScreen& virtualScreen,
                  const GateState& gate);
    // Revokes input and releases everything held.
    void reset();
    // Releases everything held, modifiers last; false when some release was refused.
    bool releaseAll();
    // Revokes for good.
    void shutdown();
    // Delivers one record, remembering a press before delivery so that a
    // refused press is still released later.
    bool trackedSend(const kelvarn::input::InputRecord& record);
    // Parses, admits and injects one event message.
    ApplyResult apply(std::string_view text);
    // The same for an event already parsed from its message.
    ApplyResult apply(const InputEvent& event);

    bool isActive() const { return active_; }
    bool holdsInput() const { return !held_.empty(); }

private:
    const char* admissionRefusal(const InputEvent& event);
    std::optional<std::uint64_t>& sequenceOf(const InputEvent& event);

    // One procedure per kind; false is an injection failure.
    bool injectEvent(const InputEvent& event);
    bool injectKey(const InputEvent& event);
    bool reconcileKeys();
    bool injectText(const std::string& text);
    bool injectAbsolute(const InputEvent& event);
    bool injectMove(const InputEvent& event);
    bool injectButton(const InputEvent& event);
    bool injectScroll(const InputEvent& event);
    bool sendWheel(double& accumulator, std::uint32_t flags);

    std::optional<kelvarn::input::Point> currentPoint();
    std::optional<kelvarn::input::Point> targetPoint(const InputEvent& event);
    bool moveTo(kelvarn::input::Point point);

    const Identity identity_;
    kelvarn::input::Sink& sink_;
    bool active_ = false;
    bool shutDown_ = false;
    std::optional<std::uint64_t> lastActivatedEpoch_;
    std::optional<std::uint64_t> lastControlSequence_;
    std::optional<std::uint64_t> lastMotionSequence_;
    DisplayTarget display_;
    VirtualScreen virtualScreen_;
    std::optional<kelvarn::input::Point> lastMotion_;
    std::map<std::uint64_t, kelvarn::input::InputRecord> held_;
    std::map<std::uint32_t, std::uint32_t> pressedKeys_;  // key code to its modifier bits
    std::set<std::string, std::less<>> pressedButtons_;
    double wheelAccumulatorX_ = 0;
    double wheelAccumulatorY_ = 0;
};

}  // namespace native_worker
