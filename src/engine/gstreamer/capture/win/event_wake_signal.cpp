#include "engine/gstreamer/capture/wake_signal.h"

#include <windows.h>

namespace native_worker::engine::gstreamer {

namespace {

HANDLE eventOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Auto-reset: the wait that sees the event consumes it.
WakeSignal::WakeSignal() : handle_(reinterpret_cast<std::intptr_t>(CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}

WakeSignal::~WakeSignal() {
    if (valid()) CloseHandle(eventOf(handle_));
}

bool WakeSignal::valid() const {
    return handle_ != 0;
}

void WakeSignal::wake() {
    SetEvent(eventOf(handle_));
}

void WakeSignal::drain() {
    ResetEvent(eventOf(handle_));
}

}  // namespace native_worker::engine::gstreamer
