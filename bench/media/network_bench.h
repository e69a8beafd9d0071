#pragma once

#include <string>

namespace native_worker::bench {

// A moving desktop (720p, or 1080p where a scenario says; in one scenario
// still for the first half) at 30 fps sent over a shaped, lossy path (two
// network namespaces, root only; in two scenarios beside a TCP download),
// scenario by scenario, by three pairs (only those whose "scenario | pair"
// contains `only`): our host worker to our controller worker, our host worker
// to headless Chromium, and Chromium to Chromium with its own congestion
// control as the anchor. For each: the sent rate each second, when the queue
// the stream causes settles and how long it is then (pings through the same
// link), the pictures that arrive intact, the longest freeze, the
// glass-to-glass latency read from frame numbers painted into the picture,
// and the download's rate.
void network(double seconds, const std::string& only);

}  // namespace native_worker::bench
