#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::testing {

// An Xvfb of the tests' own, on a display number it picks itself. Started
// with -noreset so that probes connecting after a sink has gone still see
// what the sink left behind.
class VirtualDisplay {
public:
    // Empty when Xvfb is missing or does not come up. `options` go to Xvfb
    // as they are (e.g. "-extension", "DAMAGE" for a server without it).
    static std::unique_ptr<VirtualDisplay> start(int width, int height, const std::vector<std::string>& options = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& name() const { return name_; }
    // Ends the server now, as a crash would.
    void kill();
    // Stops the server and lets it go on, as a stall or a long grab would.
    void stall();
    void resume();

private:
    VirtualDisplay(int pid, std::string name) : pid_(pid), name_(std::move(name)) {}

    int pid_;
    std::string name_;
};

// A client's view of the server: what it holds down and how keys are
// mapped, to compare with what a sink leaves behind.
class DesktopProbe {
public:
    // On the display named by DISPLAY; connected() tells whether it opened.
    DesktopProbe();
    ~DesktopProbe();
    DesktopProbe(const DesktopProbe&) = delete;
    DesktopProbe& operator=(const DesktopProbe&) = delete;

    bool connected() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    // The whole keyboard map, then the modifier map.
    std::vector<unsigned long> keymap();
    bool anyKeyDown();
    // The pointer's button mask.
    unsigned int buttons();
    // Any key, or one of the three buttons, down.
    bool holdsAnything();

private:
    Display* display_;
};

// What a client window saw of one key event.
struct KeySeen {
    bool press = false;
    unsigned int keycode = 0;
    KeySym keysym = NoSymbol;
};

// A focused window that records key and button events on a thread of its
// own, as a real application would, refreshing its keyboard map whenever
// the server says it changed.
class ClientWindow {
public:
    ClientWindow();
    ~ClientWindow();
    ClientWindow(const ClientWindow&) = delete;
    ClientWindow& operator=(const ClientWindow&) = delete;

    // Waits until at least count key events arrived; all of them so far.
    std::vector<KeySeen> keys(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The text typed so far, from the keysyms of the key presses.
    std::string typed(std::size_t characters, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Buttons pressed so far, waiting until at least count arrived.
    std::vector<unsigned int> buttons(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));

private:
    void run();
    template <typename Ready>
    void waitFor(Ready ready, std::chrono::milliseconds limit);

    Display* display_ = nullptr;
    Window window_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<KeySeen> keys_;
    std::vector<unsigned int> buttons_;
    std::thread reader_;
};

}  // namespace native_worker::testing
