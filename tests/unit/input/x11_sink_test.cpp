#include "input/x11_sink.h"
#include "input_test_support.h"
#include "x11_test_display.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using testing::ClientWindow;
using testing::VirtualDisplay;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;

// Runs on the display named by DISPLAY, or on an Xvfb of its own.
class X11SinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::getenv("DISPLAY")) return;
        server_ = VirtualDisplay::start(screenWidth, screenHeight).release();
        if (server_) setenv("DISPLAY", server_->name().c_str(), 1);
    }

    static void TearDownTestSuite() {
        if (!server_) return;
        delete server_;
        server_ = nullptr;
        unsetenv("DISPLAY");
    }

    void SetUp() override {
        probe_ = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
        if (!probe_) GTEST_SKIP() << "no X display and no Xvfb";
        XWindowAttributes root;
        XGetWindowAttributes(probe_, DefaultRootWindow(probe_), &root);
        width_ = root.width;
        height_ = root.height;
    }

    void TearDown() override {
        if (probe_) XCloseDisplay(probe_);
    }

    Point pointer() {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int mask = 0;
        XQueryPointer(probe_, DefaultRootWindow(probe_), &root, &child, &x, &y, &windowX, &windowY, &mask);
        return {static_cast<double>(x), static_cast<double>(y)};
    }

    unsigned int buttonMask() {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        unsigned int mask = 0;
        XQueryPointer(probe_, DefaultRootWindow(probe_), &root, &child, &x, &y, &x, &y, &mask);
        return mask;
    }

    bool keyIsDown(KeyCode keycode) {
        char keys[32];
        XQueryKeymap(probe_, keys);
        return (keys[keycode / 8] >> (keycode % 8)) & 1;
    }

    int unmappedKeycodes() {
        int lowest = 0;
        int highest = 0;
        XDisplayKeycodes(probe_, &lowest, &highest);
        int perKeycode = 0;
        KeySym* map = XGetKeyboardMapping(probe_, static_cast<KeyCode>(lowest), highest - lowest + 1, &perKeycode);
        int unmapped = 0;
        for (int keycode = 0; keycode <= highest - lowest; ++keycode)
            unmapped += std::all_of(map + keycode * perKeycode, map + (keycode + 1) * perKeycode,
                                    [](KeySym s) { return s == NoSymbol; });
        XFree(map);
        return unmapped;
    }

    // An injector that owns the whole screen as its display.
    InputInjector& activeInjector(Sink& sink) {
        injector_ = std::make_unique<InputInjector>(testing::testIdentity(), sink);
        const double w = width_;
        const double h = height_;
        EXPECT_TRUE(injector_->activate(testing::testEpoch, {"1", 0, 0, w, h, w, h}, {0, 0, w, h}, testing::openGate));
        return *injector_;
    }

    static InputRecord key(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
        return keyboardRecord(vk, scan, flags);
    }

    static VirtualDisplay* server_;
    Display* probe_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<InputInjector> injector_;
    testing::EventTexts events;
};

VirtualDisplay* X11SinkTest::server_ = nullptr;

TEST_F(X11SinkTest, AbsoluteMovesEndAtTheMappedPixel) {
    X11Sink sink;
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 65535, 65535)));
    EXPECT_EQ(pointer(), (Point{width_ - 1.0, height_ - 1.0}));
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 0, 0)));
    EXPECT_EQ(pointer(), (Point{0, 0}));
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector.apply(events({{"kind", "pointer.absolute"},
                                       {"positionX", 0},
                                       {"positionY", 0},
                                       {"normalizedX", 0.25},
                                       {"normalizedY", 0.5}}))
                    .injected);
    const Point expected{width_ * 0.25, height_ * 0.5};
    EXPECT_EQ(pointer(), expected);
    EXPECT_EQ(sink.cursorPosition(), expected);
    ASSERT_TRUE(injector.apply(events({{"kind", "pointer.move"}, {"deltaX", -10}, {"deltaY", 5}})).injected);
    EXPECT_EQ(pointer(), (Point{expected.x - 10, expected.y + 5}));
}

