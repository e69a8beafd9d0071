#include "worker/session_harness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace native_worker::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using scripted::Reply;
using ::testing::ElementsAre;

scripted::Script withProbe(Reply reply) {
    scripted::Script script;
    script.probe = reply;
    return script;
}

json candidate(const std::string& requestId, int n) {
    return SessionHarness::command("peer.addCandidate", requestId,
                                   {{"candidate", "candidate:" + std::to_string(n) + " 1 udp 1 10.0.0.1 9 typ host"},
                                    {"sdpMid", "0"},
                                    {"sdpMLineIndex", 0}});
}

std::vector<std::string> callsStartingWith(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> matching;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(matching),
                 [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    return matching;
}

TEST(SessionStartup, HostPeerCreatedCarriesTheCaptureGeometry) {
    SessionHarness harness;
    ASSERT_EQ(
        harness.dispatch(SessionHarness::createHost("c1", {{"input", {{"inputEpoch", 7}, {"inputApproved", true}}}})),
        "");
    EXPECT_EQ(
        harness.pumpUntilEvent().dump(),
        "{\"accountId\":\"account\",\"capture\":{\"desktop\":{\"height\":1080.0,\"width\":1920.0,\"x\":0.0,\"y\":0.0},"
        "\"display\":{\"encodedHeight\":1080.0,\"encodedWidth\":1920.0,\"id\":\"1\",\"physical\":{\"height\":1080.0,"
        "\"width\":1920.0,\"x\":0.0,\"y\":0.0}},\"displays\":[{\"frameHeight\":1080,\"frameWidth\":1920,\"frameX\":0,"
        "\"frameY\":0,\"id\":\"1\",\"isMain\":true,\"pixelHeight\":1080,\"pixelWidth\":1920}],\"inputEpoch\":7,"
        "\"inputSupported\":true},\"generation\":\"gen-1\",\"requestId\":\"c1\",\"sessionId\":\"12345678-1234-1234-"
        "1234-"
        "123456789abc\",\"transportReady\":false,\"type\":\"peer.created\",\"version\":1}");
    const auto& connection = harness.connection();
    const auto channels = connection.createdChannels();
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[0].first, "control");
    EXPECT_TRUE(channels[0].second.ordered && channels[0].second.reliable);
    EXPECT_EQ(channels[0].second.maxRetransmits, -1);
    EXPECT_EQ(channels[1].first, "motion");
    EXPECT_FALSE(channels[1].second.ordered || channels[1].second.reliable);
    EXPECT_EQ(channels[1].second.maxRetransmits, 0);
    EXPECT_EQ(channels[1].second.id, 1);
    const auto preferences = connection.codecPreferences();
    ASSERT_EQ(preferences.size(), 1u);
    EXPECT_EQ(preferences[0].mimeType, "video/H264");
    EXPECT_THAT(callsStartingWith(harness.calls(), "capturer.start"), ElementsAre("capturer.start:30"));
}

TEST(SessionStartup, EveryH264ProfileIsKeptInOrderAndNothingElse) {
    scripted::Script script;
    script.senderCodecs = {{"video/VP9", 90000, ""},
                           {"video/H264", 90000, "profile-level-id=42e01f"},
                           {"video/rtx", 90000, ""},
                           {"video/H264", 90000, "profile-level-id=640c1f"}};
    SessionHarness harness(script);
    harness.createdHost();
    const auto preferences = harness.connection().codecPreferences();
    ASSERT_EQ(preferences.size(), 2u);
    EXPECT_EQ(preferences[0].sdpFmtpLine, "profile-level-id=42e01f");
    EXPECT_EQ(preferences[1].sdpFmtpLine, "profile-level-id=640c1f");
}

