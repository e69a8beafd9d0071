// A host application that stops reading standard output must not keep the
// worker alive: one write pending for over five seconds ends it.
#include "worker_fixture.h"

namespace native_worker::process_tests {
namespace {

TEST(OutputStall, AWorkerWhoseOutputIsNeverReadEndsWithinBoundedTime) {
    // A one-page pipe, filled at once by the offer's twenty local candidates;
    // fewer lines than the writer may queue, so only the stalled write ends it.
    WorkerOptions options;
    options.script = "candidates=20";
    options.outputCapacity = 4096;
    Worker worker(options);
    const auto start = std::chrono::steady_clock::now();
    worker.send(hostCreate("c1"));
    ASSERT_EQ(worker.readLine(answerWait), hostCreated(idJson("c1")));
    worker.send(command("peer.offer", "o1"));
    // From here on nothing is read.
    const auto exitCode = worker.waitForExit(15s);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(exitCode.has_value()) << "the worker is still running";
    EXPECT_TRUE(*exitCode == 2 || *exitCode == 3) << *exitCode;
    EXPECT_GE(elapsed, 5s);
    EXPECT_LT(elapsed, 11s);
}

}  // namespace
}  // namespace native_worker::process_tests
