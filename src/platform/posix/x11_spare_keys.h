#pragma once

#include "platform/posix/x11_keymap_record.h"

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace kelvarn::input {

// X keycodes are the kernel's input event codes plus 8.
inline constexpr int evdevKeycodeOffset = 8;

// Keycodes the sink itself never sends, lent out to type keysyms the keyboard
// map lacks: first those with no symbol, then those whose keys (language
// keys, launch keys...) no controller key reaches. Never a keycode a scan
// code gives, one that carries a function key, a modifier or a system,
// power or media key (a local press of those must never type a character
// instead), or one in the modifier map. What is lent is
// noted in the keymap record first, so that it is given back even when the
// process dies. A client looks the keysym up when it handles the key event,
// which may be a little later, so a binding outlives its stroke: it changes
// again no sooner than reuseDelay after the keycode's last use. Once no
// stroke has come for reuseDelay, every lent keycode gets its own mapping
// back; the next loan reads the keyboard map anew. Each mapping change costs
// every client a reload of its map, so when told which keysyms come next,
// a loan binds as many of them as free keycodes allow at once.
class SpareKeys {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds reuseDelay{30};

    SpareKeys(Display* display, KeymapRecord& record) : display_(display), record_(record) {}

    // The keysyms the next holds are likely to ask for, in order; a hold
    // that asks for another drops them.
    void expect(std::vector<KeySym> upcoming);
    // A keycode that types the keysym, now held; empty when every spare is held.
    std::optional<KeyCode> hold(KeySym keysym);
    // Ends a hold; a keycode that is not lent is ignored.
    void release(KeyCode keycode);
    bool lends(KeyCode keycode) const;
    // When restoreIdle may give lent keycodes back; empty when none waits.
    std::optional<Clock::time_point> idleAt() const;
    // Gives every lent keycode that is not held its own mapping back.
    void restoreIdle();
    // Waits until the last stroke is reuseDelay old, then gives every lent
    // keycode its own mapping back.
    void restoreAll();

private:
    struct Spare {
        KeyCode keycode = 0;
        KeySym bound = NoSymbol;  // NoSymbol: the keycode has its own mapping
        bool held = false;
        Clock::time_point lastUse{};
    };

    void survey();
    void follow(KeySym keysym);
    bool bindAhead(KeySym keysym);
    void bind(const std::vector<std::pair<Spare*, KeySym>>& loans);
    void giveBack(bool heldToo);

    Display* display_;
    KeymapRecord& record_;
    std::vector<Spare> spares_;  // in the order they are lent out
    std::vector<KeySym> original_;  // the map as surveyed, from firstKeycode_
    int firstKeycode_ = 0;
    int perKeycode_ = 0;
    Clock::time_point lastStroke_{};
    std::vector<KeySym> upcoming_;
    std::size_t next_ = 0;  // the upcoming keysym the next hold should ask for
};

}  // namespace kelvarn::input
