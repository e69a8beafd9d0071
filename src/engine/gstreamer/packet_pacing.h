#pragma once

#include "engine/congestion/pacer.h"
#include "engine/congestion/repeated_requests.h"
#include "engine/congestion/sent_packets.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

namespace native_worker::engine::gstreamer {

// Lets RTP packets leave for webrtcbin at the pacer's times rather than a
// frame at a time: identity splits the payloader's buffer lists into single
// packets, a queue holds them, and a probe on the queue's output waits, on the
// queue's own thread, until each may leave.
class PacketPacing : public std::enable_shared_from_this<PacketPacing> {
public:
    // Null when an element is missing. The elements are added to `bin`, linked
    // from input() to output().
    static std::shared_ptr<PacketPacing> create(GstElement* bin, std::int64_t bps);

    GstElement* input() const { return input_; }
    GstElement* output() const { return output_; }
    void setRate(std::int64_t bps);
    // How long the packets held still take to leave.
    std::chrono::microseconds backlog() const;
    // When a packet offered now may leave.
    std::chrono::steady_clock::time_point departure(std::uint32_t bytes);
    // Retransmissions leave webrtcbin after the queue, at once: each one the
    // receiver asks for goes only while the pacer has room for it, and takes
    // its share of the rate. Otherwise a path that lost most of its capacity
    // is flooded by requests for what it dropped, at the old rate, and nothing
    // new gets through for seconds.
    void limitRetransmissions(GstElement* webrtcbin);
    // Whether a retransmission may go now: only for a packet that left lately
    // enough for its copy to repair a picture, and not while an earlier copy
    // of it is still on its way. It counts as sent when it may. A picture no
    // copy can repair any more is replaced: a key frame is asked for.
    bool admitRetransmission(guint ssrc, guint sequence);
    // The queue that stands on the path: a copy takes that long to arrive.
    void setPathQueue(std::chrono::microseconds queue);
    // Sends a probe: the latest packets again, as retransmissions, spaced at
    // `bps`, on the calling thread, which it holds for the probe's length.
    // Nothing goes where the receiver takes no retransmissions.
    void sendProbe(std::int64_t bps);
    // Called for each packet as it leaves, on the queue's thread.
    void remember(GstBuffer* packet);
    // webrtcbin's retransmission sender's source pad, once it is made.
    void takeRetransmitter(GstPad* source);

    ~PacketPacing();
    PacketPacing(const PacketPacing&) = delete;
    PacketPacing& operator=(const PacketPacing&) = delete;

private:
    explicit PacketPacing(std::int64_t bps);
    void requestKeyFrame();

    GstElement* input_ = nullptr;   // owned by the bin
    GstElement* output_ = nullptr;  // owned by the bin
    mutable std::mutex mutex_;
    congestion::Pacer pacer_;
    congestion::SentPackets sent_;
    congestion::RepeatedRequests requests_;
    std::chrono::microseconds pathQueue_{0};
    // Weak: a probe on that very pad holds this object.
    GWeakRef retransmitter_;
};

}  // namespace native_worker::engine::gstreamer
