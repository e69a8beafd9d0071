#pragma once

namespace native_worker::bench {

// A host worker streaming a moving 1280x720 desktop at 30 fps to a controller
// worker over a shaped, lossy path (two network namespaces, root only), one
// scenario after another: the sent rate over time, the queueing delay the
// stream causes (pings through the same link) and the frames decoded.
void network(double seconds);

}  // namespace native_worker::bench
