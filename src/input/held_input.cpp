#include "input/held_input.h"

#include "input/key_map.h"

#include <algorithm>
#include <array>

namespace native_worker {
namespace {

using namespace kelvarn::input;

constexpr std::uint64_t mouseButtonKey = std::uint64_t{1} << 63;
constexpr std::uint32_t pressFlags = mouseeventfLeftDown | mouseeventfRightDown | mouseeventfMiddleDown;

std::array<std::uint64_t, modifierKeyCodes.size()> modifierHeldKeys() {
    std::array<std::uint64_t, modifierKeyCodes.size()> keys{};
    std::ranges::transform(modifierKeyCodes, keys.begin(),
                           [](std::int32_t code) { return heldInputKey(keyRecord(*findKey(code), false)); });
    return keys;
}

}  // namespace

std::uint64_t heldInputKey(const InputRecord& record) {
    if (record.type == inputKeyboard)
        return std::uint64_t{record.wVk} * 65536 + record.wScan +
               (std::uint64_t{record.dwFlags & (keyeventfExtendedKey | keyeventfUnicode)} << 32) + 1;
    if (record.dwFlags & (mouseeventfLeftDown | mouseeventfLeftUp)) return mouseButtonKey;
    if (record.dwFlags & (mouseeventfRightDown | mouseeventfRightUp)) return mouseButtonKey + 1;
    if (record.dwFlags & (mouseeventfMiddleDown | mouseeventfMiddleUp)) return mouseButtonKey + 2;
    return 0;
}

bool isPress(const InputRecord& record) {
    if (record.type == inputKeyboard) return (record.dwFlags & keyeventfKeyUp) == 0;
    return (record.dwFlags & pressFlags) != 0;
}

InputRecord releaseOf(const InputRecord& press) {
    InputRecord release = press;
    if (press.type == inputKeyboard) {
        release.dwFlags |= keyeventfKeyUp;
    } else if (press.dwFlags & mouseeventfLeftDown) {
        release.dwFlags = mouseeventfLeftUp;
    } else if (press.dwFlags & mouseeventfRightDown) {
        release.dwFlags = mouseeventfRightUp;
    } else if (press.dwFlags & mouseeventfMiddleDown) {
        release.dwFlags = mouseeventfMiddleUp;
    }
    return release;
}

bool isModifierRecord(const InputRecord& record) {
    static const auto keys = modifierHeldKeys();
    return record.type == inputKeyboard && std::ranges::find(keys, heldInputKey(record)) != keys.end();
}

}  // namespace native_worker
