// Which commands each session state admits, and how a session closes: on
// request, at the end of input, and after a fatal error.
#include "worker_fixture.h"

#include <vector>

namespace native_worker::process_tests {
namespace {

TEST(Dispatch, OnlyPeerCloseIsAdmittedWhileStarting) {
    const std::vector<nlohmann::json> commands{
        command("peer.offer", "o1"),
        candidateCommand("k1", 1),
        answerCommand("a1"),
        command("peer.bogus", "b1"),
    };
    for (const auto& refused : commands) {
        SCOPED_TRACE(text(refused));
        Worker worker("probe=never");
        worker.send(hostCreate("c1"));
        worker.send(refused);
        expectPeerError(worker, "operation_in_progress", idJson(refused["requestId"].get<std::string>()));
    }
}

TEST(Dispatch, PeerCloseWhileStartingClosesWithItsRequestId) {
    Worker worker("probe=never");
    worker.send(hostCreate("c1"));
    worker.send(command("peer.close", "x1"));
    expectEnd(worker, peerEvent("peer.closed", idJson("x1")), 0);
}

TEST(Dispatch, EndOfInputWhileStartingClosesWithANullRequestId) {
    Worker worker("probe=never");
    worker.send(hostCreate("c1"));
    worker.closeInput();
    expectEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST(Dispatch, PeerCloseWithAnExtraMemberIsRefusedButStillCloses) {
    for (const char* script : {"probe=never", ""}) {
        SCOPED_TRACE(script);
        Worker worker(script);
        worker.send(hostCreate("c1"));
        if (*script == '\0') {
            ASSERT_EQ(worker.nextAnswer(), hostCreated(idJson("c1")));
        }
        worker.send(command("peer.close", "x1", {{"reason", "done"}}));
        expectPeerError(worker, "invalid_message", idJson("x1"));
    }
}

TEST(Dispatch, LinesAfterAnAcceptedPeerCloseAreNeverDispatched) {
    Worker worker;
    worker.createHost();
    ASSERT_TRUE(worker.write(text(command("peer.close", "x1")) + "\n" + text(command("peer.offer", "o1")) + "\n" +
                             "not json\n"));
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", idJson("x1")), 0);
}

TEST(Dispatch, NoPeriodicEventPrecedesPeerCreated) {
    Worker worker("probe=late");
    worker.send(hostCreate("c1"));
    EXPECT_EQ(worker.readLine(answerWait), hostCreated(idJson("c1")));
    worker.send(command("peer.close", "x1"));
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", idJson("x1")), 0);
}

TEST(Dispatch, TheProductHostCannotStartWithoutAScreen) {
    if (KELVARN_PRODUCT_HAS_ENGINE && !KELVARN_SCREEN_NEEDS_DISPLAY)
        GTEST_SKIP() << "a Windows session always has a screen";
    Worker worker(WorkerOptions{}, productWorkerPath);
    worker.send(hostCreate("c1"));
    expectPeerError(worker, KELVARN_PRODUCT_HAS_ENGINE ? "capture_unavailable" : "native_initialize_failed",
                    idJson("c1"));
}

}  // namespace
}  // namespace native_worker::process_tests
