// How a POSIX host application ends its worker, and the standard streams a
// worker may be started with: a signal ends a session as the end of input
// does; closed standard descriptors are refused like any other non-pipe.
#include "worker_fixture.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace native_worker::process_tests {
namespace {

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, EndsTheSessionAsTheEndOfInputDoes) {
    Worker worker;
    worker.createHost();
    ::kill(worker.processId(), GetParam());
    // A second signal while the worker stops changes nothing.
    ::kill(worker.processId(), GetParam());
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST_P(StopSignal, EndsTheSelfTestThroughItsCleanUp) {
    harness::LaunchOptions options;
    options.arguments = {"--loopback", "--timeout-ms", "30000"};
    options.environment = {{"KELVARN_SCRIPT", "probe=never"}};
    harness::WorkerProcess worker(scriptedWorkerPath, options);
    std::this_thread::sleep_for(300ms);
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(worker.processId(), GetParam());
    const std::string result = worker.readRemainingOutput(exitWait);
    EXPECT_NE(result.find(R"("success":false)"), std::string::npos) << result;
    EXPECT_NE(result.find(R"("cleanedUp":true,"error":"native_operation_failed"})"), std::string::npos) << result;
    EXPECT_EQ(worker.waitForExit(exitWait), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
}

INSTANTIATE_TEST_SUITE_P(HostApplications, StopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& test) { return std::string(sigabbrev_np(test.param)); });

// A host application that closes both pipes once a write failed has ended the
// session: the end of input is seen before the writer's failure.
TEST(HostLeaves, BothPipesClosedAfterAFailedWriteEndWithZero) {
    WorkerOptions options;
    options.script = "candidates=20";
    options.outputCapacity = 4096;
    Worker worker(options);
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
    std::this_thread::sleep_for(500ms);  // the candidates fill the pipe; one write waits
    ::kill(worker.processId(), SIGSTOP);
    worker.closeOutput();
    worker.closeInput();
    ::kill(worker.processId(), SIGCONT);
    EXPECT_EQ(worker.waitForExit(exitWait), 0);
}

// The scripted worker with the given standard descriptors closed and the
// others on pipes of the test's: what it writes on standard output, and its
// exit code (-1 when it does not end within eight seconds).
std::pair<std::string, int> serveWithClosed(std::initializer_list<int> closed) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return {"", -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    for (const int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
    char program[] = KELVARN_SCRIPTED_WORKER;
    char serve[] = "--serve";
    char* argv[] = {program, serve, nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    std::string written;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    bool ended = spawned != 0;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        char buffer[4096];
        pollfd readable{output[0], POLLIN, 0};
        if (poll(&readable, 1, 10) == 1) {
            const ssize_t got = read(output[0], buffer, sizeof buffer);
            if (got > 0) written.append(buffer, static_cast<std::size_t>(got));
        }
        ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!ended && spawned == 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(input[1]);
    close(output[0]);
    return {written, ended && spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(ClosedStandardStreams, AreRefusedLikeAnyOtherNonPipe) {
    EXPECT_EQ(serveWithClosed({STDIN_FILENO}), std::make_pair(workerError("invalid_message"), 2));
    EXPECT_EQ(serveWithClosed({STDIN_FILENO, STDERR_FILENO}), std::make_pair(workerError("invalid_message"), 2));
    EXPECT_EQ(serveWithClosed({STDOUT_FILENO}), std::make_pair(std::string(), 2));
}

}  // namespace
}  // namespace native_worker::process_tests
