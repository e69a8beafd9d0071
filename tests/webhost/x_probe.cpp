// The X side of the reference host application's browser tests: a focused
// client window that records what is typed into it, and probes of the pointer
// and the keyboard. One command per line on stdin, one JSON line in answer:
//   pointer         {"x":X,"y":Y}
//   held            {"keys":[keycodes down now]}
//   typed           {"text":"what the window got so far"}
//   keys            {"keys":["+Control_L","+w","-w",...]}, every press (+) and release (-) so far
//   paint RRGGBB    {"painted":true}, the root window filled with that colour
//   move X Y        {"moved":true}, the pointer moved there as a mouse would move it
#include "x11_test_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <nlohmann/json.hpp>

#include <iostream>
#include <sstream>
#include <string>

namespace {

using nlohmann::json;

json pointer(Display* display) {
    Window root = 0;
    Window child = 0;
    int x = -1;
    int y = -1;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
    return {{"x", x}, {"y", y}};
}

json held(Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    json down = json::array();
    for (int code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8))) down.push_back(code);
    return {{"keys", down}};
}

json keys(native_worker::testing::ClientWindow& window) {
    json seen = json::array();
    for (const auto& key : window.keys(0, std::chrono::milliseconds(0))) {
        const char* name = XKeysymToString(key.keysym);
        seen.push_back(std::string(key.press ? "+" : "-") + (name ? name : "NoSymbol"));
    }
    return {{"keys", seen}};
}

json paint(Display* display, const std::string& colour) {
    const Window root = DefaultRootWindow(display);
    XSetWindowBackground(display, root, std::stoul(colour, nullptr, 16));
    XClearWindow(display, root);
    XSync(display, False);
    return {{"painted", true}};
}

json move(Display* display, const std::string& where) {
    std::istringstream coordinates(where);
    int x = 0;
    int y = 0;
    if (!(coordinates >> x >> y)) return {{"error", "move X Y"}};
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
    return {{"moved", true}};
}

}  // namespace

int main() {
    native_worker::testing::ClientWindow window;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "x_probe: no display\n";
        return 1;
    }
    std::cout << json{{"ready", true}}.dump() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        json answer;
        if (line == "pointer")
            answer = pointer(display);
        else if (line == "held")
            answer = held(display);
        else if (line == "typed")
            answer = {{"text", window.typed(0, std::chrono::milliseconds(0))}};
        else if (line == "keys")
            answer = keys(window);
        else if (line.starts_with("move "))
            answer = move(display, line.substr(5));
        else if (line.starts_with("paint ") && line.size() == 12)
            answer = paint(display, line.substr(6));
        else
            answer = {{"error", "unknown command"}};
        std::cout << answer.dump() << std::endl;
    }
    XCloseDisplay(display);
    return 0;
}
