// Whole-process media figures of the built worker, each set measured in one run:
//   loopback  time from start to the self-test's success, median of --runs
//   stream    host CPU per second of streaming a moving, a still and a blinking
//             desktop to a relayed controller worker, against gst-launch-1.0
//             doing the same capture and encode (the floor); and the host's
//             resident memory
//   latency   paint-to-decode time of a frame number on the screen, through an
//             in-process host and controller on the real engine
//   network   a host and a controller worker over a shaped, lossy path (root)
// usage: media_bench [loopback|stream|latency|network]... [--runs N] [--seconds S] [--only SCENARIO]

#include "latency_bench.h"
#include "moving_desktop.h"
#include "network_bench.h"
#include "process_usage.h"
#include "session_party.h"
#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::bench {
namespace {

using e2e::json;
using e2e::WorkerParty;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void loopback(int runs) {
    std::vector<double> times;
    int succeeded = 0;
    const auto display = testing::VirtualDisplay::start(1280, 720);
    if (!display) return void(std::puts("loopback: Xvfb did not start"));
    MovingDesktop desktop(display->name());
    for (int run = 0; run < runs; ++run) {
        harness::LaunchOptions options;
        options.arguments = {"--loopback", "--timeout-ms", "10000"};
        options.environment = {{"DISPLAY", display->name()}};
        options.input = harness::InputSource::devNull;
        const auto start = Clock::now();
        harness::WorkerProcess worker(KELVARN_PRODUCT_WORKER, options);
        const std::string output = worker.readRemainingOutput(40s);
        const auto code = worker.waitForExit(5s);
        times.push_back(secondsSince(start));
        const json result = json::parse(output, nullptr, false);
        succeeded += code == 0 && !result.is_discarded() && result.value("success", false);
    }
    std::sort(times.begin(), times.end());
    std::printf("loopback 1280x720: %d/%d succeeded; time to success median %.3f s, min %.3f s, max %.3f s\n",
                succeeded, runs, times[times.size() / 2], times.front(), times.back());
}

// Processor time per second of wall time over `seconds`, and memory at the end.
struct Sample {
    double cores = 0;
    ProcessUsage end;
};

template <typename KeepAlive>
std::optional<Sample> sample(pid_t pid, double seconds, KeepAlive keepAlive) {
    const auto first = usageOf(pid);
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) keepAlive();
    const auto last = usageOf(pid);
    if (!first || !last) return std::nullopt;
    return Sample{(last->cpuSeconds - first->cpuSeconds) / secondsSince(start), *last};
}

std::uint64_t encodedFrames(const WorkerParty& host) {
    const auto media = host.lastMedia();
    return media ? (*media)["encodedFrames"].get<std::uint64_t>() : 0;
}

struct WorkerFigures {
    Sample host;
    double encodedFps = 0;
};

std::optional<WorkerFigures> streamWorker(const std::string& display, int fps, double seconds) {
    WorkerParty host("host", display);
    const auto hostPid = newestChild("kelvarn-remote-native");
    WorkerParty controller("controller", display);
    const auto relay = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return e2e::relayUntil(host, controller, done, limit);
    };
    if (!hostPid || !e2e::connectWorkers(host, controller,
                                         {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", fps}}}},
                                         {{"role", "controller"}, {"iceServers", json::array()}}))
        return std::nullopt;
    // Past start-up and the first key frames.
    relay([] { return false; }, 2s);
    const std::uint64_t framesBefore = encodedFrames(host);
    const auto start = Clock::now();
    const auto figures = sample(*hostPid, seconds, [&] { relay([] { return false; }, 50ms); });
    const double window = secondsSince(start);
    if (!figures) return std::nullopt;
    const std::uint64_t framesAfter = encodedFrames(host);
    host.command("peer.close");
    host.process().waitForExit(5s);
    return WorkerFigures{*figures, static_cast<double>(framesAfter - framesBefore) / window};
}