TEST(SessionStartup, ControllerBuildsNothingAndReportsAnEmptyCapture) {
    SessionHarness harness;
    ASSERT_EQ(harness.dispatch(SessionHarness::createController("c1")), "");
    const json created = harness.pumpUntilEvent();
    EXPECT_EQ(created["capture"], json::object());
    EXPECT_EQ(created["transportReady"], false);
    EXPECT_TRUE(harness.connection().createdChannels().empty());
    EXPECT_TRUE(callsStartingWith(harness.calls(), "createCapturer").empty());
}

TEST(SessionStartup, ProbeDeadlineIsTenSecondsAndALateResultStillTimesOut) {
    SessionHarness never(withProbe(Reply::never));
    ASSERT_EQ(never.dispatch(SessionHarness::createHost("c1")), "");
    never.clock.advance(9999ms);
    EXPECT_EQ(never.pump(), "");
    never.clock.advance(1ms);
    EXPECT_EQ(never.pump(), "operation_timeout");
    EXPECT_EQ(never.nextEvent()["requestId"], "c1");

    SessionHarness late(withProbe(Reply::late));
    ASSERT_EQ(late.dispatch(SessionHarness::createHost("c1")), "");
    late.clock.advance(10s);
    std::this_thread::sleep_for(late.engine.script().lateDelay + 50ms);
    EXPECT_EQ(late.pump(), "operation_timeout");
}

struct StartupFailure {
    const char* name;
    void (*breakScript)(scripted::Script&);
    const char* code;
    const char* lastEngineCall;  // the undo the close path must still make
};

TEST(SessionStartup, EngineFailuresAreReportedWithTheCreateRequestId) {
    const StartupFailure failures[] = {
        {"init", [](scripted::Script& s) { s.initialize = false; }, "native_initialize_failed", "initialize"},
        {"factory", [](scripted::Script& s) { s.factory = false; }, "native_initialize_failed", "terminate"},
        {"factoryInit", [](scripted::Script& s) { s.factoryInitialize = false; }, "native_initialize_failed",
         "terminate"},
        {"pc", [](scripted::Script& s) { s.peerConnection = false; }, "native_initialize_failed", "terminate"},
        {"probe", [](scripted::Script& s) { s.probe = Reply::fail; }, "native_initialize_failed", "terminate"},
        {"screens", [](scripted::Script& s) { s.screenIds.clear(); }, "capture_unavailable", "terminate"},
        {"capturer", [](scripted::Script& s) { s.capturer = false; }, "capture_unavailable", "terminate"},
        {"track", [](scripted::Script& s) { s.videoTrack = false; }, "capture_unavailable", "terminate"},
        {"h264", [](scripted::Script& s) { s.senderCodecs.erase(s.senderCodecs.begin()); }, "h264_unavailable",
         "terminate"},
        {"transceiver", [](scripted::Script& s) { s.transceiver = false; }, "h264_unavailable", "terminate"},
        {"start", [](scripted::Script& s) { s.captureStart = engine::DesktopCapturer::StartResult::failed; },
         "capture_unavailable", "terminate"},
        {"channels", [](scripted::Script& s) { s.dataChannels = false; }, "native_operation_failed", "terminate"},
    };
    for (const auto& failure : failures) {
        scripted::Script script;
        failure.breakScript(script);
        SessionHarness harness(script);
        std::string code = harness.dispatch(SessionHarness::createHost("c1"));
        for (int pass = 0; pass < 20 && code.empty(); ++pass) code = harness.pump();
        EXPECT_EQ(code, failure.code) << failure.name;
        const json error = harness.nextEvent();
        EXPECT_EQ(error["type"], "peer.error") << failure.name;
        EXPECT_EQ(error["requestId"], "c1") << failure.name;
        const auto rest = harness.close();
        ASSERT_EQ(rest.size(), 1u) << failure.name;
        EXPECT_EQ(json::parse(rest.front())["type"], "peer.closed");
        const auto calls = harness.calls();
        EXPECT_EQ(calls.back(), failure.lastEngineCall) << failure.name;
    }
}

