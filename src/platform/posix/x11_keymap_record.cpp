#include "platform/posix/x11_keymap_record.h"

#include "platform/posix/x11_keymap_rows.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <compare>
#include <map>
#include <random>

namespace native_worker::platform {
namespace {

constexpr char recordName[] = "_KELVARN_SINK_RECORD";
constexpr char tokenName[] = "_KELVARN_SINK_OWNER";
// The subject of an owner that waits for a spare keycode.
constexpr int waiting = 0;
// A subject from here on is a button; below, a keycode.
constexpr int firstButton = 256;
constexpr int subjects = 512;
constexpr int firstKeycode = 8;
// An entry's owner, subject, lent keysym and count come before its mapping.
constexpr unsigned long entryHead = 5;
// Xlib's own bound on keysyms per keycode.
constexpr unsigned long widestMapping = 255;

struct Owner {
    Window window = 0;
    unsigned long token = 0;
    auto operator<=>(const Owner&) const = default;
};

// One entry: owner window, owner token, subject, the keysym the keycode is
// lent to (NoSymbol when it is only pressed), count, then count keysyms: the
// keycode's mapping before it was lent.
struct Entry {
    Owner owner;
    int subject = 0;
    KeySym lent = NoSymbol;
    std::vector<KeySym> mapping;

    bool loan() const { return !mapping.empty(); }
};

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

bool validSubject(long subject) {
    return subject == waiting || (subject >= firstKeycode && subject < firstButton) ||
           (subject > firstButton && subject < subjects);
}

// Any client may write the property: what does not read as entries ends it.
std::vector<Entry> readEntries(Display* display) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Entry> entries;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom(display, recordName), 0, 1L << 24, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) != Success)
        return entries;
    // Format 32 comes as longs.
    const long* values = format == 32 ? reinterpret_cast<const long*>(data) : nullptr;
    for (unsigned long i = 0; values && i + entryHead <= count;) {
        const auto keysyms = static_cast<unsigned long>(values[i + 4]);
        if (keysyms > widestMapping || keysyms > count - i - entryHead || !validSubject(values[i + 2])) break;
        Entry entry{{static_cast<Window>(values[i]), static_cast<unsigned long>(values[i + 1])},
                    static_cast<int>(values[i + 2]),
                    static_cast<KeySym>(values[i + 3]),
                    {}};
        entry.mapping.assign(values + i + entryHead, values + i + entryHead + keysyms);
        entries.push_back(std::move(entry));
        i += entryHead + keysyms;
    }
    if (data) XFree(data);
    return entries;
}

std::vector<long> valuesOf(const std::vector<Entry>& entries) {
    std::vector<long> values;
    for (const Entry& entry : entries) {
        values.insert(values.end(),
                      {static_cast<long>(entry.owner.window), static_cast<long>(entry.owner.token), long{entry.subject},
                       static_cast<long>(entry.lent), static_cast<long>(entry.mapping.size())});
        values.insert(values.end(), entry.mapping.begin(), entry.mapping.end());
    }
    return values;
}

void writeValues(Display* display, const std::vector<long>& values, int mode) {
    XChangeProperty(display, DefaultRootWindow(display), atom(display, recordName), XA_CARDINAL, 32, mode,
                    reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
}

void writeEntries(Display* display, const std::vector<Entry>& entries) {
    if (entries.empty())
        XDeleteProperty(display, DefaultRootWindow(display), atom(display, recordName));
    else
        writeValues(display, valuesOf(entries), PropModeReplace);
}

// Lets `edit` change the record, with the server grabbed so that no other
// sink's change is lost meanwhile; `edit` returns whether it changed it.
template <typename Edit>
void editRecord(X11Connection& connection, Edit edit) {
    Display* display = connection.display();
    const X11ErrorTrap trap(connection);
    {
        const X11ServerGrab grab(connection);
        std::vector<Entry> entries = readEntries(display);
        if (edit(entries)) writeEntries(display, entries);
    }
    XSync(display, False);
}

// An owner lives while its window does and carries its token.
bool alive(Display* display, const Owner& owner) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, owner.window, atom(display, tokenName), 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) != Success)
        return false;
    const bool carries =
        format == 32 && count == 1 && static_cast<unsigned long>(*reinterpret_cast<const long*>(data)) == owner.token;
    if (data) XFree(data);
    return carries;
}

