#pragma once

#include <cstddef>

namespace native_worker::platform {

// First thing in main, before anything opens a file. A standard descriptor
// that is closed gets the null device, so that nothing the process opens
// later takes its place and passes for the host application's pipe. The
// signals by which host applications stop their children then only ask the
// running mode to stop, so that it ends by its own clean path, and a write
// that finds its reader gone fails instead of ending the process.
void prepareProcess();

// Whether a stop was asked for since prepareProcess.
bool stopRequested();

// A thread's name as debuggers and process listings show it: what the thread
// does, in at most the 15 characters Linux keeps, which the compiler checks.
class ThreadName {
public:
    template <std::size_t size>
    constexpr ThreadName(const char (&name)[size]) : name_(name) {
        static_assert(size <= 16, "a thread name has at most 15 characters");
    }
    const char* text() const { return name_; }

private:
    const char* name_;
};

// Names the calling thread; every thread the worker starts calls it first.
void nameCurrentThread(ThreadName name);

// Ends the process at once: no destructors, no exit handlers, no flushing.
[[noreturn]] void exitImmediately(int code);

}  // namespace native_worker::platform