std::optional<Sample> streamFloor(const std::string& display, int width, int height, int fps, double seconds) {
    // The engine's own capture and encoder settings (bitrate: one kbit/s per 500 pixels).
    const int bitrate = std::clamp(width * height / 500, 1, 20000);
    harness::LaunchOptions options;
    options.environment = {{"DISPLAY", display}};
    options.arguments = {"-q",
                         "ximagesrc", "use-damage=false", "show-pointer=false", "startx=0", "starty=0",
                         "endx=" + std::to_string(width - 1), "endy=" + std::to_string(height - 1), "!",
                         "video/x-raw,framerate=" + std::to_string(fps) + "/1", "!", "videoconvert", "!",
                         "video/x-raw,format=I420", "!",
                         "queue", "leaky=downstream", "max-size-buffers=1", "max-size-bytes=0", "max-size-time=0", "!",
                         "x264enc", "tune=zerolatency", "speed-preset=ultrafast",
                         "bitrate=" + std::to_string(bitrate), "key-int-max=30", "!",
                         "video/x-h264,profile=constrained-baseline", "!", "fakesink", "sync=false"};
    harness::WorkerProcess pipeline("/usr/bin/gst-launch-1.0", options);
    std::this_thread::sleep_for(2s);
    const auto pid = newestChild("gst-launch-1.0");
    if (!pid) return std::nullopt;
    return sample(*pid, seconds, [] { std::this_thread::sleep_for(50ms); });
}

void streamOne(const std::string& display, int width, int height, int fps, const char* scene, double seconds) {
    const auto worker = streamWorker(display, fps, seconds);
    const auto floor = streamFloor(display, width, height, fps, seconds);
    if (!worker || !floor) {
        std::printf("stream %dx%d@%d %s: could not measure (worker %s, floor %s)\n", width, height, fps, scene,
                    worker ? "ok" : "failed", floor ? "ok" : "failed");
        return;
    }
    std::printf(
        "stream %dx%d@%d %s: host %.3f cores (%.1f frames/s encoded), floor %.3f cores, host/floor %.2f; "
        "host resident %ld MiB (peak %ld MiB), floor resident %ld MiB\n",
        width, height, fps, scene, worker->host.cores, worker->encodedFps, floor->cores,
        worker->host.cores / floor->cores, worker->host.end.residentKiB / 1024,
        worker->host.end.peakResidentKiB / 1024, floor->end.residentKiB / 1024);
    std::fflush(stdout);
}

// A moving desktop at both sizes and rates; then, at 1080p30, a desktop where
// nothing moves and one where only a small block blinks. `only` keeps the
// scenes of that name ("moving", "still", "blinking").
void stream(double seconds, const std::string& only) {
    const auto wanted = [&](const char* scene) { return only.empty() || only == scene; };
    for (const auto& [width, height] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        if (!wanted("moving")) continue;
        const auto display = testing::VirtualDisplay::start(width, height);
        if (!display) return void(std::puts("stream: Xvfb did not start"));
        const MovingDesktop desktop(display->name());
        for (const int fps : {15, 30}) streamOne(display->name(), width, height, fps, "moving", seconds);
    }
    for (const auto& [detail, scene] : {std::pair{MovingDesktop::Detail::still, "still"},
                                        std::pair{MovingDesktop::Detail::blinking, "blinking"}}) {
        if (!wanted(scene)) continue;
        const auto display = testing::VirtualDisplay::start(1920, 1080);
        if (!display) return void(std::puts("stream: Xvfb did not start"));
        const MovingDesktop desktop(display->name(), detail);
        streamOne(display->name(), 1920, 1080, 30, scene, seconds);
    }
}

}  // namespace
}  // namespace native_worker::bench

int main(int argc, char** argv) {
    int runs = 9;
    double seconds = 10;
    std::string only;
    std::vector<std::string> parts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else parts.emplace_back(argv[i]);
    }
    if (parts.empty()) parts = {"loopback", "stream"};
    for (const auto& part : parts) {
        if (part == "loopback") native_worker::bench::loopback(runs);
        else if (part == "stream") native_worker::bench::stream(seconds, only);
        else if (part == "latency") native_worker::bench::latency(seconds);
        else if (part == "network") native_worker::bench::network(seconds, only);
        else {
            std::fprintf(stderr, "usage: media_bench [loopback|stream|latency|network]... [--runs N] [--seconds S] [--only SCENARIO]\n");
            return 2;
        }
    }
    return 0;
}
