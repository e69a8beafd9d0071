#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace native_worker {
namespace {

CommandLine parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "kelvarn-remote-native");
    return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

std::string describe(const CommandLine& commandLine) {
    if (std::holds_alternative<ServeMode>(commandLine)) return "serve";
    if (const auto* loopback = std::get_if<LoopbackMode>(&commandLine))
        return "loopback " + std::to_string(loopback->timeoutMs);
    return std::get<CommandLineRefused>(commandLine).printUsage ? "usage" : "silent";
}

TEST(CommandLineShapes, OnlyTwoShapesAreAccepted) {
    EXPECT_EQ(describe(parse({"--serve"})), "serve");
    EXPECT_EQ(describe(parse({"--loopback", "--timeout-ms", "1000"})), "loopback 1000");
    const std::vector<std::vector<const char*>> wrong{{},
                                                      {"--serve", "x"},
                                                      {"--SERVE"},
                                                      {"--loopback", "--timeout-ms"},
                                                      {"--timeout-ms", "1000", "--loopback"},
                                                      {"--loopback", "--timeout-ms=1000"},
                                                      {"--loopback", "--timeout-ms", "1000", "x"},
                                                      {"serve"}};
    for (const auto& arguments : wrong) EXPECT_EQ(describe(parse(arguments)), "usage");
}

TEST(CommandLineTimeout, DigitLoop) {
    const std::vector<std::pair<const char*, std::string>> cases{{"1000", "loopback 1000"},
                                                                 {"30000", "loopback 30000"},
                                                                 {"01000", "loopback 1000"},
                                                                 {"0000000000001000", "loopback 1000"},
                                                                 {"999", "silent"},
                                                                 {"30001", "silent"},
                                                                 {"", "silent"},
                                                                 {"+1000", "silent"},
                                                                 {"-1000", "silent"},
                                                                 {"1e3", "silent"},
                                                                 {" 1000", "silent"},
                                                                 {"1000 ", "silent"},
                                                                 {"99999999999", "silent"},
                                                                 {"300000", "silent"}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(describe(parse({"--loopback", "--timeout-ms", text})), expected) << text;
}

}  // namespace
}  // namespace native_worker
