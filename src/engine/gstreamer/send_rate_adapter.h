#pragma once

#include "engine/congestion/send_rate_controller.h"
#include "engine/gstreamer/gst_handles.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace native_worker::engine::gstreamer {

// Adapts one video sender to its network path: adds transport-wide sequence
// numbers to the RTP packets, reads the receiver's feedback on them (or, from
// a receiver that sends none, its reports' losses), runs congestion control
// and sets the encoder's rate while it runs. Key frame requests are spaced so
// a lossy path cannot make the encoder send nothing but key frames.
class SendRateAdapter {
public:
    // The header extension must reach the payloader before the offer is made.
    SendRateAdapter(GstElement* webrtcbin, GstElement* encoder, GstElement* payloader, std::int64_t pixels,
                    congestion::RateBounds bounds);
    ~SendRateAdapter();
    SendRateAdapter(const SendRateAdapter&) = delete;
    SendRateAdapter& operator=(const SendRateAdapter&) = delete;

    // Whether a captured frame fits the frame rate the rate affords; called
    // for every frame, on the capture thread.
    bool admitFrame();

    struct State;

private:
    void pollReceiverReports();

    const std::shared_ptr<State> state_;
    GstElement* const webrtcbin_;

    // Capture thread only.
    std::chrono::steady_clock::time_point lastFrame_{};
    double frameCredit_ = 1;

    std::optional<guint> lastReportedSequence_;  // poller thread only

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread poller_;
};

}  // namespace native_worker::engine::gstreamer
