#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>

namespace native_worker::engine::gstreamer {

// Whether a receiver should ask for a key frame. The wait for a picture
// starts with the first packet after the last picture, not at the picture:
// a still screen sends one frame a second, and a fresh frame after a quiet
// second is no sign of loss. Times in microseconds; packets and pictures are
// told from different streaming threads.
class PictureWait {
public:
    static constexpr std::int64_t patience = 500'000;

    void picture() { waitingSince_.store(idle); }
    // True when this packet should carry a key-frame request upstream.
    bool packet(std::int64_t now);

private:
    static constexpr std::int64_t idle = -1;
    std::atomic<std::int64_t> waitingSince_{idle};
    std::atomic<std::int64_t> lastRequest_{INT64_MIN / 2};
};

// While the stream keeps arriving at the depayloader but no picture reaches
// the sink, asks the sender for a key frame, and again every half second
// until a picture comes. The depayloader asks only once after a loss, and
// that request, or the key frame answering it, may be lost too: the picture
// then stayed frozen, as the sender sends a key frame unasked only rarely.
void watchForMissingPictures(GstElement* depayloader, GstElement* sink);

}  // namespace native_worker::engine::gstreamer