TEST(SessionStartup, ACaptureThatDoesNotStartFailsAfterBothChannelsExist) {
    scripted::Script script;
    script.captureStart = engine::DesktopCapturer::StartResult::failed;
    SessionHarness harness(script);
    ASSERT_EQ(harness.dispatch(SessionHarness::createHost("c1")), "");
    EXPECT_EQ(harness.pumpUntilEvent()["code"], "capture_unavailable");
    EXPECT_EQ(harness.connection().createdChannels().size(), 2u);
}

TEST(SessionDescriptions, HostOfferChainReportsAfterTheLocalDescriptionIsApplied) {
    SessionHarness harness;
    harness.createdHost();
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.offer", "o1")), "");
    json event;
    do event = harness.pumpUntilEvent();
    while (event["type"] != "peer.description");
    EXPECT_EQ(event["requestId"], "o1");
    EXPECT_EQ(event["descriptionType"], "offer");
    EXPECT_EQ(event["sdp"], "v=0\r\no=scripted 1 0 IN IP4 127.0.0.1\r\ns=offer\r\n");
    const auto calls = harness.calls();
    const auto setLocal = std::find(calls.begin(), calls.end(), "setLocalDescription:offer");
    EXPECT_NE(setLocal, calls.end());
}

TEST(SessionDescriptions, OneDeadlineCoversCreationAndLocalApplication) {
    scripted::Script script;
    script.setLocal = Reply::never;
    SessionHarness harness(script);
    harness.createdHost();
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.offer", "o1")), "");
    harness.clock.advance(6s);
    EXPECT_EQ(harness.pump(), "");
    harness.clock.advance(4s);
    std::string code;
    for (int pass = 0; pass < 5 && code.empty(); ++pass) code = harness.pump();
    EXPECT_EQ(code, "operation_timeout");
    json event;
    do event = harness.nextEvent();
    while (!event.is_null() && event["type"] != "peer.error");
    EXPECT_EQ(event["requestId"], "o1");
}

TEST(SessionDescriptions, FailedOrUnusableDescriptionsAreDescriptionFailed) {
    const std::vector<std::pair<const char*, scripted::Script>> cases = [] {
        std::vector<std::pair<const char*, scripted::Script>> all;
        scripted::Script createFails;
        createFails.createOffer = Reply::fail;
        all.emplace_back("create", createFails);
        scripted::Script empty;
        empty.descriptionOverride = "";
        all.emplace_back("empty", empty);
        scripted::Script huge;
        huge.descriptionOverride = std::string(1'048'577, 'v');
        all.emplace_back("huge", huge);
        scripted::Script localFails;
        localFails.setLocal = Reply::fail;
        all.emplace_back("setLocal", localFails);
        return all;
    }();
    for (const auto& [name, script] : cases) {
        SessionHarness harness(script);
        harness.createdHost();
        ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.offer", "o1")), "") << name;
        std::string code;
        for (int pass = 0; pass < 10 && code.empty(); ++pass) code = harness.pump();
        EXPECT_EQ(code, "description_failed") << name;
    }
}

TEST(SessionDescriptions, RoleAndStateRules) {
    SessionHarness host;
    host.createdHost();
    EXPECT_EQ(host.dispatch(SessionHarness::command("peer.answer", "a1")), "invalid_state");

    SessionHarness controller;
    controller.createdController();
    EXPECT_EQ(controller.dispatch(SessionHarness::command("peer.answer", "a1")), "invalid_state");

    SessionHarness early;
    early.createdController();
    EXPECT_EQ(early.dispatch(SessionHarness::command("peer.offer", "o1")), "invalid_state");
}

