#include "platform/posix/scan_codes.h"

#include <algorithm>
#include <array>
#include <utility>

namespace native_worker::platform {
namespace {

// The unprefixed codes 0x01 to 0x58 are the evdev codes themselves.
constexpr std::uint16_t lastPlainScanCode = 0x58;

// E0-prefixed scan code to evdev code, sorted by scan code.
constexpr std::array<std::pair<std::uint16_t, std::uint16_t>, 20> extendedCodes{{
    {0x1C, 96},   // keypad Enter
    {0x1D, 97},   // right Ctrl
    {0x35, 98},   // keypad /
    {0x37, 99},   // Print Screen
    {0x38, 100},  // right Alt
    {0x45, 69},   // Num Lock, which Windows marks as extended
    {0x46, 119},  // Break
    {0x47, 102},  // Home
    {0x48, 103},  // Up
    {0x49, 104},  // Page Up
    {0x4B, 105},  // Left
    {0x4D, 106},  // Right
    {0x4F, 107},  // End
    {0x50, 108},  // Down
    {0x51, 109},  // Page Down
    {0x52, 110},  // Insert
    {0x53, 111},  // Delete
    {0x5B, 125},  // left Windows
    {0x5C, 126},  // right Windows
    {0x5D, 127},  // Menu
}};

static_assert(std::ranges::is_sorted(extendedCodes));

}  // namespace

std::uint16_t evdevKeyFromScanCode(std::uint16_t scanCode, bool extended) {
    if (!extended) return scanCode <= lastPlainScanCode ? scanCode : std::uint16_t{0};
    const auto found =
        std::ranges::lower_bound(extendedCodes, scanCode, {}, &std::pair<std::uint16_t, std::uint16_t>::first);
    return found != extendedCodes.end() && found->first == scanCode ? found->second : std::uint16_t{0};
}

}  // namespace native_worker::platform
