#include "standard_output_pipes.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace native_worker::testing {

StandardOutputChannel::StandardOutputChannel(Ends ends) : reader_(ends.reader), saved_(dup(STDOUT_FILENO)) {
    fcntl(reader_, F_SETFL, fcntl(reader_, F_GETFL) | O_NONBLOCK);
    dup2(ends.writer, STDOUT_FILENO);
    close(ends.writer);
}

StandardOutputChannel::~StandardOutputChannel() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    closeReader();
}

std::string StandardOutputChannel::drain() {
    std::string got;
    char buffer[65536];
    for (ssize_t n; reader_ >= 0 && (n = read(reader_, buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

void StandardOutputChannel::closeReader() {
    if (reader_ >= 0) close(reader_);
    reader_ = -1;
}

namespace {

void check(int result) {
    if (result != 0) throw std::runtime_error("cannot make the standard output channel");
}

StandardOutputChannel::Ends fifo() {
    int ends[2];
    check(pipe(ends));
    return {ends[0], ends[1]};
}

StandardOutputChannel::Ends socketPair() {
    int ends[2];
    check(socketpair(AF_UNIX, SOCK_STREAM, 0, ends));
    return {ends[0], ends[1]};
}

}  // namespace

FifoOutput::FifoOutput(std::size_t capacity) : StandardOutputChannel(fifo()) {
    if (capacity != 0) fcntl(STDOUT_FILENO, F_SETPIPE_SZ, static_cast<int>(capacity));
}

SocketOutput::SocketOutput(std::size_t capacity) : StandardOutputChannel(socketPair()) {
    const int size = static_cast<int>(capacity);
    if (capacity != 0) setsockopt(STDOUT_FILENO, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

}  // namespace native_worker::testing
