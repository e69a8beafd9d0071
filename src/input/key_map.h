#pragma once

#include "platform/input_record.h"

#include <array>
#include <cstdint>

namespace native_worker {

// One controller key: its code (macOS virtual key numbering), the Windows
// virtual key, the set-1 scan code (0: none) and whether it has the E0 prefix.
struct KeyMapEntry {
    std::int32_t keyCode;
    std::uint16_t virtualKey;
    std::uint16_t scanCode;
    bool extended;
};

// Empty for an unsupported key code.
const KeyMapEntry* findKey(std::int64_t keyCode);

// The key by scan code when it has one, otherwise by virtual key (F13 to F20).
kelvarn::input::InputRecord keyRecord(const KeyMapEntry& entry, bool release);

// The modifier keys, and the left-hand keys the modifier bits of an event press.
inline constexpr std::array<std::int32_t, 8> modifierKeyCodes{54, 55, 56, 58, 59, 60, 61, 62};
struct ModifierBit {
    std::uint32_t bit;
    std::int32_t keyCode;
};
inline constexpr std::array<ModifierBit, 4> modifierBits{{{0x01, 56}, {0x02, 59}, {0x04, 58}, {0x08, 55}}};

bool isModifierKey(std::int32_t keyCode);

}  // namespace native_worker
