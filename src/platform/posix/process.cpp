#include "platform/process.h"
#include "platform/posix/last_rites.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace native_worker::platform {
namespace {

std::atomic<bool> stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void askToStop(int) {
    stopAsked.store(true);
}

// Lowest first: open then returns exactly the descriptor that is missing.
void fillClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
}

}  // namespace

void prepareProcess() {
    fillClosedStandardDescriptors();
    giveThreadSignalStack();
    // A write to a reader that went away, the host application's pipe or an X
    // connection cut off at the stop, must fail instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = askToStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    for (const int which : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction previous {};
        // A signal the parent chose to ignore (nohup) stays ignored.
        if (sigaction(which, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(which, &stop, nullptr);
    }
}

bool stopRequested() {
    return stopAsked.load();
}

void nameCurrentThread(ThreadName name) {
    pthread_setname_np(pthread_self(), name.text());
}

// What the X11 sink holds and lends goes back first (its last rites).
void exitImmediately(int code) {
    performLastRites();
    std::_Exit(code);
}

}  // namespace native_worker::platform
