#pragma once

#include "media/engine.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace native_worker::engine::gstreamer {

// webrtcbin keeps saying "connected" after the remote vanished: libnice's
// consent checks are off in it and its keep-alives take tens of seconds. A
// live remote always sends something: RTP video, RTCP reports (which this
// monitor asks for twice a second), SCTP. Silence on the connection's ICE
// transports is therefore what marks a vanished remote.
class LivenessRule {
public:
    static constexpr std::chrono::milliseconds silenceBeforeDisconnected{4000};
    static constexpr std::chrono::milliseconds silenceBeforeFailed{9000};

    // The state to report for webrtcbin's state after this much silence.
    // "failed" is final.
    PeerConnectionState next(PeerConnectionState webrtcbinState, std::chrono::steady_clock::duration silence);

private:
    bool failed_ = false;
};

// Follows one webrtcbin on a thread of its own: its connection state, the
// silence of its transports, a pipeline failure; reports each change of the
// resulting state.
class ConnectionMonitor {
public:
    using Report = std::function<void(PeerConnectionState)>;

    ConnectionMonitor(GstElement* webrtcbin, Report report);
    ~ConnectionMonitor();
    ConnectionMonitor(const ConnectionMonitor&) = delete;
    ConnectionMonitor& operator=(const ConnectionMonitor&) = delete;

    // webrtcbin announced a change; safe on any thread.
    void wake();
    // The pipeline failed: the connection is lost for good.
    void markFailed();
    // Ends the thread; no report follows.
    void stop();
    PeerConnectionState state() const { return state_.load(); }

private:
    using TrafficClock = std::chrono::steady_clock;

    void run();
    void evaluate();
    void watchTransports();
    void requestReports();

    GstElement* const webrtcbin_;
    const Report report_;
    // Written by pad probes on streaming threads, which hold their own reference.
    const std::shared_ptr<std::atomic<TrafficClock::rep>> lastTraffic_;
    std::atomic<PeerConnectionState> state_{stateNew};
    std::atomic<bool> pipelineFailed_{false};

    // Only the monitor thread touches these.
    LivenessRule rule_;
    PeerConnectionState lastWebrtcbinState_ = stateNew;
    TrafficClock::time_point connectedSince_{};
    std::set<GstElement*> watched_;
    TrafficClock::time_point lastReportRequest_{};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace native_worker::engine::gstreamer
