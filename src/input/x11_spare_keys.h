#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <vector>

namespace kelvarn::input {

// Keycodes that carry no symbol, lent out to type keysyms the keyboard map
// lacks. A client looks the keysym up when it handles the key event, which
// may be a little later, so a binding outlives its stroke: it is replaced only
// when its keycode is needed again, no sooner than reuseDelay after its last
// use, and every binding is restored when the connection closes.
class SpareKeys {
public:
    static constexpr std::chrono::milliseconds reuseDelay{30};

    explicit SpareKeys(Display* display);

    // A keycode that types the keysym, now held; empty when every spare is held.
    std::optional<KeyCode> hold(KeySym keysym);
    // Ends a hold; a keycode that is not a spare is ignored.
    void release(KeyCode keycode);
    bool lends(KeyCode keycode) const;
    // Gives every lent keycode back its empty mapping.
    void restore();

private:
    using Clock = std::chrono::steady_clock;
    struct Spare {
        KeyCode keycode = 0;
        KeySym bound = NoSymbol;
        bool held = false;
        Clock::time_point lastUse{};
    };

    void bind(Spare& spare, KeySym keysym);

    Display* display_;
    std::vector<Spare> spares_;
};

}  // namespace kelvarn::input
