#pragma once

#include <chrono>

namespace native_worker::platform {

// Work that must reach the system before the process ends without its
// clean-up (a watchdog's exit, a fatal signal): input held on the desktop
// must not stay held. It runs on a thread kept for it, and the process ends
// after lastRitesLimit at most, whatever state the rest of it is in.
class LastRites {
public:
    static constexpr std::chrono::milliseconds lastRitesLimit{1000};

    // Called on the rites' own thread; may find any other thread anywhere,
    // a lock held or the heap half changed.
    virtual void perform() noexcept = 0;
    // Called on the same thread when the process goes on after all, since
    // a handler of the signal from before the rites returned: whatever
    // perform did to keep the rest of the process still is undone, and the
    // next fatal signal performs the rites again.
    virtual void resume() noexcept = 0;

protected:
    ~LastRites() = default;
};

// One set of rites at a time, each with a thread that waits to run it and
// is joined when it is withdrawn. The first one catches the fatal signals,
// which then run the rites before they end the process as they would have.
void enlistLastRites(LastRites& rites);
// Waits for rites under way, and for their thread.
void withdrawLastRites(LastRites& rites);
// Runs the enlisted rites and waits for them, at most lastRitesLimit.
// Async-signal-safe; nothing to do when none are enlisted.
void performLastRites();
// The calling thread handles fatal signals on a stack of its own, kept
// until it ends, so that the rites run even when it overflowed its stack.
// Nothing to do when it has one already.
void giveThreadSignalStack();

}  // namespace native_worker::platform
