#include "app/entry.h"

#include "app/command_line.h"
#include "app/serve_loop.h"
#include "app/watchdogs.h"
#include "loopback/loopback.h"

#include <cstdio>

namespace native_worker {

int runWorker(int argc, const char* const* argv, WorkerServices services) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (const auto* refused = std::get_if<CommandLineRefused>(&commandLine)) {
        if (refused->printUsage) std::fputs(usageMessage, stderr);
        return 2;
    }
    if (std::holds_alternative<ServeMode>(commandLine)) return runServeLoop(services);
    const std::int32_t timeoutMs = std::get<LoopbackMode>(commandLine).timeoutMs;
    const LoopbackWatchdog watchdog(timeoutMs);
    return runLoopback(services.engine, timeoutMs);
}

}  // namespace native_worker