TEST(SessionDescriptions, ControllerAnswersAfterApplyingTheOffer) {
    SessionHarness harness;
    harness.createdController();
    ASSERT_EQ(harness.dispatch(
                  SessionHarness::command("peer.setDescription", "s1", {{"descriptionType", "offer"}, {"sdp", "v=0"}})),
              "");
    json applied;
    do applied = harness.pumpUntilEvent();
    while (applied["type"] != "peer.descriptionApplied");
    EXPECT_EQ(applied["descriptionType"], "offer");
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.answer", "a1")), "");
    json description;
    do description = harness.pumpUntilEvent();
    while (description["type"] != "peer.description");
    EXPECT_EQ(description["descriptionType"], "answer");
    EXPECT_EQ(description["requestId"], "a1");
}

// A malformed description is refused as such even while an operation is pending.
TEST(SessionDescriptions, OnlyOneOperationAtATimeButTheDescriptionIsCheckedFirst) {
    const auto description = [](const char* type, const char* sdp) {
        return SessionHarness::command("peer.setDescription", "s2", {{"descriptionType", type}, {"sdp", sdp}});
    };
    const std::vector<std::pair<json, std::string>> cases{
        {SessionHarness::command("peer.offer", "o1"), "operation_in_progress"},
        {description("answer", "v=0"), "operation_in_progress"},
        {description("offer", "v=0"), "invalid_state"},
        {description("answers", "v=0"), "invalid_message"},
        {description("answer", ""), "invalid_message"},
    };
    for (const auto& [second, code] : cases) {
        scripted::Script script;
        script.setRemote = Reply::never;
        SessionHarness harness(script);
        harness.createdHost();
        ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.setDescription", "s1",
                                                           {{"descriptionType", "answer"}, {"sdp", "v=0"}})),
                  "");
        EXPECT_EQ(harness.dispatch(second), code) << second.dump();
    }
}

TEST(SessionCandidates, QueuedUntilTheRemoteDescriptionThenReleasedInOrder) {
    scripted::Script script;
    script.setRemote = Reply::late;
    SessionHarness harness(script);
    harness.createdHost();
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.setDescription", "s1",
                                                       {{"descriptionType", "answer"}, {"sdp", "v=0"}})),
              "");
    for (int n = 1; n <= 3; ++n) {
        ASSERT_EQ(harness.dispatch(candidate("q" + std::to_string(n), n)), "");
        json queued;
        do queued = harness.nextEvent();
        while (queued["type"] != "peer.candidateQueued");
        EXPECT_EQ(queued["requestId"], "q" + std::to_string(n));
    }
    EXPECT_TRUE(callsStartingWith(harness.calls(), "addCandidate").empty());
    json applied;
    do applied = harness.pumpUntilEvent();
    while (applied["type"] != "peer.descriptionApplied");
    EXPECT_THAT(callsStartingWith(harness.calls(), "addCandidate"),
                ElementsAre("addCandidate:0:0:candidate:1 1 udp 1 10.0.0.1 9 typ host",
                            "addCandidate:0:0:candidate:2 1 udp 1 10.0.0.1 9 typ host",
                            "addCandidate:0:0:candidate:3 1 udp 1 10.0.0.1 9 typ host"));
    ASSERT_EQ(harness.dispatch(candidate("q4", 4)), "");
    json submitted;
    do submitted = harness.nextEvent();
    while (submitted["type"] != "peer.candidateSubmitted");
    EXPECT_EQ(submitted["requestId"], "q4");
}

TEST(SessionCandidates, QueueHoldsAtMost128) {
    SessionHarness harness;
    harness.createdHost();
    for (int n = 1; n <= 128; ++n) ASSERT_EQ(harness.dispatch(candidate("q" + std::to_string(n), n)), "") << n;
    EXPECT_EQ(harness.dispatch(candidate("q129", 129)), "candidate_queue_full");
}

TEST(SessionCandidates, TextTheEngineCannotParseIsInvalidCandidate) {
    SessionHarness harness;
    harness.createdHost();
    EXPECT_EQ(harness.dispatch(SessionHarness::command(
                  "peer.addCandidate", "q1", {{"candidate", "garbage"}, {"sdpMid", ""}, {"sdpMLineIndex", 0}})),
              "invalid_candidate");
}

