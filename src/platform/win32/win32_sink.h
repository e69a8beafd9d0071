#pragma once

#include "platform/input_sink.h"

namespace kelvarn::input {

// Delivers records with SendInput, one INPUT per call so that a refusal names
// its record, and reads the cursor with GetPhysicalCursorPos: physical pixels,
// as the process is per-monitor DPI aware.
class Win32Sink final : public Sink {
public:
    bool inject(const InputRecord& record) override;
    std::optional<Point> cursorPosition() override;
};

}  // namespace kelvarn::input
