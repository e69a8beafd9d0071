#include "x11_test_display.h"
#include "utf8_text.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

extern char** environ;

namespace native_worker::testing {
namespace {

// Latin-1 keysyms are their code points; Unicode ones carry 0x01000000.
char32_t codePointOf(KeySym keysym) {
    if (keysym < 0x100) return static_cast<char32_t>(keysym);
    if ((keysym & 0xFF000000) == 0x01000000) return static_cast<char32_t>(keysym & 0xFFFFFF);
    return U'\uFFFD';
}

}  // namespace

std::unique_ptr<VirtualDisplay> VirtualDisplay::start(int width, int height, const std::vector<std::string>& options) {
    int ready[2];
    if (pipe(ready) != 0) return nullptr;
    const std::string fd = std::to_string(ready[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<const char*> argv = {"Xvfb", "-displayfd", fd.c_str(), "-noreset",    "-nolisten",
                                     "tcp",  "-screen",    "0",        screen.c_str()};
    for (const auto& option : options) argv.push_back(option.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    // Not the test's own output: a test that dies must not leave its runner
    // waiting for a pipe the server still holds open.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    while (spawned == 0 && poll(&wait, 1, 10000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (spawned != 0) return nullptr;
    if (number.empty()) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    return std::unique_ptr<VirtualDisplay>(new VirtualDisplay(pid, ":" + number));
}

VirtualDisplay::~VirtualDisplay() {
    kill();
}

void VirtualDisplay::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

void VirtualDisplay::stall() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void VirtualDisplay::resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
}

DesktopProbe::DesktopProbe() : display_(XOpenDisplay(nullptr)) {}

DesktopProbe::~DesktopProbe() {
    if (display_) XCloseDisplay(display_);
}

std::vector<unsigned long> DesktopProbe::keymap() {
    int lowest = 0;
    int highest = 0;
    XDisplayKeycodes(display_, &lowest, &highest);
    int perKeycode = 0;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(lowest), highest - lowest + 1, &perKeycode);
    std::vector<unsigned long> all(map, map + (highest - lowest + 1) * perKeycode);
    XFree(map);
    XModifierKeymap* modifiers = XGetModifierMapping(display_);
    all.insert(all.end(), modifiers->modifiermap, modifiers->modifiermap + 8 * modifiers->max_keypermod);
    XFreeModifiermap(modifiers);
    return all;
}

bool DesktopProbe::anyKeyDown() {
    char keys[32];
    XQueryKeymap(display_, keys);
    return std::any_of(keys, keys + 32, [](char bits) { return bits != 0; });
}

unsigned int DesktopProbe::buttons() {
    Window root = 0;
    Window child = 0;
    int x = 0;
    unsigned int mask = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &x, &x, &x, &mask);
    return mask;
}

bool DesktopProbe::holdsAnything() {
    return anyKeyDown() || (buttons() & (Button1Mask | Button2Mask | Button3Mask)) != 0;
}

// Xlib's own XKB keymap cache now and then misses a mapping change that
// follows another closely, so the client reads the core keymap, as core
// clients and toolkits that reload the whole map on each change see it.
ClientWindow::ClientWindow() : display_((XkbIgnoreExtension(True), XOpenDisplay(nullptr))) {
    if (!display_) return;
    const Window root = DefaultRootWindow(display_);
    window_ = XCreateSimpleWindow(display_, root, 0, 0, 200, 200, 0, 0, 0);
    XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | ButtonPressMask | StructureNotifyMask);
    XMapRaised(display_, window_);
    XEvent event;
    do XWindowEvent(display_, window_, StructureNotifyMask, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
    reader_ = std::thread([this] { run(); });
}

ClientWindow::~ClientWindow() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (display_) XCloseDisplay(display_);
}

void ClientWindow::run() {
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    while (!stop_) {
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            std::lock_guard lock(mutex_);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
            } else if (event.type == KeyPress || event.type == KeyRelease) {
                keys_.push_back({event.type == KeyPress, event.xkey.keycode, XLookupKeysym(&event.xkey, 0)});
            } else if (event.type == ButtonPress) {
                buttons_.push_back(event.xbutton.button);
            }
        }
        poll(&connection, 1, 10);
    }
}

template <typename Ready>
void ClientWindow::waitFor(Ready ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            if (ready()) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<KeySeen> ClientWindow::keys(std::size_t count, std::chrono::milliseconds limit) {
    waitFor([&] { return keys_.size() >= count; }, limit);
    std::lock_guard lock(mutex_);
    return keys_;
}

std::string ClientWindow::typed(std::size_t characters, std::chrono::milliseconds limit) {
    const auto presses = [this] {
        std::size_t n = 0;
        for (const KeySeen& key : keys_) n += key.press;
        return n;
    };
    waitFor([&] { return presses() >= characters; }, limit);
    std::lock_guard lock(mutex_);
    std::string text;
    for (const KeySeen& key : keys_)
        if (key.press) appendUtf8(text, codePointOf(key.keysym));
    return text;
}

std::vector<unsigned int> ClientWindow::buttons(std::size_t count, std::chrono::milliseconds limit) {
    waitFor([&] { return buttons_.size() >= count; }, limit);
    std::lock_guard lock(mutex_);
    return buttons_;
}

}  // namespace native_worker::testing
