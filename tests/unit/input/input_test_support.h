#pragma once

#include "base/field_checks.h"
#include "input/gate_state.h"
#include "input/input_injector.h"
#include "media/displays.h"
#include "recording_sink.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace native_worker::testing {

inline constexpr std::uint64_t testEpoch = 7;
inline constexpr GateState openGate{true, true, true, true};

inline Identity testIdentity() {
    return {"account-1", "session-1", "generation-1"};
}

// A 1920x1080 display filling a desktop of the same size.
inline DisplayTarget display1080() {
    return {"1", 0, 0, 1920, 1080, 1920, 1080};
}

inline VirtualScreen desktop1080() {
    return {0, 0, 1920, 1080};
}

// An event message: the members given, plus the required ones they lack
// (an increasing sequence, the test epoch, no modifiers, no pressed lists).
class EventTexts {
public:
    std::string operator()(nlohmann::json members) {
        if (!members.contains("sequence")) members["sequence"] = next_++;
        if (!members.contains("inputEpoch")) members["inputEpoch"] = epoch;
        if (!members.contains("modifiers")) members["modifiers"] = {{"rawValue", 0}};
        if (!members.contains("pressedKeys")) members["pressedKeys"] = nlohmann::json::array();
        if (!members.contains("pressedButtons")) members["pressedButtons"] = nlohmann::json::array();
        return members.dump();
    }

    std::uint64_t epoch = testEpoch;

private:
    std::uint64_t next_ = 1;
};

// Names parameterised cases after their "name" member.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

inline nlohmann::json key(std::int64_t keyCode, bool down, std::uint32_t modifiers = 0) {
    return {{"kind", "keyboard.key"}, {"keyCode", keyCode}, {"isDown", down}, {"modifiers", {{"rawValue", modifiers}}}};
}

inline nlohmann::json text(const std::string& value) {
    return {{"kind", "keyboard.text"}, {"text", value}};
}

// An injector activated for the test epoch on the 1080p display, over a recording sink.
class ActiveInjectorTest : public ::testing::Test {
protected:
    void SetUp() override { activate(display1080(), desktop1080()); }

    // Each activation takes the next epoch, which the events then carry.
    void activate(const DisplayTarget& display, const VirtualScreen& desktop) {
        ASSERT_TRUE(injector.activate(nextEpoch_, display, desktop, openGate));
        events.epoch = nextEpoch_++;
        sink.clear();
    }

    ApplyResult apply(const nlohmann::json& members) { return injector.apply(events(members)); }

    kelvarn::input::RecordingSink sink;
    InputInjector injector{testIdentity(), sink};
    EventTexts events;

private:
    std::uint64_t nextEpoch_ = testEpoch;
};

}  // namespace native_worker::testing
