#pragma once

namespace native_worker::bench {

// Capture-to-decode latency on loopback, read from the picture itself: a host
// and a controller in this process over the real engine, a frame number
// painted on the screen, read back from each decoded picture.
void latency(double seconds);

}  // namespace native_worker::bench
