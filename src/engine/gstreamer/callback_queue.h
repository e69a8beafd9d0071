#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace native_worker::engine::gstreamer {

// The thread on which one peer connection calls the worker back. webrtcbin's
// own threads only post here, so nothing the worker does in a callback (wait,
// send, call back into the engine) can stall or deadlock webrtcbin, and every
// callback of a connection arrives in the order the engine saw the events.
class CallbackQueue {
public:
    CallbackQueue();
    ~CallbackQueue();
    CallbackQueue(const CallbackQueue&) = delete;
    CallbackQueue& operator=(const CallbackQueue&) = delete;

    // False once the queue was stopped: the task is dropped.
    bool post(std::function<void()> task);
    // Runs every task already posted, then ends the thread. Called on the
    // queue's own thread it only refuses further tasks; the thread ends once
    // the current task returns.
    void stop();
    bool onThisThread() const { return std::this_thread::get_id() == threadId_; }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> tasks;
        bool stopping = false;
    };
    static void run(const std::shared_ptr<State>& state);

    // Shared with the thread, which may outlive this object when the last
    // owner lets go of it from inside a task.
    std::shared_ptr<State> state_;
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace native_worker::engine::gstreamer
