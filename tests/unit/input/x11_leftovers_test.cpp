// What a sink leaves on the X server when its process ends without its
// clean-up, at once (a watchdog), by a fatal signal or killed outright:
// nothing held, and every lent keycode back, unless a user bound it anew.
// (What a killed worker leaves, the next worker undoes:
// tests/process/desktop_release_test.cpp.)
#include "platform/process.h"
#include "x11_sink_fixture.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <thread>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using namespace std::chrono_literals;

constexpr KeySym lentKeysym = 0x01004E00;

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
    end(sink);
}

bool diedAnyWay(int) {
    return true;
}

// Not a loop, so that the stack runs out.
[[gnu::noinline]] int overflow(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    volatile bool deeper = true;
    return deeper ? overflow(depth + 1) + frame[0] : 0;
}

class X11SinkLeftovers : public X11SinkTest {
protected:
    void SetUp() override {
        X11SinkTest::SetUp();
        // The death test's process starts afresh rather than as a fork of this one and its threads.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        before_ = keymap();
    }

    // Waits a while for nothing to be held and the map to be `expected`.
    bool leftAs(const std::vector<unsigned long>& expected) {
        for (int i = 0; i < 200 && (probe_->holdsAnything() || keymap() != expected); ++i)
            std::this_thread::sleep_for(10ms);
        return !probe_->holdsAnything() && keymap() == expected;
    }

    bool leftAsBefore() { return leftAs(before_); }

    // The keycode that carries the keysym now, from the server's own map.
    KeyCode keycodeCarrying(KeySym keysym) {
        for (int keycode = 8; keycode < 256; ++keycode) {
            int perKeycode = 0;
            KeySym* row = XGetKeyboardMapping(display(), static_cast<KeyCode>(keycode), 1, &perKeycode);
            const bool carries = row && row[0] == keysym;
            if (row) XFree(row);
            if (carries) return static_cast<KeyCode>(keycode);
        }
        return 0;
    }

    std::vector<unsigned long> before_;
};

TEST_F(X11SinkLeftovers, AnImmediateExitReleasesAndGivesBackFirst) {
    EXPECT_EXIT(holdThenEnd([](X11Sink&) { platform::exitImmediately(3); }), ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(leftAsBefore());
}

TEST_F(X11SinkLeftovers, AFatalSignalReleasesAndGivesBackBeforeItEndsTheProcess) {
    EXPECT_EXIT(holdThenEnd([](X11Sink&) { std::abort(); }), ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_TRUE(leftAsBefore());
}

TEST_F(X11SinkLeftovers, AStackOverflowStillReleasesAndGivesBack) {
    EXPECT_EXIT(holdThenEnd([](X11Sink&) { overflow(0); }), diedAnyWay, "");
    EXPECT_TRUE(leftAsBefore());
}

// A handler from before the sink returns: the process goes on typing, and
// the next fatal signal must find the rites, and the sink, ready again.
TEST_F(X11SinkLeftovers, AfterAHandlerThatReturnedTheNextFatalSignalReleasesToo) {
    EXPECT_EXIT(
        {
            std::signal(SIGUSR1, [](int) {});
            holdThenEnd([](X11Sink& sink) {
                std::raise(SIGUSR1);
                std::thread([] {
                    std::this_thread::sleep_for(3s);
                    std::_Exit(4);  // the sink hangs
                }).detach();
                if (!sink.inject(keyboardRecord(0, 0x2A, keyeventfScanCode)) ||
                    !sink.inject(keyboardRecord(0, 0x4E01, keyeventfUnicode)))
                    std::_Exit(5);
                std::abort();
            });
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_TRUE(leftAsBefore());
}

// The server gives a client that connects after the worker died the ids of
// the dead worker's windows, its keymap record's owner among them.
TEST_F(X11SinkLeftovers, AWindowIdReusedByAnotherClientHidesNothingOfADeadSink) {
    EXPECT_EXIT(holdThenEnd([](X11Sink&) { std::raise(SIGKILL); }), ::testing::KilledBySignal(SIGKILL), "");
    ASSERT_TRUE(probe_->holdsAnything());
    // The record's first value names the owner window of its first entry.
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display(), DefaultRootWindow(display()), XInternAtom(display(), "_KELVARN_SINK_RECORD", False),
                       0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data);
    ASSERT_EQ(count, 1u);
    const auto owner = static_cast<Window>(*reinterpret_cast<long*>(data));
    XFree(data);
    std::vector<std::unique_ptr<testing::DesktopProbe>> clients;
    bool reused = false;
    for (int client = 0; client < 4 && !reused; ++client) {
        Display* connection = clients.emplace_back(std::make_unique<testing::DesktopProbe>())->display();
        for (int window = 0; window < 8 && !reused; ++window)
            reused = XCreateSimpleWindow(connection, DefaultRootWindow(connection), 0, 0, 1, 1, 0, 0, 0) == owner;
        XSync(connection, False);
    }
    ASSERT_TRUE(reused) << "no client was given the dead owner's window id";
    X11Sink next;
    EXPECT_TRUE(leftAsBefore());
}

// A user binds the keycode a dead worker lent to a key of their own before
// the next worker undoes the loan.
TEST_F(X11SinkLeftovers, AKeycodeAUserBoundAnewAfterTheLoanKeepsTheUsersBinding) {
    EXPECT_EXIT(holdThenEnd([](X11Sink&) { std::raise(SIGKILL); }), ::testing::KilledBySignal(SIGKILL), "");
    const KeyCode lent = keycodeCarrying(lentKeysym);
    ASSERT_NE(lent, 0);
    KeySym multiKey = XK_Multi_key;  // as xmodmap -e "keycode N = Multi_key" does it
    XChangeKeyboardMapping(display(), lent, 1, &multiKey, 1);
    XSync(display(), False);
    const auto remapped = keymap();
    {
        X11Sink next;
        EXPECT_TRUE(leftAs(remapped));
    }
    // The display is the suite's: the keycode gets its own mapping back.
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display(), &lowest, &highest);
    int perKeycode = 0;
    XFree(XGetKeyboardMapping(display(), lent, 1, &perKeycode));
    XChangeKeyboardMapping(display(), lent, perKeycode, before_.data() + (lent - lowest) * perKeycode, 1);
    XSync(display(), False);
}

}  // namespace
}  // namespace native_worker
