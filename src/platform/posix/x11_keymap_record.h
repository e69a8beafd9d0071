#pragma once

#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>

#include <atomic>
#include <bitset>
#include <vector>

namespace native_worker::platform {

// What the sinks on a display would leave behind on the X server were their
// processes to die: the keycodes and buttons each may hold down, and the
// keycodes each lends, with the keysym it lends them to and the mappings
// they had before. Kept in a property of the root window, where it outlives
// the processes and their connections, and changed under a server grab.
// Every entry names its owner: a window of the sink's connection, which the
// server destroys with it, and a random token the window carries, since the
// server reuses the ids of windows that are gone. The entries of an owner
// that is gone are leftovers, which every sink undoes before it surveys the
// keyboard map, and whose undoing is the sink's last act when its process
// ends at once. A keycode gets its mapping back only while it carries what
// was lent and nothing else: a binding a user made since stays. A sink that
// finds every spare keycode lent by others says it waits; the others then
// lend nothing more and give back what they do not use.
class KeymapRecord {
public:
    struct Loan {
        KeyCode keycode = 0;
        KeySym keysym = NoSymbol;  // what the keycode is to carry
        // What it carries now; empty when this sink lends it already.
        std::vector<KeySym> mapping;
    };

    explicit KeymapRecord(X11Connection& connection);
    KeymapRecord(const KeymapRecord&) = delete;
    KeymapRecord& operator=(const KeymapRecord&) = delete;

    // Releases the keys and buttons that owners that are gone may hold,
    // gives their keycodes their mappings back and drops their entries.
    void restoreLeftovers();
    // Ends another connection's owner, so that its entries are leftovers.
    void disown(Window owner);
    // The keycodes that other owners, gone or not, lend.
    std::bitset<256> lentByOthers();
    // This sink waits for a spare keycode, or no longer.
    void wait(bool waiting);
    // Whether another owner waits for one.
    bool othersWait();

    // Before a press: this sink may hold the keycode or button down.
    void notePress(KeyCode keycode);
    void noteButton(unsigned int button);
    struct Lending {
        std::vector<Loan> noted;
        std::bitset<256> lentByOthers;
        bool othersWait = false;
    };
    // Before the keycodes change: notes the loans but those of keycodes
    // another owner lends, or none while another owner waits and this one
    // does not.
    Lending noteLoans(std::vector<Loan> loans);
    // Gives the keycodes, up, their mappings back and drops their entries.
    void giveBack(const std::vector<KeyCode>& keycodes);
    // Once the sink ends: releases what it may hold, gives back what it
    // lends and drops its entries and its owner.
    void forgetAll();
    // Once another connection undid this sink's entries and ended its
    // owner: the next entry has a new owner.
    void restart();

    // The window whose end makes the entries leftovers; 0 before the first entry.
    Window owner() const { return owner_.load(); }

private:
    void makeOwner();
    void append(std::vector<long> entries);

    X11Connection& connection_;
    Display* display_;
    std::atomic<Window> owner_{0};
    unsigned long token_ = 0;
    // Subjects already noted: keycodes, then buttons from 256 on.
    std::bitset<512> noted_;
};

}  // namespace native_worker::platform
