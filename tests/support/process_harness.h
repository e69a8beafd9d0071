#pragma once

// Starts a built worker binary as a host application would, with its standard
// streams connected the way different host applications connect them, and
// drives it over real file descriptors. Every wait is bounded; the destructor
// kills and reaps a worker that is still running.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace native_worker::harness {

// What carries standard input and output: FIFOs (Python's subprocess) or one
// socketpair per stream (Node.js and Electron on Linux). On Windows: a
// one-way pipe as CreatePipe makes (Python), or a duplex named pipe per
// stream (Node.js and Electron).
enum class Channel { pipe, socketPair };

// Where standard input comes from: the channel above, or something that is
// not a pipe at all (on Windows the null device stands for /dev/null).
enum class InputSource { channel, regularFile, devNull };

struct LaunchOptions {
    // Arguments after the program path.
    std::vector<std::string> arguments;
    // Added to the test's own environment, replacing variables of the same name.
    std::vector<std::pair<std::string, std::string>> environment;
    // Names of the test's variables the worker does not inherit.
    std::vector<std::string> removedEnvironment;
    Channel channel = Channel::pipe;
    InputSource input = InputSource::channel;
    // The content of standard input for InputSource::regularFile.
    std::string inputFileContent;
    // Pipes only: shrinks the standard output pipe to this many bytes (0 keeps
    // the system's default), so a test that stops reading fills it quickly.
    std::size_t outputCapacity = 0;
};

class WorkerProcess {
public:
    using Timeout = std::chrono::milliseconds;

    // Throws std::runtime_error when the process cannot be started.
    WorkerProcess(const std::string& program, LaunchOptions options);
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Writes all bytes to standard input. False when the worker closed its end
    // or the timeout passed first.
    bool write(std::string_view bytes, Timeout timeout = std::chrono::seconds(10));
    bool writeLine(std::string_view line, Timeout timeout = std::chrono::seconds(10));
    // Closes the host application's end of standard input (end of input).
    void closeInput();
    // Closes the host application's end of standard output: the worker's
    // writes fail from then on.
    void closeOutput();
    // The system's identifier of the worker process.
    int processId() const;

    // The next line of standard output including its line feed. At the end of
    // output the bytes after the last line feed come back as they are. Nothing
    // (nullopt) when the timeout passes or the output has ended. Output is read
    // only here, so a test that stops calling it leaves the worker's writes to
    // fill the stream.
    std::optional<std::string> readLine(Timeout timeout);
    // Everything the worker still writes until it closes standard output.
    // Whatever arrived before the timeout when it never does.
    std::string readRemainingOutput(Timeout timeout);
    // Standard error until the worker closes it.
    std::string readErrorOutput(Timeout timeout);
    bool outputEnded() const { return outputEnded_ && output_.empty(); }

    // The exit code, or 128 + the signal number when a signal ended the worker;
    // nullopt while it is still running when the timeout passes.
    std::optional<int> waitForExit(Timeout timeout);

private:
    using Clock = std::chrono::steady_clock;
    // The system's side: the process and the test's ends of its streams.
    struct System;

    // Reads what stdout and stderr hold, waiting until the deadline for the
    // first of them; returns false when nothing more can come on `wanted`.
    bool collect(Clock::time_point deadline, bool wantStdout);

    std::unique_ptr<System> system_;
    std::string output_;
    std::string error_;
    bool outputEnded_ = false;
    bool errorEnded_ = false;
    std::optional<int> exitCode_;
};

}  // namespace native_worker::harness
