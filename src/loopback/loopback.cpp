#include "loopback/loopback.h"

#include "base/error_codes.h"
#include "base/shared_promise.h"
#include "media/engine_session.h"
#include "media/frame_counter.h"
#include "media/media_settings.h"
#include "media/peer.h"
#include "media/stats.h"
#include "platform/process.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace native_worker {
namespace {

using Deadline = std::chrono::steady_clock::time_point;

constexpr std::uint32_t captureFps = 15;
constexpr std::uint64_t requiredFrames = 3;
constexpr auto passPeriod = std::chrono::milliseconds(20);

[[noreturn]] void fail() {
    throw std::runtime_error("loopback_step_failed");
}

// A stop asked for by a signal fails the step under way, so that the run
// still ends through its clean-up.
void checkNotStopped() {
    if (platform::stopRequested()) fail();
}

template <typename T>
T waitFor(std::future<T> future, Deadline deadline) {
    while (future.wait_for(passPeriod) != std::future_status::ready) {
        checkNotStopped();
        if (std::chrono::steady_clock::now() >= deadline) fail();
    }
    return future.get();
}

class LoopbackRun {
public:
    LoopbackRun(engine::Engine& engine, std::int32_t timeoutMs)
        : deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)), engineSession_(engine) {}

    int run() {
        try {
            setUp();
            waitForMedia();
        } catch (const std::exception&) {
            error_ = codes::nativeOperationFailed;
        }
        return finish();
    }

private:
    void setUp() {
        engineSession_.start();
        engine::PeerConnectionConfiguration configuration = workerConfiguration();
        configuration.tcpCandidatePolicy = engine::TcpCandidatePolicy::disabled;
        engineSession_.connect(hostPeer_, configuration);
        engineSession_.connect(controllerPeer_, configuration);
        engineSession_.addHostMedia(hostPeer_, capturedCounter_, nullptr);

        const std::string offer = createDescription(*hostPeer_.connection(), true);
        applyDescription(*hostPeer_.connection(), offer, "offer", false);
        applyDescription(*controllerPeer_.connection(), offer, "offer", true);
        const std::string answer = createDescription(*controllerPeer_.connection(), false);
        applyDescription(*controllerPeer_.connection(), answer, "answer", false);
        applyDescription(*hostPeer_.connection(), answer, "answer", true);

        engineSession_.startCapture(captureFps);
    }

    std::string createDescription(engine::PeerConnection& connection, bool offer) {
        SharedPromise<std::string> promise;
        auto future = promise.future();
        auto onSuccess = [promise](std::string sdp, std::string) { promise.complete(std::move(sdp)); };
        auto onFailure = [promise](std::string) { promise.fail(std::runtime_error(codes::descriptionFailed)); };
        if (offer)
            connection.createOffer(onSuccess, onFailure, engineSession_.constraints());
        else
            connection.createAnswer(onSuccess, onFailure, engineSession_.constraints());
        return waitFor(std::move(future), deadline_);
    }

    void applyDescription(engine::PeerConnection& connection, const std::string& sdp, const std::string& type,
                          bool remote) {
        SharedPromise<bool> promise;
        auto future = promise.future();
        auto onSuccess = [promise] { promise.complete(true); };
        auto onFailure = [promise](std::string) { promise.complete(false); };
        if (remote)
            connection.setRemoteDescription(sdp, type, onSuccess, onFailure);
        else
            connection.setLocalDescription(sdp, type, onSuccess, onFailure);
        if (!waitFor(std::move(future), deadline_)) fail();
    }

    void exchangeCandidates() {
        for (const auto& candidate : hostPeer_.takeCandidates())
            controllerPeer_.connection()->addCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate);
        for (const auto& candidate : controllerPeer_.takeCandidates())
            hostPeer_.connection()->addCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate);
    }

    bool mediaAndGreetingsArrived() {
        return capturedCounter_.frames() >= requiredFrames && decodedCounter_.frames() >= requiredFrames &&
               hostPeer_.countGreetings("control") != 0 && controllerPeer_.countGreetings("control") != 0 &&
               hostPeer_.countGreetings("motion") != 0 && controllerPeer_.countGreetings("motion") != 0;
    }

    Stats queryStatistics() {
        SharedPromise<Stats> promise;
        auto future = promise.future();
        hostPeer_.connection()->getStats(
            [promise](std::vector<engine::StatsReport> reports) { promise.complete(buildStats(reports, true)); },
            [promise](std::string) { promise.fail(std::runtime_error(codes::statsFailed)); });
        return waitFor(std::move(future), deadline_);
    }

    void waitForMedia() {
        while (std::chrono::steady_clock::now() < deadline_) {
            checkNotStopped();
            exchangeCandidates();
            for (Channel* channel : hostPeer_.allChannels()) channel->sendGreetingOnce("host");
            for (Channel* channel : controllerPeer_.allChannels()) channel->sendGreetingOnce("controller");
            if (mediaAndGreetingsArrived()) {
                stats_ = queryStatistics();
                if (stats_.encodedFrames >= requiredFrames && stats_.codec == "video/H264") {
                    success_ = true;
                    return;
                }
            }
            std::this_thread::sleep_for(passPeriod);
        }
        error_ = "media_or_channel_timeout";
        std::fprintf(
            stderr,
            "hostCandidates=%u controllerCandidates=%u hostIce=%d controllerIce=%d hostPeer=%d controllerPeer=%d\n",
            static_cast<unsigned>(hostPeer_.candidateCount()), static_cast<unsigned>(controllerPeer_.candidateCount()),
            hostPeer_.connection()->iceConnectionState(), controllerPeer_.connection()->iceConnectionState(),
            hostPeer_.connection()->connectionState(), controllerPeer_.connection()->connectionState());
    }

    int finish() {
        const std::int32_t controlReceived =
            controllerPeer_.countGreetings("control") + hostPeer_.countGreetings("control");
        const std::int32_t motionReceived =
            controllerPeer_.countGreetings("motion") + hostPeer_.countGreetings("motion");
        engineSession_.close();

        std::printf(
            "{\"version\":1,\"type\":\"loopbackResult\",\"success\":%s,\"transportReady\":false,"
            "\"capturedFrames\":%llu,\"encodedFrames\":%llu,\"decodedFrames\":%llu,\"decodedCrc32\":\"%08x\","
            "\"codec\":\"%s\",\"controlReceived\":%u,\"motionReceived\":%u,\"cleanedUp\":true,\"error\":\"%s\"}\n",
            success_ ? "true" : "false", static_cast<unsigned long long>(capturedCounter_.frames()),
            static_cast<unsigned long long>(stats_.encodedFrames),
            static_cast<unsigned long long>(decodedCounter_.frames()),
            static_cast<unsigned>(decodedCounter_.lastCrc32()), stats_.codec.c_str(),
            static_cast<unsigned>(controlReceived), static_cast<unsigned>(motionReceived), error_);
        std::fflush(stdout);
        return success_ ? 0 : 1;
    }

    const Deadline deadline_;
    FrameCounter capturedCounter_;
    FrameCounter decodedCounter_;
    Peer hostPeer_{&decodedCounter_, "controller"};
    Peer controllerPeer_{&decodedCounter_, "host"};
    // Last, so that it is destroyed first: its close stops every callback.
    EngineSession engineSession_;
    bool success_ = false;
    const char* error_ = "none";
    Stats stats_;
};

}  // namespace

int runLoopback(engine::Engine& engine, std::int32_t timeoutMs) {
    LoopbackRun run(engine, timeoutMs);
    return run.run();
}

}  // namespace native_worker
