#include "network_bench.h"

#include "moving_desktop.h"
#include "network_path.h"
#include "session_party.h"
#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::bench {
namespace {

using e2e::json;
using e2e::NetworkPath;
using e2e::WorkerParty;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Scenario {
    std::string name;
    std::int64_t kbps;  // 0: unshaped
    int bufferMs;
    int lossPercent;
    // A second rate half-way through (0: none).
    std::int64_t laterKbps = 0;
};

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

std::uint64_t decodedFrames(const WorkerParty& controller) {
    const auto media = controller.lastMedia();
    return media ? (*media)["decodedFrames"].get<std::uint64_t>() : 0;
}

void run(const Scenario& scenario, const std::string& display, double seconds) {
    auto path = NetworkPath::create();
    if (!path) return void(std::puts("network: namespaces need root and iproute2"));
    if (!path->shape(scenario.kbps, scenario.bufferMs) || !path->dropRandomly(scenario.lossPercent))
        return void(std::printf("%s: could not shape the link\n", scenario.name.c_str()));
    WorkerParty host("host", display, path->senderLauncher());
    WorkerParty controller("controller", display, path->receiverLauncher());
    if (!e2e::connectWorkers(host, controller,
                             {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", 30}}}},
                             {{"role", "controller"}, {"iceServers", json::array()}}))
        return void(std::printf("%s: the workers did not connect\n", scenario.name.c_str()));

    // Pings run beside the stream; the relay keeps both workers' output read.
    std::vector<double> early, late;
    std::thread pings([&] {
        early = path->ping(5);
        late = path->ping(seconds - 5);
    });
    std::vector<double> rates;
    std::uint64_t lastBytes = path->sentBytes();
    const std::uint64_t framesStart = decodedFrames(controller);
    std::uint64_t framesAtHalf = framesStart;
    double longestStall = 0;
    auto lastFrameChange = Clock::now();
    std::uint64_t lastFrames = framesStart;
    for (int second = 1; second <= static_cast<int>(seconds); ++second) {
        if (scenario.laterKbps && second == static_cast<int>(seconds / 2)) {
            path->shape(scenario.laterKbps, scenario.bufferMs);
            framesAtHalf = decodedFrames(controller);
        }
        const auto until = Clock::now() + 1s;
        while (Clock::now() < until) {
            e2e::relayUntil(host, controller, [] { return false; }, 100ms);
            const std::uint64_t frames = decodedFrames(controller);
            if (frames != lastFrames) {
                longestStall = std::max(longestStall, std::chrono::duration<double>(Clock::now() - lastFrameChange).count());
                lastFrameChange = Clock::now();
                lastFrames = frames;
            }
        }
        const std::uint64_t bytes = path->sentBytes();
        rates.push_back(static_cast<double>(bytes - lastBytes) * 8 / 1000);
        lastBytes = bytes;
    }
    pings.join();
    const double frames = static_cast<double>(decodedFrames(controller) - (scenario.laterKbps ? framesAtHalf : framesStart));
    const double span = scenario.laterKbps ? seconds - static_cast<int>(seconds / 2) : seconds;
    std::string rateText;
    for (const double rate : rates) rateText.append(" ").append(std::to_string(static_cast<int>(rate)));
    std::printf("%-22s sent kbit/s per second:%s\n", scenario.name.c_str(), rateText.c_str());
    std::printf("%-22s ping ms first 5 s p50 %.0f p95 %.0f; after p50 %.0f p95 %.0f; decoded %.1f frames/s%s; "
                "longest gap between peer.media frame counts %.1f s\n",
                scenario.name.c_str(), percentile(early, 0.5), percentile(early, 0.95), percentile(late, 0.5),
                percentile(late, 0.95), frames / span, scenario.laterKbps ? " (after the step)" : "", longestStall);
    std::fflush(stdout);
    host.command("peer.close");
    controller.command("peer.close");
    host.process().waitForExit(5s);
    controller.process().waitForExit(5s);
}

}  // namespace

void network(double seconds) {
    const auto display = testing::VirtualDisplay::start(1280, 720);
    if (!display) return void(std::puts("network: Xvfb did not start"));
    MovingDesktop desktop(display->name(), MovingDesktop::Detail::detailed);
    seconds = std::max(seconds, 10.0);
    for (const Scenario& scenario : {Scenario{"unshaped", 0, 0, 0}, Scenario{"1 Mbit/s, 1 s buffer", 1000, 1000, 0},
                                     Scenario{"300 kbit/s", 300, 1000, 0},
                                     Scenario{"4 -> 1 Mbit/s step", 4000, 1000, 0, 1000},
                                     Scenario{"4 Mbit/s, 2% loss", 4000, 200, 2},
                                     Scenario{"4 Mbit/s, 5% loss", 4000, 200, 5}})
        run(scenario, display->name(), seconds);
}

}  // namespace native_worker::bench
