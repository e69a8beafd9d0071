#include "platform/posix/x11_sink_connection.h"

#include "platform/posix/scan_codes.h"
#include "platform/posix/x11_keysyms.h"
#include "platform/process.h"

#include <X11/extensions/XTest.h>

#include <cmath>
#include <cstdlib>

namespace native_worker::platform {
namespace {

// The records this connection delivers, and their flags.
using namespace kelvarn::input;

// How long the last rites wait for a delivery under way before they act beside it.
constexpr auto deliveryWait = std::chrono::milliseconds(250);
// Strokes are remembered by UTF-16 unit, or by virtual key above all units.
constexpr std::uint32_t virtualKeyStroke = 0x10000;

}  // namespace

std::unique_ptr<X11SinkConnection> X11SinkConnection::open(X11Cutoff& cutoff) {
    auto connection = X11Connection::open();
    if (!connection) return nullptr;
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) return nullptr;
    return std::unique_ptr<X11SinkConnection>(new X11SinkConnection(std::move(connection), cutoff));
}

X11SinkConnection::X11SinkConnection(std::unique_ptr<X11Connection> connection, X11Cutoff& cutoff)
    : connection_(std::move(connection)),
      watch_(cutoff, *connection_),
      display_(connection_->display()),
      record_(*connection_),
      spares_(*connection_, record_),
      restorer_([this](std::stop_token stop) { restoreWhenIdle(stop); }) {
    enlistLastRites(*this);
}

X11SinkConnection::~X11SinkConnection() {
    {
        std::lock_guard lock(mutex_);
        if (!connection_->lost()) {
            const X11ErrorTrap trap(*connection_);
            spares_.finish();
            record_.forgetAll();
            XSync(display_, False);
        }
    }
    withdrawLastRites(*this);
    restorer_.request_stop();
    restorer_.join();
}

bool X11SinkConnection::deliver(const InputRecord& record) {
    giveThreadSignalStack();
    std::lock_guard lock(mutex_);
    const X11ErrorTrap trap(*connection_);
    const bool sent = record.type == inputKeyboard ? key(record) : mouse(record);
    // Nothing here reads events, yet every client gets each mapping
    // change: dropping them keeps the queue from growing. Xlib keeps its
    // own keyboard map, which finds function keys, current by itself.
    XSync(display_, True);
    if (restorerIdle_ && spares_.idleAt()) wake_.notify_one();
    return sent && !trap.failed() && !connection_->lost();
}

void X11SinkConnection::expect(std::u16string_view units) {
    std::vector<KeySym> keysyms = keysymsOfUnits(units);
    std::lock_guard lock(mutex_);
    spares_.expect(std::move(keysyms));
}

bool X11SinkConnection::lost() {
    std::lock_guard lock(mutex_);
    return connection_->lost();
}

// The process ends holding the mutex, unless it goes on.
void X11SinkConnection::perform() noexcept {
    // Tried rather than timed, which the thread sanitizer does not follow.
    const auto giveUp = std::chrono::steady_clock::now() + deliveryWait;
    while (!(ritesHold_ = mutex_.try_lock()) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto own = X11Connection::open();
    if (!own) return;
    KeymapRecord record(*own);
    record.disown(record_.owner());
    record.restoreLeftovers();
}

// The rites undid what the sink held and lent: it starts afresh.
void X11SinkConnection::resume() noexcept {
    if (!ritesHold_) mutex_.lock();
    ritesHold_ = false;
    strokes_.clear();
    spares_.forget();
    record_.restart();
    mutex_.unlock();
}

// Borrowed keycodes go back as soon as typing pauses, not when the sink
// closes: the worker may end without closing it, and meanwhile a real
// key of a borrowed keycode would type the borrowed character.
void X11SinkConnection::restoreWhenIdle(std::stop_token stop) {
    nameCurrentThread("keymap-restore");
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
            const X11ErrorTrap trap(*connection_);
            spares_.restoreIdle();
            XSync(display_, False);
        }
    }
}

bool X11SinkConnection::key(const InputRecord& record) {
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
bool X11SinkConnection::unicodeUnit(std::uint16_t unit, bool up) {
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
bool X11SinkConnection::stroke(std::uint32_t id, KeySym keysym, bool up, bool useMap) {
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
void X11SinkConnection::press(KeyCode keycode, bool down) {
    if (down) record_.notePress(keycode);
    XTestFakeKeyEvent(display_, keycode, down ? True : False, CurrentTime);
}

void X11SinkConnection::click(unsigned int button, bool down) {
    if (down) record_.noteButton(button);
    XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
}

bool X11SinkConnection::mouse(const InputRecord& record) {
    const std::uint32_t flags = record.dwFlags;
    if ((flags & mouseeventfMove) && !moveBy(record)) return false;
    struct ButtonFlag {
        std::uint32_t flag;
        unsigned int button;
        bool press;
    };
    static constexpr ButtonFlag buttons[] = {
        {mouseeventfLeftDown, 1, true}, {mouseeventfLeftUp, 1, false},    {mouseeventfRightDown, 3, true},
        {mouseeventfRightUp, 3, false}, {mouseeventfMiddleDown, 2, true}, {mouseeventfMiddleUp, 2, false},
    };
    for (const ButtonFlag& b : buttons)
        if (flags & b.flag) click(b.button, b.press);
    const auto amount = static_cast<std::int32_t>(record.mouseData);
    if (flags & mouseeventfWheel) turnWheel(wheelRemainderY_, amount, 4, 5);
    if (flags & mouseeventfHWheel) turnWheel(wheelRemainderX_, amount, 7, 6);
    return true;
}

// Absolute moves span 0..65535 over the whole root window, whose size the
// desktop watch keeps: asking the server at every move would wait for it at
// every move.
bool X11SinkConnection::moveBy(const InputRecord& record) {
    if (!(record.dwFlags & mouseeventfAbsolute)) {
        XTestFakeRelativeMotionEvent(display_, record.dx, record.dy, CurrentTime);
        return true;
    }
    const Rect root = desktop_->virtualScreen();
    if (root.right <= root.left || root.bottom <= root.top) return false;
    const auto scale = [](std::int32_t value, std::int32_t size) {
        return static_cast<int>(std::lround(static_cast<double>(value) * (size - 1) / 65535.0));
    };
    XTestFakeMotionEvent(display_, DefaultScreen(display_), scale(record.dx, root.right - root.left),
                         scale(record.dy, root.bottom - root.top), CurrentTime);
    return true;
}

// Whole notches are clicked; the remainder waits for the next turn.
void X11SinkConnection::turnWheel(std::int64_t& remainder, std::int32_t amount, unsigned int forward,
                                  unsigned int backward) {
    remainder += amount;
    const std::int64_t notches = remainder / wheelDelta;
    remainder -= notches * wheelDelta;
    const unsigned int button = notches > 0 ? forward : backward;
    for (std::int64_t i = 0; i < std::llabs(notches); ++i) {
        click(button, true);
        click(button, false);
    }
}

}  // namespace native_worker::platform
