#include "engine/gstreamer/operation_promise.h"

namespace native_worker::engine::gstreamer {
namespace {

struct Pending {
    std::shared_ptr<OperationTracker> operations;
    std::uint64_t operation;
    std::function<void(const GstStructure*)> onReply;
};

bool isError(const GstStructure* reply) {
    return reply && gst_structure_has_field(reply, "error");
}

void onChange(GstPromise* promise, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    // The promise has left the pending state when this runs: no waiting.
    if (gst_promise_wait(promise) != GST_PROMISE_RESULT_REPLIED) {
        pending->operations->fail(pending->operation, "interrupted");
        return;
    }
    const GstStructure* reply = gst_promise_get_reply(promise);
    if (isError(reply))
        pending->operations->fail(pending->operation, "refused");
    else
        pending->onReply(reply);
}

void release(gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    // Without effect when the operation was settled.
    pending->operations->fail(pending->operation, "unanswered");
    delete pending;
}

}  // namespace

GstPromise* operationPromise(std::shared_ptr<OperationTracker> operations, std::uint64_t operation,
                             std::function<void(const GstStructure* reply)> onReply) {
    return gst_promise_new_with_change_func(onChange, new Pending{std::move(operations), operation, std::move(onReply)},
                                            release);
}

}  // namespace native_worker::engine::gstreamer
