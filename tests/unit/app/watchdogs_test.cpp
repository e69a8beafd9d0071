#include "app/watchdogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace native_worker {
namespace {

using namespace std::chrono_literals;

std::atomic<std::int64_t> fakeNow{1'000'000};

// In the death test's own process: feeds the watchdog (or only starts it),
// holds the clock one millisecond short of `deadlineMs` long enough for the
// watchdog to look, says so, then reaches the deadline.
void reachDeadline(std::optional<std::int64_t> feed, std::int64_t deadlineMs) {
    ServeWatchdog watchdog([] { return fakeNow.load(); });
    if (feed) watchdog.feed(*feed);
    fakeNow += deadlineMs - 1;
    std::this_thread::sleep_for(200ms);
    std::fputs("alive before the deadline\n", stderr);
    fakeNow += 1;
    std::this_thread::sleep_for(5s);
    std::_Exit(0);
}

TEST(ServeWatchdogDeathTest, APassGets15SecondsAndShutdown5ThenExit3) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(reachDeadline(std::nullopt, 15000), ::testing::ExitedWithCode(3), "alive before the deadline");
    EXPECT_EXIT(reachDeadline(ServeWatchdog::passAllowanceMs, 15000), ::testing::ExitedWithCode(3),
                "alive before the deadline");
    EXPECT_EXIT(reachDeadline(ServeWatchdog::shutdownAllowanceMs, 5000), ::testing::ExitedWithCode(3),
                "alive before the deadline");
}

// A timeout of -4000 ms puts the hard limit, 5 seconds after the timeout, 1 second after the start.
void outliveTheSelfTest(const std::string& output) {
    if (!std::freopen(output.c_str(), "w", stdout)) std::_Exit(1);
    const LoopbackWatchdog watchdog(-4000);
    std::this_thread::sleep_for(100ms);
    std::fputs("alive before the limit\n", stderr);
    std::this_thread::sleep_for(5s);
    std::_Exit(0);
}

TEST(LoopbackWatchdogDeathTest, ASelfTestPastItsTimeoutBy5SecondsEndsWithTheHardTimeoutLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string output = ::testing::TempDir() + "loopback_watchdog_output.txt";
    EXPECT_EXIT(outliveTheSelfTest(output), ::testing::ExitedWithCode(3), "alive before the limit");
    std::ifstream written(output);
    std::string line;
    std::getline(written, line);
    EXPECT_EQ(line, R"({"version":1,"type":"loopbackResult","success":false,"transportReady":false,)"
                    R"("cleanedUp":false,"error":"hard_timeout"})");
}

}  // namespace
}  // namespace native_worker
