#pragma once

// The X11 sink's tests run on the display named by DISPLAY, or on an Xvfb of
// their own, and look at the server through a probe connection of their own.

#include "input_test_support.h"
#include "platform/posix/x11_sink.h"
#include "x11_test_display.h"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace native_worker {

class X11SinkTest : public ::testing::Test {
protected:
    static constexpr int screenWidth = 1280;
    static constexpr int screenHeight = 800;

    static void SetUpTestSuite() {
        if (std::getenv("DISPLAY")) return;
        server_ = testing::VirtualDisplay::start(screenWidth, screenHeight).release();
        if (server_) setenv("DISPLAY", server_->name().c_str(), 1);
    }

    static void TearDownTestSuite() {
        if (!server_) return;
        delete server_;
        server_ = nullptr;
        unsetenv("DISPLAY");
    }

    void SetUp() override {
        if (std::getenv("DISPLAY")) probe_ = std::make_unique<testing::DesktopProbe>();
        if (!probe_ || !probe_->connected()) GTEST_SKIP() << "no X display and no Xvfb";
        XWindowAttributes root;
        XGetWindowAttributes(display(), DefaultRootWindow(display()), &root);
        width_ = root.width;
        height_ = root.height;
    }

    Display* display() const { return probe_->display(); }

    kelvarn::input::Point pointer() {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int mask = 0;
        XQueryPointer(display(), DefaultRootWindow(display()), &root, &child, &x, &y, &windowX, &windowY, &mask);
        return {static_cast<double>(x), static_cast<double>(y)};
    }

    unsigned int buttonMask() { return probe_->buttons(); }

    bool keyIsDown(KeyCode keycode) {
        char keys[32];
        XQueryKeymap(display(), keys);
        return (keys[keycode / 8] >> (keycode % 8)) & 1;
    }

    int unmappedKeycodes() {
        int lowest = 0;
        int highest = 0;
        XDisplayKeycodes(display(), &lowest, &highest);
        int perKeycode = 0;
        KeySym* map = XGetKeyboardMapping(display(), static_cast<KeyCode>(lowest), highest - lowest + 1, &perKeycode);
        int unmapped = 0;
        for (int keycode = 0; keycode <= highest - lowest; ++keycode)
            unmapped += std::all_of(map + keycode * perKeycode, map + (keycode + 1) * perKeycode,
                                    [](KeySym s) { return s == NoSymbol; });
        XFree(map);
        return unmapped;
    }

    // The whole keyboard map, then the modifier map.
    std::vector<unsigned long> keymap() { return probe_->keymap(); }

    // Waits a while for the map to be what it was.
    bool keymapBecomes(const std::vector<unsigned long>& expected) {
        for (int i = 0; i < 100 && keymap() != expected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return keymap() == expected;
    }

    bool anyKeyDown() { return probe_->anyKeyDown(); }

    // An injector that owns the whole screen as its display.
    InputInjector& activeInjector(kelvarn::input::Sink& sink) {
        injector_ = std::make_unique<InputInjector>(testing::testIdentity(), sink);
        const double w = width_;
        const double h = height_;
        EXPECT_TRUE(injector_->activate(testing::testEpoch, {"1", 0, 0, w, h, w, h}, {0, 0, w, h}, testing::openGate));
        return *injector_;
    }

    static kelvarn::input::InputRecord key(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
        return kelvarn::input::keyboardRecord(vk, scan, flags);
    }

    inline static testing::VirtualDisplay* server_ = nullptr;
    std::unique_ptr<testing::DesktopProbe> probe_;
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<InputInjector> injector_;
    testing::EventTexts events;
};

}  // namespace native_worker
