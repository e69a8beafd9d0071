// The X11 sink takes the root window's size from the desktop watch instead
// of asking the server at every absolute move: a resize must still reach it.

// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "display_variable.h"
#include "platform/posix/x11_sink.h"
#include "recording_sink.h"
#include "x11_test_display.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sys/wait.h>
#include <thread>

namespace native_worker {
namespace {

using kelvarn::input::absoluteMoveFlags;
using kelvarn::input::Point;

TEST(X11Sink, AbsoluteMovesSpanTheRootAfterAResize) {
    const auto server = testing::VirtualDisplay::start(1280, 800);
    if (!server) GTEST_SKIP() << "no Xvfb";
    const testing::DisplayVariable variable(server->name());
    kelvarn::input::X11Sink sink;
    // The middle, which the server would not pull into a smaller root as it does the far corner.
    const auto middle = [&]() -> std::optional<Point> {
        if (!sink.inject(kelvarn::input::mouseRecord(absoluteMoveFlags, 32768, 32768))) return std::nullopt;
        return sink.cursorPosition();
    };
    EXPECT_EQ(middle(), (Point{640, 400}));

    // Xvfb resizes the root but refuses to fit its one output to it: xrandr then fails, having resized.
    const int resize = std::system(("xrandr -d " + server->name() + " --fb 640x480 >/dev/null 2>&1").c_str());
    if (resize == -1 || WEXITSTATUS(resize) == 127) GTEST_SKIP() << "no xrandr";
    const auto resized = std::chrono::steady_clock::now();
    while (middle() != Point{320, 240} && std::chrono::steady_clock::now() - resized < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(middle(), (Point{320, 240}));
}

}  // namespace
}  // namespace native_worker