TEST_F(X11SinkTest, AKeyByScanCodeReachesAClient) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(key(0, 0x1E, keyeventfScanCode)));
    ASSERT_TRUE(sink.inject(key(0, 0x1E, keyeventfScanCode | keyeventfKeyUp)));
    ASSERT_TRUE(sink.inject(key(0, 0x48, keyeventfScanCode | keyeventfExtendedKey)));
    ASSERT_TRUE(sink.inject(key(0, 0x48, keyeventfScanCode | keyeventfExtendedKey | keyeventfKeyUp)));
    const auto seen = client.keys(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0].press);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_a));
    EXPECT_FALSE(seen[1].press);
    EXPECT_EQ(seen[1].keycode, seen[0].keycode);
    EXPECT_EQ(seen[2].keysym, static_cast<KeySym>(XK_Up));
    EXPECT_FALSE(seen[3].press);
}

TEST_F(X11SinkTest, FunctionKeysBeyondF12GoByKeysym) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(key(0x7C, 0, 0)));
    ASSERT_TRUE(sink.inject(key(0x7C, 0, keyeventfKeyUp)));
    const auto seen = client.keys(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_F13));
    EXPECT_FALSE(seen[1].press);
    EXPECT_FALSE(sink.inject(key(0x41, 0, 0)));  // only function keys go by virtual key
}

TEST_F(X11SinkTest, NonAsciiTextArrivesAsThatText) {
    const int unmappedBefore = unmappedKeycodes();
    ClientWindow client;
    const std::string text =
        "h\xC3\xA9llo w\xC3\xB6rld \xE2\x9C\x93 \xF0\x9F\x98\x80 \xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1";
    {
        X11Sink sink;
        InputInjector& injector = activeInjector(sink);
        ASSERT_TRUE(injector.apply(events(testing::text(text))).injected);
        EXPECT_EQ(client.typed(21), text);
        injector_.reset();
    }
    // The spare keycodes lent for the text have their empty mapping back.
    EXPECT_EQ(unmappedKeycodes(), unmappedBefore);
}

TEST_F(X11SinkTest, MoreDistinctCharactersThanSpareKeysStillArriveInOrder) {
    ClientWindow client;
    std::string text;
    for (char32_t c = 0x0410; c < 0x0410 + 48; ++c) {  // Cyrillic capitals
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector.apply(events(testing::text(text))).injected);
    EXPECT_EQ(client.typed(48), text);
}

TEST_F(X11SinkTest, WheelTurnsClickWholeNotchesAndKeepTheRest) {
    ClientWindow client;
    X11Sink sink;
    ASSERT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 300, 300)));  // over the client window
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, 180)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, 60)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfWheel, 0, 0, static_cast<std::uint32_t>(-250))));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfHWheel, 0, 0, 120)));
    ASSERT_TRUE(sink.inject(mouseRecord(mouseeventfHWheel, 0, 0, static_cast<std::uint32_t>(-120))));
    EXPECT_EQ(client.buttons(6), (std::vector<unsigned int>{4, 4, 5, 5, 7, 6}));
}

TEST_F(X11SinkTest, HeldKeyAndButtonAreReleasedOnReset) {
    X11Sink sink;
    InputInjector& injector = activeInjector(sink);
    ASSERT_TRUE(injector.apply(events(testing::key(0, true))).injected);
    ASSERT_TRUE(injector.apply(events({{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}})).injected);
    const KeyCode a = XKeysymToKeycode(probe_, XK_a);
    EXPECT_TRUE(keyIsDown(a));
    EXPECT_TRUE(buttonMask() & Button1Mask);
    injector.reset();
    EXPECT_FALSE(keyIsDown(a));
    EXPECT_FALSE(buttonMask() & Button1Mask);
}

TEST(X11Sink, AVanishedServerIsARefusedRecord) {
    auto server = VirtualDisplay::start(640, 480);
    if (!server) GTEST_SKIP() << "no Xvfb";
    const char* previous = std::getenv("DISPLAY");
    const std::string restore = previous ? previous : "";
    setenv("DISPLAY", server->name().c_str(), 1);
    X11Sink sink;
    EXPECT_TRUE(sink.inject(mouseRecord(absoluteMoveFlags, 100, 100)));
    EXPECT_TRUE(sink.cursorPosition().has_value());
    server->kill();
    EXPECT_FALSE(sink.inject(mouseRecord(absoluteMoveFlags, 200, 200)));
    EXPECT_FALSE(sink.inject(keyboardRecord(0, 0x1E, keyeventfScanCode)));
    EXPECT_FALSE(sink.cursorPosition().has_value());
    if (previous)
        setenv("DISPLAY", restore.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

}  // namespace
}  // namespace native_worker
