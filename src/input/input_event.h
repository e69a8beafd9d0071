#pragma once

#include "base/error_codes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace native_worker {

// One input event from the controller, as read from a data-channel message.
struct InputEvent {
    std::string kind;
    std::uint64_t sequence = 0;
    std::optional<std::uint64_t> inputEpoch;
    std::optional<std::string> generation;
    std::optional<std::string> button;
    std::optional<std::string> text;
    std::optional<std::string> displayId;
    std::optional<double> deltaX;
    std::optional<double> deltaY;
    std::optional<double> positionX;
    std::optional<double> positionY;
    std::optional<double> motionX;
    std::optional<double> motionY;
    std::optional<double> normalizedX;
    std::optional<double> normalizedY;
    std::optional<bool> isDown;
    std::optional<std::uint32_t> keyCode;
    std::uint32_t modifiers = 0;
};

// The event is present exactly when code is empty.
struct InputParseResult {
    std::string code;
    std::optional<InputEvent> event;
};

inline constexpr std::size_t maximumInputBytes = 65536;
// Keys an event may list as pressed, and keys the controller may hold down at once.
inline constexpr std::size_t pressedKeysBound = 32;
inline constexpr std::uint64_t largestInputEpoch = 9'007'199'254'740'991;  // 2^53 - 1

// Kinds of the "motion" channel; every other kind belongs to "control".
bool isMotionKind(std::string_view kind);

// Stateless: the same text always gives the same result.
InputParseResult parseInputEvent(std::string_view text);

}  // namespace native_worker
