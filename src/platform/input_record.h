#pragma once

#include <cstdint>

// One input record in the shape of the Windows INPUT structure, with the
// Windows flag values, so that the logic above the sinks is the same on every
// platform. Time and extra information are always zero and therefore absent.
namespace kelvarn::input {

inline constexpr std::uint32_t inputMouse = 0;
inline constexpr std::uint32_t inputKeyboard = 1;

inline constexpr std::uint32_t keyeventfExtendedKey = 0x0001;
inline constexpr std::uint32_t keyeventfKeyUp = 0x0002;
inline constexpr std::uint32_t keyeventfUnicode = 0x0004;
inline constexpr std::uint32_t keyeventfScanCode = 0x0008;

inline constexpr std::uint32_t mouseeventfMove = 0x0001;
inline constexpr std::uint32_t mouseeventfLeftDown = 0x0002;
inline constexpr std::uint32_t mouseeventfLeftUp = 0x0004;
inline constexpr std::uint32_t mouseeventfRightDown = 0x0008;
inline constexpr std::uint32_t mouseeventfRightUp = 0x0010;
inline constexpr std::uint32_t mouseeventfMiddleDown = 0x0020;
inline constexpr std::uint32_t mouseeventfMiddleUp = 0x0040;
inline constexpr std::uint32_t mouseeventfWheel = 0x0800;
inline constexpr std::uint32_t mouseeventfHWheel = 0x1000;
inline constexpr std::uint32_t mouseeventfVirtualDesk = 0x4000;
inline constexpr std::uint32_t mouseeventfAbsolute = 0x8000;

// 0..65535 over the whole virtual desktop.
inline constexpr std::uint32_t absoluteMoveFlags = mouseeventfMove | mouseeventfVirtualDesk | mouseeventfAbsolute;

// Wheel amounts are 120ths of a notch.
inline constexpr std::int32_t wheelDelta = 120;

struct InputRecord {
    std::uint32_t type = inputKeyboard;
    // Keyboard fields.
    std::uint16_t wVk = 0;
    std::uint16_t wScan = 0;
    // Shared by keyboard and mouse records, as the Windows union's layouts do.
    std::uint32_t dwFlags = 0;
    // Mouse fields. A wheel amount is a signed value stored in the unsigned field.
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::uint32_t mouseData = 0;

    bool operator==(const InputRecord&) const = default;
};

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

}  // namespace kelvarn::input
