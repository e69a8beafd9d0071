#include "platform/posix/x11_keymap_rows.h"

#include <algorithm>

namespace native_worker::platform {

KeymapRows::KeymapRows(Display* display, int first, int last) {
    if (last < first) return;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perKeycode_);
    if (!map) return;
    first_ = first;
    count_ = last - first + 1;
    keysyms_.assign(map, map + static_cast<std::ptrdiff_t>(count_) * perKeycode_);
    XFree(map);
}

std::span<const KeySym> KeymapRows::row(int keycode) const {
    return std::span(keysyms_).subspan(static_cast<std::size_t>(keycode - first_) * perKeycode_, perKeycode_);
}

bool carriesOnly(std::span<const KeySym> row, KeySym keysym) {
    return std::ranges::find(row, keysym) != row.end() &&
           std::ranges::all_of(row, [keysym](KeySym s) { return s == keysym || s == NoSymbol; });
}

void writeKeymapRows(Display* display, std::vector<std::pair<KeyCode, std::vector<KeySym>>> rows) {
    std::ranges::sort(rows, {}, &std::pair<KeyCode, std::vector<KeySym>>::first);
    for (std::size_t first = 0; first < rows.size();) {
        const std::size_t width = rows[first].second.size();
        std::vector<KeySym> run(rows[first].second);
        std::size_t end = first + 1;
        for (; end < rows.size() && rows[end].first == rows[end - 1].first + 1 && rows[end].second.size() == width;
             ++end)
            run.insert(run.end(), rows[end].second.begin(), rows[end].second.end());
        if (width > 0)
            XChangeKeyboardMapping(display, rows[first].first, static_cast<int>(width), run.data(),
                                   static_cast<int>(end - first));
        first = end;
    }
}

}  // namespace native_worker::platform
