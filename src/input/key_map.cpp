#include "input/key_map.h"

#include <algorithm>

namespace native_worker {
namespace {

using namespace kelvarn::input;

// Sorted by key code for the binary search.
constexpr std::array<KeyMapEntry, 108> keyMap{{
    {0, 0x41, 0x1E, false},    // A
    {1, 0x53, 0x1F, false},    // S
    {2, 0x44, 0x20, false},    // D
    {3, 0x46, 0x21, false},    // F
    {4, 0x48, 0x23, false},    // H
    {5, 0x47, 0x22, false},    // G
    {6, 0x5A, 0x2C, false},    // Z
    {7, 0x58, 0x2D, false},    // X
    {8, 0x43, 0x2E, false},    // C
    {9, 0x56, 0x2F, false},    // V
    {11, 0x42, 0x30, false},   // B
    {12, 0x51, 0x10, false},   // Q
    {13, 0x57, 0x11, false},   // W
    {14, 0x45, 0x12, false},   // E
    {15, 0x52, 0x13, false},   // R
    {16, 0x59, 0x15, false},   // Y
    {17, 0x54, 0x14, false},   // T
    {18, 0x31, 0x02, false},   // 1
    {19, 0x32, 0x03, false},   // 2
    {20, 0x33, 0x04, false},   // 3
    {21, 0x34, 0x05, false},   // 4
    {22, 0x36, 0x07, false},   // 6
    {23, 0x35, 0x06, false},   // 5
    {24, 0xBB, 0x0D, false},   // equals
    {25, 0x39, 0x0A, false},   // 9
    {26, 0x37, 0x08, false},   // 7
    {27, 0xBD, 0x0C, false},   // minus
    {28, 0x38, 0x09, false},   // 8
    {29, 0x30, 0x0B, false},   // 0
    {30, 0xDD, 0x1B, false},   // right bracket
    {31, 0x4F, 0x18, false},   // O
    {32, 0x55, 0x16, false},   // U
    {33, 0xDB, 0x1A, false},   // left bracket
    {34, 0x49, 0x17, false},   // I
    {35, 0x50, 0x19, false},   // P
    {36, 0x0D, 0x1C, false},   // Enter
    {37, 0x4C, 0x26, false},   // L
    {38, 0x4A, 0x24, false},   // J
    {39, 0xDE, 0x28, false},   // apostrophe
    {40, 0x4B, 0x25, false},   // K
    {41, 0xBA, 0x27, false},   // semicolon
    {42, 0xDC, 0x2B, false},   // backslash
    {43, 0xBC, 0x33, false},   // comma
    {44, 0xBF, 0x35, false},   // slash
    {45, 0x4E, 0x31, false},   // N
    {46, 0x4D, 0x32, false},   // M
    {47, 0xBE, 0x34, false},   // period
    {48, 0x09, 0x0F, false},   // Tab
    {49, 0x20, 0x39, false},   // Space
    {50, 0xC0, 0x29, false},   // grave accent
    {51, 0x08, 0x0E, false},   // Backspace
    {53, 0x1B, 0x01, false},   // Esc
    {54, 0x5C, 0x5C, true},    // right Windows
    {55, 0x5B, 0x5B, true},    // left Windows
    {56, 0xA0, 0x2A, false},   // left Shift
    {57, 0x14, 0x3A, false},   // Caps Lock
    {58, 0xA4, 0x38, false},   // left Alt
    {59, 0xA2, 0x1D, false},   // left Ctrl
    {60, 0xA1, 0x36, false},   // right Shift
    {61, 0xA5, 0x38, true},    // right Alt
    {62, 0xA3, 0x1D, true},    // right Ctrl
    {64, 0x80, 0x00, false},   // F17
    {65, 0x6E, 0x53, false},   // keypad .
    {67, 0x6A, 0x37, false},   // keypad *
    {69, 0x6B, 0x4E, false},   // keypad +
    {71, 0x90, 0x45, true},    // Num Lock
    {75, 0x6F, 0x35, true},    // keypad /
    {76, 0x0D, 0x1C, true},    // Enter
    {78, 0x6D, 0x4A, false},   // keypad -
    {79, 0x81, 0x00, false},   // F18
    {80, 0x82, 0x00, false},   // F19
    {82, 0x60, 0x52, false},   // keypad 0
    {83, 0x61, 0x4F, false},   // keypad 1
    {84, 0x62, 0x50, false},   // keypad 2
    {85, 0x63, 0x51, false},   // keypad 3
    {86, 0x64, 0x4B, false},   // keypad 4
    {87, 0x65, 0x4C, false},   // keypad 5
    {88, 0x66, 0x4D, false},   // keypad 6
    {89, 0x67, 0x47, false},   // keypad 7
    {90, 0x83, 0x00, false},   // F20
    {91, 0x68, 0x48, false},   // keypad 8
    {92, 0x69, 0x49, false},   // keypad 9
    {96, 0x74, 0x3F, false},   // F5
    {97, 0x75, 0x40, false},   // F6
    {98, 0x76, 0x41, false},   // F7
    {99, 0x72, 0x3D, false},   // F3
    {100, 0x77, 0x42, false},  // F8
    {101, 0x78, 0x43, false},  // F9
    {103, 0x7A, 0x57, false},  // F11
    {105, 0x7C, 0x00, false},  // F13
    {106, 0x7F, 0x00, false},  // F16
    {107, 0x7D, 0x00, false},  // F14
    {109, 0x79, 0x44, false},  // F10
    {111, 0x7B, 0x58, false},  // F12
    {113, 0x7E, 0x00, false},  // F15
    {114, 0x2D, 0x52, true},   // Insert
    {115, 0x24, 0x47, true},   // Home
    {116, 0x21, 0x49, true},   // Page Up
    {117, 0x2E, 0x53, true},   // Delete
    {118, 0x73, 0x3E, false},  // F4
    {119, 0x23, 0x4F, true},   // End
    {120, 0x71, 0x3C, false},  // F2
    {121, 0x22, 0x51, true},   // Page Down
    {122, 0x70, 0x3B, false},  // F1
    {123, 0x25, 0x4B, true},   // Left
    {124, 0x27, 0x4D, true},   // Right
    {125, 0x28, 0x50, true},   // Down
    {126, 0x26, 0x48, true},   // Up
}};

static_assert(std::ranges::is_sorted(keyMap, {}, &KeyMapEntry::keyCode));

}  // namespace

const KeyMapEntry* findKey(std::int64_t keyCode) {
    const auto found =
        std::ranges::lower_bound(keyMap, keyCode, {}, [](const KeyMapEntry& e) -> std::int64_t { return e.keyCode; });
    return found != keyMap.end() && found->keyCode == keyCode ? &*found : nullptr;
}

InputRecord keyRecord(const KeyMapEntry& entry, bool release) {
    InputRecord record;
    record.type = inputKeyboard;
    record.wVk = entry.scanCode == 0 ? entry.virtualKey : std::uint16_t{0};
    record.wScan = entry.scanCode;
    if (entry.scanCode != 0) record.dwFlags |= keyeventfScanCode;
    if (entry.extended) record.dwFlags |= keyeventfExtendedKey;
    if (release) record.dwFlags |= keyeventfKeyUp;
    return record;
}

bool isModifierKey(std::int32_t keyCode) {
    return std::ranges::find(modifierKeyCodes, keyCode) != modifierKeyCodes.end();
}

}  // namespace native_worker
