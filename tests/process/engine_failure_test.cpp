// Engine failures, scripted through KELVARN_SCRIPT, end the session with the
// worker's own error code and the requestId of the operation that failed.
#include "worker_fixture.h"

#include <functional>
#include <vector>

namespace native_worker::process_tests {
namespace {

struct Failure {
    std::string script;
    std::function<void(Worker&)> drive;
    std::string code;
    std::string requestId;
    // An answer that may still come before the error.
    std::string mayPrecede = {};
};

void create(Worker& worker) {
    worker.send(hostCreate("c1"));
}

void createReady(Worker& worker) {
    worker.createHost();
}

void offer(Worker& worker) {
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
}

void apply(Worker& worker) {
    worker.createHost();
    worker.send(answerCommand("a1"));
}

void answer(Worker& worker) {
    worker.createController();
    worker.send(command("peer.setDescription", "s1", {{"descriptionType", "offer"}, {"sdp", "v=0\r\n"}}));
    ASSERT_TRUE(worker.nextAnswer());
    worker.send(command("peer.answer", "p1"));
}

void negotiate(Worker& worker) {
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
    ASSERT_TRUE(worker.nextAnswer());
    worker.send(answerCommand("a1"));
}

// The state is polled in the same pass as the completion that caused it, or
// in an earlier one.
const std::string answerApplied =
    R"({"accountId":"acct-1","descriptionType":"answer","generation":"gen-1","requestId":"a1",)"
    R"("sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50","type":"peer.descriptionApplied","version":1})"
    "\n";

void addCandidate(Worker& worker) {
    worker.createHost();
    worker.send(candidateCommand("k1", 1));
}

TEST(EngineFailure, EachFailureEndsTheSessionWithItsCode) {
    const std::vector<Failure> failures{
        {"init=fail", create, "native_initialize_failed", "c1"},
        {"factory=fail", create, "native_initialize_failed", "c1"},
        {"pc=fail", create, "native_initialize_failed", "c1"},
        {"probe=fail", create, "native_initialize_failed", "c1"},
        {"screens=0", create, "capture_unavailable", "c1"},
        {"capturer=fail", create, "capture_unavailable", "c1"},
        {"capture=fail", create, "capture_unavailable", "c1"},
        {"h264=none", create, "h264_unavailable", "c1"},
        // The pump's own failures carry the last operation's requestId.
        {"stats=fail", createReady, "stats_failed", "c1"},
        {"sdp=empty", offer, "description_failed", "o1"},
        {"sdp=huge", offer, "description_failed", "o1"},
        {"local=fail", offer, "description_failed", "o1"},
        {"remote=fail", apply, "description_failed", "a1"},
        {"answer=fail", answer, "description_failed", "p1"},
        {"state=9", negotiate, "native_state_failed", "a1", answerApplied},
        {"state=-1", negotiate, "native_state_failed", "a1", answerApplied},
        {"candidate=refuse", addCandidate, "invalid_candidate", "k1"},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.script);
        Worker worker(failure.script);
        failure.drive(worker);
        auto answer = worker.nextAnswer();
        if (!failure.mayPrecede.empty() && answer == failure.mayPrecede) answer = worker.nextAnswer();
        EXPECT_EQ(answer, peerError(failure.code, idJson(failure.requestId)));
        expectEnd(worker, peerEvent("peer.closed", "null"), 2);
    }
}

TEST(EngineFailure, AFailedOfferIsADescriptionFailure) {
    Worker worker("offer=fail");
    offer(worker);
    expectPeerError(worker, "description_failed", idJson("o1"));
}

TEST(EngineFailure, AMissingDataChannelIsANativeOperationFailure) {
    Worker worker("channels=fail");
    worker.send(hostCreate("c1"));
    expectPeerError(worker, "native_operation_failed", idJson("c1"));
}

TEST(EngineFailure, AStartUpProbeThatNeverAnswersTimesOutAfterTenSeconds) {
    Worker worker("probe=never");
    const auto start = std::chrono::steady_clock::now();
    worker.send(hostCreate("c1"));
    EXPECT_EQ(worker.nextAnswer(12s), peerError("operation_timeout", idJson("c1")));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 9900ms);
    EXPECT_LT(elapsed, 11500ms);
    expectEnd(worker, peerEvent("peer.closed", "null"), 2);
}

}  // namespace
}  // namespace native_worker::process_tests
