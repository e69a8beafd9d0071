// What a sink leaves on the X server when its process ends without its
// clean-up, at once (a watchdog) or by a fatal signal: nothing held, and
// every lent keycode back. (What a killed worker leaves, the next worker
// undoes: tests/process/desktop_release_test.cpp.)
#include "platform/process.h"
#include "x11_sink_fixture.h"

#include <csignal>
#include <cstdlib>
#include <thread>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using namespace std::chrono_literals;

// Shift, A and the left button down, and a character typed with a lent
// keycode that stays down; then the process ends as `end` says. Runs in
// the death test's own process.
template <typename End>
void holdThenEnd(End end) {
    X11Sink sink;
    sink.inject(keyboardRecord(0, 0x2A, keyeventfScanCode));
    sink.inject(keyboardRecord(0, 0x1E, keyeventfScanCode));
    sink.inject(mouseRecord(mouseeventfLeftDown));
    sink.inject(keyboardRecord(0, 0x4E00, keyeventfUnicode));
    end();
}

class X11SinkLeftovers : public X11SinkTest {
protected:
    void SetUp() override {
        X11SinkTest::SetUp();
        // The death test's process starts afresh rather than as a fork of this one and its threads.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        before_ = keymap();
    }

    // Waits a while for nothing to be held and the map to be what it was.
    bool leftAsBefore() {
        for (int i = 0; i < 200 && (probe_->holdsAnything() || keymap() != before_); ++i)
            std::this_thread::sleep_for(10ms);
        return !probe_->holdsAnything() && keymap() == before_;
    }

    std::vector<unsigned long> before_;
};

TEST_F(X11SinkLeftovers, AnImmediateExitReleasesAndGivesBackFirst) {
    EXPECT_EXIT(holdThenEnd([] { platform::exitImmediately(3); }), ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(leftAsBefore());
}

TEST_F(X11SinkLeftovers, AFatalSignalReleasesAndGivesBackBeforeItEndsTheProcess) {
    EXPECT_EXIT(holdThenEnd([] { std::abort(); }), ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_TRUE(leftAsBefore());
}

}  // namespace
}  // namespace native_worker
