#include "latency_bench.h"

#include "frame_stamp.h"
#include "media/media_settings.h"
#include "peer_pair.h"
#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace native_worker::bench {
namespace {

using Clock = FrameStamp::Clock;
using namespace std::chrono_literals;

constexpr int width = 1280;
constexpr int height = 720;
constexpr std::uint32_t fps = 30;
// Longer than a capture interval and out of step with it, so that each number
// is captured at least once and its wait for the next capture spreads evenly
// over the whole interval.
constexpr auto paintPeriod = 37ms;

// Every decoded picture: when it arrived and the number it carried.
class StampReader final : public engine::VideoRenderer {
public:
    struct Seen {
        Clock::time_point at;
        std::optional<std::uint16_t> number;
    };

    void onFrame(const engine::VideoFrame* frame) override {
        if (!frame) return;
        const auto at = Clock::now();
        const auto number = readStamp(*frame);
        std::lock_guard lock(mutex_);
        seen_.push_back({at, number});
    }

    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// The controller's observer as the pair has it, plus the reader on every
// received video track.
class ReadingObserver final : public engine::PeerConnectionObserver {
public:
    ReadingObserver(integration::PeerPair& pair, StampReader& reader) : pair_(pair), reader_(reader) {
        pair_.controller->registerObserver(this);
    }
    ~ReadingObserver() override {
        pair_.controller->registerObserver(&pair_.controllerObserver);
        std::lock_guard lock(mutex_);
        for (const auto& track : tracks_) track->removeRenderer(&reader_);
    }
    ReadingObserver(const ReadingObserver&) = delete;
    ReadingObserver& operator=(const ReadingObserver&) = delete;

    void onConnectionState(engine::PeerConnectionState state) override {
        pair_.controllerObserver.onConnectionState(state);
    }
    void onIceCandidate(const std::shared_ptr<engine::IceCandidate>& candidate) override {
        pair_.controllerObserver.onIceCandidate(candidate);
    }
    void onDataChannel(const std::shared_ptr<engine::DataChannel>& channel) override {
        pair_.controllerObserver.onDataChannel(channel);
    }
    void onTrack(const std::shared_ptr<engine::RtpTransceiver>& transceiver) override {
        pair_.controllerObserver.onTrack(transceiver);
        auto track = transceiver->receiver()->videoTrack();
        if (!track) return;
        track->addRenderer(&reader_);
        std::lock_guard lock(mutex_);
        tracks_.push_back(std::move(track));
    }

private:
    integration::PeerPair& pair_;
    StampReader& reader_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<engine::VideoTrack>> tracks_;
};

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// Latency of each number first decoded inside [start, end), and the counts around it.
void report(const std::vector<std::optional<Clock::time_point>>& painted, const std::vector<StampReader::Seen>& seen,
            Clock::time_point start, Clock::time_point end) {
    std::vector<bool> earlier(painted.size());
    std::vector<double> latencies;
    int decoded = 0;
    int unreadable = 0;
    for (const auto& frame : seen) {
        const bool inside = frame.at >= start && frame.at < end;
        decoded += inside;
        if (!frame.number) {
            unreadable += inside;
            continue;
        }
        const bool first = !earlier[*frame.number];
        earlier[*frame.number] = true;
        if (!first || !inside || !painted[*frame.number]) continue;
        latencies.push_back(milliseconds(frame.at - *painted[*frame.number]));
    }
    const auto paintedInside =
        std::count_if(painted.begin(), painted.end(), [&](const auto& at) { return at && *at >= start && *at < end; });
    const double window = std::chrono::duration<double>(end - start).count();
    if (latencies.empty()) {
        std::printf("latency %dx%d@%u: %d frames decoded in %.1f s, %d unreadable, no number matched\n", width, height,
                    fps, decoded, window, unreadable);
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        return latencies[static_cast<std::size_t>(share * static_cast<double>(latencies.size() - 1) + 0.5)];
    };
    // A change is grabbed as it comes, not at the next capture tick, so the
    // path should take well under a frame interval.
    constexpr double medianGoal = 12.0, p90Goal = 20.0;
    const bool met = at(0.5) <= medianGoal && at(0.9) <= p90Goal;
    std::printf(
        "latency %dx%d@%u: %d frames decoded in %.1f s (%d unreadable); %zu numbers first decoded and matched "
        "(%ld painted in the window); "
        "paint to decode median %.1f ms, p90 %.1f ms, max %.1f ms, min %.1f ms; %s the goal of "
        "median <= %.0f ms, p90 <= %.0f ms\n",
        width, height, fps, decoded, window, unreadable, latencies.size(), static_cast<long>(paintedInside), at(0.5),
        at(0.9), latencies.back(), latencies.front(), met ? "meets" : "misses", medianGoal, p90Goal);
}

}  // namespace

void latency(double seconds) {
    const auto display = testing::VirtualDisplay::start(width, height);
    if (!display) return void(std::puts("latency: Xvfb did not start"));
    // The engine captures the display DISPLAY names.
    setenv("DISPLAY", display->name().c_str(), 1);
    FrameStamp stamp(display->name(), paintPeriod);
    if (!stamp.running()) return void(std::puts("latency: could not paint on the display"));
    StampReader reader;
    integration::StartedEngine started;
    if (!started.factory) return void(std::puts("latency: the engine did not start"));
    integration::PeerPair pair(started);
    if (!pair.host || !pair.controller) return void(std::puts("latency: no peer connections"));
    ReadingObserver observer(pair, reader);
    if (!pair.connect(controlChannelOptions(), motionChannelOptions()))
        return void(std::puts("latency: the pair did not connect"));
    // The pair captures at its own rate; this measures the worker's.
    pair.capturer->stop();
    if (pair.capturer->start(fps) != engine::DesktopCapturer::StartResult::running)
        return void(std::puts("latency: capture did not restart"));
    const auto decoding = Clock::now() + 10s;
    while (reader.seen().empty() && Clock::now() < decoding) std::this_thread::sleep_for(20ms);
    if (reader.seen().empty()) return void(std::puts("latency: nothing decoded"));
    // Past start-up and the first key frames.
    std::this_thread::sleep_for(2s);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto end = Clock::now();
    report(stamp.paintTimes(), reader.seen(), start, end);
    std::fflush(stdout);
}

}  // namespace native_worker::bench
