#include "process_harness.h"

#include <utility>

// What does not depend on the system: lines out of the collected bytes.
namespace native_worker::harness {

bool WorkerProcess::writeLine(std::string_view line, Timeout timeout) {
    std::string text(line);
    text.push_back('\n');
    return write(text, timeout);
}

std::optional<std::string> WorkerProcess::readLine(Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto end = output_.find('\n'); end != std::string::npos) {
            std::string line = output_.substr(0, end + 1);
            output_.erase(0, end + 1);
            return line;
        }
        if (outputEnded_) {
            if (output_.empty()) return std::nullopt;
            return std::exchange(output_, {});
        }
        if (Clock::now() >= deadline) return std::nullopt;
        collect(deadline, true);
    }
}

std::string WorkerProcess::readRemainingOutput(Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!outputEnded_ && Clock::now() < deadline) collect(deadline, true);
    return std::exchange(output_, {});
}

std::string WorkerProcess::readErrorOutput(Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!errorEnded_ && Clock::now() < deadline) collect(deadline, false);
    return std::exchange(error_, {});
}

}  // namespace native_worker::harness
