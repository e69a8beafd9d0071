#pragma once

#include <cstdint>
#include <variant>

namespace native_worker {

struct ServeMode {};
struct LoopbackMode {
    std::int32_t timeoutMs;
};
// The process should end at once with this code (after the usage message, if requested).
struct CommandLineRefused {
    bool printUsage;
};

using CommandLine = std::variant<ServeMode, LoopbackMode, CommandLineRefused>;

inline constexpr char usageMessage[] = "Usage: kelvarn-remote-native --loopback --timeout-ms 1000..30000\n";

CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace native_worker
