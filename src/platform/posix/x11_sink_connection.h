#pragma once

#include "platform/input_record.h"
#include "platform/posix/last_rites.h"
#include "platform/posix/x11_connection.h"
#include "platform/posix/x11_cutoff.h"
#include "platform/posix/x11_desktop_watch.h"
#include "platform/posix/x11_keymap_record.h"
#include "platform/posix/x11_spare_keys.h"

#include <X11/Xlib.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>

namespace native_worker::platform {

// The X11 sink's connection and what it keeps on the server: every key and
// button goes down, and every keycode is lent, noted in the keymap record
// first. Also the process's last rites: a process that ends at once
// releases what the sink holds and gives back what it lent, from a
// connection of its own.
class X11SinkConnection final : public LastRites {
public:
    // Empty when the display cannot be opened or has no XTEST; the cutoff
    // watches the connection while it lives.
    static std::unique_ptr<X11SinkConnection> open(X11Cutoff& cutoff);
    // Releases what the sink holds and, once typing has paused long enough,
    // gives back what it lends; only then are the rites withdrawn.
    ~X11SinkConnection();
    X11SinkConnection(const X11SinkConnection&) = delete;
    X11SinkConnection& operator=(const X11SinkConnection&) = delete;

    // False when the record was refused or the server went away.
    bool deliver(const kelvarn::input::InputRecord& record);
    // The units the next Unicode records are likely to type.
    void expect(std::u16string_view units);
    bool lost();

    // Keep the sink's threads from sending more until the process ends,
    // unless one is stuck on the server.
    void perform() noexcept override;
    void resume() noexcept override;

private:
    X11SinkConnection(std::unique_ptr<X11Connection> connection, X11Cutoff& cutoff);

    void restoreWhenIdle(std::stop_token stop);
    bool key(const kelvarn::input::InputRecord& record);
    bool unicodeUnit(std::uint16_t unit, bool up);
    bool stroke(std::uint32_t id, KeySym keysym, bool up, bool useMap);
    void press(KeyCode keycode, bool down);
    void click(unsigned int button, bool down);
    bool mouse(const kelvarn::input::InputRecord& record);
    bool moveBy(const kelvarn::input::InputRecord& record);
    void turnWheel(std::int64_t& remainder, std::int32_t amount, unsigned int forward, unsigned int backward);

    const std::unique_ptr<X11Connection> connection_;
    const X11Cutoff::Watch watch_;
    Display* const display_;
    const std::shared_ptr<X11DesktopWatch> desktop_ = X11DesktopWatch::shared();
    KeymapRecord record_;
    SpareKeys spares_;
    std::map<std::uint32_t, KeyCode> strokes_;
    std::uint16_t pendingHigh_ = 0;
    std::int64_t wheelRemainderX_ = 0;
    std::int64_t wheelRemainderY_ = 0;
    // Guards the display, the record, the spares and the strokes, which the
    // restorer and the rites also use.
    std::mutex mutex_;
    bool ritesHold_ = false;  // the rites hold the mutex
    std::condition_variable_any wake_;
    bool restorerIdle_ = false;
    std::jthread restorer_;
};

}  // namespace native_worker::platform
