// The Win32 sink against the system's own input state: SendInput moves the
// physical cursor to the pixel the absolute scale names, and presses show in
// GetAsyncKeyState. Scan-code presses reach windows without a virtual key
// under Wine, so key state is checked with a virtual-key-only record (F13).
#include "input/input_geometry.h"
#include "platform/display_services.h"
#include "platform/win32/win32_sink.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>

namespace native_worker {
namespace {

using namespace kelvarn::input;

bool isDown(int virtualKey) {
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

class Win32SinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        const platform::Rect screen = platform::createSystemDisplayServices()->virtualScreen();
        desktop_ = {static_cast<double>(screen.left), static_cast<double>(screen.top),
                    static_cast<double>(screen.right - screen.left), static_cast<double>(screen.bottom - screen.top)};
        if (desktop_.width <= 0 || desktop_.height <= 0) GTEST_SKIP() << "no desktop";
    }

    Win32Sink sink_;
    VirtualScreen desktop_;
};

TEST_F(Win32SinkTest, AnAbsoluteMovePutsTheCursorOnTheMappedPixel) {
    const double right = desktop_.x + desktop_.width - 1;
    const double bottom = desktop_.y + desktop_.height - 1;
    for (const Point target :
         {Point{desktop_.x, desktop_.y}, Point{right, bottom}, Point{std::floor(right / 3), std::floor(bottom / 2)},
          Point{desktop_.x + 101, desktop_.y + 57}}) {
        SCOPED_TRACE(::testing::Message() << target.x << "," << target.y);
        const auto record = absoluteRecord(desktop_, target);
        ASSERT_TRUE(record);
        ASSERT_TRUE(sink_.inject(*record));
        POINT cursor{};
        ASSERT_TRUE(GetPhysicalCursorPos(&cursor));
        EXPECT_EQ(cursor.x, static_cast<LONG>(target.x));
        EXPECT_EQ(cursor.y, static_cast<LONG>(target.y));
        EXPECT_EQ(sink_.cursorPosition(), target);
    }
}

TEST_F(Win32SinkTest, ButtonRecordsPressAndReleaseTheButton) {
    ASSERT_TRUE(sink_.inject({inputMouse, 0, 0, mouseeventfLeftDown}));
    EXPECT_TRUE(isDown(VK_LBUTTON));
    ASSERT_TRUE(sink_.inject({inputMouse, 0, 0, mouseeventfLeftUp}));
    EXPECT_FALSE(isDown(VK_LBUTTON));
}

TEST_F(Win32SinkTest, AVirtualKeyRecordPressesAndReleasesTheKey) {
    ASSERT_TRUE(sink_.inject({inputKeyboard, VK_F13, 0, 0}));
    EXPECT_TRUE(isDown(VK_F13));
    ASSERT_TRUE(sink_.inject({inputKeyboard, VK_F13, 0, keyeventfKeyUp}));
    EXPECT_FALSE(isDown(VK_F13));
}

TEST_F(Win32SinkTest, ScanCodeUnicodeAndWheelRecordsAreAccepted) {
    const InputRecord records[] = {
        {inputKeyboard, 0, 0x1E, keyeventfScanCode},
        {inputKeyboard, 0, 0x1E, keyeventfScanCode | keyeventfKeyUp},
        {inputKeyboard, 0, 0x48, keyeventfScanCode | keyeventfExtendedKey},
        {inputKeyboard, 0, 0x48, keyeventfScanCode | keyeventfExtendedKey | keyeventfKeyUp},
        {inputKeyboard, 0, 0xE9, keyeventfUnicode},
        {inputKeyboard, 0, 0xE9, keyeventfUnicode | keyeventfKeyUp},
        {inputMouse, 0, 0, mouseeventfWheel, 0, 0, static_cast<std::uint32_t>(-wheelDelta)},
        {inputMouse, 0, 0, mouseeventfHWheel, 0, 0, 60},
    };
    for (const InputRecord& record : records) EXPECT_TRUE(sink_.inject(record)) << record.dwFlags;
}

}  // namespace
}  // namespace native_worker
