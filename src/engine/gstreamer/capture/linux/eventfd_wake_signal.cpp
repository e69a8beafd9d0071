#include "engine/gstreamer/capture/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace native_worker::engine::gstreamer {

WakeSignal::WakeSignal() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
    if (valid()) close(static_cast<int>(handle_));
}

bool WakeSignal::valid() const {
    return handle_ >= 0;
}

void WakeSignal::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(handle_), &one, sizeof one);
}

void WakeSignal::drain() {
    std::uint64_t wakeUps = 0;
    while (read(static_cast<int>(handle_), &wakeUps, sizeof wakeUps) > 0) {
    }
}

}  // namespace native_worker::engine::gstreamer
