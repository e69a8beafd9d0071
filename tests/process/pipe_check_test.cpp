// Standard input must be a pipe: a FIFO or a socket (what host applications
// hand their children); a file or /dev/null is refused before anything is read.
#include "worker_fixture.h"

namespace native_worker::process_tests {
namespace {

using harness::Channel;
using harness::InputSource;
using harness::WorkerProcess;

void expectRefused(InputSource input) {
    harness::LaunchOptions options;
    options.arguments = {"--serve"};
    options.input = input;
    options.inputFileContent = text(hostCreate("c1")) + "\n";
    WorkerProcess worker(scriptedWorkerPath, options);
    EXPECT_EQ(worker.readRemainingOutput(exitWait), workerError("invalid_message"));
    EXPECT_EQ(worker.readErrorOutput(exitWait), "");
    EXPECT_EQ(worker.waitForExit(exitWait), 2);
}

TEST(PipeCheck, StandardInputFromARegularFileIsRefused) {
    expectRefused(InputSource::regularFile);
}

TEST(PipeCheck, StandardInputFromDevNullIsRefused) {
    expectRefused(InputSource::devNull);
}

WorkerOptions over(Channel channel) {
    WorkerOptions options;
    options.channel = channel;
    return options;
}

class BothChannels : public ::testing::TestWithParam<Channel> {};

TEST_P(BothChannels, ImmediateEndOfInputEndsSilentlyWithZero) {
    Worker worker(over(GetParam()));
    worker.closeInput();
    expectEnd(worker, "", 0);
    EXPECT_EQ(worker.readErrorOutput(exitWait), "");
}

TEST_P(BothChannels, ASessionRunsAndClosesOnRequest) {
    Worker worker(over(GetParam()));
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
    EXPECT_EQ(worker.nextAnswer(),
              R"({"accountId":"acct-1","descriptionType":"offer","generation":"gen-1","requestId":"o1",)"
              R"("sdp":"v=0\r\no=scripted 1 0 IN IP4 127.0.0.1\r\ns=offer\r\n",)"
              R"("sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50","type":"peer.description","version":1})"
              "\n");
    worker.send(command("peer.close", "x1"));
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", idJson("x1")), 0);
}

TEST_P(BothChannels, EndOfInputAfterCreationClosesWithANullRequestId) {
    Worker worker(over(GetParam()));
    worker.createController();
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

INSTANTIATE_TEST_SUITE_P(PipeCheck, BothChannels, ::testing::Values(Channel::pipe, Channel::socketPair),
                         [](const auto& test) { return test.param == Channel::pipe ? "Fifo" : "SocketPair"; });

}  // namespace
}  // namespace native_worker::process_tests
