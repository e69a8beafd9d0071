// Whole-process media figures of the built worker, each set measured in one run:
//   loopback  time from start to the self-test's success, median of --runs
//   stream    host CPU per second of streaming a moving, a still and a blinking
//             desktop to a relayed controller worker, against gst-launch-1.0
//             doing the same capture and encode (the floor); and the host's
//             resident memory
//   latency   paint-to-decode time of a frame number on the screen, through an
//             in-process host and controller on the real engine
//   network   a host and a controller worker over a shaped, lossy path (root)
//   picture   picture per bit of the H264 encoder's settings on desktop-like
//             frames at fixed rates: luma PSNR and encoder time per frame, and
//             how fast a picture left still sharpens
//   windows   the Windows worker under Wine (KELVARN_WINDOWS_BUILD, Wine's
//             environment set; scripts/windows-bench.sh does both) against
//             this build's worker on the same display: self-test time, and
//             host CPU streaming a still and a moving desktop
// usage: media_bench [loopback|stream|latency|network|picture|windows]... [--runs N] [--seconds S] [--only SCENARIO]

#include "latency_bench.h"
#include "moving_desktop.h"
#include "network_bench.h"
#include "picture_bench.h"
#include "process_usage.h"
#include "session_party.h"
#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

struct SelfTestTimes {
    std::vector<double> seconds;  // sorted
    int succeeded = 0;

    double median() const { return seconds[seconds.size() / 2]; }
};

// The self-test of `program` (after `launcher`, if any) on `display`, `runs` times.
SelfTestTimes selfTests(int runs, const std::string& display, const std::vector<std::string>& launcher,
                        const std::string& program) {
    SelfTestTimes times;
    for (int run = 0; run < runs; ++run) {
        harness::LaunchOptions options;
        if (!launcher.empty()) options.arguments.assign(launcher.begin() + 1, launcher.end());
        if (!launcher.empty()) options.arguments.push_back(program);
        options.arguments.insert(options.arguments.end(), {"--loopback", "--timeout-ms", "10000"});
        options.environment = {{"DISPLAY", display}};
        options.input = harness::InputSource::devNull;
        const auto start = Clock::now();
        harness::WorkerProcess worker(launcher.empty() ? program : launcher.front(), options);
        const std::string output = worker.readRemainingOutput(40s);
        const auto code = worker.waitForExit(5s);
        times.seconds.push_back(secondsSince(start));
        const json result = json::parse(output, nullptr, false);
        times.succeeded += code == 0 && !result.is_discarded() && result.value("success", false);
    }
    std::sort(times.seconds.begin(), times.seconds.end());
    return times;
}

void loopback(int runs) {
    const auto display = testing::VirtualDisplay::start(1280, 720);
    if (!display) return void(std::puts("loopback: Xvfb did not start"));
    MovingDesktop desktop(display->name());
    const auto times = selfTests(runs, display->name(), {}, KELVARN_PRODUCT_WORKER);
    std::printf("loopback 1280x720: %d/%d succeeded; time to success median %.3f s, min %.3f s, max %.3f s\n",
                times.succeeded, runs, times.median(), times.seconds.front(), times.seconds.back());
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

std::uint64_t frameCount(const WorkerParty& host, const char* member) {
    const auto media = host.lastMedia();
    return media ? (*media)[member].get<std::uint64_t>() : 0;
}

struct WorkerFigures {
    Sample host;
    double encodedFps = 0;
    double capturedFps = 0;
};

std::optional<WorkerFigures> streamWorker(const std::string& display, int fps, double seconds,
                                          const std::vector<std::string>& launcher = {},
                                          const std::string& program = KELVARN_PRODUCT_WORKER) {
    WorkerParty host("host", display, launcher, program);
    // A Windows host is known by its executable's name once Wine has started it.
    const std::string hostProgram = launcher.empty() ? program : std::filesystem::path(program).filename().string();
    auto hostPid = launcher.empty() ? newestProcess(hostProgram) : std::nullopt;
    WorkerParty controller("controller", display);
    const auto relay = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return e2e::relayUntil(host, controller, done, limit);
    };
    if (!e2e::connectWorkers(host, controller,
                             {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", fps}}}},
                             {{"role", "controller"}, {"iceServers", json::array()}}))
        return std::nullopt;
    if (!hostPid) hostPid = newestProcess(hostProgram, false);
    if (!hostPid) return std::nullopt;
    // Past start-up and the first key frames.
    relay([] { return false; }, 2s);
    const std::uint64_t framesBefore = frameCount(host, "encodedFrames");
    const std::uint64_t capturedBefore = frameCount(host, "capturedFrames");
    const auto start = Clock::now();
    const auto figures = sample(*hostPid, seconds, [&] { relay([] { return false; }, 50ms); });
    const double window = secondsSince(start);
    if (!figures) return std::nullopt;
    const std::uint64_t framesAfter = frameCount(host, "encodedFrames");
    const std::uint64_t capturedAfter = frameCount(host, "capturedFrames");
    host.command("peer.close");
    host.process().waitForExit(5s);
    return WorkerFigures{*figures, static_cast<double>(framesAfter - framesBefore) / window,
                         static_cast<double>(capturedAfter - capturedBefore) / window};
}

std::optional<Sample> streamFloor(const std::string& display, int width, int height, int fps, double seconds) {
    // The engine's own capture and encoder settings (bitrate: one kbit/s per 500 pixels).
    const int bitrate = std::clamp(width * height / 500, 1, 20000);
    harness::LaunchOptions options;
    options.environment = {{"DISPLAY", display}};
    options.arguments = {"-q",
                         "ximagesrc",
                         "use-damage=false",
                         "show-pointer=false",
                         "startx=0",
                         "starty=0",
                         "endx=" + std::to_string(width - 1),
                         "endy=" + std::to_string(height - 1),
                         "!",
                         "video/x-raw,framerate=" + std::to_string(fps) + "/1",
                         "!",
                         "videoconvert",
                         "!",
                         "video/x-raw,format=I420",
                         "!",
                         "queue",
                         "leaky=downstream",
                         "max-size-buffers=1",
                         "max-size-bytes=0",
                         "max-size-time=0",
                         "!",
                         "x264enc",
                         "tune=zerolatency",
                         "speed-preset=ultrafast",
                         "bitrate=" + std::to_string(bitrate),
                         "key-int-max=30",
                         "!",
                         "video/x-h264,profile=constrained-baseline",
                         "!",
                         "fakesink",
                         "sync=false"};
    harness::WorkerProcess pipeline("/usr/bin/gst-launch-1.0", options);
    std::this_thread::sleep_for(2s);
    const auto pid = newestProcess("gst-launch-1.0");
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
        worker->host.cores / floor->cores, worker->host.end.residentKiB / 1024, worker->host.end.peakResidentKiB / 1024,
        floor->end.residentKiB / 1024);
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
    for (const auto& [detail, scene] :
         {std::pair{MovingDesktop::Detail::still, "still"}, std::pair{MovingDesktop::Detail::blinking, "blinking"}}) {
        if (!wanted(scene)) continue;
        const auto display = testing::VirtualDisplay::start(1920, 1080);
        if (!display) return void(std::puts("stream: Xvfb did not start"));
        const MovingDesktop desktop(display->name(), detail);
        streamOne(display->name(), 1920, 1080, 30, scene, seconds);
    }
}

