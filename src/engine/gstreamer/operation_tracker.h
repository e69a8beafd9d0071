#pragma once

#include "engine/gstreamer/callback_queue.h"
#include "media/engine.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace native_worker::engine::gstreamer {

// Makes every asynchronous operation of a connection end in exactly one of
// its callbacks, once, on the connection's callback queue: webrtcbin may
// answer, report an error, or (when the connection is torn down) never answer.
class OperationTracker {
public:
    explicit OperationTracker(std::shared_ptr<CallbackQueue> queue) : queue_(std::move(queue)) {}

    // Registers an operation; the failure is kept until one outcome is chosen.
    std::uint64_t begin(Failure onFailure);
    // The first outcome chosen for an operation wins; later ones are ignored.
    void succeed(std::uint64_t id, std::function<void()> onSuccess);
    void fail(std::uint64_t id, std::string reason);
    // Every operation still open fails: the connection will never answer it.
    void failAll(const std::string& reason);

private:
    std::function<void()> take(std::uint64_t id, std::function<void()> outcome);
    void deliver(std::function<void()> outcome);

    std::shared_ptr<CallbackQueue> queue_;
    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Failure> open_;
};

}  // namespace native_worker::engine::gstreamer
