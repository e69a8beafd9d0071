#include "platform/posix/x11_desktop_watch.h"

#include "platform/posix/x11_connection.h"
#include "platform/process.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <sys/socket.h>

namespace native_worker::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Reading {
    std::vector<Monitor> monitors;
    Rect root;
    bool xtest = false;
    std::optional<Clock::time_point> answeredAt;  // empty: no server
};

std::vector<Monitor> readMonitors(Display* display) {
    std::vector<Monitor> result;
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    if (!info) return result;
    for (int i = 0; i < count; ++i) {
        Monitor monitor;
        monitor.handle = static_cast<std::uint64_t>(i) + 1;
        monitor.rect = {info[i].x, info[i].y, info[i].x + info[i].width, info[i].y + info[i].height};
        monitor.primary = info[i].primary != 0;
        monitor.deviceName = "\\\\.\\DISPLAY" + std::to_string(i + 1);
        result.push_back(std::move(monitor));
    }
    XRRFreeMonitors(info);
    // RandR may flag no monitor as primary; the first one then is.
    bool anyPrimary = false;
    for (const auto& monitor : result) anyPrimary = anyPrimary || monitor.primary;
    if (!anyPrimary && !result.empty()) result.front().primary = true;
    return result;
}

// Read from the server each time: the cached screen size would not show a resize.
Rect readRoot(Display* display) {
    XWindowAttributes root{};
    if (XGetWindowAttributes(display, DefaultRootWindow(display), &root) == 0) return {};
    return {0, 0, root.width, root.height};
}

bool hasXTest(Display* display) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor) != False;
}

}  // namespace

struct X11DesktopWatch::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Reading> latest;  // empty until the first reading
    bool stopping = false;
    // The socket of the thread's connection, or -1.
    int socket = -1;

    void run() {
        nameCurrentThread("desktop-watch");
        std::unique_ptr<X11Connection> connection;
        for (;;) {
            // The connection survives its server; a lost one is opened again later.
            if (!connection && (connection = X11Connection::open()) &&
                !publish(ConnectionNumber(connection->display())))
                break;
            Reading reading;
            if (connection) {
                // Xlib asks for XTEST once per connection, then answers from memory.
                reading.xtest = hasXTest(connection->display());
                reading.monitors = readMonitors(connection->display());
                reading.root = readRoot(connection->display());
                reading.answeredAt = Clock::now();
                if (connection->lost()) {
                    publish(-1);
                    connection.reset();
                    reading = {};
                }
            }
            std::unique_lock lock(mutex);
            if (stopping) break;
            latest = std::move(reading);
            changed.notify_all();
            if (changed.wait_for(lock, pollPeriod, [this] { return stopping; })) break;
        }
    }

    // False once the watch is stopping.
    bool publish(int connectionSocket) {
        std::lock_guard lock(mutex);
        socket = connectionSocket;
        return !stopping;
    }

    // A question in flight then fails at once; the thread closes the connection.
    void stop() {
        std::lock_guard lock(mutex);
        stopping = true;
        if (socket >= 0) shutdown(socket, SHUT_RDWR);
        changed.notify_all();
    }

    Reading current() {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, firstReadingLimit, [this] { return latest.has_value(); });
        return latest.value_or(Reading{});
    }
};

std::shared_ptr<X11DesktopWatch> X11DesktopWatch::shared() {
    static std::mutex mutex;
    static std::weak_ptr<X11DesktopWatch> current;
    std::lock_guard lock(mutex);
    auto watch = current.lock();
    if (!watch) current = watch = std::shared_ptr<X11DesktopWatch>(new X11DesktopWatch);
    return watch;
}

X11DesktopWatch::X11DesktopWatch()
    : state_(std::make_unique<State>()), thread_([state = state_.get()] { state->run(); }) {}

X11DesktopWatch::~X11DesktopWatch() {
    state_->stop();
    thread_.join();
}

std::vector<Monitor> X11DesktopWatch::monitors() {
    return state_->current().monitors;
}

Rect X11DesktopWatch::virtualScreen() {
    return state_->current().root;
}

bool X11DesktopWatch::inputDesktopAvailable() {
    const Reading reading = state_->current();
    return reading.xtest && reading.answeredAt && Clock::now() - *reading.answeredAt <= answerLimit;
}

}  // namespace native_worker::platform
