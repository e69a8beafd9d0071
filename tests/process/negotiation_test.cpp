// Offer/answer and ICE candidates with the scripted engine: both roles' whole
// exchange, and the rules each command's members and timing must follow.
#include "worker_fixture.h"

#include <algorithm>
#include <regex>
#include <vector>

namespace native_worker::process_tests {
namespace {

using nlohmann::json;

constexpr char head[] = R"({"accountId":"acct-1",)";
constexpr char tail[] = R"("sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50",)";

std::string withoutUnsolicited(const std::vector<std::string>& lines) {
    std::string answers;
    for (const auto& line : lines)
        if (!isUnsolicited(line)) answers += line;
    return answers;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

json setDescription(std::string_view requestId, json descriptionType, json sdp) {
    return command("peer.setDescription", requestId,
                   {{"descriptionType", std::move(descriptionType)}, {"sdp", std::move(sdp)}});
}

std::string applied(std::string_view descriptionType, std::string_view requestId) {
    return std::string(head) + R"("descriptionType":")" + std::string(descriptionType) +
           R"(","generation":"gen-1","requestId":")" + std::string(requestId) + "\"," + tail +
           R"("type":"peer.descriptionApplied","version":1})"
           "\n";
}

std::string described(std::string_view descriptionType, std::string_view requestId) {
    return std::string(head) + R"("descriptionType":")" + std::string(descriptionType) +
           R"(","generation":"gen-1","requestId":")" + std::string(requestId) +
           R"(","sdp":"v=0\r\no=scripted 1 0 IN IP4 127.0.0.1\r\ns=)" + std::string(descriptionType) + R"(\r\n",)" +
           tail +
           R"("type":"peer.description","version":1})"
           "\n";
}

TEST(Negotiation, TheHostsWholeExchange) {
    Worker worker;
    worker.createHost();
    worker.send(candidateCommand("k1", 1));
    worker.send(candidateCommand("k2", 2));
    worker.send(command("peer.offer", "o1"));
    const std::string description = described("offer", "o1");
    auto lines = worker.linesUntil(description);
    EXPECT_EQ(withoutUnsolicited(lines), peerEvent("peer.candidateQueued", idJson("k1")) +
                                             peerEvent("peer.candidateQueued", idJson("k2")) + description);

    worker.send(answerCommand("a1"));
    const std::string connected = std::string(head) + R"("generation":"gen-1","requestId":null,)" + tail +
                                  R"("state":"connected","type":"peer.state","version":1})"
                                  "\n";
    const std::string media = std::string(head) +
                              R"("capturedFrames":3,"codec":"video/H264","decodedFrames":0,"encodedFrames":42,)"
                              R"("generation":"gen-1","requestId":null,)" +
                              tail +
                              R"("transportReady":false,"type":"peer.media","version":1})"
                              "\n";
    auto more = worker.linesUntil(connected);
    lines.insert(lines.end(), more.begin(), more.end());
    more = worker.linesUntil(media);
    ASSERT_TRUE(contains(more, media)) << "no peer.media with the host's counts";
    lines.insert(lines.end(), more.begin(), more.end());

    worker.send(candidateCommand("k3", 3));
    more = worker.linesUntil(peerEvent("peer.candidateSubmitted", idJson("k3")));
    lines.insert(lines.end(), more.begin(), more.end());
    worker.send(command("peer.close", "x1"));
    more = worker.linesUntil(peerEvent("peer.closed", idJson("x1")));
    lines.insert(lines.end(), more.begin(), more.end());
    expectEnd(worker, "", 0);

    EXPECT_EQ(withoutUnsolicited(lines),
              peerEvent("peer.candidateQueued", idJson("k1")) + peerEvent("peer.candidateQueued", idJson("k2")) +
                  description + applied("answer", "a1") + peerEvent("peer.candidateSubmitted", idJson("k3")) +
                  peerEvent("peer.closed", idJson("x1")));
    // Applying the local description gathers two candidates (the scripted
    // engine's port numbering is left open).
    for (const char* number : {"1", "2"}) {
        const std::regex candidate(std::string(R"(\{"accountId":"acct-1","candidate":"candidate:)") + number +
                                   R"( 1 udp 2122260223 127\.0\.0\.1 5000\d typ host","generation":"gen-1",)"
                                   R"("requestId":null,"sdpMLineIndex":0,"sdpMid":"0",)"
                                   R"("sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50","type":"peer\.candidate",)"
                                   R"("version":1\}\n)");
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return std::regex_match(line, candidate); }),
                  1)
            << "candidate " << number;
    }
    EXPECT_TRUE(contains(lines, connected));
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find(R"("state":"new")") != std::string::npos;
    }));
    for (const auto& line : lines) {
        if (line.find(R"("type":"peer.media")") != std::string::npos) {
            EXPECT_NE(line.find(R"("transportReady":false)"), std::string::npos) << line;
        }
    }
}

