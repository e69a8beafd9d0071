#pragma once

#include "platform/input_record.h"

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
};

// The running system's sink.
std::unique_ptr<Sink> createSystemSink();

}  // namespace kelvarn::input