// Releases first, so that each goes out with the mapping it was pressed
// with; then the lent keycodes that carry only what was lent get their
// mappings back.
void undo(Display* display, const std::vector<Entry>& entries) {
    int lowest = firstButton;
    int highest = 0;
    for (const Entry& entry : entries) {
        if (entry.subject == waiting) continue;
        if (entry.subject >= firstButton) {
            XTestFakeButtonEvent(display, static_cast<unsigned int>(entry.subject - firstButton), False, CurrentTime);
            continue;
        }
        XTestFakeKeyEvent(display, static_cast<unsigned int>(entry.subject), False, CurrentTime);
        if (!entry.loan()) continue;
        lowest = std::min(lowest, entry.subject);
        highest = std::max(highest, entry.subject);
    }
    const KeymapRows rows(display, lowest, highest);
    std::vector<std::pair<KeyCode, std::vector<KeySym>>> restored;
    for (const Entry& entry : entries)
        if (entry.loan() && rows.contains(entry.subject) && carriesOnly(rows.row(entry.subject), entry.lent))
            restored.emplace_back(static_cast<KeyCode>(entry.subject), entry.mapping);
    writeKeymapRows(display, std::move(restored));
}

std::bitset<256> othersLoans(const std::vector<Entry>& entries, const Owner& self) {
    std::bitset<256> lent;
    for (const Entry& entry : entries)
        if (entry.loan() && entry.owner != self) lent.set(static_cast<std::size_t>(entry.subject));
    return lent;
}

bool othersWaiting(const std::vector<Entry>& entries, const Owner& self) {
    return std::ranges::any_of(entries,
                               [&](const Entry& entry) { return entry.subject == waiting && entry.owner != self; });
}

// Moves the entries `which` picks out of `entries`.
template <typename Which>
std::vector<Entry> extract(std::vector<Entry>& entries, Which which) {
    std::vector<Entry> picked;
    std::erase_if(entries, [&](Entry& entry) {
        if (!which(entry)) return false;
        picked.push_back(std::move(entry));
        return true;
    });
    return picked;
}

}  // namespace

KeymapRecord::KeymapRecord(X11Connection& connection) : connection_(connection), display_(connection.display()) {}

void KeymapRecord::restoreLeftovers() {
    const Owner self{owner(), token_};
    editRecord(connection_, [&](std::vector<Entry>& entries) {
        std::map<Owner, bool> living;
        for (const Entry& entry : entries)
            if (!living.contains(entry.owner))
                living[entry.owner] = entry.owner == self || alive(display_, entry.owner);
        const auto leftovers = extract(entries, [&](const Entry& entry) { return !living[entry.owner]; });
        undo(display_, leftovers);
        return !leftovers.empty();
    });
}

void KeymapRecord::disown(Window owner) {
    if (owner == 0) return;
    const X11ErrorTrap trap(connection_);
    XDestroyWindow(display_, owner);
    XSync(display_, False);
}

std::bitset<256> KeymapRecord::lentByOthers() {
    return othersLoans(readEntries(display_), {owner(), token_});
}

void KeymapRecord::wait(bool waits) {
    if (waits) return append({0, 0, waiting, NoSymbol, 0});
    const Owner self{owner(), token_};
    editRecord(connection_, [&](std::vector<Entry>& entries) {
        return std::erase_if(entries,
                             [&](const Entry& entry) { return entry.owner == self && entry.subject == waiting; }) > 0;
    });
}

bool KeymapRecord::othersWait() {
    return othersWaiting(readEntries(display_), {owner(), token_});
}