TEST(Negotiation, TheControllersWholeExchange) {
    Worker worker;
    worker.createController();
    worker.send(setDescription("s1", "offer", "v=0\r\no=remote 9 0 IN IP4 192.0.2.9\r\ns=offer\r\n"));
    EXPECT_EQ(worker.nextAnswer(), applied("offer", "s1"));
    worker.send(command("peer.answer", "a1"));
    const std::string description = described("answer", "a1");
    const std::string connected = std::string(head) + R"("generation":"gen-1","requestId":null,)" + tail +
                                  R"("state":"connected","type":"peer.state","version":1})"
                                  "\n";
    // A controller captures and encodes nothing.
    const std::string media = std::string(head) +
                              R"("capturedFrames":0,"codec":"video/H264","decodedFrames":0,"encodedFrames":0,)"
                              R"("generation":"gen-1","requestId":null,)" +
                              tail +
                              R"("transportReady":false,"type":"peer.media","version":1})"
                              "\n";
    // The state may be polled before the completion that caused it.
    auto lines = worker.linesUntil(description);
    EXPECT_EQ(withoutUnsolicited(lines), description);
    if (!contains(lines, connected)) lines = worker.linesUntil(connected);
    EXPECT_TRUE(contains(lines, connected));
    EXPECT_TRUE(contains(worker.linesUntil(media), media));
    worker.send(command("peer.close", "x1"));
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", idJson("x1")), 0);
}

struct Refusal {
    std::string what;
    json message;
    std::string code;
};

void expectEachRefused(bool host, const std::vector<Refusal>& refusals, const std::string& script = "") {
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        Worker worker(script);
        if (host)
            worker.createHost();
        else
            worker.createController();
        worker.send(refusal.message);
        expectPeerError(worker, refusal.code, idJson(refusal.message["requestId"].get<std::string>()));
    }
}

TEST(Negotiation, DescriptionCommandsMustFitTheRole) {
    const std::string sdp = "v=0\r\n";
    expectEachRefused(
        true,
        {
            {"an offer given to a host", setDescription("s1", "offer", sdp), "invalid_state"},
            {"a six-byte type other than answer", setDescription("s1", "answr.", sdp), "invalid_state"},
            {"the role is checked before the sdp", setDescription("s1", "offer", ""), "invalid_state"},
            {"a seven-byte type", setDescription("s1", "answers", sdp), "invalid_message"},
            {"an empty type", setDescription("s1", "", sdp), "invalid_message"},
            {"a type that is no string", setDescription("s1", 1, sdp), "invalid_message"},
            {"an empty sdp", setDescription("s1", "answer", ""), "invalid_message"},
            {"an sdp of 1048577 bytes", setDescription("s1", "answer", std::string(1'048'577, 'v')), "invalid_message"},
            {"an sdp that is no string", setDescription("s1", "answer", json::object()), "invalid_message"},
            {"no sdp", command("peer.setDescription", "s1", {{"descriptionType", "answer"}}), "invalid_message"},
            {"an extra member",
             command("peer.setDescription", "s1", {{"descriptionType", "answer"}, {"sdp", sdp}, {"x", 1}}),
             "invalid_message"},
            {"an answer asked of a host", command("peer.answer", "a1"), "invalid_state"},
            {"an offer with a member", command("peer.offer", "o1", {{"iceRestart", true}}), "invalid_message"},
        });
    expectEachRefused(false,
                      {
                          {"an offer asked of a controller", command("peer.offer", "o1"), "invalid_state"},
                          {"an answer given to a controller", setDescription("s1", "answer", sdp), "invalid_state"},
                          {"an answer before any remote description", command("peer.answer", "a1"), "invalid_state"},
                          {"an answer with a member", command("peer.answer", "a1", {{"x", 1}}), "invalid_message"},
                      });
}

