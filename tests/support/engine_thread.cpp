#include "engine_thread.h"

#include "platform/process.h"

namespace native_worker::scripted {

EngineThread::EngineThread() : thread_([this] { run(); }) {}

EngineThread::~EngineThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void EngineThread::post(std::function<void()> task, std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(mutex_);
        tasks_.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
    }
    wake_.notify_all();
}

void EngineThread::drain() {
    const auto now = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !running_ && (tasks_.empty() || tasks_.begin()->first > now); });
}

void EngineThread::run() {
    platform::nameCurrentThread("scripted-engine");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            idle_.notify_all();
            wake_.wait(lock);
            continue;
        }
        const auto due = tasks_.begin()->first;
        if (due > std::chrono::steady_clock::now()) {
            idle_.notify_all();
            wake_.wait_until(lock, due);
            continue;
        }
        auto task = std::move(tasks_.begin()->second);
        tasks_.erase(tasks_.begin());
        running_ = true;
        lock.unlock();
        task();
        lock.lock();
        running_ = false;
    }
    idle_.notify_all();
}

}  // namespace native_worker::scripted
