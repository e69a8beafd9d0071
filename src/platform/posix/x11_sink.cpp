#include "platform/posix/x11_sink.h"

#include "platform/posix/last_rites.h"
#include "platform/posix/scan_codes.h"
#include "platform/posix/x11_connection.h"
#include "platform/posix/x11_keymap_record.h"
#include "platform/posix/x11_spare_keys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace kelvarn::input {
namespace {

using native_worker::platform::X11Connection;
using native_worker::platform::X11ErrorTrap;

// How long the last rites wait for a delivery under way before they act beside it.
constexpr auto deliveryWait = std::chrono::milliseconds(250);

constexpr std::uint16_t firstFunctionVirtualKey = 0x70;  // F1
constexpr std::uint16_t lastFunctionVirtualKey = 0x87;   // F24
// Strokes are remembered by UTF-16 unit, or by virtual key above all units.
constexpr std::uint32_t virtualKeyStroke = 0x10000;

bool isHighSurrogate(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

char32_t joinSurrogates(std::uint16_t high, std::uint16_t low) {
    return 0x10000 + ((char32_t{high} - 0xD800) << 10) + (low - 0xDC00u);
}

KeySym keysymOfCodePoint(char32_t codePoint) {
    switch (codePoint) {
    case 0x08: return XK_BackSpace;
    case 0x09: return XK_Tab;
    case 0x0A:
    case 0x0D: return XK_Return;
    case 0x1B: return XK_Escape;
    case 0x7F: return XK_Delete;
    default: break;
    }
    // Latin-1 keysyms equal their code points; every other character has one
    // at 0x01000000 plus its code point.
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF)) return codePoint;
    return 0x01000000 | codePoint;
}

KeySym keysymOfVirtualKey(std::uint16_t virtualKey) {
    if (virtualKey < firstFunctionVirtualKey || virtualKey > lastFunctionVirtualKey) return NoSymbol;
    return XK_F1 + (virtualKey - firstFunctionVirtualKey);
}

}  // namespace

// Also the process's last rites: a process that ends at once releases what
// the sink holds and gives back what it lent, from a connection of its own.
class X11Sink::Connection final : public native_worker::platform::LastRites {
public:
    static std::unique_ptr<Connection> open() {
        auto connection = X11Connection::open();
        if (!connection) return nullptr;
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) return nullptr;
        return std::unique_ptr<Connection>(new Connection(std::move(connection)));
    }

    ~Connection() {
        native_worker::platform::withdrawLastRites(*this);
        restorer_.request_stop();
        restorer_.join();
        if (connection_->lost()) return;
        X11ErrorTrap trap(*connection_);
        spares_.restoreAll();
        record_.forgetAll();
        XSync(display_, False);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False when the record was refused or the server went away.
    bool deliver(const InputRecord& record) {
        std::lock_guard lock(mutex_);
        X11ErrorTrap trap(*connection_);
        const bool sent = record.type == inputKeyboard ? key(record) : mouse(record);
        // Nothing here reads events, yet every client gets each mapping
        // change: dropping them keeps the queue from growing. Xlib keeps its
        // own keyboard map, which finds function keys, current by itself.
        XSync(display_, True);
        if (restorerIdle_ && spares_.idleAt()) wake_.notify_one();
        return sent && !trap.failed() && !connection_->lost();
    }

    // The keysyms the units' strokes will ask the spares for, in order.
    void expect(std::u16string_view units) {
        std::vector<KeySym> keysyms;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (isHighSurrogate(units[i]) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
                keysyms.push_back(keysymOfCodePoint(joinSurrogates(units[i], units[i + 1])));
                ++i;
            } else if (!isHighSurrogate(units[i]) && !isLowSurrogate(units[i])) {
                keysyms.push_back(keysymOfCodePoint(units[i]));
            }
        }
        std::lock_guard lock(mutex_);
        spares_.expect(std::move(keysyms));
    }

    bool lost() {
        std::lock_guard lock(mutex_);
        return connection_->lost();
    }

    // Keeps the sink's threads from sending more, unless one is stuck on the
    // server; the process ends holding the lock.
    void perform() noexcept override {
        static_cast<void>(mutex_.try_lock_for(deliveryWait));
        const auto own = X11Connection::open();
        if (!own) return;
        KeymapRecord record(*own);
        record.disown(record_.owner());
        record.restoreLeftovers();
    }

