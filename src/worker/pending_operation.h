#pragma once

#include "worker/clock.h"

#include <atomic>
#include <future>
#include <memory>
#include <string>

namespace native_worker {

struct Completion {
    bool ok = false;
    std::string sdp;
};

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

enum class OperationKind { initialize, create, setLocal, setRemote };

// The session's single outstanding asynchronous engine operation.
struct PendingOperation {
    std::string requestId;
    std::string descriptionType;  // "offer" or "answer"; empty for initialize
    OperationKind kind = OperationKind::initialize;
    std::future<Completion> completion;
    Clock::TimePoint deadline;
    std::string sdp;
};

}  // namespace native_worker
