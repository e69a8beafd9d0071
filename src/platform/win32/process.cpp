#include "platform/process.h"

#include <stdlib.h>

namespace native_worker::platform {

// The C runtime's _Exit: no atexit handlers, no destructors, no stream flushing.
void exitImmediately(int code) {
    _Exit(code);
}

}  // namespace native_worker::platform