void KeymapRecord::notePress(KeyCode keycode) {
    if (noted_.test(keycode)) return;
    noted_.set(keycode);
    append({0, 0, keycode, NoSymbol, 0});
}

void KeymapRecord::noteButton(unsigned int button) {
    const auto subject = static_cast<std::size_t>(firstButton + button);
    if (subject >= noted_.size() || noted_.test(subject)) return;
    noted_.set(subject);
    append({0, 0, static_cast<long>(subject), NoSymbol, 0});
}

KeymapRecord::Lending KeymapRecord::noteLoans(std::vector<Loan> loans) {
    makeOwner();
    const Owner self{owner(), token_};
    Lending lending;
    editRecord(connection_, [&](std::vector<Entry>& entries) {
        lending.lentByOthers = othersLoans(entries, self);
        lending.othersWait = othersWaiting(entries, self);
        const bool selfWaits = std::ranges::any_of(
            entries, [&](const Entry& entry) { return entry.subject == waiting && entry.owner == self; });
        if (lending.othersWait && !selfWaits) return false;
        const auto ownLoan = [&](KeyCode keycode) {
            return std::ranges::find_if(entries, [&](const Entry& entry) {
                return entry.owner == self && entry.subject == keycode && entry.loan();
            });
        };
        std::erase_if(loans, [&](const Loan& loan) {
            return lending.lentByOthers.test(loan.keycode) ||
                   (loan.mapping.empty() && ownLoan(loan.keycode) == entries.end());
        });
        for (const Loan& loan : loans) {
            noted_.set(loan.keycode);
            if (const auto own = ownLoan(loan.keycode); own != entries.end())
                own->lent = loan.keysym;
            else
                entries.push_back({self, loan.keycode, loan.keysym, loan.mapping});
        }
        lending.noted = std::move(loans);
        return !lending.noted.empty();
    });
    return lending;
}

void KeymapRecord::giveBack(const std::vector<KeyCode>& keycodes) {
    if (keycodes.empty() || owner() == 0) return;
    for (const KeyCode keycode : keycodes) noted_.reset(keycode);
    const Owner self{owner(), token_};
    editRecord(connection_, [&](std::vector<Entry>& entries) {
        const auto given = extract(entries, [&](const Entry& entry) {
            return entry.owner == self && std::ranges::find(keycodes, entry.subject) != keycodes.end();
        });
        undo(display_, given);
        return !given.empty();
    });
}

void KeymapRecord::forgetAll() {
    if (owner() == 0) return;
    const Owner self{owner(), token_};
    editRecord(connection_, [&](std::vector<Entry>& entries) {
        const auto own = extract(entries, [&](const Entry& entry) { return entry.owner == self; });
        undo(display_, own);
        return !own.empty();
    });
    XDestroyWindow(display_, owner_.exchange(0));
    noted_.reset();
}

void KeymapRecord::restart() {
    owner_ = 0;
    noted_.reset();
}

// The owner window carries its token from the start.
void KeymapRecord::makeOwner() {
    if (owner() != 0) return;
    XSetWindowAttributes none{};
    const Window window =
        XCreateWindow(display_, DefaultRootWindow(display_), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &none);
    // Positive as a 32-bit value: Xlib hands format 32 values back sign-extended.
    std::random_device random;
    token_ = std::uniform_int_distribution<unsigned long>(1, 0x7FFFFFFF)(random);
    const long token = static_cast<long>(token_);
    XChangeProperty(display_, window, atom(display_, tokenName), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&token), 1);
    owner_ = window;
}

// Entries go out with one append, which the server applies whole; their
// owner fields (0 above) become this sink's owner.
void KeymapRecord::append(std::vector<long> entries) {
    makeOwner();
    for (std::size_t i = 0; i < entries.size(); i += entryHead + static_cast<std::size_t>(entries[i + 4])) {
        entries[i] = static_cast<long>(owner());
        entries[i + 1] = static_cast<long>(token_);
    }
    writeValues(display_, entries, PropModeAppend);
}

}  // namespace native_worker::platform
