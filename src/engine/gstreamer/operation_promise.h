#pragma once

#include "engine/gstreamer/operation_tracker.h"

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace native_worker::engine::gstreamer {

// A promise for one webrtcbin action. On the thread that answers it,
// onReply receives the reply (possibly null) and settles the operation; an
// error reply, an interrupted promise or one dropped unanswered fails it.
// Nothing here ever waits for the promise.
GstPromise* operationPromise(std::shared_ptr<OperationTracker> operations, std::uint64_t operation,
                             std::function<void(const GstStructure* reply)> onReply);

}  // namespace native_worker::engine::gstreamer
