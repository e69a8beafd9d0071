#pragma once

namespace native_worker::platform {

// First thing in main, before anything opens a file. A standard descriptor
// that is closed gets the null device, so that nothing the process opens
// later takes its place and passes for the host application's pipe. The
// signals by which host applications stop their children then only ask the
// running mode to stop, so that it ends by its own clean path.
void prepareProcess();

// Whether a stop was asked for since prepareProcess.
bool stopRequested();

// Names the calling thread in debuggers and process listings (at most 15
// characters are kept).
void nameCurrentThread(const char* name);

// Ends the process at once: no destructors, no exit handlers, no flushing.
[[noreturn]] void exitImmediately(int code);

}  // namespace native_worker::platform
