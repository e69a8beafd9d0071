#pragma once

#include <cstdint>

namespace native_worker::engine::gstreamer {

// Wakes the capture thread from its wait from any thread: an eventfd on
// Linux, an auto-reset event on Windows, so that the platform's wait can
// watch it beside its own sources of news.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool valid() const;
    void wake();
    // Forgets wake-ups nobody waited for.
    void drain();
    // The descriptor or handle the platform's wait watches.
    std::intptr_t handle() const { return handle_; }

private:
    std::intptr_t handle_;
};

}  // namespace native_worker::engine::gstreamer
