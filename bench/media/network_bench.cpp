#include "network_bench.h"

#include "browser_party.h"
#include "frame_stamp.h"
#include "moving_desktop.h"
#include "network_path.h"
#include "session_party.h"
#include "x11_test_display.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::bench {
namespace {

using e2e::json;
using e2e::NetworkPath;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int fps = 30;
constexpr auto stampPeriod = 33ms;
constexpr int stampRows = 64;
// A queue this long or a lost ping is not settled.
constexpr double settledQueueMs = 150;
// Figures of a phase count from this long after its start: the settling is
// reported on its own.
constexpr double settleAllowance = 5;

struct Scenario {
    std::string name;
    std::int64_t kbps = 0;  // 0: unshaped
    int bufferMs = 0;
    int lossPercent = 0;
    std::int64_t laterKbps = 0;  // a second rate from half-way through (0: none)
    int outageSeconds = 0;       // from half-way through, the link carries next to nothing this long
    int width = 1280;
    int height = 720;
    bool stillFirst = false;  // the desktop stays still (but for its frame stamp) until half-way through
    bool download = false;    // a TCP download shares the link throughout

    // Where the second phase starts (0: there is one phase).
    double phaseAt(double seconds) const {
        return laterKbps || outageSeconds || stillFirst ? static_cast<int>(seconds / 2) : 0;
    }
    // Figures count from the settling after a change of the link; after a
    // still spell, from the first moving second: how soon it moves smoothly
    // is the point.
    double windowStart(double seconds) const {
        return stillFirst ? phaseAt(seconds) : phaseAt(seconds) + settleAllowance;
    }
};

// What tbf lets through during an outage: next to nothing.
constexpr std::int64_t outageKbps = 8;

// A picture the receiver showed: its frame number when legible, and when (ms since the epoch).
struct Presented {
    std::optional<int> number;
    double atMs = 0;
};

// What one run gave, whoever sent and received.
struct Run {
    std::vector<double> kbitPerSecond;
    std::vector<NetworkPath::RoundTrip> trips;
    double stepAt = 0;  // seconds; 0: no step
    double seconds = 0;
    std::optional<double> downloadKbps;
    // Browser receivers: every presented picture, and when each number was painted.
    std::vector<Presented> presented;
    std::map<int, double> paintedAtMs;
    double startMs = 0;
    // Worker receivers: decoded frames in the measured window, the longest pause between peer.media counts.
    std::optional<double> decodedPerSecond;
    double longestPause = 0;
    std::string codec;
    // A browser receiver's own counts over the whole run.
    std::string receiver;
};

double epochMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// A program that runs Chromium inside a network namespace, for the drivers' KELVARN_CHROMIUM.
class NamespacedChromium {
public:
    explicit NamespacedChromium(const std::vector<std::string>& launcher)
        : path_("/tmp/kelvarn-chromium-" + std::to_string(getpid()) + "-" + std::to_string(++made_)) {
        std::ofstream script(path_);
        script << "#!/bin/sh\nexec";
        for (const auto& word : launcher) script << ' ' << word;
        script << " /usr/bin/chromium \"$@\"\n";
        script.close();
        ::chmod(path_.c_str(), 0700);
    }
    ~NamespacedChromium() { ::unlink(path_.c_str()); }
    NamespacedChromium(const NamespacedChromium&) = delete;
    NamespacedChromium& operator=(const NamespacedChromium&) = delete;
    const std::string& path() const { return path_; }

private:
    static inline int made_ = 0;
    std::string path_;
};

// The reference pair: Chromium sending a canvas to Chromium (browser/canvas_stream.mjs).
class CanvasStream final : public e2e::Party {
public:
    CanvasStream(const std::string& sender, const std::string& receiver, const json& canvas)
        : Party(KELVARN_NODE, launch(sender, receiver, canvas)) {}
    ~CanvasStream() override {
        write({{"type", "close"}});
        process().closeInput();
        process().readRemainingOutput(10s);
        process().waitForExit(5s);
    }
    void addCandidate(const json&) override {}

private:
    static harness::LaunchOptions launch(const std::string& sender, const std::string& receiver, const json& canvas) {
        harness::LaunchOptions options;
        options.arguments = {KELVARN_BROWSER_DIR "/canvas_stream.mjs"};
        options.environment = {{"KELVARN_SENDER_CHROMIUM", sender},
                               {"KELVARN_RECEIVER_CHROMIUM", receiver},
                               {"KELVARN_CANVAS", canvas.dump()}};
        return options;
    }
    std::optional<json> candidateOf(const json&) const override { return std::nullopt; }
};

// Keeps the parties' output read for `span`.
using KeepAlive = std::function<void(std::chrono::milliseconds span)>;
// Sets a still desktop moving.
using StartMoving = std::function<void()>;

// The scenario's timeline, the same for every pair: the sent rate each
// second, pings and a download beside the stream, the step or the first
// motion half-way through.
void runTimeline(NetworkPath& path, const Scenario& scenario, double seconds, const KeepAlive& keepAlive,
                 const StartMoving& startMoving, Run& run) {
    run.seconds = seconds;
    run.stepAt = scenario.phaseAt(seconds);
    run.startMs = epochMs();
    std::thread pings([&] { run.trips = path.ping(seconds); });
    std::thread download([&] {
        if (scenario.download) run.downloadKbps = path.downloadKbps(seconds);
    });
    std::uint64_t lastBytes = path.sentBytes();
    for (int second = 1; second <= static_cast<int>(seconds); ++second) {
        const int stepSecond = static_cast<int>(run.stepAt) + 1;
        if (scenario.stillFirst && second == stepSecond) startMoving();
        if (run.stepAt > 0 && second == stepSecond && !scenario.stillFirst)
            path.shape(scenario.outageSeconds ? outageKbps : scenario.laterKbps, scenario.bufferMs);
        if (scenario.outageSeconds && second == stepSecond + scenario.outageSeconds)
            path.shape(scenario.kbps, scenario.bufferMs);
        keepAlive(1s);
        const std::uint64_t bytes = path.sentBytes();
        run.kbitPerSecond.push_back(static_cast<double>(bytes - lastBytes) * 8 / 1000);
        lastBytes = bytes;
    }
    pings.join();
    download.join();
}

std::optional<std::uint64_t> decodedFrames(const e2e::WorkerParty& controller) {
    const auto media = controller.lastMedia();
    if (!media) return std::nullopt;
    return (*media)["decodedFrames"].get<std::uint64_t>();
}

std::optional<Run> workerToWorker(NetworkPath& path, const Scenario& scenario, const std::string& display,
                                  const StartMoving& startMoving, double seconds) {
    e2e::WorkerParty host("host", display, path.senderLauncher());
    e2e::WorkerParty controller("controller", display, path.receiverLauncher());
    if (!e2e::connectWorkers(host, controller,
                             {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", fps}}}},
                             {{"role", "controller"}, {"iceServers", json::array()}}))
        return std::nullopt;
    Run run;
    auto lastChange = Clock::now();
    std::uint64_t lastCount = decodedFrames(controller).value_or(0);
    std::optional<std::uint64_t> countAtWindow;
    const auto start = Clock::now();
    const double windowStart = scenario.windowStart(seconds);
    runTimeline(
        path, scenario, seconds,
        [&](std::chrono::milliseconds span) {
            const auto until = Clock::now() + span;
            while (Clock::now() < until) {
                e2e::relayUntil(
                    host, controller, [] { return false; }, 100ms);
                const std::uint64_t count = decodedFrames(controller).value_or(0);
                if (!countAtWindow && Clock::now() - start >= std::chrono::duration<double>(windowStart))
                    countAtWindow = count;
                if (count == lastCount) continue;
                run.longestPause =
                    std::max(run.longestPause, std::chrono::duration<double>(Clock::now() - lastChange).count());
                lastChange = Clock::now();
                lastCount = count;
            }
        },
        startMoving, run);
    if (countAtWindow) run.decodedPerSecond = static_cast<double>(lastCount - *countAtWindow) / (seconds - windowStart);
    run.codec = controller.lastMedia() ? (*controller.lastMedia())["codec"].get<std::string>() : "";
    host.command("peer.close");
    controller.command("peer.close");
    host.process().waitForExit(5s);
    controller.process().waitForExit(5s);
    return run;
}

void addPresented(const std::optional<json>& answer, Run& run) {
    if (!answer) return;
    for (const json& frame : (*answer)["frames"]) {
        Presented picture;
        if (frame[0].is_number_integer()) picture.number = frame[0].get<int>();
        picture.atMs = frame[1].get<double>();
        run.presented.push_back(picture);
    }
}

std::optional<Run> workerToChromium(NetworkPath& path, const Scenario& scenario, const std::string& display,
                                    const StartMoving& startMoving, double seconds) {
    FrameStamp stamp(display, stampPeriod);
    // FrameStamp's clock is steady; the page's is the wall clock.
    const double steadyToEpochMs =
        epochMs() - std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    NamespacedChromium chromium(path.receiverLauncher());
    e2e::WorkerParty host("host", display, path.senderLauncher());
    e2e::BrowserParty browser({{"KELVARN_CHROMIUM", chromium.path()}, {"KELVARN_READ_STAMPS", "1"}});
    if (!e2e::connectBrowser(host, browser,
                             {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", fps}}}}))
        return std::nullopt;
    Run run;
    addPresented(browser.presented(host), run);
    run.presented.clear();
    runTimeline(
        path, scenario, seconds,
        [&](std::chrono::milliseconds span) {
            addPresented(browser.presented(host), run);
            e2e::relayUntil(
                host, browser, [] { return false; }, span);
        },
        startMoving, run);
    addPresented(browser.presented(host), run);
    const auto painted = stamp.paintTimes();
    for (std::size_t number = 0; number < painted.size(); ++number)
        if (painted[number])
            run.paintedAtMs[static_cast<int>(number)] =
                std::chrono::duration<double, std::milli>(painted[number]->time_since_epoch()).count() +
                steadyToEpochMs;
    const auto stats = browser.stats(host);
    run.codec = stats ? stats->value("codec", "") : "";
    if (stats && stats->contains("receiver")) run.receiver = (*stats)["receiver"].dump();
    host.command("peer.close");
    host.process().waitForExit(5s);
    return run;
}

std::optional<Run> chromiumToChromium(NetworkPath& path, const Scenario& scenario, double seconds) {
    NamespacedChromium sender(path.senderLauncher());
    NamespacedChromium receiver(path.receiverLauncher());
    CanvasStream stream(sender.path(), receiver.path(),
                        {{"width", scenario.width}, {"height", scenario.height}, {"still", scenario.stillFirst}});
    if (!e2e::relayUntil(
            stream, stream, [&] { return stream.last("connected") || stream.last("error"); }, 60s) ||
        stream.last("error"))
        return std::nullopt;
    const auto collect = [&](Run& run) {
        const auto answer = stream.ask("presented", stream, 5s);
        if (!answer) return;
        addPresented(answer, run);
        for (const json& paint : (*answer)["painted"]) run.paintedAtMs[paint[0].get<int>()] = paint[1].get<double>();
        run.codec = (*answer)["codec"].get<std::string>();
    };
    Run discarded;
    collect(discarded);
    Run run;
    runTimeline(
        path, scenario, seconds,
        [&](std::chrono::milliseconds span) {
            collect(run);
            e2e::relayUntil(
                stream, stream, [] { return false; }, span);
        },
        [&] {
            stream.write({{"type", "move"}});
        },
        run);
    collect(run);
    return run;
}

// Seconds from a phase's start until the queue stays short (pings of at most
// settledQueueMs, none lost), and the pings' p50 and p95 once settled.
struct Queue {
    double settledAfter = 0;
    double p50 = -1;
    double p95 = -1;
};

Queue queueIn(const std::vector<NetworkPath::RoundTrip>& trips, double from, double to) {
    Queue queue;
    std::vector<double> settled;
    for (const auto& trip : trips) {
        if (trip.sentAfterSeconds < from || trip.sentAfterSeconds >= to) continue;
        if (!trip.milliseconds || *trip.milliseconds > settledQueueMs)
            queue.settledAfter = trip.sentAfterSeconds - from + NetworkPath::pingInterval;
        if (trip.sentAfterSeconds >= from + settleAllowance) settled.push_back(trip.milliseconds.value_or(2000));
    }
    queue.p50 = percentile(settled, 0.5);
    queue.p95 = percentile(settled, 0.95);
    return queue;
}

std::string describePictures(const Run& run, double from, double to) {
    char text[200];
    if (run.decodedPerSecond) {
        std::snprintf(text, sizeof text, "decoded %.1f frames/s; longest pause between peer.media counts %.1f s",
                      *run.decodedPerSecond, run.longestPause);
        return text;
    }
    // A picture is intact when its stamp is legible; a freeze is the time between two new numbers.
    int intact = 0;
    double longestFreeze = 0;
    std::optional<double> lastNew;
    std::optional<int> lastNumber;
    std::map<int, double> firstSeen;
    for (const auto& picture : run.presented) {
        const double at = (picture.atMs - run.startMs) / 1000;
        if (!picture.number || picture.number == lastNumber) continue;
        lastNumber = picture.number;
        if (lastNew) longestFreeze = std::max(longestFreeze, at - *lastNew);
        lastNew = at;
        if (at >= from && at < to) ++intact;
        firstSeen.emplace(*picture.number, picture.atMs);
    }
    std::vector<double> latencies;
    for (const auto& [number, seenAt] : firstSeen) {
        const auto painted = run.paintedAtMs.find(number);
        const double at = (seenAt - run.startMs) / 1000;
        if (painted != run.paintedAtMs.end() && at >= from && at < to) latencies.push_back(seenAt - painted->second);
    }
    std::snprintf(text, sizeof text,
                  "intact %.1f frames/s; longest freeze %.2f s; glass-to-glass p50 %.0f ms p95 %.0f ms",
                  intact / (to - from), longestFreeze, percentile(latencies, 0.5), percentile(latencies, 0.95));
    return text;
}

void report(const Scenario& scenario, const std::string& pair, const std::optional<Run>& run) {
    const double windowStart = scenario.windowStart(run ? run->seconds : 0);
    const std::string name = scenario.name + " | " + pair;
    if (!run) return void(std::printf("%-44s did not connect\n", name.c_str()));
    std::string rates;
    for (const double rate : run->kbitPerSecond) rates.append(" ").append(std::to_string(static_cast<int>(rate)));
    std::printf("%-44s sent kbit/s each second:%s\n", name.c_str(), rates.c_str());
    const double phaseEnd = run->stepAt > 0 ? run->stepAt : run->seconds;
    const Queue start = queueIn(run->trips, 0, phaseEnd);
    std::printf("%-44s queue settled after %.1f s, then ping p50 %.0f p95 %.0f ms", name.c_str(), start.settledAfter,
                start.p50, start.p95);
    if (run->stepAt > 0) {
        const Queue step = queueIn(run->trips, run->stepAt, run->seconds);
        std::printf("; after the step settled after %.1f s, then p50 %.0f p95 %.0f ms", step.settledAfter, step.p50,
                    step.p95);
    }
    const double windowEnd = scenario.stillFirst ? windowStart + settleAllowance : run->seconds;
    std::printf("\n%-44s %s (%s)\n", name.c_str(), describePictures(*run, windowStart, windowEnd).c_str(),
                run->codec.c_str());
    if (!run->receiver.empty()) std::printf("%-44s receiver: %s\n", name.c_str(), run->receiver.c_str());
    if (scenario.stillFirst)
        std::printf("%-44s its first moving second: %s\n", name.c_str(),
                    describePictures(*run, windowStart, windowStart + 1).c_str());
    if (scenario.download) {
        double sent = 0;
        for (const double rate : run->kbitPerSecond) sent += rate;
        sent /= static_cast<double>(std::max<std::size_t>(1, run->kbitPerSecond.size()));
        if (run->downloadKbps)
            std::printf("%-44s download %.0f kbit/s (%.0f%% of the link), the stream about %.0f kbit/s\n", name.c_str(),
                        *run->downloadKbps, 100 * *run->downloadKbps / static_cast<double>(scenario.kbps),
                        sent - *run->downloadKbps);
        else
            std::printf("%-44s the download did not run (iperf3)\n", name.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

void network(double seconds, const std::string& only) {
    seconds = std::max(seconds, 2 * settleAllowance + 2);
    const bool browsers = e2e::browserDriverInstalled() && access("/usr/bin/chromium", X_OK) == 0;
    if (!browsers) std::puts("network: without Chromium and tests/e2e/browser/node_modules, workers only");
    const Scenario scenarios[] = {
        {.name = "unshaped"},
        {.name = "1 Mbit/s, 1 s buffer", .kbps = 1000, .bufferMs = 1000},
        {.name = "300 kbit/s", .kbps = 300, .bufferMs = 1000},
        {.name = "4 -> 1 Mbit/s step", .kbps = 4000, .bufferMs = 1000, .laterKbps = 1000},
        {.name = "4 -> 0.5 Mbit/s step", .kbps = 4000, .bufferMs = 200, .laterKbps = 500},
        {.name = "0.5 -> 4 Mbit/s step", .kbps = 500, .bufferMs = 200, .laterKbps = 4000},
        {.name = "4 Mbit/s, 2% loss", .kbps = 4000, .bufferMs = 200, .lossPercent = 2},
        {.name = "4 Mbit/s, 5% loss", .kbps = 4000, .bufferMs = 200, .lossPercent = 5},
        {.name = "4 Mbit/s, 3 s outage", .kbps = 4000, .bufferMs = 200, .outageSeconds = 3},
        {.name = "2 Mbit/s, 40 ms buffer", .kbps = 2000, .bufferMs = 40},
        {.name = "1080p, 1 Mbit/s, 20 ms buffer", .kbps = 1000, .bufferMs = 20, .width = 1920, .height = 1080},
        {.name = "1080p, 2 Mbit/s, still then moving",
         .kbps = 2000,
         .bufferMs = 100,
         .width = 1920,
         .height = 1080,
         .stillFirst = true},
        {.name = "4 Mbit/s, 100 ms buffer, a download", .kbps = 4000, .bufferMs = 100, .download = true},
        {.name = "4 Mbit/s, 400 ms buffer, a download", .kbps = 4000, .bufferMs = 400, .download = true},
    };
    for (const Scenario& scenario : scenarios) {
        const auto pass = [&](const std::string& pair, const std::function<std::optional<Run>(NetworkPath&)>& measure) {
            if (!only.empty() && (scenario.name + " | " + pair).find(only) == std::string::npos) return;
            auto path = NetworkPath::create();
            if (!path) return void(std::puts("network: namespaces need root and iproute2"));
            if (!path->shape(scenario.kbps, scenario.bufferMs) || !path->dropRandomly(scenario.lossPercent))
                return void(std::printf("%s: could not shape the link\n", scenario.name.c_str()));
            report(scenario, pair, measure(*path));
        };
        // The workers' desktop: a screen of the scenario's size, moving from the start or from half-way through.
        const auto onDesktop = [&](const std::function<std::optional<Run>(NetworkPath&, const std::string&,
                                                                          const StartMoving&)>& measure) {
            return [&, measure](NetworkPath& path) -> std::optional<Run> {
                const auto display = testing::VirtualDisplay::start(scenario.width, scenario.height);
                if (!display) return std::nullopt;
                std::optional<MovingDesktop> desktop;
                const StartMoving startMoving = [&] {
                    desktop.emplace(display->name(), MovingDesktop::Detail::detailed, stampRows);
                };
                if (!scenario.stillFirst) startMoving();
                return measure(path, display->name(), startMoving);
            };
        };
        pass("worker -> worker",
             onDesktop([&](NetworkPath& path, const std::string& display, const StartMoving& startMoving) {
                 return workerToWorker(path, scenario, display, startMoving, seconds);
             }));
        if (!browsers) continue;
        pass("worker -> Chromium",
             onDesktop([&](NetworkPath& path, const std::string& display, const StartMoving& startMoving) {
                 return workerToChromium(path, scenario, display, startMoving, seconds);
             }));
        pass("Chromium -> Chromium", [&](NetworkPath& path) { return chromiumToChromium(path, scenario, seconds); });
    }
}

}  // namespace native_worker::bench
