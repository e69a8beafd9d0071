#pragma once

#include "platform/input_services.h"

#include <atomic>

namespace native_worker::scripted {

// Input services whose answers a test sets; the desktop is available by default.
class ScriptedInputServices final : public platform::InputServices {
public:
    bool inputDesktopAvailable() override { return desktopAvailable.load(); }
    std::optional<platform::CursorPosition> cursorPosition() override { return platform::CursorPosition{0, 0}; }

    std::atomic<bool> desktopAvailable{true};
};

}  // namespace native_worker::scripted