TEST(Negotiation, AnSdpOfExactlyTheBoundIsApplied) {
    Worker worker;
    worker.createHost();
    worker.send(setDescription("s1", "answer", std::string(1'048'576, 'v')));
    EXPECT_EQ(worker.nextAnswer(), applied("answer", "s1"));
}

TEST(Negotiation, OneOperationAtATime) {
    for (const auto& second : {command("peer.offer", "o2"), setDescription("s1", "answer", "v=0\r\n")}) {
        SCOPED_TRACE(text(second));
        Worker worker("local=never");
        worker.createHost();
        worker.send(command("peer.offer", "o1"));
        worker.send(second);
        expectPeerError(worker, "operation_in_progress", idJson(second["requestId"].get<std::string>()));
    }
}

TEST(Negotiation, CandidatesAreSubmittedOnceARemoteDescriptionWasApplied) {
    Worker worker("local=never");
    worker.createHost();
    worker.send(answerCommand("a1"));
    ASSERT_TRUE(worker.nextAnswer());
    // The offer never completes: candidates go to the engine all the same.
    worker.send(command("peer.offer", "o1"));
    worker.send(candidateCommand("k1", 1));
    EXPECT_EQ(worker.nextAnswer(), peerEvent("peer.candidateSubmitted", idJson("k1")));
}

TEST(Negotiation, CandidateMemberRules) {
    const std::string valid = "candidate:1 1 udp 2122260223 192.0.2.1 40001 typ host";
    const auto candidate = [](json mid, json index, json text) {
        return command(
            "peer.addCandidate", "k1",
            {{"sdpMid", std::move(mid)}, {"sdpMLineIndex", std::move(index)}, {"candidate", std::move(text)}});
    };
    std::string longest = valid;
    longest.resize(16384, 'x');
    for (const auto& accepted : {candidate("", 0, valid), candidate("0", 65535, valid),
                                 candidate(std::string(256, 'm'), 0, valid), candidate("0", 0, longest)}) {
        Worker worker;
        worker.createHost();
        worker.send(accepted);
        EXPECT_EQ(worker.nextAnswer(), peerEvent("peer.candidateQueued", idJson("k1")));
    }
    json noMid = candidate("0", 0, valid);
    noMid.erase("sdpMid");
    json noCandidate = candidate("0", 0, valid);
    noCandidate.erase("candidate");
    expectEachRefused(
        true, {
                  {"index 65536", candidate("0", 65536, valid), "invalid_message"},
                  {"index -1", candidate("0", -1, valid), "invalid_message"},
                  {"index 1.0", candidate("0", 1.0, valid), "invalid_message"},
                  {"index a string", candidate("0", "0", valid), "invalid_message"},
                  {"a candidate of 16385 bytes", candidate("0", 0, longest + "x"), "invalid_message"},
                  {"an empty candidate", candidate("0", 0, ""), "invalid_message"},
                  {"an sdpMid of 257 bytes", candidate(std::string(257, 'm'), 0, valid), "invalid_message"},
                  {"an sdpMid that is a number", candidate(0, 0, valid), "invalid_message"},
                  {"no sdpMid", noMid, "invalid_message"},
                  {"no candidate", noCandidate, "invalid_message"},
                  {"an extra member",
                   command("peer.addCandidate", "k1",
                           {{"sdpMid", "0"}, {"sdpMLineIndex", 0}, {"candidate", valid}, {"usernameFragment", "u"}}),
                   "invalid_message"},
                  {"text the engine cannot parse", candidate("0", 0, "a=candidate:1"), "invalid_candidate"},
              });
}

TEST(Negotiation, AtMost128CandidatesWaitForTheRemoteDescription) {
    Worker worker;
    worker.createHost();
    for (int first = 1; first <= 128; first += 16) {
        std::string lines;
        for (int i = first; i < first + 16; ++i) lines += text(candidateCommand("k" + std::to_string(i), i)) + "\n";
        ASSERT_TRUE(worker.write(lines));
        for (int i = first; i < first + 16; ++i)
            ASSERT_EQ(worker.nextAnswer(), peerEvent("peer.candidateQueued", idJson("k" + std::to_string(i))));
    }
    worker.send(candidateCommand("k129", 129));
    expectPeerError(worker, "candidate_queue_full", idJson("k129"));
}

}  // namespace
}  // namespace native_worker::process_tests
