#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace native_worker::bench {

// What /proc says about one process: processor time so far and memory.
struct ProcessUsage {
    double cpuSeconds = 0;   // user + system
    long residentKiB = 0;    // VmRSS
    long peakResidentKiB = 0;  // VmHWM
};

std::optional<ProcessUsage> usageOf(pid_t pid);
// The newest child of this process whose name (as /proc/<pid>/comm has it,
// at most 15 characters) starts with `name`.
std::optional<pid_t> newestChild(const std::string& name);

}  // namespace native_worker::bench
