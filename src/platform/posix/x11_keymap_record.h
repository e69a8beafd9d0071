#pragma once

#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>

#include <atomic>
#include <bitset>
#include <vector>

namespace kelvarn::input {

// What a sink would leave behind on the X server were its process to die:
// the keycodes and buttons it may hold down, and the mappings its lent
// keycodes had before. Kept in a property of the root window, where it
// outlives the process and its connection. Every entry names its owner, a
// window of the sink's connection that the server destroys with it: the
// entries of an owner that is gone are leftovers, which every sink undoes
// before it surveys the keyboard map, and whose undoing is the sink's last
// act when its process ends at once.
class KeymapRecord {
public:
    explicit KeymapRecord(const native_worker::platform::X11Connection& connection);
    KeymapRecord(const KeymapRecord&) = delete;
    KeymapRecord& operator=(const KeymapRecord&) = delete;

    // Releases the keys and buttons that owners that are gone may hold,
    // gives their keycodes their mappings back and drops their entries.
    void restoreLeftovers();
    // Ends another connection's owner, so that its entries are leftovers.
    void disown(Window owner);

    // Before a press: this sink may hold the keycode or button down.
    void notePress(KeyCode keycode);
    void noteButton(unsigned int button);
    // Before the keycodes are lent: the mappings they have, perKeycode
    // keysyms each, in the keycodes' order.
    void noteLoans(const std::vector<KeyCode>& keycodes, const std::vector<KeySym>& mappings, int perKeycode);
    // Once the keycodes have their own mappings back and are up.
    void forget(const std::vector<KeyCode>& keycodes);
    // Once the sink holds and lends nothing.
    void forgetAll();

    // The window whose end makes the entries leftovers; 0 before the first entry.
    Window owner() const { return owner_.load(); }

private:
    void append(std::vector<long> entries);

    const native_worker::platform::X11Connection& connection_;
    Display* display_;
    std::atomic<Window> owner_{0};
    // Subjects already noted: keycodes, then buttons from 256 on.
    std::bitset<512> noted_;
};

}  // namespace kelvarn::input
