#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::platform {

// A rectangle in physical pixels of the virtual desktop; right and bottom exclusive.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const Rect&) const = default;
};

struct Monitor {
    std::uint64_t handle = 0;  // opaque and never 0
    Rect rect;
    bool primary = false;
    std::string deviceName;  // "\\.\DISPLAY<n>"
};

class DisplayServices {
public:
    virtual ~DisplayServices() = default;
    // Makes later measurements physical pixels; failure changes nothing.
    virtual void enableDpiAwareness() = 0;
    // Every monitor of the desktop, in the system's enumeration order.
    virtual std::vector<Monitor> monitors() = 0;
    // The monitor behind a handle, if the handle names one.
    virtual std::optional<Monitor> monitorInfo(std::uint64_t handle) = 0;
    // The bounding rectangle of all monitors.
    virtual Rect virtualScreen() = 0;
};

// The running system's display services.
std::unique_ptr<DisplayServices> createSystemDisplayServices();

}  // namespace native_worker::platform