TEST(SessionPump, LocalCandidatesGoOutOncePerRecordUpTo128BetweenPasses) {
    scripted::Script script;
    script.localCandidatesPerDescription = 0;
    SessionHarness harness(script);
    harness.createdHost();
    for (int n = 0; n < 130; ++n)
        harness.connection().emitCandidate("candidate:" + std::to_string(n) + " 1 udp 1 10.0.0.1 9 typ host");
    // Passes come 10 ms apart, as in the serve loop.
    for (int pass = 0; pass < 8; ++pass) {
        ASSERT_EQ(harness.pump(), "");
        std::this_thread::sleep_for(10ms);
    }
    int candidates = 0;
    for (const auto& line : harness.close()) {
        const json event = json::parse(line);
        if (event["type"] != "peer.candidate") continue;
        EXPECT_EQ(event["candidate"], "candidate:" + std::to_string(candidates) + " 1 udp 1 10.0.0.1 9 typ host");
        EXPECT_EQ(event["sdpMid"], "0");
        EXPECT_EQ(event["sdpMLineIndex"], 0);
        EXPECT_TRUE(event["requestId"].is_null());
        ++candidates;
    }
    EXPECT_EQ(candidates, 128);
}

TEST(SessionPump, StateNamesOnlyOnChangeAndOutOfRangeIsFatal) {
    scripted::Script script;
    script.statesWhenConnected = {engine::stateConnecting, engine::stateConnected};
    SessionHarness harness(script);
    harness.createdController();
    ASSERT_EQ(harness.dispatch(
                  SessionHarness::command("peer.setDescription", "s1", {{"descriptionType", "offer"}, {"sdp", "v=0"}})),
              "");
    ASSERT_EQ(harness.pump(), "");
    harness.engine.thread().drain();
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.answer", "a1")), "");
    std::vector<std::string> states;
    for (int pass = 0; pass < 20; ++pass) {
        ASSERT_EQ(harness.pump(), "");
        harness.clock.advance(1ms);
    }
    const auto rest = harness.close();
    for (const auto& line : rest) {
        const json event = json::parse(line);
        if (event["type"] == "peer.state") states.push_back(event["state"]);
    }
    // Connecting and connected are set in one engine step: only the polled value is reported.
    EXPECT_THAT(states, ElementsAre("connected"));

    SessionHarness broken;
    broken.createdController();
    broken.connection().emitState(9);
    EXPECT_EQ(broken.pump(), "native_state_failed");
}

TEST(SessionPump, StatisticsQueryDeadlineAndFailure) {
    scripted::Script never;
    never.stats = Reply::never;
    SessionHarness slow(never);
    slow.createdHost();
    slow.clock.advance(9999ms);
    EXPECT_EQ(slow.pump(), "");
    slow.clock.advance(1ms);
    EXPECT_EQ(slow.pump(), "operation_timeout");

    scripted::Script failing;
    failing.stats = Reply::fail;
    SessionHarness broken(failing);
    broken.createdHost();
    std::string code;
    for (int pass = 0; pass < 5 && code.empty(); ++pass) code = broken.pump();
    EXPECT_EQ(code, "stats_failed");
}

TEST(SessionPump, MediaEveryHalfSecondWithNoCapturedFramesForAController) {
    SessionHarness harness;
    harness.createdController();
    std::vector<json> media;
    for (int pass = 0; pass < 120; ++pass) {
        ASSERT_EQ(harness.pump(), "");
        harness.clock.advance(10ms);
    }
    for (const auto& line : harness.close()) {
        const json event = json::parse(line);
        if (event["type"] == "peer.media") media.push_back(event);
    }
    // 1.2 s of passes: a query at the start and then one 500 ms after each result.
    ASSERT_GE(media.size(), 2u);
    ASSERT_LE(media.size(), 3u);
    for (const auto& event : media) {
        EXPECT_EQ(event["capturedFrames"], 0);
        EXPECT_EQ(event["transportReady"], false);
        EXPECT_TRUE(event["requestId"].is_null());
    }
}

