#pragma once

namespace native_worker::platform {

// Ends the process at once: no destructors, no exit handlers, no flushing.
[[noreturn]] void exitImmediately(int code);

}  // namespace native_worker::platform
