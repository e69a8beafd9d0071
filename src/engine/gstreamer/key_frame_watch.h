#pragma once

#include <gst/gst.h>

namespace native_worker::engine::gstreamer {

// While the stream keeps arriving at the depayloader but no picture reaches
// the sink, asks the sender for a key frame, and again every half second
// until a picture comes. The depayloader asks only once after a loss, and
// that request, or the key frame answering it, may be lost too: the picture
// then stayed frozen until the sender's periodic key frame, seconds later.
void watchForMissingPictures(GstElement* depayloader, GstElement* sink);

}  // namespace native_worker::engine::gstreamer
