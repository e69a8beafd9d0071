#pragma once

#include "platform/display_services.h"

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace native_worker::platform {

// The X server's monitors, root window size and XTEST, read on a thread of
// its own every pollPeriod, so that whoever asks never waits on the server:
// a server that stalls (stopped, or grabbed by another client) only makes
// the answers old, and one that has not answered for answerLimit counts as
// no input desktop. One watch serves everyone in the process who asks and
// ends with its last user, which waits for its thread: the connection's
// socket is shut first, so that neither a question in flight nor the
// closing waits on a stalled server.
class X11DesktopWatch {
public:
    static constexpr std::chrono::milliseconds pollPeriod{100};
    static constexpr std::chrono::milliseconds answerLimit{2000};
    // A question right after the start waits this long at most for a first reading.
    static constexpr std::chrono::milliseconds firstReadingLimit{2000};

    static std::shared_ptr<X11DesktopWatch> shared();
    ~X11DesktopWatch();
    X11DesktopWatch(const X11DesktopWatch&) = delete;
    X11DesktopWatch& operator=(const X11DesktopWatch&) = delete;

    // RandR monitors: handle = 1-based index, device name "\\.\DISPLAY<n>".
    std::vector<Monitor> monitors();
    // The root window; empty without a server.
    Rect virtualScreen();
    // The server has XTEST and answered within answerLimit.
    bool inputDesktopAvailable();

private:
    struct State;

    X11DesktopWatch();

    std::unique_ptr<State> state_;
    // Joined before the process can end: Xlib frees its own locks when the
    // process exits, so a thread still closing its connection then crashes it.
    std::jthread thread_;
};

}  // namespace native_worker::platform
