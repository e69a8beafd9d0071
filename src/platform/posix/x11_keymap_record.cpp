#include "platform/posix/x11_keymap_record.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <functional>
#include <set>

namespace kelvarn::input {
namespace {

using native_worker::platform::X11Connection;
using native_worker::platform::X11ErrorTrap;

constexpr char propertyName[] = "_KELVARN_SINK_RECORD";
// A subject from here on is a button; below, a keycode.
constexpr long firstButton = 256;

// One entry: owner, subject, count, then count keysyms, the keycode's mapping
// before it was lent (none when it was only pressed).
struct Entry {
    Window owner = 0;
    long subject = 0;
    std::vector<KeySym> mapping;
};

Atom property(Display* display) {
    return XInternAtom(display, propertyName, False);
}

std::vector<Entry> readEntries(Display* display) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Entry> entries;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property(display), 0, 1L << 24, False, XA_CARDINAL,
                           &type, &format, &count, &after, &data) != Success)
        return entries;
    // Format 32 comes as longs; an entry cut short ends the record.
    const long* values = format == 32 ? reinterpret_cast<const long*>(data) : nullptr;
    for (unsigned long i = 0; values && i + 3 <= count;) {
        const auto keysyms = static_cast<unsigned long>(values[i + 2]);
        if (keysyms > count - i - 3) break;
        Entry entry{static_cast<Window>(values[i]), values[i + 1], {}};
        entry.mapping.assign(values + i + 3, values + i + 3 + keysyms);
        entries.push_back(std::move(entry));
        i += 3 + keysyms;
    }
    if (data) XFree(data);
    return entries;
}

void writeEntries(Display* display, const std::vector<Entry>& entries) {
    std::vector<long> values;
    for (const Entry& entry : entries) {
        values.insert(values.end(), {static_cast<long>(entry.owner), entry.subject,
                                     static_cast<long>(entry.mapping.size())});
        values.insert(values.end(), entry.mapping.begin(), entry.mapping.end());
    }
    if (values.empty())
        XDeleteProperty(display, DefaultRootWindow(display), property(display));
    else
        XChangeProperty(display, DefaultRootWindow(display), property(display), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
}

// Lets `edit` change the record, with the server grabbed so that no other
// sink's entry is lost meanwhile.
void editRecord(const X11Connection& connection, const std::function<void(std::vector<Entry>&)>& edit) {
    Display* display = connection.display();
    const X11ErrorTrap trap(connection);
    XGrabServer(display);
    std::vector<Entry> entries = readEntries(display);
    const std::size_t before = entries.size();
    edit(entries);
    if (entries.size() != before) writeEntries(display, entries);
    XUngrabServer(display);
    XSync(display, False);
}

// The owners among the root window's children; the others are gone.
std::set<Window> liveOwners(Display* display, const std::vector<Entry>& entries) {
    std::set<Window> live;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return live;
    const std::set<Window> windows(children, children + count);
    if (children) XFree(children);
    for (const Entry& entry : entries)
        if (windows.contains(entry.owner)) live.insert(entry.owner);
    return live;
}

}  // namespace

KeymapRecord::KeymapRecord(const X11Connection& connection)
    : connection_(connection), display_(connection.display()) {}

void KeymapRecord::restoreLeftovers() {
    editRecord(connection_, [display = display_](std::vector<Entry>& entries) {
        const std::set<Window> live = liveOwners(display, entries);
        const auto leftover = [&live](const Entry& entry) { return !live.contains(entry.owner); };
        // Releases first, so that each goes out with the mapping it was pressed with.
        for (const Entry& entry : entries) {
            if (!leftover(entry)) continue;
            if (entry.subject >= firstButton)
                XTestFakeButtonEvent(display, static_cast<unsigned int>(entry.subject - firstButton), False,
                                     CurrentTime);
            else
                XTestFakeKeyEvent(display, static_cast<unsigned int>(entry.subject), False, CurrentTime);
        }
        for (Entry& entry : entries)
            if (leftover(entry) && !entry.mapping.empty())
                XChangeKeyboardMapping(display, static_cast<int>(entry.subject),
                                       static_cast<int>(entry.mapping.size()), entry.mapping.data(), 1);
        std::erase_if(entries, leftover);
    });
}

void KeymapRecord::disown(Window owner) {
    if (owner == 0) return;
    const X11ErrorTrap trap(connection_);
    XDestroyWindow(display_, owner);
    XSync(display_, False);
}

void KeymapRecord::notePress(KeyCode keycode) {
    if (noted_.test(keycode)) return;
    noted_.set(keycode);
    append({0, keycode, 0});
}

void KeymapRecord::noteButton(unsigned int button) {
    const auto subject = static_cast<std::size_t>(firstButton + button);
    if (subject >= noted_.size() || noted_.test(subject)) return;
    noted_.set(subject);
    append({0, static_cast<long>(subject), 0});
}

void KeymapRecord::noteLoans(const std::vector<KeyCode>& keycodes, const std::vector<KeySym>& mappings,
                             int perKeycode) {
    std::vector<long> entries;
    for (std::size_t i = 0; i < keycodes.size(); ++i) {
        noted_.set(keycodes[i]);
        entries.insert(entries.end(), {0, keycodes[i], perKeycode});
        const auto row = mappings.begin() + static_cast<std::ptrdiff_t>(i * static_cast<std::size_t>(perKeycode));
        entries.insert(entries.end(), row, row + perKeycode);
    }
    append(std::move(entries));
}

void KeymapRecord::forget(const std::vector<KeyCode>& keycodes) {
    const Window owner = owner_.load();
    if (owner == 0 || keycodes.empty()) return;
    for (const KeyCode keycode : keycodes) noted_.reset(keycode);
    const std::set<long> subjects(keycodes.begin(), keycodes.end());
    editRecord(connection_, [owner, &subjects](std::vector<Entry>& entries) {
        std::erase_if(entries, [&](const Entry& entry) {
            return entry.owner == owner && subjects.contains(entry.subject);
        });
    });
}

void KeymapRecord::forgetAll() {
    const Window owner = owner_.exchange(0);
    if (owner == 0) return;
    noted_.reset();
    editRecord(connection_, [owner](std::vector<Entry>& entries) {
        std::erase_if(entries, [owner](const Entry& entry) { return entry.owner == owner; });
    });
    XDestroyWindow(display_, owner);
}

// Entries go out with one append, which the server applies whole; the owner
// field (0 above) becomes the owner window, made at the first entry.
void KeymapRecord::append(std::vector<long> entries) {
    if (entries.empty()) return;
    if (owner() == 0) {
        XSetWindowAttributes none{};
        owner_ = XCreateWindow(display_, DefaultRootWindow(display_), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent,
                               0, &none);
    }
    for (std::size_t i = 0; i < entries.size(); i += 3 + static_cast<std::size_t>(entries[i + 2]))
        entries[i] = static_cast<long>(owner());
    XChangeProperty(display_, DefaultRootWindow(display_), property(display_), XA_CARDINAL, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(entries.data()), static_cast<int>(entries.size()));
}

}  // namespace kelvarn::input
