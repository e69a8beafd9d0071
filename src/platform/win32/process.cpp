#include "platform/process.h"

#include <stdlib.h>

namespace native_worker::platform {

// Windows hands a child its standard handles as they are and stops it
// without asking: nothing to prepare, and no stop is ever requested.
void prepareProcess() {}

bool stopRequested() {
    return false;
}

// The C runtime's _Exit: no atexit handlers, no destructors, no stream flushing.
void exitImmediately(int code) {
    _Exit(code);
}

}  // namespace native_worker::platform
