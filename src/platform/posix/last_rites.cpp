#include "platform/posix/last_rites.h"
#include "platform/process.h"

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
// Waits on the first pipe while rites are enlisted; writes to the second when
// they are done. Never destroyed: a process that exits with rites enlisted
// must not end in std::terminate.
std::thread& waiter = *new std::thread;
int trigger[2] = {-1, -1};
int done[2] = {-1, -1};
std::atomic<bool> armed{false};
std::atomic<bool> listening{false};  // the waiter runs
std::atomic<bool> triggered{false};
constexpr char performByte = 1;
constexpr char leaveByte = 0;
struct sigaction previous[NSIG];

void awaitTrigger() {
    nameCurrentThread("last-rites");
    for (;;) {
        char byte = leaveByte;
        while (read(trigger[0], &byte, 1) < 0 && errno == EINTR) {}
        if (byte == leaveByte) return;
        {
            std::lock_guard lock(enlisted);
            if (current) current->perform();
        }
        [[maybe_unused]] const ssize_t written = write(done[1], &byte, 1);
    }
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
    if (!armed.load()) return;
    std::lock_guard lock(enlisted);
    current = &rites;
    if (!waiter.joinable()) waiter = std::thread(awaitTrigger);
    listening.store(true);
}

void withdrawLastRites(LastRites& rites) {
    std::thread leaving;
    {
        std::lock_guard lock(enlisted);
        if (current != &rites) return;
        current = nullptr;
        listening.store(false);
        [[maybe_unused]] const ssize_t written = write(trigger[1], &leaveByte, 1);
        leaving = std::move(waiter);
    }
    leaving.join();
}

void performLastRites() {
    if (!listening.load()) return;
    if (!triggered.exchange(true)) {
        [[maybe_unused]] const ssize_t written = write(trigger[1], &performByte, 1);
    }
    pollfd finished{done[0], POLLIN, 0};
    const auto limit = static_cast<int>(LastRites::lastRitesLimit.count());
    while (poll(&finished, 1, limit) < 0 && errno == EINTR) {}
}

}  // namespace native_worker::platform
