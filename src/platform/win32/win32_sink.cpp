#include "platform/win32/win32_sink.h"

#include <windows.h>

namespace kelvarn::input {
namespace {

static_assert(sizeof(INPUT) == 40, "SendInput is given the 64-bit INPUT record");

INPUT toInput(const InputRecord& record) {
    INPUT input{};
    input.type = record.type;
    if (record.type == inputKeyboard) {
        input.ki.wVk = record.wVk;
        input.ki.wScan = record.wScan;
        input.ki.dwFlags = record.dwFlags;
    } else {
        input.mi.dx = record.dx;
        input.mi.dy = record.dy;
        input.mi.mouseData = record.mouseData;
        input.mi.dwFlags = record.dwFlags;
    }
    return input;
}

}  // namespace

bool Win32Sink::inject(const InputRecord& record) {
    INPUT input = toInput(record);
    return SendInput(1, &input, sizeof input) == 1;
}

std::optional<Point> Win32Sink::cursorPosition() {
    POINT cursor{};
    if (!GetPhysicalCursorPos(&cursor)) return std::nullopt;
    return Point{static_cast<double>(cursor.x), static_cast<double>(cursor.y)};
}

std::unique_ptr<Sink> createSystemSink() {
    return std::make_unique<Win32Sink>();
}

}  // namespace kelvarn::input
