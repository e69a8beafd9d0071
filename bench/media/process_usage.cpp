#include "process_usage.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace native_worker::bench {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

long statusKiB(const std::string& status, const std::string& key) {
    const auto at = status.find(key + ":");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + key.size() + 1));
}

}  // namespace

std::optional<ProcessUsage> usageOf(pid_t pid) {
    const std::filesystem::path directory = "/proc/" + std::to_string(pid);
    const std::string stat = readFile(directory / "stat");
    // The name in parentheses may hold spaces; the fields after it do not.
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    // Fields 3..13 come first; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) userTicks = std::stoull(field);
        if (number == 15) systemTicks = std::stoull(field);
    }
    const std::string status = readFile(directory / "status");
    ProcessUsage usage;
    usage.cpuSeconds = static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    usage.residentKiB = statusKiB(status, "VmRSS");
    usage.peakResidentKiB = statusKiB(status, "VmHWM");
    return usage;
}

std::optional<pid_t> newestProcess(const std::string& program, bool descendantsOnly) {
    struct Entry {
        pid_t parent;
        std::string program;
    };
    std::map<pid_t, Entry> processes;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string file = entry.path().filename();
        if (file.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = readFile(entry.path() / "stat");
        const auto nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos) continue;
        std::istringstream fields(stat.substr(nameEnd + 2));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        const std::string commandLine = readFile(entry.path() / "cmdline");
        processes[std::stoi(file)] = {parent, commandLine.substr(0, commandLine.find('\0'))};
    }
    const auto descends = [&](pid_t pid) {
        for (int depth = 0; depth < 16 && processes.count(pid); ++depth) {
            pid = processes[pid].parent;
            if (pid == getpid()) return true;
        }
        return false;
    };
    std::optional<pid_t> newest;
    for (const auto& [pid, entry] : processes)
        if (entry.program.find(program) != std::string::npos && (!descendantsOnly || descends(pid)) &&
            (!newest || pid > *newest))
            newest = pid;
    return newest;
}

}  // namespace native_worker::bench