TEST(SessionPump, NothingUnsolicitedBeforePeerCreated) {
    SessionHarness harness(withProbe(Reply::never));
    ASSERT_EQ(harness.dispatch(SessionHarness::createHost("c1")), "");
    harness.connection().emitCandidate("candidate:9 1 udp 1 10.0.0.9 9 typ host");
    harness.connection().emitState(engine::stateConnected);
    for (int pass = 0; pass < 10; ++pass) ASSERT_EQ(harness.pump(), "");
    EXPECT_TRUE(harness.close().size() == 1);  // only peer.closed
}

TEST(SessionDispatch, EnvelopeRulesInTheirOrder) {
    SessionHarness harness;
    json versionTwo{{"version", 2}};
    EXPECT_EQ(harness.dispatch(versionTwo), "unsupported_version");
    EXPECT_EQ(harness.nextLine(),
              "{\"code\":\"unsupported_version\",\"fatal\":true,\"type\":\"worker.error\",\"version\":1}");
    json floatVersion = SessionHarness::createHost("c1");
    floatVersion["version"] = 1.0;
    EXPECT_EQ(harness.dispatch(floatVersion), "invalid_message");
}

TEST(SessionDispatch, IdentityAndRequestIdsAfterCreation) {
    SessionHarness harness;
    harness.createdHost();
    json other = SessionHarness::command("peer.offer", "o1");
    other["generation"] = "gen-2";
    EXPECT_EQ(harness.dispatch(other), "identity_mismatch");
    EXPECT_EQ(harness.nextLine(),
              "{\"accountId\":\"account\",\"code\":\"identity_mismatch\",\"fatal\":true,\"generation\":\"gen-1\","
              "\"requestId\":null,\"sessionId\":\"12345678-1234-1234-1234-123456789abc\",\"type\":\"peer.error\","
              "\"version\":1}");

    SessionHarness reuse;
    reuse.createdHost();
    EXPECT_EQ(reuse.dispatch(SessionHarness::command("peer.offer", "create-1")), "invalid_message");
    EXPECT_EQ(reuse.nextEvent()["requestId"], "create-1");
}

TEST(SessionDispatch, AtMost4096MessagesInALifetime) {
    SessionHarness harness(withProbe(Reply::never));
    ASSERT_EQ(harness.dispatch(SessionHarness::createHost("m0")), "");
    // While starting every command is refused without ending anything in this harness.
    for (int n = 1; n < 4096; ++n)
        ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.offer", "m" + std::to_string(n))),
                  "operation_in_progress");
    EXPECT_EQ(harness.dispatch(SessionHarness::command("peer.offer", "m4096")), "invalid_message");
}

TEST(SessionClose, UndoesEverythingInOrderAndAnswersTheClose) {
    SessionHarness harness;
    harness.createdHost();
    const auto before = harness.calls().size();
    const auto rest = harness.close("x1");
    const auto calls = harness.calls();
    const std::vector<std::string> closing(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end());
    EXPECT_THAT(closing, ElementsAre("capturer.unregisterObserver", "capturer.stop", "close", "unregisterObserver",
                                     "channel.close:control", "channel.close:motion", "deletePeerConnection",
                                     "factory.terminate", "terminate"));
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(),
              "{\"accountId\":\"account\",\"generation\":\"gen-1\",\"requestId\":\"x1\","
              "\"sessionId\":\"12345678-1234-1234-1234-123456789abc\",\"type\":\"peer.closed\",\"version\":1}");
}

TEST(SessionClose, AFreshSessionClosesSilently) {
    SessionHarness harness;
    EXPECT_TRUE(harness.close().empty());
    EXPECT_TRUE(harness.calls().empty());
}

}  // namespace
}  // namespace native_worker::testing
