#include "app/watchdogs.h"

#include "platform/process.h"

#include <chrono>
#include <cstdio>

namespace native_worker {
namespace {

constexpr auto servePollPeriod = std::chrono::milliseconds(20);
constexpr char hardTimeoutLine[] =
    "{\"version\":1,\"type\":\"loopbackResult\",\"success\":false,\"transportReady\":false,"
    "\"cleanedUp\":false,\"error\":\"hard_timeout\"}\n";

}  // namespace

ServeWatchdog::ServeWatchdog(Now now) : now_(now), deadline_(now() + passAllowanceMs) {
    thread_ = std::thread([this] {
        platform::nameCurrentThread("serve-watchdog");
        while (!stopRequested_.load()) {
            if (now_() >= deadline_.load()) platform::exitImmediately(3);
            std::this_thread::sleep_for(servePollPeriod);
        }
    });
}

ServeWatchdog::~ServeWatchdog() {
    stop();
}

void ServeWatchdog::feed(std::int64_t allowanceMs) {
    deadline_.store(now_() + allowanceMs);
}

void ServeWatchdog::stop() {
    stopRequested_.store(true);
    if (thread_.joinable()) thread_.join();
}

LoopbackWatchdog::LoopbackWatchdog(std::int32_t timeoutMs) {
    thread_ = std::thread([this, timeoutMs] {
        platform::nameCurrentThread("loopback-guard");
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs + graceMs), [this] { return done_; })) return;
        std::fputs(hardTimeoutLine, stdout);
        std::fflush(stdout);
        platform::exitImmediately(3);
    });
}

LoopbackWatchdog::~LoopbackWatchdog() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

}  // namespace native_worker
