#pragma once

#include <cstdint>

namespace native_worker::platform {

// The Linux input event code of a set-1 scan code, with the E0 prefix when
// extended; 0 for a code without one.
std::uint16_t evdevKeyFromScanCode(std::uint16_t scanCode, bool extended);

}  // namespace native_worker::platform
