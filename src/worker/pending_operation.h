#pragma once

#include "base/clock.h"
#include "base/shared_promise.h"

#include <chrono>
#include <future>
#include <string>

namespace native_worker {

struct Completion {
    bool ok = false;
    std::string sdp;
};

// How long the engine may take to answer one request of the host application.
inline constexpr auto operationTimeLimit = std::chrono::seconds(10);

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
