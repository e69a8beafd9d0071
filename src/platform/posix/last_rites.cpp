#include "platform/posix/last_rites.h"
#include "platform/process.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace native_worker::platform {
namespace {

// Signals whose default ends the process and that a handler can catch.
constexpr std::array fatalSignals{SIGQUIT, SIGILL,  SIGABRT, SIGBUS,  SIGFPE,  SIGSEGV,
                                  SIGSYS,  SIGXCPU, SIGXFSZ, SIGALRM, SIGUSR1, SIGUSR2};
// Room for the handler and the sanitizers' own work in it.
constexpr std::size_t signalStackSize = 64 * 1024;

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
constexpr char leaveByte = 0;
constexpr char performByte = 1;
constexpr char resumeByte = 2;
struct sigaction previous[NSIG];

void awaitTrigger() {
    nameCurrentThread("last-rites");
    for (;;) {
        char byte = leaveByte;
        while (read(trigger[0], &byte, 1) < 0 && errno == EINTR) {
        }
        if (byte == leaveByte) return;
        std::lock_guard lock(enlisted);
        if (byte == resumeByte) {
            // The next rites are waited for afresh.
            char performed = 0;
            while (read(done[0], &performed, 1) < 0 && errno == EINTR) {
            }
            if (current) current->resume();
            continue;
        }
        if (current) current->perform();
        [[maybe_unused]] const ssize_t written = write(done[1], &byte, 1);
    }
}

// After rites that were performed: the process goes on.
void resumeLastRites() {
    if (!triggered.exchange(false)) return;
    [[maybe_unused]] const ssize_t written = write(trigger[1], &resumeByte, 1);
}

// The signal goes on to whatever handled it before: by default it ends the
// process as it would have, once this handler returns; a handler that
// returns lets the process go on.
void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const int interrupted = errno;
    performLastRites();
    const struct sigaction& before = previous[signal];
    if (before.sa_flags & SA_SIGINFO) {
        before.sa_sigaction(signal, info, context);
    } else if (before.sa_handler != SIG_DFL) {
        before.sa_handler(signal);
    } else {
        sigaction(signal, &before, nullptr);
        raise(signal);
        errno = interrupted;
        return;
    }
    resumeLastRites();
    errno = interrupted;
}

void arm() {
    if (pipe2(trigger, O_CLOEXEC) != 0 || pipe2(done, O_CLOEXEC) != 0) return;
    struct sigaction fatal {};
    fatal.sa_sigaction = onFatalSignal;
    fatal.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&fatal.sa_mask);
    for (const int signal : fatalSignals) {
        // A signal the parent chose to ignore stays ignored.
        if (sigaction(signal, nullptr, &previous[signal]) == 0 && previous[signal].sa_handler != SIG_IGN)
            sigaction(signal, &fatal, nullptr);
    }
    armed.store(true);
}

class SignalStack {
public:
    SignalStack() {
        stack_t present{};
        if (sigaltstack(nullptr, &present) != 0 || !(present.ss_flags & SS_DISABLE)) return;
        memory_ = std::make_unique<char[]>(signalStackSize);
        const stack_t own{memory_.get(), 0, signalStackSize};
        if (sigaltstack(&own, nullptr) != 0) memory_.reset();
    }

    ~SignalStack() {
        if (!memory_) return;
        const stack_t off{nullptr, SS_DISABLE, 0};
        sigaltstack(&off, nullptr);
    }

    SignalStack(const SignalStack&) = delete;
    SignalStack& operator=(const SignalStack&) = delete;

private:
    std::unique_ptr<char[]> memory_;
};

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
    while (poll(&finished, 1, limit) < 0 && errno == EINTR) {
    }
}

void giveThreadSignalStack() {
    thread_local const SignalStack stack;
}

}  // namespace native_worker::platform
