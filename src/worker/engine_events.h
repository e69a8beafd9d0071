#pragma once

#include <mutex>
#include <utility>
#include <vector>

namespace native_worker {

// What engine threads tell the session. They only queue it: the serve loop's
// thread takes the queue on its next pass, so the session's state has one
// owner.
enum class EngineEvent { captureStarted, captureLost };

class EngineEvents {
public:
    void push(EngineEvent event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }

    std::vector<EngineEvent> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<EngineEvent> events_;
};

}  // namespace native_worker
