#pragma once

#include "engine/congestion/send_rate_controller.h"
#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/packet_pacing.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace native_worker::engine::gstreamer {

// Adapts one video sender to its network path: adds transport-wide sequence
// numbers to the RTP packets, reads the receiver's feedback on them (or, from
// a receiver that sends none, its reports' losses), runs congestion control
// and sets the encoder's rate and the packets' pacing while it runs, and sends
// the probes the controller asks for. A frame
// is dropped before it is encoded rather than queued behind the pacer. Key
// frame requests are spaced so a lossy path cannot make the encoder send
// nothing but key frames.
class SendRateAdapter {
public:
    // No frame is larger than this much of the target rate, so one frame
    // cannot hold the pacer, and the path's queue, for long.
    static constexpr std::uint32_t frameSizeBoundMs = 100;

    // The header extension must reach the payloader before the offer is made.
    SendRateAdapter(GstElement* webrtcbin, GstElement* encoder, GstElement* payloader,
                    std::shared_ptr<PacketPacing> pacing, std::int64_t pixels, congestion::RateBounds bounds);
    ~SendRateAdapter();
    SendRateAdapter(const SendRateAdapter&) = delete;
    SendRateAdapter& operator=(const SendRateAdapter&) = delete;

    // Whether a captured frame fits the frame rate the rate affords and the
    // pacer is not still busy with earlier ones; called for every frame, on
    // the capture thread.
    bool admitFrame();
    // The rate frames are captured at, as the encoder's caps announce it.
    void setCaptureRate(double framesPerSecond);

    // Called, on a streaming thread, for each key frame request that is let
    // through to the encoder. Set before the pipeline runs.
    void whenKeyFrameRequested(std::function<void()> callback);
    // Called when the capture should hand its picture on again soon: on a
    // streaming thread after each encoded frame that took a good share of its
    // bit budget (handed the same picture again, the encoder would sharpen it
    // further), and on the capture thread for each frame admitFrame refuses.
    // Set before the pipeline runs.
    void whenPictureWantedAgain(std::function<void()> callback);

    struct State;

private:
    // The adapter's own thread: probes, and receiver reports polled.
    void serve();
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
