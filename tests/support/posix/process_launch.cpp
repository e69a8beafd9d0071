// POSIX: posix_spawn, FIFOs or socketpairs, poll.
#include "process_harness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace native_worker::harness {
namespace {

constexpr std::size_t readChunk = 65536;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void closeQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl O_NONBLOCK");
}

// Both ends are close-on-exec, so no other worker inherits them (an inherited
// write end would hide the end of input); the child's end is dup'ed into place.
struct Ends {
    int parent = -1;
    int child = -1;
};

Ends makeChannel(Channel channel, bool childReads) {
    int fds[2];
    if (channel == Channel::socketPair) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) fail("socketpair");
        return {fds[0], fds[1]};
    }
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
    return childReads ? Ends{fds[1], fds[0]} : Ends{fds[0], fds[1]};
}

int openInputFile(const LaunchOptions& options) {
    if (options.input == InputSource::devNull) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) fail("open /dev/null");
        return fd;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelvarn-stdin-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) fail("mkostemp");
    ::unlink(path.c_str());
    const std::string& content = options.inputFileContent;
    if (::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0)
        fail("stdin file");
    return fd;
}

std::vector<std::string> mergedEnvironment(const LaunchOptions& options) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : options.environment) replaced = replaced || key == name;
        for (const auto& removed : options.removedEnvironment) replaced = replaced || removed == name;
        if (!replaced) merged.emplace_back(text);
    }
    for (const auto& [key, value] : options.environment) merged.push_back(key + "=" + value);
    return merged;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

struct WorkerProcess::System {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int error = -1;
    bool inputIsSocket = false;
};

WorkerProcess::WorkerProcess(const std::string& program, LaunchOptions options) : system_(std::make_unique<System>()) {
    // A worker that has gone must fail our writes, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);

    Ends input;
    if (options.input == InputSource::channel) {
        input = makeChannel(options.channel, true);
        system_->inputIsSocket = options.channel == Channel::socketPair;
    } else {
        input.child = openInputFile(options);
    }
    Ends output = makeChannel(options.channel, false);
    if (options.outputCapacity != 0 && options.channel == Channel::pipe &&
        fcntl(output.parent, F_SETPIPE_SZ, static_cast<int>(options.outputCapacity)) < 0)
        fail("F_SETPIPE_SZ");
    Ends error = makeChannel(Channel::pipe, false);

    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = mergedEnvironment(options);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.child, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.child, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error.child, STDERR_FILENO);
    const int spawned = posix_spawn(&system_->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    closeQuietly(input.child);
    closeQuietly(output.child);
    closeQuietly(error.child);
    system_->input = input.parent;
    system_->output = output.parent;
    system_->error = error.parent;
    if (spawned != 0) {
        errno = spawned;
        system_->pid = -1;
        fail("posix_spawn " + program);
    }
    if (system_->input >= 0) setNonBlocking(system_->input);
    setNonBlocking(system_->output);
    setNonBlocking(system_->error);
}

WorkerProcess::~WorkerProcess() {
    if (system_->pid > 0 && !exitCode_) {
        ::kill(system_->pid, SIGKILL);
        int status = 0;
        while (::waitpid(system_->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    closeQuietly(system_->input);
    closeQuietly(system_->output);
    closeQuietly(system_->error);
}

bool WorkerProcess::write(std::string_view bytes, Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        if (system_->input < 0) return false;
        pollfd target{system_->input, POLLOUT, 0};
        const int ready = ::poll(&target, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if (target.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        const ssize_t written = ::write(system_->input, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void WorkerProcess::closeInput() {
    if (system_->input >= 0 && system_->inputIsSocket) ::shutdown(system_->input, SHUT_WR);
    closeQuietly(system_->input);
}

void WorkerProcess::closeOutput() {
    closeQuietly(system_->output);
    outputEnded_ = true;
}

int WorkerProcess::processId() const {
    return system_->pid;
}

bool WorkerProcess::collect(Clock::time_point deadline, bool wantStdout) {
    for (;;) {
        if (wantStdout ? outputEnded_ : errorEnded_) return false;
        pollfd fds[2] = {{outputEnded_ ? -1 : system_->output, POLLIN, 0},
                         {errorEnded_ ? -1 : system_->error, POLLIN, 0}};
        const int ready = ::poll(fds, 2, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return true;
        bool wantedProgress = false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            std::string& buffer = i == 0 ? output_ : error_;
            bool& ended = i == 0 ? outputEnded_ : errorEnded_;
            char chunk[readChunk];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0)
                buffer.append(chunk, static_cast<std::size_t>(got));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                ended = true;
            wantedProgress = wantedProgress || (i == 0) == wantStdout;
        }
        if (wantedProgress) return true;
    }
}

std::optional<int> WorkerProcess::waitForExit(Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!exitCode_) {
        int status = 0;
        const pid_t done = ::waitpid(system_->pid, &status, WNOHANG);
        if (done == system_->pid) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (done < 0 && errno != EINTR) fail("waitpid");
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return exitCode_;
}

}  // namespace native_worker::harness
