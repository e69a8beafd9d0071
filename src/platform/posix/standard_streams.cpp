#include "platform/standard_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace native_worker::platform {
namespace {

bool isPipeOrSocket(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return false;
    return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

class PosixStandardInput final : public platform::InputPort {
public:
    Peek peek() override {
        int waiting = 0;
        if (ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0) return {Status::failed, 0};
        if (waiting > 0) return {Status::available, static_cast<std::size_t>(waiting)};
        // Nothing buffered: tell "nothing yet" from "the writer has gone".
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, 0);
        if (ready < 0) return errno == EINTR ? Peek{Status::available, 0} : Peek{Status::failed, 0};
        if (ready == 0) return {Status::available, 0};
        if (input.revents & (POLLERR | POLLNVAL)) return {Status::failed, 0};
        // Readable or hung up with nothing buffered means end of stream; a byte
        // that slipped in since the ioctl is picked up by asking again.
        if (ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0)
            return {Status::available, static_cast<std::size_t>(waiting)};
        return {Status::brokenPipe, 0};
    }

    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, size);
            if (got < 0 && errno == EINTR) continue;
            return static_cast<std::ptrdiff_t>(got);
        }
    }
};

// Writes block on the pipe, but through poll together with a wake-up pipe, so
// that another thread can cancel a write the host application never drains.
// The wake-up byte is never drained: a cancel that lands between two writes
// (two chunks of one long line) fails the next one, and every later one.
class PosixStandardOutput final : public platform::OutputPort {
public:
    PosixStandardOutput() {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    }
    ~PosixStandardOutput() override {
        for (int fd : wake_)
            if (fd >= 0) close(fd);
    }

    std::ptrdiff_t write(const char* data, std::size_t size) override {
        if (wake_[0] < 0) return -1;
        // At most one atomic pipe buffer per call: after POLLOUT it cannot block.
        const std::size_t chunk = size < PIPE_BUF ? size : PIPE_BUF;
        for (;;) {
            pollfd fds[2] = {{wake_[0], POLLIN, 0}, {STDOUT_FILENO, POLLOUT, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (fds[0].revents != 0 || (fds[1].revents & (POLLERR | POLLNVAL))) return -1;
            const ssize_t written = ::write(STDOUT_FILENO, data, chunk);
            if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return static_cast<std::ptrdiff_t>(written);
        }
    }

    void cancelWrite() override {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_[1], &byte, 1);
    }

private:
    int wake_[2]{-1, -1};
};

}  // namespace

bool standardStreamsArePipes() {
    return isPipeOrSocket(STDIN_FILENO) && isPipeOrSocket(STDOUT_FILENO);
}

std::unique_ptr<platform::InputPort> openStandardInput() {
    return std::make_unique<PosixStandardInput>();
}

std::unique_ptr<platform::OutputPort> openStandardOutput() {
    return std::make_unique<PosixStandardOutput>();
}

}  // namespace native_worker::platform
