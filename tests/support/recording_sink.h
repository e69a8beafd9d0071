#pragma once

#include "platform/input_sink.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace kelvarn::input {

// Records every record it is given, accepted or not, and refuses the ones
// a test asks it to refuse.
class RecordingSink final : public Sink {
public:
    using Refusal = std::function<bool(const InputRecord& record)>;

    bool inject(const InputRecord& record) override;
    std::optional<Point> cursorPosition() override { return cursor; }

    // Records offered so far, refused ones included.
    std::vector<InputRecord> records;
    // The position cursorPosition reports.
    std::optional<Point> cursor = Point{0, 0};
    // Refuses every record for which it returns true; none when empty.
    Refusal refuse;
    // Follows accepted absolute moves, as the system's cursor would.
    bool cursorFollowsMoves = false;
    // The desktop the absolute scale spans, for cursorFollowsMoves.
    double desktopX = 0;
    double desktopY = 0;
    double desktopWidth = 1920;
    double desktopHeight = 1080;

    // The records accepted, in order.
    std::vector<InputRecord> accepted() const;
    void clear() {
        records.clear();
        acceptedFlags_.clear();
    }

private:
    std::vector<bool> acceptedFlags_;
};

// Builders of the records tests expect.
InputRecord keyboardRecord(std::uint16_t wVk, std::uint16_t wScan, std::uint32_t dwFlags);
InputRecord mouseRecord(std::uint32_t dwFlags, std::int32_t dx = 0, std::int32_t dy = 0, std::uint32_t mouseData = 0);

}  // namespace kelvarn::input
