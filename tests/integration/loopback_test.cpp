// The product's self-test, run as the built binary.

#include "process_harness.h"
#include "virtual_display.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace native_worker::integration {
namespace {

using namespace std::chrono_literals;
using harness::LaunchOptions;
using harness::WorkerProcess;

struct SelfTestRun {
    nlohmann::json result;
    std::string errors;
    std::optional<int> exitCode;
    std::chrono::milliseconds elapsed{};
};

SelfTestRun runSelfTest(const std::string& program, LaunchOptions options) {
    options.input = harness::InputSource::devNull;
    const auto start = std::chrono::steady_clock::now();
    WorkerProcess worker(program, std::move(options));
    const std::string output = worker.readRemainingOutput(40s);
    SelfTestRun run;
    run.errors = worker.readErrorOutput(5s);
    run.exitCode = worker.waitForExit(5s);
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    run.result = nlohmann::json::parse(output, nullptr, false);
    return run;
}

LaunchOptions selfTest(std::string timeoutMs = "10000") {
    LaunchOptions options;
    options.arguments = {"--loopback", "--timeout-ms", std::move(timeoutMs)};
    return options;
}

void expectSuccess(const SelfTestRun& run) {
    ASSERT_FALSE(run.result.is_discarded()) << "no result line";
    EXPECT_EQ(run.result["success"], true) << run.result.dump() << "\n" << run.errors;
    EXPECT_EQ(run.result["error"], "none");
    EXPECT_GE(run.result["capturedFrames"].get<int>(), 3);
    EXPECT_GE(run.result["encodedFrames"].get<int>(), 3);
    EXPECT_GE(run.result["decodedFrames"].get<int>(), 3);
    EXPECT_NE(run.result["decodedCrc32"], "00000000");
    EXPECT_EQ(run.result["codec"], "video/H264");
    EXPECT_EQ(run.result["controlReceived"], 2);
    EXPECT_EQ(run.result["motionReceived"], 2);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(SelfTest, SucceedsOnTheVirtualDisplayRunAfterRun) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const SelfTestRun run = runSelfTest(KELVARN_PRODUCT_WORKER, selfTest());
        expectSuccess(run);
        EXPECT_LT(run.elapsed, 5s);
    }
}

TEST(SelfTest, SucceedsInANetworkNamespaceHoldingOnlyLoopback) {
    LaunchOptions options = selfTest();
    options.arguments = {
        "-n",         "sh",           "-c",   "ip link set lo up && exec \"$0\" \"$@\"", KELVARN_PRODUCT_WORKER,
        "--loopback", "--timeout-ms", "10000"};
    const SelfTestRun run = runSelfTest("/usr/bin/unshare", std::move(options));
    // The worker always prints its line; without one, unshare or ip could not run.
    if (run.result.is_discarded()) GTEST_SKIP() << "no network namespace here: " << run.errors;
    expectSuccess(run);
}

TEST(SelfTest, WithoutADisplayFailsCleanlyAndAtOnce) {
    LaunchOptions options = selfTest("30000");
    options.environment = {{"DISPLAY", ""}};
    const SelfTestRun run = runSelfTest(KELVARN_PRODUCT_WORKER, std::move(options));
    ASSERT_FALSE(run.result.is_discarded()) << "no result line";
    EXPECT_EQ(run.result["success"], false);
    EXPECT_EQ(run.result["error"], "native_operation_failed");
    EXPECT_EQ(run.result["capturedFrames"], 0);
    EXPECT_EQ(run.result["decodedCrc32"], "00000000");
    EXPECT_EQ(run.result["cleanedUp"], true);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_LT(run.elapsed, 5s);
}

}  // namespace
}  // namespace native_worker::integration
