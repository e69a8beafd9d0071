#pragma once

#include "platform/input_record.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

namespace kelvarn::input {

// Delivers input records to the operating system one at a time, so that the
// caller always knows which record was refused.
class Sink {
public:
    virtual ~Sink() = default;
    // True when the system accepted the record.
    virtual bool inject(const InputRecord& record) = 0;
    // The UTF-16 units that Unicode records are about to type, in order. A
    // hint only: what inject receives still decides what is typed.
    virtual void prepareText(std::u16string_view /*units*/) {}
    // The cursor in virtual-desktop pixels; empty when it cannot be read.
    virtual std::optional<Point> cursorPosition() = 0;
    // Any thread, when the process begins to stop: what the sink still does
    // from now on, up to its close, is over by the deadline even when the
    // system stops answering, and left undone if it must.
    virtual void stopBy(std::chrono::steady_clock::time_point /*deadline*/) {}
    // Releases what the sink still holds and gives back what it borrowed
    // from the system; it injects nothing after.
    virtual void close() {}
};

// The running system's sink.
std::unique_ptr<Sink> createSystemSink();

}  // namespace kelvarn::input
