#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace native_worker::scripted {

// The scripted engine's own thread: callbacks reach the worker from here, as
// they would from a real engine, optionally after a delay.
class EngineThread {
public:
    EngineThread();
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    void post(std::function<void()> task, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Waits until every task due by now has run.
    void drain();
    bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> tasks_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace native_worker::scripted
