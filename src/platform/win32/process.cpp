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

// SetThreadDescription exists from Windows 10 1607 on and mingw-w64 does not
// declare it: looked up at run time. Thread names are ASCII literals, so
// widening each byte is enough.
void nameCurrentThread(ThreadName name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    if (!found) return;
    // Through void (*)(void), the function pointer type that converts to any other.
    const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(found));
    const std::string narrow(name.text());
    const std::wstring wide(narrow.begin(), narrow.end());
    setDescription(GetCurrentThread(), wide.c_str());
}

// The C runtime's _Exit: no atexit handlers, no destructors, no stream flushing.
void exitImmediately(int code) {
    _Exit(code);
}

}  // namespace native_worker::platform
