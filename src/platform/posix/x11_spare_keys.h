#pragma once

#include "platform/posix/x11_keymap_record.h"

#include <X11/Xlib.h>

#include <bitset>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace native_worker::platform {

// X keycodes are the kernel's input event codes plus 8.
inline constexpr int evdevKeycodeOffset = 8;

// Keycodes the sink itself never sends, lent out to type keysyms the keyboard
// map lacks: first those with no symbol, then those whose keys (language
// keys, launch keys...) no controller key reaches. Never a keycode a scan
// code gives, one that carries a function key, a modifier or a system,
// power or media key (a local press of those must never type a character
// instead), one in the modifier map, or one another sink on the display
// lends. A keycode is lent under a server grab, after the keymap record
// notes it with what it carries then, so that every other sink leaves it
// alone and it is given back even when the process dies. A sink that finds
// every spare lent by others waits for one, up to waitLimit; while it does,
// the others lend no more and give back what they have not used for
// reuseDelay, looking whether one waits at least that often. A client looks
// the keysym up when it handles the key event, which may be a little
// later, so a binding outlives its stroke: it changes again no sooner than
// reuseDelay after the keycode's last use. Once no stroke has come for
// reuseDelay, every lent keycode gets its own mapping back; the next loan
// reads the keyboard map anew. Each mapping change costs every client a
// reload of its map, so when told which keysyms come next, a loan binds as
// many of them as free keycodes allow at once.
class SpareKeys {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds reuseDelay{30};
    static constexpr std::chrono::milliseconds waitLimit{1000};

    SpareKeys(X11Connection& connection, KeymapRecord& record)
        : connection_(connection), display_(connection.display()), record_(record) {}

    // The keysyms the next holds are likely to ask for, in order; a hold
    // that asks for another drops them.
    void expect(std::vector<KeySym> upcoming);
    // A keycode that types the keysym, now held; empty when every spare is
    // held, or none came free in time.
    std::optional<KeyCode> hold(KeySym keysym);
    // Ends a hold; a keycode that is not lent is ignored.
    void release(KeyCode keycode);
    bool lends(KeyCode keycode) const;
    // When restoreIdle may give lent keycodes back; empty when none waits.
    std::optional<Clock::time_point> idleAt() const;
    // Gives every lent keycode that is not held, and unused for reuseDelay,
    // its own mapping back.
    void restoreIdle();
    // Waits until the last stroke is reuseDelay old, then lends nothing:
    // the keymap record gives back what was lent.
    void finish();
    // Lends nothing, at once: the record's entries were undone already.
    void forget();

private:
    struct Spare {
        KeyCode keycode = 0;
        KeySym bound = NoSymbol;  // NoSymbol: the keycode has its own mapping
        bool held = false;
        Clock::time_point lastUse{};
    };

    enum class Binding { done, everySpareHeld, othersFirst };

    void survey();
    void follow(KeySym keysym);
    Binding bindAhead(KeySym keysym);
    Binding bind(const std::vector<std::pair<Spare*, KeySym>>& loans);
    void giveBackIdle(const std::bitset<256>& kept);

    X11Connection& connection_;
    Display* display_;
    KeymapRecord& record_;
    std::vector<Spare> spares_;  // in the order they are lent out
    Clock::time_point lastStroke_{};
    Clock::time_point nextLook_{};  // when a hold next looks whether other sinks wait
    std::vector<KeySym> upcoming_;
    std::size_t next_ = 0;  // the upcoming keysym the next hold should ask for
};

}  // namespace native_worker::platform
