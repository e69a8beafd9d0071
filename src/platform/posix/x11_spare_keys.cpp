#include "platform/posix/x11_spare_keys.h"

#include "platform/posix/scan_codes.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <bitset>
#include <string_view>
#include <thread>
#include <unordered_set>

namespace kelvarn::input {
namespace {

// Keycode 8 stands for evdev's reserved code 0, which clients may ignore.
constexpr int firstUsableKeycode = 9;
constexpr int keycodeCount = 256;

// The keycodes a scan code record presses.
std::bitset<keycodeCount> scanCodeKeycodes() {
    std::bitset<keycodeCount> sent;
    for (std::uint16_t scanCode = 0; scanCode <= 0xFF; ++scanCode) {
        for (const bool extended : {false, true}) {
            const int keycode = evdevKeyFromScanCode(scanCode, extended) + evdevKeycodeOffset;
            if (keycode > evdevKeycodeOffset && keycode < keycodeCount) sent.set(static_cast<std::size_t>(keycode));
        }
    }
    return sent;
}

// The range vendors define their special keys in: XF86's, Sun's, HP's...
constexpr KeySym vendorKeysyms = 0x10000000;

// XF86 keys that belong to the system rather than to an application: power
// and session, display, lights and radios, volume and media.
constexpr std::string_view systemKeys[] = {
    "Audio",      "Battery",  "Bluetooth",   "Brightness", "ClearGrab", "Display",  "Eject",     "Hibernate",
    "KbdBrightness", "KbdLightOnOff", "Log", "Media",      "Mic",       "MonBrightness", "Next_VMode", "Power",
    "Prev_VMode", "RFKill",   "ScreenSaver", "Sleep",      "Standby",   "Suspend",  "Switch_VT", "Touchpad",
    "UWB",        "Ungrab",   "Video",       "WLAN",       "WWAN",      "WakeUp",   "WebCam",
};

// A local press of these must never type a character instead; vendors
// other than XF86 are not told apart.
bool isSystemKey(KeySym keysym) {
    if ((keysym & vendorKeysyms) == 0) return false;
    const char* name = XKeysymToString(keysym);
    const std::string_view xf86 = "XF86";
    if (!name || !std::string_view(name).starts_with(xf86)) return true;
    const std::string_view key = std::string_view(name).substr(xf86.size());
    return std::ranges::any_of(systemKeys, [key](std::string_view system) { return key.starts_with(system); });
}

// Function keys are found by keysym, and a modifier keysym may change state
// through the server's compatibility rules, so keys carrying either stay;
// so do the system's own keys.
bool mustStay(KeySym keysym) {
    return IsModifierKey(keysym) || (keysym >= XK_F1 && keysym <= XK_F35) || isSystemKey(keysym);
}

// Calls write(first, count) for each run of adjacent keycodes in the sorted list.
template <typename Write>
void forEachRun(const std::vector<KeyCode>& keycodes, Write write) {
    for (std::size_t first = 0; first < keycodes.size();) {
        std::size_t end = first + 1;
        while (end < keycodes.size() && keycodes[end] == keycodes[end - 1] + 1) ++end;
        write(first, static_cast<int>(end - first));
        first = end;
    }
}

}  // namespace

void SpareKeys::expect(std::vector<KeySym> upcoming) {
    upcoming_ = std::move(upcoming);
    next_ = 0;
}

std::optional<KeyCode> SpareKeys::hold(KeySym keysym) {
    if (spares_.empty()) survey();
    follow(keysym);
    auto spare = std::ranges::find(spares_, keysym, &Spare::bound);
    if (spare == spares_.end()) {
        if (!bindAhead(keysym)) return std::nullopt;
        spare = std::ranges::find(spares_, keysym, &Spare::bound);
    }
    spare->held = true;
    spare->lastUse = lastStroke_ = Clock::now();
    return spare->keycode;
}

void SpareKeys::release(KeyCode keycode) {
    const auto spare = std::ranges::find(spares_, keycode, &Spare::keycode);
    if (spare == spares_.end() || spare->bound == NoSymbol) return;
    spare->held = false;
    spare->lastUse = lastStroke_ = Clock::now();
}

bool SpareKeys::lends(KeyCode keycode) const {
    const auto spare = std::ranges::find(spares_, keycode, &Spare::keycode);
    return spare != spares_.end() && spare->bound != NoSymbol;
}

std::optional<SpareKeys::Clock::time_point> SpareKeys::idleAt() const {
    const bool waiting =
        std::ranges::any_of(spares_, [](const Spare& s) { return s.bound != NoSymbol && !s.held; });
    return waiting ? std::optional(lastStroke_ + reuseDelay) : std::nullopt;
}

void SpareKeys::restoreIdle() {
    giveBack(false);
}

void SpareKeys::restoreAll() {
    if (std::ranges::any_of(spares_, [](const Spare& s) { return s.bound != NoSymbol; }))
        std::this_thread::sleep_until(lastStroke_ + reuseDelay);
    giveBack(true);
}

// Reads the map as it is now, since the user may have changed layout since
// the last loan, and after undoing what a sink that died left in it.
void SpareKeys::survey() {
    record_.restoreLeftovers();
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display_, &lowest, &highest);
    lowest = std::max(lowest, firstUsableKeycode);
    highest = std::min(highest, keycodeCount - 1);
    if (highest < lowest) return;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(lowest), highest - lowest + 1, &perKeycode_);
    if (!map) return;
    firstKeycode_ = lowest;
    original_.assign(map, map + static_cast<std::ptrdiff_t>(highest - lowest + 1) * perKeycode_);
    XFree(map);

    std::bitset<keycodeCount> excluded = scanCodeKeycodes();
    if (XModifierKeymap* modifiers = XGetModifierMapping(display_)) {
        for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) excluded.set(modifiers->modifiermap[i]);
        XFreeModifiermap(modifiers);
    }
    std::vector<Spare> withSymbols;
    for (int keycode = lowest; keycode <= highest; ++keycode) {
        if (excluded.test(static_cast<std::size_t>(keycode))) continue;
        const auto row = original_.begin() + static_cast<std::ptrdiff_t>(keycode - lowest) * perKeycode_;
        if (std::any_of(row, row + perKeycode_, mustStay)) continue;
        const bool empty = std::all_of(row, row + perKeycode_, [](KeySym s) { return s == NoSymbol; });
        (empty ? spares_ : withSymbols).push_back({static_cast<KeyCode>(keycode)});
    }
    spares_.insert(spares_.end(), withSymbols.begin(), withSymbols.end());
}

