#include "recording_sink.h"

#include <cmath>

namespace kelvarn::input {

bool RecordingSink::inject(const InputRecord& record) {
    records.push_back(record);
    const bool accepted = !refuse || !refuse(record);
    acceptedFlags_.push_back(accepted);
    if (accepted && cursorFollowsMoves && record.type == inputMouse &&
        (record.dwFlags & absoluteMoveFlags) == absoluteMoveFlags)
        cursor = Point{desktopX + std::round(record.dx * (desktopWidth - 1) / 65535.0),
                       desktopY + std::round(record.dy * (desktopHeight - 1) / 65535.0)};
    return accepted;
}

std::vector<InputRecord> RecordingSink::accepted() const {
    std::vector<InputRecord> result;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (acceptedFlags_[i]) result.push_back(records[i]);
    return result;
}

InputRecord keyboardRecord(std::uint16_t wVk, std::uint16_t wScan, std::uint32_t dwFlags) {
    InputRecord record;
    record.type = inputKeyboard;
    record.wVk = wVk;
    record.wScan = wScan;
    record.dwFlags = dwFlags;
    return record;
}

InputRecord mouseRecord(std::uint32_t dwFlags, std::int32_t dx, std::int32_t dy, std::uint32_t mouseData) {
    InputRecord record;
    record.type = inputMouse;
    record.dwFlags = dwFlags;
    record.dx = dx;
    record.dy = dy;
    record.mouseData = mouseData;
    return record;
}

}  // namespace kelvarn::input
