#include "platform/input_services.h"

#include <windows.h>

namespace native_worker::platform {
namespace {

class Win32InputServices final : public InputServices {
public:
    // The desktop that receives input can be opened: not the secure desktop,
    // a locked workstation or a disconnected session.
    bool inputDesktopAvailable() override {
        HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
        if (!desktop) return false;
        CloseDesktop(desktop);
        return true;
    }

    std::optional<CursorPosition> cursorPosition() override {
        POINT cursor{};
        if (!GetPhysicalCursorPos(&cursor)) return std::nullopt;
        return CursorPosition{static_cast<double>(cursor.x), static_cast<double>(cursor.y)};
    }
};

}  // namespace

std::unique_ptr<InputServices> createSystemInputServices() {
    return std::make_unique<Win32InputServices>();
}

}  // namespace native_worker::platform
