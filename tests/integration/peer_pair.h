#pragma once

#include "media/engine.h"
#include "media/frame_counter.h"
#include "platform/display_services.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace native_worker::integration {

using namespace std::chrono_literals;

// Records what one peer connection reports.
class RecordingObserver final : public engine::PeerConnectionObserver {
public:
    void onConnectionState(engine::PeerConnectionState state) override;
    void onIceCandidate(const std::shared_ptr<engine::IceCandidate>& candidate) override;
    void onDataChannel(const std::shared_ptr<engine::DataChannel>& channel) override;
    void onTrack(const std::shared_ptr<engine::RtpTransceiver>& transceiver) override;

    // Waits until the recorded states satisfy the predicate.
    bool waitFor(const std::function<bool(const std::vector<engine::PeerConnectionState>&)>& done,
                 std::chrono::milliseconds limit);
    bool waitForChannels(std::size_t count, std::chrono::milliseconds limit);
    std::vector<engine::PeerConnectionState> states();
    std::vector<std::shared_ptr<engine::IceCandidate>> takeCandidates();
    std::vector<std::shared_ptr<engine::DataChannel>> channels();

    FrameCounter decoded;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<engine::PeerConnectionState> states_;
    std::vector<std::shared_ptr<engine::IceCandidate>> candidates_;
    std::vector<std::shared_ptr<engine::DataChannel>> channels_;
    std::vector<std::shared_ptr<engine::VideoTrack>> tracks_;
};

// Records what one data channel reports.
class RecordingChannel final : public engine::DataChannelObserver {
public:
    struct Message {
        std::string data;
        bool binary = false;
    };

    void onStateChange(std::int32_t state) override;
    void onMessage(const char* data, std::int32_t length, bool binary) override;

    bool waitForOpen(std::chrono::milliseconds limit);
    bool waitForMessages(std::size_t count, std::chrono::milliseconds limit);
    std::vector<Message> messages();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::vector<Message> messages_;
};

// Waits for an engine callback, with a limit.
template <typename T>
struct Outcome {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<T> results;
    int failures = 0;

    void succeed(T value) {
        std::lock_guard lock(mutex);
        results.push_back(std::move(value));
        done.notify_all();
    }
    void fail() {
        std::lock_guard lock(mutex);
        ++failures;
        done.notify_all();
    }
    bool wait(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return done.wait_for(lock, limit, [&] { return !results.empty() || failures != 0; });
    }
    int calls() {
        std::lock_guard lock(mutex);
        return static_cast<int>(results.size()) + failures;
    }
};

// The engine, started on the test's display, with one factory.
struct StartedEngine {
    StartedEngine();
    ~StartedEngine();

    std::unique_ptr<platform::DisplayServices> displays;
    std::unique_ptr<engine::Engine> engine;
    std::shared_ptr<engine::PeerConnectionFactory> factory;
    std::shared_ptr<engine::MediaConstraints> constraints;
};

// A sending host and an answering controller in this process, as the
// self-test builds them, connected directly to each other.
class PeerPair {
public:
    explicit PeerPair(StartedEngine& started);
    ~PeerPair();

    // The host's track, its "control" and "motion" channels (options as
    // given), channels negotiated out of band on both sides, offer/answer and
    // candidates until both report "connected". False when that fails.
    bool connect(const engine::DataChannelInit& control, const engine::DataChannelInit& motion,
                 const std::vector<std::pair<std::string, engine::DataChannelInit>>& negotiated = {});

    StartedEngine& started;
    RecordingObserver hostObserver;
    RecordingObserver controllerObserver;
    std::shared_ptr<engine::PeerConnection> host;
    std::shared_ptr<engine::PeerConnection> controller;
    std::shared_ptr<engine::DesktopCapturer> capturer;
    std::shared_ptr<engine::VideoTrack> track;
    std::vector<std::shared_ptr<engine::DataChannel>> hostChannels;
    std::vector<std::shared_ptr<engine::DataChannel>> controllerChannels;  // negotiated ones

private:
    bool describe(engine::PeerConnection& from, engine::PeerConnection& to, bool offer);
};

std::string createdDescription(engine::PeerConnection& connection, bool offer);
bool applied(engine::PeerConnection& connection, const std::string& sdp, const std::string& type, bool remote);

}  // namespace native_worker::integration
