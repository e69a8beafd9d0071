#pragma once

#include <memory>
#include <optional>

namespace native_worker::platform {

struct CursorPosition {
    double x = 0;
    double y = 0;
};

// The system's input facilities that the input gate and the sinks read.
class InputServices {
public:
    virtual ~InputServices() = default;
    // Whether input could be injected into the interactive desktop now.
    virtual bool inputDesktopAvailable() = 0;
    // The cursor in physical pixels of the virtual desktop; empty when unknown.
    virtual std::optional<CursorPosition> cursorPosition() = 0;
};

// The running system's input services.
std::unique_ptr<InputServices> createSystemInputServices();

}  // namespace native_worker::platform
