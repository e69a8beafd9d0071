#include "engine/gstreamer/operation_tracker.h"

namespace native_worker::engine::gstreamer {

std::uint64_t OperationTracker::begin(Failure onFailure) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    open_.emplace(id, std::move(onFailure));
    return id;
}

std::function<void()> OperationTracker::take(std::uint64_t id, std::function<void()> outcome) {
    std::lock_guard lock(mutex_);
    return open_.erase(id) != 0 ? std::move(outcome) : nullptr;
}

void OperationTracker::succeed(std::uint64_t id, std::function<void()> onSuccess) {
    deliver(take(id, std::move(onSuccess)));
}

void OperationTracker::fail(std::uint64_t id, std::string reason) {
    Failure onFailure;
    {
        std::lock_guard lock(mutex_);
        const auto found = open_.find(id);
        if (found == open_.end()) return;
        onFailure = std::move(found->second);
        open_.erase(found);
    }
    deliver([onFailure = std::move(onFailure), reason = std::move(reason)] { onFailure(reason); });
}

void OperationTracker::failAll(const std::string& reason) {
    std::map<std::uint64_t, Failure> abandoned;
    {
        std::lock_guard lock(mutex_);
        abandoned.swap(open_);
    }
    for (auto& [id, onFailure] : abandoned) deliver([onFailure = std::move(onFailure), reason] { onFailure(reason); });
}

void OperationTracker::deliver(std::function<void()> outcome) {
    if (!outcome) return;
    // Only an operation started on a closed connection finds the queue
    // stopped; it then fails on the caller's thread, there being no other.
    if (!queue_->post(outcome)) outcome();
}

}  // namespace native_worker::engine::gstreamer
