#pragma once

#include "input/input_event.h"

#include <optional>
#include <string_view>

namespace native_worker {

// Reads one event message straight into an InputEvent, applying the nesting,
// duplicate-key, type and range rules while the text is parsed. Empty when
// the text is not one strict JSON object or any of those rules fails; the
// rules of each kind are left to the caller.
std::optional<InputEvent> readInputEvent(std::string_view text);

}  // namespace native_worker
