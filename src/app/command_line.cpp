#include "app/command_line.h"

#include <cstring>

namespace native_worker {
namespace {

constexpr std::int32_t minimumTimeoutMs = 1000;
constexpr std::int32_t maximumTimeoutMs = 30000;

// A digit loop of its own: no sign, no spaces, no exponent, and it stops
// before the arithmetic can grow large.
bool parseTimeout(const char* text, std::int32_t& timeoutMs) {
    std::int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > maximumTimeoutMs) return false;
        value = value * 10 + (*c - '0');
    }
    if (value < minimumTimeoutMs || value > maximumTimeoutMs) return false;
    timeoutMs = value;
    return true;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    if (argc == 2 && std::strcmp(argv[1], "--serve") == 0) return ServeMode{};
    if (argc == 4 && std::strcmp(argv[1], "--loopback") == 0 && std::strcmp(argv[2], "--timeout-ms") == 0) {
        std::int32_t timeoutMs = 0;
        if (!parseTimeout(argv[3], timeoutMs)) return CommandLineRefused{false};
        return LoopbackMode{timeoutMs};
    }
    return CommandLineRefused{true};
}

}  // namespace native_worker
