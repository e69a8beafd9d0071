#include "platform/posix/x11_spare_keys.h"

#include "platform/posix/scan_codes.h"
#include "platform/posix/x11_keymap_rows.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <bitset>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_set>

namespace native_worker::platform {
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
    "Audio",      "Battery",       "Bluetooth",     "Brightness", "ClearGrab",   "Display", "Eject",
    "Hibernate",  "KbdBrightness", "KbdLightOnOff", "Log",        "Media",       "Mic",     "MonBrightness",
    "Next_VMode", "Power",         "Prev_VMode",    "RFKill",     "ScreenSaver", "Sleep",   "Standby",
    "Suspend",    "Switch_VT",     "Touchpad",      "UWB",        "Ungrab",      "Video",   "WLAN",
    "WWAN",       "WakeUp",        "WebCam",
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

// What a keycode carries decides whether it may be lent at all.
bool lendable(std::span<const KeySym> row) {
    return std::ranges::none_of(row, mustStay);
}

}  // namespace

void SpareKeys::expect(std::vector<KeySym> upcoming) {
    upcoming_ = std::move(upcoming);
    next_ = 0;
}

// A loan may find its keycodes taken meanwhile, and then tries others.
std::optional<KeyCode> SpareKeys::hold(KeySym keysym) {
    follow(keysym);
    const auto now = Clock::now();
    if (now >= nextLook_ && !spares_.empty()) {
        nextLook_ = now + reuseDelay;
        if (record_.othersWait()) restoreIdle();
    }
    const auto giveUp = now + waitLimit;
    bool waiting = false;
    std::optional<KeyCode> held;
    while (Clock::now() < giveUp && !connection_.lost()) {
        if (spares_.empty()) survey();
        if (const auto spare = std::ranges::find(spares_, keysym, &Spare::bound); spare != spares_.end()) {
            spare->held = true;
            spare->lastUse = lastStroke_ = Clock::now();
            held = spare->keycode;
            break;
        }
        const Binding binding = bindAhead(keysym);
        if (binding == Binding::done) continue;
        if (binding == Binding::everySpareHeld) break;
        if (!waiting) record_.wait(waiting = true);
        std::this_thread::sleep_for(reuseDelay);
    }
    if (waiting) record_.wait(false);
    return held;
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
    const bool waiting = std::ranges::any_of(spares_, [](const Spare& s) { return s.bound != NoSymbol && !s.held; });
    return waiting ? std::optional(lastStroke_ + reuseDelay) : std::nullopt;
}

void SpareKeys::restoreIdle() {
    giveBackIdle({});
}

void SpareKeys::giveBackIdle(const std::bitset<keycodeCount>& kept) {
    const auto usedBefore = Clock::now() - reuseDelay;
    std::vector<KeyCode> idle;
    for (Spare& spare : spares_) {
        if (spare.bound == NoSymbol || spare.held || spare.lastUse > usedBefore || kept.test(spare.keycode)) continue;
        idle.push_back(spare.keycode);
        spare.bound = NoSymbol;
    }
    record_.giveBack(idle);
    if (std::ranges::none_of(spares_, [](const Spare& s) { return s.bound != NoSymbol; })) spares_.clear();
}

void SpareKeys::finish() {
    if (std::ranges::any_of(spares_, [](const Spare& s) { return s.bound != NoSymbol; }))
        std::this_thread::sleep_until(lastStroke_ + reuseDelay);
    forget();
}

void SpareKeys::forget() {
    spares_.clear();
}

// Reads the map as it is now, since the user may have changed layout since
// the last loan, and after undoing what a sink that died left in it; what
// other sinks lend is theirs.
void SpareKeys::survey() {
    const X11ServerGrab grab(connection_);
    record_.restoreLeftovers();
    std::bitset<keycodeCount> excluded = scanCodeKeycodes() | record_.lentByOthers();
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display_, &lowest, &highest);
    const KeymapRows rows(display_, std::max(lowest, firstUsableKeycode), std::min(highest, keycodeCount - 1));
    if (XModifierKeymap* modifiers = XGetModifierMapping(display_)) {
        for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) excluded.set(modifiers->modifiermap[i]);
        XFreeModifiermap(modifiers);
    }
    std::vector<Spare> withSymbols;
    for (int keycode = firstUsableKeycode; keycode < keycodeCount; ++keycode) {
        if (excluded.test(static_cast<std::size_t>(keycode)) || !rows.contains(keycode)) continue;
        const auto row = rows.row(keycode);
        if (!lendable(row)) continue;
        const bool empty = std::ranges::all_of(row, [](KeySym s) { return s == NoSymbol; });
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
SpareKeys::Binding SpareKeys::bindAhead(KeySym keysym) {
    if (spares_.empty()) return Binding::othersFirst;
    const auto free = static_cast<std::size_t>(std::ranges::count(spares_, false, &Spare::held));
    if (free == 0) return Binding::everySpareHeld;
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
    return bind(loans);
}

// Under a server grab: a keycode not lent yet is lent only if what it
// carries now may be, and no other sink took it since the survey; one that
// may not be lent is dropped from the spares. While another sink waits,
// this one lends nothing unless it waits too, and gives back what it does
// not use. The same keysym on both levels, so that a held Shift does not
// change it.
SpareKeys::Binding SpareKeys::bind(const std::vector<std::pair<Spare*, KeySym>>& loans) {
    const X11ServerGrab grab(connection_);
    int lowest = keycodeCount;
    int highest = 0;
    for (const auto& [spare, keysym] : loans) {
        if (spare->bound != NoSymbol) continue;
        lowest = std::min<int>(lowest, spare->keycode);
        highest = std::max<int>(highest, spare->keycode);
    }
    const KeymapRows rows(display_, lowest, highest);
    std::bitset<keycodeCount> unlendable;
    std::vector<KeymapRecord::Loan> wanted;
    for (const auto& [spare, keysym] : loans) {
        if (spare->bound != NoSymbol) {
            wanted.push_back({spare->keycode, keysym, {}});
        } else if (rows.contains(spare->keycode) && lendable(rows.row(spare->keycode))) {
            const auto row = rows.row(spare->keycode);
            wanted.push_back({spare->keycode, keysym, {row.begin(), row.end()}});
        } else {
            unlendable.set(spare->keycode);
        }
    }
    const KeymapRecord::Lending lending = record_.noteLoans(std::move(wanted));
    std::bitset<keycodeCount> lent;
    std::vector<std::pair<KeyCode, std::vector<KeySym>>> bindings;
    for (const KeymapRecord::Loan& loan : lending.noted) {
        lent.set(loan.keycode);
        bindings.push_back({loan.keycode, {loan.keysym, loan.keysym}});
    }
    writeKeymapRows(display_, std::move(bindings));
    // A binding counts as a use: it is kept for reuseDelay, used or not.
    const auto now = Clock::now();
    for (const auto& [spare, keysym] : loans) {
        if (!lent.test(spare->keycode)) continue;
        spare->bound = keysym;
        spare->lastUse = now;
    }
    std::erase_if(spares_, [&](const Spare& spare) {
        return spare.bound == NoSymbol && (unlendable | lending.lentByOthers).test(spare.keycode);
    });
    if (!lending.othersWait) return Binding::done;
    giveBackIdle(lent);
    return lent.any() ? Binding::done : Binding::othersFirst;
}

}  // namespace native_worker::platform
