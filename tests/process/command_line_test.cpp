// The command line: the usage message for every wrong shape, the timeout's
// own digit loop, and the self-test's result line and exit code.
#include "worker_fixture.h"

#include <vector>

namespace native_worker::process_tests {
namespace {

struct Outcome {
    std::string output;
    std::string errors;
    std::optional<int> exitCode;
};

Outcome run(const char* program, std::vector<std::string> arguments) {
    harness::LaunchOptions options;
    options.arguments = std::move(arguments);
    options.removedEnvironment = {"DISPLAY"};
    harness::WorkerProcess worker(program, options);
    worker.closeInput();
    Outcome outcome;
    outcome.output = worker.readRemainingOutput(exitWait);
    outcome.errors = worker.readErrorOutput(exitWait);
    outcome.exitCode = worker.waitForExit(exitWait);
    return outcome;
}

std::string describe(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) text += "[" + argument + "]";
    return text;
}

constexpr char usage[] = "Usage: kelvarn-remote-native --loopback --timeout-ms 1000..30000" KELVARN_TEXT_LINE_END;

constexpr char scriptedSuccess[] =
    R"({"version":1,"type":"loopbackResult","success":true,"transportReady":false,"capturedFrames":3,)"
    R"("encodedFrames":42,"decodedFrames":3,"decodedCrc32":"36bc79cc","codec":"video/H264",)"
    R"("controlReceived":2,"motionReceived":2,"cleanedUp":true,"error":"none"})" KELVARN_TEXT_LINE_END;

constexpr char productFailure[] =
    R"({"version":1,"type":"loopbackResult","success":false,"transportReady":false,"capturedFrames":0,)"
    R"("encodedFrames":0,"decodedFrames":0,"decodedCrc32":"00000000","codec":"",)"
    R"("controlReceived":0,"motionReceived":0,"cleanedUp":true,"error":"native_operation_failed"})" KELVARN_TEXT_LINE_END;

TEST(CommandLine, EveryWrongShapePrintsTheUsageAndExitsWithTwo) {
    const std::vector<std::vector<std::string>> shapes{
        {},
        {"--serve", "x"},
        {"--serve", "--serve"},
        {"--Serve"},
        {"serve"},
        {"--serve "},
        {"--loopback"},
        {"--loopback", "--timeout-ms"},
        {"--loopback", "--timeout-ms=1000"},
        {"--timeout-ms", "1000", "--loopback"},
        {"--loopback", "1000", "--timeout-ms"},
        {"--timeout-ms", "--loopback", "1000"},
        {"--loopback", "--timeout-ms", "1000", "--serve"},
        {"--serve", "--loopback", "--timeout-ms", "1000"},
    };
    for (const auto& arguments : shapes) {
        SCOPED_TRACE(describe(arguments));
        const Outcome outcome = run(productWorkerPath, arguments);
        EXPECT_EQ(outcome.errors, usage);
        EXPECT_EQ(outcome.output, "");
        EXPECT_EQ(outcome.exitCode, 2);
    }
}

TEST(CommandLine, ATimeoutOutsideTheDigitRuleExitsWithTwoSilently) {
    for (const char* timeout : {"999", "30001", "+1000", "-1000", "1e3", " 1000", "1000 ", "", "99999999999", "1000x",
                                "0x3E8", "0", "300000"}) {
        SCOPED_TRACE(std::string("[") + timeout + "]");
        const Outcome outcome = run(productWorkerPath, {"--loopback", "--timeout-ms", timeout});
        EXPECT_EQ(outcome.errors, "");
        EXPECT_EQ(outcome.output, "");
        EXPECT_EQ(outcome.exitCode, 2);
    }
}

TEST(CommandLine, TimeoutsFromOneToThirtySecondsRunTheScriptedSelfTest) {
    for (const char* timeout : {"1000", "30000", "01000"}) {
        SCOPED_TRACE(timeout);
        const Outcome outcome = run(scriptedWorkerPath, {"--loopback", "--timeout-ms", timeout});
        EXPECT_EQ(outcome.output, scriptedSuccess);
        EXPECT_EQ(outcome.errors, "");
        EXPECT_EQ(outcome.exitCode, 0);
    }
}

// Without any screen the real engine cannot capture; without GStreamer the
// product has no engine at all. Either way the self-test fails the same way.
TEST(CommandLine, TheProductSelfTestFailsWithoutAScreen) {
    if (KELVARN_PRODUCT_HAS_ENGINE && !KELVARN_SCREEN_NEEDS_DISPLAY)
        GTEST_SKIP() << "a Windows session always has a screen";
    for (const char* timeout : {"1000", "30000", "01000"}) {
        SCOPED_TRACE(timeout);
        const Outcome outcome = run(productWorkerPath, {"--loopback", "--timeout-ms", timeout});
        EXPECT_EQ(outcome.output, productFailure);
        EXPECT_EQ(outcome.errors, "");
        EXPECT_EQ(outcome.exitCode, 1);
    }
}

}  // namespace
}  // namespace native_worker::process_tests
