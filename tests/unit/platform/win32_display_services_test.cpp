// The Windows display, input and socket services against the system: under
// Wine on a virtual display, one primary monitor \\.\DISPLAY1 the size of the
// screen, which the display list and the capture target must report.
#include "fixed_source_list.h"
#include "media/displays.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/sockets.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace native_worker {
namespace {

class Win32Displays : public ::testing::Test {
protected:
    void SetUp() override {
        screen_ = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (screen_.right <= 0 || screen_.bottom <= 0) GTEST_SKIP() << "no screen";
    }

    std::unique_ptr<platform::DisplayServices> displays_ = platform::createSystemDisplayServices();
    platform::Rect screen_;
};

TEST_F(Win32Displays, OnePrimaryMonitorNamedDisplay1CoversTheScreen) {
    displays_->enableDpiAwareness();
    const auto monitors = displays_->monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_NE(monitors[0].handle, 0u);
    EXPECT_EQ(monitors[0].rect, screen_);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(monitors[0].deviceName, "\\\\.\\DISPLAY1");
    EXPECT_EQ(displays_->virtualScreen(), screen_);

    const auto again = displays_->monitorInfo(monitors[0].handle);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->rect, screen_);
    EXPECT_FALSE(displays_->monitorInfo(0));
    EXPECT_FALSE(displays_->monitorInfo(monitors[0].handle + 4096));
}

TEST_F(Win32Displays, EveryIdFormNamesTheMonitorInTheListAndTheCaptureTarget) {
    const nlohmann::json entry = {{"frameX", 0},
                                  {"frameY", 0},
                                  {"frameWidth", screen_.right},
                                  {"frameHeight", screen_.bottom},
                                  {"pixelWidth", screen_.right},
                                  {"pixelHeight", screen_.bottom},
                                  {"isMain", true}};
    for (const std::string id : {"0", "1", "\\\\.\\DISPLAY1"}) {
        SCOPED_TRACE(id);
        testing::FixedSourceList sources({id});
        const DisplayList list = buildDisplayList(*displays_, &sources);
        nlohmann::json expected = entry;
        expected["id"] = id;
        EXPECT_EQ(list.entries, nlohmann::json::array({expected}));
        ASSERT_NE(list.capturedMonitor, 0u);

        const CaptureTarget target = recordCaptureTarget(*displays_, id, list.capturedMonitor);
        const double width = screen_.right;
        const double height = screen_.bottom;
        EXPECT_EQ(target.display.id, id);
        EXPECT_EQ(target.display.frameX, 0);
        EXPECT_EQ(target.display.frameY, 0);
        EXPECT_EQ(target.display.frameWidth, width);
        EXPECT_EQ(target.display.frameHeight, height);
        EXPECT_EQ(target.display.pixelWidth, width);
        EXPECT_EQ(target.display.pixelHeight, height);
        EXPECT_EQ(target.desktop.width, width);
        EXPECT_EQ(target.desktop.height, height);
    }
}

TEST_F(Win32Displays, AnUnknownDeviceNameFallsBackToTheWholeDesktop) {
    testing::FixedSourceList sources({"\\\\.\\DISPLAY2"});
    const DisplayList list = buildDisplayList(*displays_, &sources);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0]["frameWidth"], screen_.right);
    EXPECT_EQ(list.entries[0]["isMain"], true);
}

TEST(Win32InputServices, TheInteractiveDesktopTakesInputAndTheCursorIsOnIt) {
    const auto input = platform::createSystemInputServices();
    EXPECT_TRUE(input->inputDesktopAvailable());
    const auto cursor = input->cursorPosition();
    ASSERT_TRUE(cursor);
    EXPECT_GE(cursor->x, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_LT(cursor->x, GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN));
}

TEST(Win32Sockets, StartAndStopAndJudgeIpv6Addresses) {
    // The address check runs before the socket layer is started.
    EXPECT_TRUE(platform::isIpv6Address("::1"));
    EXPECT_TRUE(platform::isIpv6Address("2001:db8::7"));
    EXPECT_TRUE(platform::isIpv6Address("::ffff:192.0.2.1"));
    EXPECT_FALSE(platform::isIpv6Address("192.0.2.1"));
    EXPECT_FALSE(platform::isIpv6Address("2001:db8:::7"));
    EXPECT_FALSE(platform::isIpv6Address(""));
    ASSERT_TRUE(platform::startSockets());
    platform::stopSockets();
}

}  // namespace
}  // namespace native_worker