// The Windows worker under Wine against this build's worker, each figure a
// ratio measured in one run on one display (DISPLAY). The host's figure is
// its own process: what wineserver does for it is not counted, and what Wine
// costs inside the process real Windows would not.
void windows(int runs, double seconds) {
    const char* build = std::getenv("KELVARN_WINDOWS_BUILD");
    const char* display = std::getenv("DISPLAY");
    if (!build || !display) return void(std::puts("windows: set KELVARN_WINDOWS_BUILD and DISPLAY"));
    const std::vector<std::string> wine = {"/usr/lib/wine/wine64"};
    const std::vector<std::string> relayed = {wine.front(), std::string(build) + "/kelvarn-stdio-relay.exe"};
    const std::string program = std::string(build) + "/kelvarn-remote-native.exe";
    {
        MovingDesktop desktop(display);
        const auto linux = selfTests(runs, display, {}, KELVARN_PRODUCT_WORKER);
        const auto windows = selfTests(runs, display, wine, program);
        std::printf(
            "windows self-test: Wine %d/%d succeeded, median %.3f s; Linux %d/%d, median %.3f s; "
            "Wine/Linux %.2f\n",
            windows.succeeded, runs, windows.median(), linux.succeeded, runs, linux.median(),
            windows.median() / linux.median());
    }
    for (const auto& [detail, scene] :
         {std::pair{MovingDesktop::Detail::still, "still"}, std::pair{MovingDesktop::Detail::plain, "moving"}}) {
        const MovingDesktop desktop(display, detail);
        const auto linux = streamWorker(display, 30, seconds);
        // The same encoder as the Windows package's, to tell Wine's share from OpenH264's.
        setenv("GST_PLUGIN_FEATURE_RANK", "openh264enc:MAX", 1);
        const auto linuxOpenH264 = streamWorker(display, 30, seconds);
        unsetenv("GST_PLUGIN_FEATURE_RANK");
        const auto windows = streamWorker(display, 30, seconds, relayed, program);
        if (!linux || !linuxOpenH264 || !windows) {
            std::printf("windows stream %s: could not measure (Linux %s, Linux with OpenH264 %s, Wine %s)\n", scene,
                        linux ? "ok" : "failed", linuxOpenH264 ? "ok" : "failed", windows ? "ok" : "failed");
            continue;
        }
        std::printf(
            "windows stream %s at 30 fps: host under Wine %.3f cores (%.1f frames/s captured, %.1f encoded); "
            "Linux host %.3f cores (%.1f frames/s), with OpenH264 %.3f cores (%.1f frames/s); Wine/Linux %.2f, "
            "Wine/Linux with OpenH264 %.2f\n",
            scene, windows->host.cores, windows->capturedFps, windows->encodedFps, linux->host.cores, linux->encodedFps,
            linuxOpenH264->host.cores, linuxOpenH264->encodedFps, windows->host.cores / linux->host.cores,
            windows->host.cores / linuxOpenH264->host.cores);
        std::fflush(stdout);
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
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else
            parts.emplace_back(argv[i]);
    }
    if (parts.empty()) parts = {"loopback", "stream"};
    for (const auto& part : parts) {
        if (part == "loopback")
            native_worker::bench::loopback(runs);
        else if (part == "stream")
            native_worker::bench::stream(seconds, only);
        else if (part == "latency")
            native_worker::bench::latency(seconds);
        else if (part == "network")
            native_worker::bench::network(seconds, only);
        else if (part == "picture")
            native_worker::bench::picture(seconds);
        else if (part == "windows")
            native_worker::bench::windows(runs, seconds);
        else {
            std::fprintf(stderr,
                         "usage: media_bench [loopback|stream|latency|network|picture|windows]... [--runs N] "
                         "[--seconds S] "
                         "[--only SCENARIO]\n");
            return 2;
        }
    }
    return 0;
}
