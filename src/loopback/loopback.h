#pragma once

#include "media/engine.h"

#include <cstdint>

namespace native_worker {

// The in-process self-test: a host peer streams the desktop to a controller
// peer and both data channels carry a greeting each way. Prints one result
// line; returns 0 on success and 1 otherwise.
int runLoopback(engine::Engine& engine, std::int32_t timeoutMs);

}  // namespace native_worker