// Moves along the expected keysyms, or drops them once a hold departs from them.
void SpareKeys::follow(KeySym keysym) {
    if (next_ < upcoming_.size() && upcoming_[next_] == keysym) {
        ++next_;
        return;
    }
    upcoming_.clear();
    next_ = 0;
}

// Binds the keysym and, as far as free keycodes allow, the expected keysyms
// that are not bound yet, sparing the bindings the text uses before them.
// Rather than for the first free keycode, it waits until an eighth of them
// are past their reuseDelay, so that changes come in batches: the delay holds
// typing up about as long either way.
bool SpareKeys::bindAhead(KeySym keysym) {
    const auto free = static_cast<std::size_t>(std::ranges::count(spares_, false, &Spare::held));
    if (free == 0) return false;
    std::unordered_set<KeySym> bound;
    for (const Spare& spare : spares_)
        if (spare.bound != NoSymbol) bound.insert(spare.bound);
    std::vector<KeySym> wanted{keysym};
    std::unordered_set<KeySym> seen{keysym};
    std::unordered_set<KeySym> kept;
    for (std::size_t i = next_; i < upcoming_.size() && wanted.size() + kept.size() < free; ++i) {
        const KeySym next = upcoming_[i];
        if (!seen.insert(next).second) continue;
        if (bound.contains(next))
            kept.insert(next);
        else
            wanted.push_back(next);
    }
    std::vector<Spare*> candidates;
    for (Spare& spare : spares_)
        if (!spare.held && !kept.contains(spare.bound)) candidates.push_back(&spare);
    const auto reusableAt = [](const Spare* spare) {
        return spare->bound == NoSymbol ? Clock::time_point{} : spare->lastUse + reuseDelay;
    };
    // Stable, so that keycodes lent together stay adjacent.
    std::ranges::stable_sort(candidates, {}, reusableAt);
    const std::size_t batch = std::min(wanted.size(), std::max<std::size_t>(1, candidates.size() / 8));
    std::this_thread::sleep_until(reusableAt(candidates[batch - 1]));
    const auto now = Clock::now();
    std::size_t lent = 0;
    while (lent < wanted.size() && lent < candidates.size() && reusableAt(candidates[lent]) <= now) ++lent;
    // Typed in keycode order, the keycodes come free again in that order, so
    // that later batches too are few runs.
    std::sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(lent),
              [](const Spare* a, const Spare* b) { return a->keycode < b->keycode; });
    std::vector<std::pair<Spare*, KeySym>> loans;
    for (std::size_t i = 0; i < lent; ++i) loans.emplace_back(candidates[i], wanted[i]);
    bind(loans);
    return true;
}

// Loans in keycode order; the same keysym on both levels, so that a held
// Shift does not change it.
void SpareKeys::bind(const std::vector<std::pair<Spare*, KeySym>>& loans) {
    std::vector<KeyCode> keycodes;
    std::vector<KeySym> symbols;
    std::vector<KeyCode> fresh;
    std::vector<KeySym> ownMappings;
    for (const auto& [spare, keysym] : loans) {
        if (spare->bound == NoSymbol) {
            fresh.push_back(spare->keycode);
            const auto row = original_.begin() + static_cast<std::ptrdiff_t>(spare->keycode - firstKeycode_) * perKeycode_;
            ownMappings.insert(ownMappings.end(), row, row + perKeycode_);
        }
        spare->bound = keysym;
        keycodes.push_back(spare->keycode);
        symbols.insert(symbols.end(), 2, keysym);
    }
    record_.noteLoans(fresh, ownMappings, perKeycode_);
    forEachRun(keycodes, [&](std::size_t first, int count) {
        XChangeKeyboardMapping(display_, keycodes[first], 2, symbols.data() + 2 * first, count);
    });
}

// One request for each run of adjacent keycodes.
void SpareKeys::giveBack(bool heldToo) {
    std::vector<KeyCode> lent;
    for (Spare& spare : spares_) {
        if (spare.bound == NoSymbol || (spare.held && !heldToo)) continue;
        lent.push_back(spare.keycode);
        spare.bound = NoSymbol;
        spare.held = false;
    }
    std::ranges::sort(lent);
    forEachRun(lent, [&](std::size_t first, int count) {
        const auto row = static_cast<std::ptrdiff_t>(lent[first] - firstKeycode_);
        XChangeKeyboardMapping(display_, lent[first], perKeycode_, original_.data() + row * perKeycode_, count);
    });
    record_.forget(lent);
    if (std::ranges::none_of(spares_, [](const Spare& s) { return s.bound != NoSymbol; })) spares_.clear();
}

}  // namespace kelvarn::input
