#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace native_worker::platform {

class X11Connection;

// A deadline for the X connections it watches: once it passes, each is cut
// off, so that whatever still waits on a server that stopped answering
// gives up, then and later.
class X11Cutoff {
public:
    using Clock = std::chrono::steady_clock;

    X11Cutoff() = default;
    ~X11Cutoff();
    X11Cutoff(const X11Cutoff&) = delete;
    X11Cutoff& operator=(const X11Cutoff&) = delete;

    // Any thread; the first deadline is the one kept, on a thread of its own.
    void arm(Clock::time_point deadline);

    // While it exists the connection is watched; one that comes after the
    // deadline is cut off at once.
    class Watch {
    public:
        Watch(X11Cutoff& cutoff, const X11Connection& connection);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        X11Cutoff& cutoff_;
        const X11Connection& connection_;
    };

private:
    std::mutex mutex_;
    std::condition_variable ending_;
    std::set<const X11Connection*> watched_;
    bool passed_ = false;
    bool ended_ = false;
    std::thread timer_;
};

}  // namespace native_worker::platform
