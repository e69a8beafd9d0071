#include "platform/process.h"

#include <windows.h>

#include <stdlib.h>
#include <string>

namespace native_worker::platform {

// Windows hands a child its standard handles as they are and stops it
// without asking: nothing to prepare, and no stop is ever requested.
void prepareProcess() {}

bool stopRequested() {
    return false;
}

// Thread names are ASCII literals: widening each byte is enough.
void nameCurrentThread(const char* name) {
    const std::string narrow(name);
    const std::wstring wide(narrow.begin(), narrow.end());
    SetThreadDescription(GetCurrentThread(), wide.c_str());
}

// The C runtime's _Exit: no atexit handlers, no destructors, no stream flushing.
void exitImmediately(int code) {
    _Exit(code);
}

}  // namespace native_worker::platform
