#include "engine/gstreamer/callback_queue.h"

#include "platform/process.h"

namespace native_worker::engine::gstreamer {

CallbackQueue::CallbackQueue()
    : state_(std::make_shared<State>()), thread_([state = state_] { run(state); }), threadId_(thread_.get_id()) {}

CallbackQueue::~CallbackQueue() {
    stop();
    if (!thread_.joinable()) return;
    if (onThisThread())
        thread_.detach();
    else
        thread_.join();
}

bool CallbackQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return false;
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
    return true;
}

void CallbackQueue::stop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_one();
    if (!onThisThread() && thread_.joinable()) thread_.join();
}

void CallbackQueue::run(const std::shared_ptr<State>& state) {
    platform::nameCurrentThread("engine-callback");
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
        if (state->tasks.empty()) return;
        auto task = std::move(state->tasks.front());
        state->tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A callback's failure is the worker's; it must not end the queue.
        }
        task = nullptr;  // whatever the task held is released off the lock
        lock.lock();
    }
}

}  // namespace native_worker::engine::gstreamer