private:
    explicit Connection(std::unique_ptr<X11Connection> connection)
        : connection_(std::move(connection)),
          display_(connection_->display()),
          record_(*connection_),
          spares_(display_, record_),
          restorer_([this](std::stop_token stop) { restoreWhenIdle(stop); }) {
        native_worker::platform::enlistLastRites(*this);
    }

    // Borrowed keycodes go back as soon as typing pauses, not when the sink
    // closes: the worker may end without closing it, and meanwhile a real
    // key of a borrowed keycode would type the borrowed character.
    void restoreWhenIdle(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (!stop.stop_requested() && !connection_->lost()) {
            const auto due = spares_.idleAt();
            restorerIdle_ = !due;
            if (!due) {
                wake_.wait(lock, stop, [this] { return spares_.idleAt().has_value(); });
            } else if (SpareKeys::Clock::now() < *due) {
                // A stroke meanwhile moves the time on; the loop looks again.
                wake_.wait_until(lock, stop, *due, [] { return false; });
            } else {
                X11ErrorTrap trap(*connection_);
                spares_.restoreIdle();
                XSync(display_, False);
            }
        }
    }

    bool key(const InputRecord& record) {
        const bool up = (record.dwFlags & keyeventfKeyUp) != 0;
        if (record.dwFlags & keyeventfUnicode) return unicodeUnit(record.wScan, up);
        if (record.dwFlags & keyeventfScanCode) {
            const std::uint16_t code = evdevKeyFromScanCode(record.wScan, record.dwFlags & keyeventfExtendedKey);
            if (code == 0) return false;
            press(static_cast<KeyCode>(code + evdevKeycodeOffset), !up);
            return true;
        }
        const KeySym keysym = keysymOfVirtualKey(record.wVk);
        if (keysym == NoSymbol) return false;
        return stroke(virtualKeyStroke + record.wVk, keysym, up, true);
    }

    // A surrogate pair is typed as one character when its low unit goes down.
    bool unicodeUnit(std::uint16_t unit, bool up) {
        if (isHighSurrogate(unit)) {
            if (!up) pendingHigh_ = unit;
            return true;
        }
        char32_t codePoint = unit;
        if (isLowSurrogate(unit) && !up) {
            if (pendingHigh_ == 0) return false;
            codePoint = joinSurrogates(pendingHigh_, unit);
        }
        if (!up) pendingHigh_ = 0;
        return stroke(unit, keysymOfCodePoint(codePoint), up, false);
    }

    // Presses or releases a key that types the keysym: with the map's own
    // keycode if asked and there is one, otherwise with a spare bound to it.
    bool stroke(std::uint32_t id, KeySym keysym, bool up, bool useMap) {
        const auto pressed = strokes_.find(id);
        if (up) {
            if (pressed == strokes_.end()) return true;
            press(pressed->second, false);
            spares_.release(pressed->second);
            strokes_.erase(pressed);
            return true;
        }
        if (pressed != strokes_.end()) {
            press(pressed->second, true);
            return true;
        }
        KeyCode keycode = useMap ? XKeysymToKeycode(display_, keysym) : KeyCode{0};
        if (keycode == 0 || spares_.lends(keycode)) {
            const auto spare = spares_.hold(keysym);
            if (!spare) return false;
            keycode = *spare;
        }
        strokes_.emplace(id, keycode);
        press(keycode, true);
        return true;
    }

    // Every key and button goes down noted in the record, so that it is
    // released even when the process dies holding it.
    void press(KeyCode keycode, bool down) {
        if (down) record_.notePress(keycode);
        XTestFakeKeyEvent(display_, keycode, down ? True : False, CurrentTime);
    }

    void click(unsigned int button, bool down) {
        if (down) record_.noteButton(button);
        XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
    }

    bool mouse(const InputRecord& record) {
        const std::uint32_t flags = record.dwFlags;
        if ((flags & mouseeventfMove) && !moveBy(record)) return false;
        struct ButtonFlag {
            std::uint32_t flag;
            unsigned int button;
            bool press;
        };
        static constexpr ButtonFlag buttons[] = {
            {mouseeventfLeftDown, 1, true},   {mouseeventfLeftUp, 1, false},  {mouseeventfRightDown, 3, true},
            {mouseeventfRightUp, 3, false},   {mouseeventfMiddleDown, 2, true}, {mouseeventfMiddleUp, 2, false},
        };
        for (const ButtonFlag& b : buttons)
            if (flags & b.flag) click(b.button, b.press);
        const auto amount = static_cast<std::int32_t>(record.mouseData);
        if (flags & mouseeventfWheel) turnWheel(wheelRemainderY_, amount, 4, 5);
        if (flags & mouseeventfHWheel) turnWheel(wheelRemainderX_, amount, 7, 6);
        return true;
    }

    // Absolute moves span 0..65535 over the whole root window.
    bool moveBy(const InputRecord& record) {
        if (!(record.dwFlags & mouseeventfAbsolute)) {
            XTestFakeRelativeMotionEvent(display_, record.dx, record.dy, CurrentTime);
            return true;
        }
        Window root = 0;
        int x = 0;
        int y = 0;
        unsigned int width = 0;
        unsigned int height = 0;
        unsigned int border = 0;
        unsigned int depth = 0;
        if (!XGetGeometry(display_, DefaultRootWindow(display_), &root, &x, &y, &width, &height, &border, &depth))
            return false;
        const auto scale = [](std::int32_t value, unsigned int size) {
            return static_cast<int>(std::lround(static_cast<double>(value) * (size - 1) / 65535.0));
        };
        XTestFakeMotionEvent(display_, DefaultScreen(display_), scale(record.dx, width), scale(record.dy, height),
                             CurrentTime);
        return true;
    }

    // Whole notches are clicked; the remainder waits for the next turn.
    void turnWheel(std::int64_t& remainder, std::int32_t amount, unsigned int forward, unsigned int backward) {
        remainder += amount;
        const std::int64_t notches = remainder / wheelDelta;
        remainder -= notches * wheelDelta;
        const unsigned int button = notches > 0 ? forward : backward;
        for (std::int64_t i = 0; i < std::llabs(notches); ++i) {
            click(button, true);
            click(button, false);
        }
    }

    std::unique_ptr<X11Connection> connection_;
    Display* display_;
    KeymapRecord record_;
    SpareKeys spares_;
    std::map<std::uint32_t, KeyCode> strokes_;
    std::uint16_t pendingHigh_ = 0;
    std::int64_t wheelRemainderX_ = 0;
    std::int64_t wheelRemainderY_ = 0;
    // Guards the display, the record and the spares, which the restorer also uses.
    std::timed_mutex mutex_;
    std::condition_variable_any wake_;
    bool restorerIdle_ = false;
    std::jthread restorer_;
};

// A worker that never types still undoes what a worker that died left behind.
X11Sink::X11Sink()
    : pointer_(native_worker::platform::createSystemInputServices()), leftovers_([] {
          if (const auto connection = X11Connection::open()) KeymapRecord(*connection).restoreLeftovers();
      }) {}

X11Sink::~X11Sink() = default;

bool X11Sink::inject(const InputRecord& record) {
    if (!connection_) connection_ = Connection::open();
    if (!connection_) return false;
    const bool delivered = connection_->deliver(record);
    if (connection_->lost()) connection_.reset();
    return delivered;
}

void X11Sink::prepareText(std::u16string_view units) {
    if (!connection_) connection_ = Connection::open();
    if (connection_) connection_->expect(units);
}

std::optional<Point> X11Sink::cursorPosition() {
    const auto cursor = pointer_->cursorPosition();
    if (!cursor) return std::nullopt;
    return Point{cursor->x, cursor->y};
}

std::unique_ptr<Sink> createSystemSink() {
    return std::make_unique<X11Sink>();
}

}  // namespace kelvarn::input
