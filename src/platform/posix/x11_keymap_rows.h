#pragma once

#include <X11/Xlib.h>

#include <span>
#include <utility>
#include <vector>

namespace native_worker::platform {

// Rows of the core keyboard map: the keysyms of each keycode in a range.
class KeymapRows {
public:
    // The rows of first..last as the server has them now; empty when it
    // does not answer or the range is empty.
    KeymapRows(Display* display, int first, int last);

    bool contains(int keycode) const { return keycode >= first_ && keycode < first_ + count_; }
    // Requires contains(keycode).
    std::span<const KeySym> row(int keycode) const;

private:
    int first_ = 0;
    int count_ = 0;
    int perKeycode_ = 0;
    std::vector<KeySym> keysyms_;
};

// Whether the row carries the keysym and nothing else: what a loan leaves,
// whatever levels the server shows it on.
bool carriesOnly(std::span<const KeySym> row, KeySym keysym);

// Gives each keycode its row, with one request for each run of adjacent
// keycodes whose rows are as wide: each change makes every client reload
// its map.
void writeKeymapRows(Display* display, std::vector<std::pair<KeyCode, std::vector<KeySym>>> rows);

}  // namespace native_worker::platform
