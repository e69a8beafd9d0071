#include "platform/posix/last_rites.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace native_worker::platform {
namespace {

// Signals whose default ends the process and that a handler can catch.
constexpr std::array fatalSignals{SIGQUIT, SIGILL,  SIGABRT, SIGBUS,  SIGFPE,  SIGSEGV,
                                  SIGSYS,  SIGXCPU, SIGXFSZ, SIGALRM, SIGUSR1, SIGUSR2};

std::mutex enlisted;  // held while the rites run
LastRites* current = nullptr;
// The rites' thread waits on the first pipe; it writes to the second when done.
int trigger[2] = {-1, -1};
int done[2] = {-1, -1};
std::atomic<bool> armed{false};
std::atomic<bool> triggered{false};
struct sigaction previous[NSIG];

void awaitTrigger() {
    char byte = 0;
    while (read(trigger[0], &byte, 1) < 0 && errno == EINTR) {}
    {
        std::lock_guard lock(enlisted);
        if (current) current->perform();
    }
    [[maybe_unused]] const ssize_t written = write(done[1], &byte, 1);
}

// The signal ends the process as it would have, through whatever handled it before.
void onFatalSignal(int signal) {
    const int interrupted = errno;
    performLastRites();
    sigaction(signal, &previous[signal], nullptr);
    raise(signal);
    errno = interrupted;
}

void arm() {
    if (pipe2(trigger, O_CLOEXEC) != 0 || pipe2(done, O_CLOEXEC) != 0) return;
    // Left running: it ends with the process.
    std::thread(awaitTrigger).detach();
    struct sigaction fatal {};
    fatal.sa_handler = onFatalSignal;
    sigemptyset(&fatal.sa_mask);
    for (const int signal : fatalSignals) {
        // A signal the parent chose to ignore stays ignored.
        if (sigaction(signal, nullptr, &previous[signal]) == 0 && previous[signal].sa_handler != SIG_IGN)
            sigaction(signal, &fatal, nullptr);
    }
    armed.store(true);
}

}  // namespace

void enlistLastRites(LastRites& rites) {
    static std::once_flag once;
    std::call_once(once, arm);
    std::lock_guard lock(enlisted);
    current = &rites;
}

void withdrawLastRites(LastRites& rites) {
    std::lock_guard lock(enlisted);
    if (current == &rites) current = nullptr;
}

void performLastRites() {
    if (!armed.load()) return;
    if (!triggered.exchange(true)) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(trigger[1], &byte, 1);
    }
    pollfd finished{done[0], POLLIN, 0};
    const auto limit = static_cast<int>(LastRites::lastRitesLimit.count());
    while (poll(&finished, 1, limit) < 0 && errno == EINTR) {}
}

}  // namespace native_worker::platform
