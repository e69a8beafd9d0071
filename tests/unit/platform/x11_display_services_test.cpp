#include "fixed_source_list.h"
#include "media/displays.h"
#include "platform/display_services.h"
#include "platform/input_services.h"

#include <gtest/gtest.h>

// After gtest: Xlib's None macro would break gtest's own None.
#include "x11_test_display.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

namespace native_worker {
namespace {

using namespace std::chrono_literals;

// The display services against a real X server, split into two RandR monitors.
class X11Displays : public ::testing::Test {
protected:
    void SetUp() override {
        server = testing::VirtualDisplay::start(1600, 900);
        if (!server) GTEST_SKIP() << "Xvfb is not available";
        setenv("DISPLAY", server->name().c_str(), 1);
        const std::string xrandr = "xrandr -d " + server->name() + " ";
        if (std::system((xrandr + "--setmonitor left 600/159x900/238+0+0 none >/dev/null 2>&1").c_str()) != 0 ||
            std::system((xrandr + "--setmonitor right 1000/265x900/238+600+0 none >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << "xrandr cannot define monitors";
        displays = platform::createSystemDisplayServices();
    }

    std::unique_ptr<testing::VirtualDisplay> server;
    std::unique_ptr<platform::DisplayServices> displays;
};

TEST_F(X11Displays, MonitorsAreNumberedDevicesWithAPrimary) {
    const auto monitors = displays->monitors();
    ASSERT_GE(monitors.size(), 2u);
    bool primary = false;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        EXPECT_EQ(monitors[i].handle, i + 1);
        EXPECT_EQ(monitors[i].deviceName, "\\\\.\\DISPLAY" + std::to_string(i + 1));
        primary = primary || monitors[i].primary;
    }
    EXPECT_TRUE(primary);
    EXPECT_EQ(displays->virtualScreen(), (platform::Rect{0, 0, 1600, 900}));
}

TEST_F(X11Displays, DisplayListAndCaptureTargetMatchTheScreen) {
    const auto monitors = displays->monitors();
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < monitors.size(); ++i) ids.push_back(std::to_string(i + 1));
    testing::FixedSourceList sources(ids);
    const DisplayList list = buildDisplayList(*displays, &sources);
    ASSERT_EQ(list.entries.size(), monitors.size());
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        EXPECT_EQ(list.entries[i]["frameX"], monitors[i].rect.left);
        EXPECT_EQ(list.entries[i]["frameWidth"], monitors[i].rect.right - monitors[i].rect.left);
    }
    const CaptureTarget target = recordCaptureTarget(*displays, "1", list.capturedMonitor);
    EXPECT_EQ(target.display.frameWidth, monitors[0].rect.right - monitors[0].rect.left);
    EXPECT_EQ(target.desktop.width, 1600);
    EXPECT_EQ(target.desktop.height, 900);
}

TEST_F(X11Displays, AVanishedServerIsNoDisplayNotACrash) {
    ASSERT_FALSE(displays->monitors().empty());
    server->kill();
    // The watch notices at its next reading.
    const auto killed = std::chrono::steady_clock::now();
    while (!displays->monitors().empty() && std::chrono::steady_clock::now() - killed < 2s)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(displays->monitors().empty());
    EXPECT_EQ(displays->virtualScreen(), platform::Rect{});
}

// Whoever asks gets the last reading at once, however long the server stalls;
// a server that does not answer is no input desktop until it answers again.
TEST_F(X11Displays, AStalledServerIsAnsweredFromTheLastReading) {
    const auto input = platform::createSystemInputServices();
    const auto before = displays->monitors();
    ASSERT_TRUE(input->inputDesktopAvailable());
    server->stall();
    const auto stalled = std::chrono::steady_clock::now();
    auto slowest = std::chrono::steady_clock::duration{};
    bool available = true;
    while (available && std::chrono::steady_clock::now() - stalled < 4s) {
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(displays->monitors().size(), before.size());
        EXPECT_EQ(displays->virtualScreen(), (platform::Rect{0, 0, 1600, 900}));
        available = input->inputDesktopAvailable();
        slowest = std::max(slowest, std::chrono::steady_clock::now() - asked);
        std::this_thread::sleep_for(10ms);
    }
    const auto unavailableAfter = std::chrono::steady_clock::now() - stalled;
    server->resume();
    EXPECT_FALSE(available);
    EXPECT_GE(unavailableAfter, 1s);
    EXPECT_LT(slowest, 100ms);
    const auto resumed = std::chrono::steady_clock::now();
    while (!input->inputDesktopAvailable() && std::chrono::steady_clock::now() - resumed < 2s)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(input->inputDesktopAvailable());
}

// No thread of the watch may outlive it: Xlib frees its locks when the
// process exits, and a thread still closing its connection then crashes it.
TEST_F(X11Displays, TheWatchEndsWithItsLastUserEvenWhileTheServerStalls) {
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator{});
    };
    ASSERT_FALSE(displays->monitors().empty());
    const auto withTheWatch = threads();
    server->stall();
    // Its next reading waits on the server.
    std::this_thread::sleep_for(4 * 100ms);
    const auto ending = std::chrono::steady_clock::now();
    displays.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - ending, 1s);
    EXPECT_EQ(threads(), withTheWatch - 1);
    server->resume();
}

}  // namespace
}  // namespace native_worker
