#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace native_worker {

// A promise that engine callbacks may complete from any thread: the first
// completion wins, later ones (a misbehaving engine) are ignored.
template <typename T>
class SharedPromise {
public:
    SharedPromise() : state_(std::make_shared<State>()) {}

    std::future<T> future() { return state_->promise.get_future(); }
    void complete(T value) const {
        if (!state_->done.exchange(true)) state_->promise.set_value(std::move(value));
    }
    template <typename E>
    void fail(E error) const {
        if (!state_->done.exchange(true)) state_->promise.set_exception(std::make_exception_ptr(std::move(error)));
    }

private:
    struct State {
        std::promise<T> promise;
        std::atomic<bool> done{false};
    };
    std::shared_ptr<State> state_;
};

template <typename T>
bool isReady(const std::future<T>& future) {
    return future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace native_worker
