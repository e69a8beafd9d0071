#include "platform/posix/x11_cutoff.h"

#include "platform/posix/x11_connection.h"
#include "platform/process.h"

namespace native_worker::platform {

X11Cutoff::~X11Cutoff() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    ending_.notify_all();
    if (timer_.joinable()) timer_.join();
}

void X11Cutoff::arm(Clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    if (timer_.joinable()) return;
    timer_ = std::thread([this, deadline] {
        nameCurrentThread("x11-cutoff");
        std::unique_lock waiting(mutex_);
        if (ending_.wait_until(waiting, deadline, [this] { return ended_; })) return;
        passed_ = true;
        for (const X11Connection* connection : watched_) connection->cutOff();
    });
}

X11Cutoff::Watch::Watch(X11Cutoff& cutoff, const X11Connection& connection) : cutoff_(cutoff), connection_(connection) {
    std::lock_guard lock(cutoff_.mutex_);
    cutoff_.watched_.insert(&connection_);
    if (cutoff_.passed_) connection_.cutOff();
}

X11Cutoff::Watch::~Watch() {
    std::lock_guard lock(cutoff_.mutex_);
    cutoff_.watched_.erase(&connection_);
}

}  // namespace native_worker::platform
