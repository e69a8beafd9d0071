#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace native_worker::bench {

// What /proc says about one process: processor time so far and memory.
struct ProcessUsage {
    double cpuSeconds = 0;     // user + system
    long residentKiB = 0;      // VmRSS
    long peakResidentKiB = 0;  // VmHWM
};

std::optional<ProcessUsage> usageOf(pid_t pid);
// The newest process whose program path (its argv[0]; a Windows path under
// Wine) contains `program`; with `descendantsOnly`, started by this one,
// directly or through others. (Wine's processes are children of init.)
std::optional<pid_t> newestProcess(const std::string& program, bool descendantsOnly = true);

}  // namespace native_worker::bench
