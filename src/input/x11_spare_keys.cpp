#include "input/x11_spare_keys.h"

#include <algorithm>
#include <array>
#include <thread>

namespace kelvarn::input {
namespace {

// Keycode 8 stands for evdev's reserved code 0, which clients may ignore.
constexpr int firstUsableKeycode = 9;

}  // namespace

SpareKeys::SpareKeys(Display* display) : display_(display) {
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display_, &lowest, &highest);
    lowest = std::max(lowest, firstUsableKeycode);
    if (highest < lowest) return;
    int perKeycode = 0;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(lowest), highest - lowest + 1, &perKeycode);
    if (!map) return;
    for (int keycode = lowest; keycode <= highest; ++keycode) {
        const KeySym* symbols = map + static_cast<std::ptrdiff_t>(keycode - lowest) * perKeycode;
        if (std::all_of(symbols, symbols + perKeycode, [](KeySym s) { return s == NoSymbol; }))
            spares_.push_back({static_cast<KeyCode>(keycode)});
    }
    XFree(map);
}

std::optional<KeyCode> SpareKeys::hold(KeySym keysym) {
    auto spare = std::ranges::find(spares_, keysym, &Spare::bound);
    if (spare == spares_.end()) {
        spare = std::ranges::min_element(spares_, [](const Spare& a, const Spare& b) {
            return std::pair(a.held, a.lastUse) < std::pair(b.held, b.lastUse);
        });
        if (spare == spares_.end() || spare->held) return std::nullopt;
        bind(*spare, keysym);
    }
    spare->held = true;
    spare->lastUse = Clock::now();
    return spare->keycode;
}

void SpareKeys::release(KeyCode keycode) {
    const auto spare = std::ranges::find(spares_, keycode, &Spare::keycode);
    if (spare == spares_.end()) return;
    spare->held = false;
    spare->lastUse = Clock::now();
}

bool SpareKeys::lends(KeyCode keycode) const {
    return std::ranges::find(spares_, keycode, &Spare::keycode) != spares_.end();
}

void SpareKeys::restore() {
    for (Spare& spare : spares_)
        if (spare.bound != NoSymbol) bind(spare, NoSymbol);
}

void SpareKeys::bind(Spare& spare, KeySym keysym) {
    if (spare.bound != NoSymbol && keysym != NoSymbol) std::this_thread::sleep_until(spare.lastUse + reuseDelay);
    // The same keysym on both levels, so that a held Shift does not change it.
    std::array<KeySym, 2> symbols{keysym, keysym};
    XChangeKeyboardMapping(display_, spare.keycode, static_cast<int>(symbols.size()), symbols.data(), 1);
    spare.bound = keysym;
}

}  // namespace kelvarn::input
