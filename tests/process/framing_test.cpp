// Lines on standard input: the size bound, carriage returns, how many lines
// may arrive together, and lines that arrive in pieces or never end.
#include "worker_fixture.h"

#include <thread>

namespace native_worker::process_tests {
namespace {

constexpr std::size_t lineBound = 6'400'000;

// A peer.create padded with trailing white space to exactly `size` bytes.
std::string paddedCreate(std::size_t size) {
    std::string line = text(hostCreate("c1"));
    line.resize(size, ' ');
    return line;
}

std::string candidateLines(int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) lines += text(candidateCommand("k" + std::to_string(i), i)) + "\n";
    return lines;
}

TEST(Framing, ALineOfExactlyTheBoundIsAccepted) {
    Worker worker;
    ASSERT_TRUE(worker.write(paddedCreate(lineBound) + "\n", 20s));
    EXPECT_EQ(worker.nextAnswer(20s), hostCreated(idJson("c1")));
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST(Framing, OneByteBeyondTheBoundIsTooLarge) {
    Worker worker;
    worker.write(paddedCreate(lineBound + 1) + "\n", 20s);
    EXPECT_EQ(worker.readRemainingOutput(20s), workerError("message_too_large"));
    EXPECT_EQ(worker.waitForExit(exitWait), 2);
}

TEST(Framing, ACarriageReturnBeforeTheLineFeedCountsTowardsTheBound) {
    Worker worker;
    worker.write(paddedCreate(lineBound) + "\r\n", 20s);
    EXPECT_EQ(worker.readRemainingOutput(20s), workerError("message_too_large"));
    EXPECT_EQ(worker.waitForExit(exitWait), 2);
}

TEST(Framing, CarriageReturnLineFeedEndsALine) {
    Worker worker;
    ASSERT_TRUE(worker.write(text(hostCreate("c1")) + "\r\n"));
    EXPECT_EQ(worker.nextAnswer(), hostCreated(idJson("c1")));
    ASSERT_TRUE(worker.write(text(candidateCommand("k1", 1)) + "\r\r\n"));
    EXPECT_EQ(worker.nextAnswer(), peerEvent("peer.candidateQueued", idJson("k1")));
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST(Framing, ACarriageReturnInsideALineStaysInIt) {
    Worker worker;
    worker.createHost();
    // Inside a JSON string a raw carriage return is not allowed.
    ASSERT_TRUE(worker.write(R"({"version":1,"type":"peer.offer","requestId":"o)"
                             "\r"
                             R"(1","accountId":"acct-1",)"
                             R"("sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50","generation":"gen-1"})"
                             "\n"));
    expectPeerError(worker, "invalid_message", "null");
}

TEST(Framing, ThirtyTwoLinesWrittenAtOnceAreAllHandled) {
    Worker worker;
    worker.createHost();
    ASSERT_TRUE(worker.write(candidateLines(1, 32)));
    for (int i = 1; i <= 32; ++i)
        EXPECT_EQ(worker.nextAnswer(), peerEvent("peer.candidateQueued", idJson("k" + std::to_string(i))));
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST(Framing, ThirtyThreeLinesWrittenAtOnceOverflowTheQueue) {
    Worker worker;
    worker.createHost();
    ASSERT_TRUE(worker.write(candidateLines(1, 33)));
    // A reader failure is no command of its own: the last one handled names it.
    expectPeerError(worker, "queue_overflow", idJson("c1"));
}

TEST(Framing, TheQueueBoundHoldsBeforeAnyLineIsParsed) {
    Worker worker;
    ASSERT_TRUE(worker.write(std::string(33, '\n')));
    expectWorkerError(worker, "queue_overflow");
}

TEST(Framing, AnEmptyLineIsAnInvalidMessage) {
    Worker worker;
    ASSERT_TRUE(worker.write("\n"));
    expectWorkerError(worker, "invalid_message");
}

TEST(Framing, ALineSplitAcrossWritesAndPassesIsReassembled) {
    Worker worker;
    const std::string line = text(hostCreate("c1")) + "\n";
    const std::size_t third = line.size() / 3;
    for (const std::string& piece : {line.substr(0, third), line.substr(third, third), line.substr(2 * third)}) {
        ASSERT_TRUE(worker.write(piece));
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_EQ(worker.nextAnswer(), hostCreated(idJson("c1")));
    worker.closeInput();
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
}

TEST(Framing, ALastLineWithoutLineFeedIsAnInvalidMessageAtTheEndOfInput) {
    Worker worker;
    ASSERT_TRUE(worker.write(text(hostCreate("c1"))));
    std::this_thread::sleep_for(50ms);
    worker.closeInput();
    expectWorkerError(worker, "invalid_message");
}

}  // namespace
}  // namespace native_worker::process_tests
