// A host worker and a controller worker, each a real process on the real
// engine, relayed by the test exactly as a host application relays them.

#include "session_party.h"
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace native_worker::e2e {
namespace {

using Clock = std::chrono::steady_clock;

json hostCreate() {
    return {{"role", "host"},
            {"iceServers", json::array()},
            {"capture", {{"fps", 15}}},
            {"input", {{"inputEpoch", 1}, {"inputApproved", true}}}};
}

bool reached(const WorkerParty& worker, std::string_view state) {
    const auto states = worker.states();
    return std::find(states.begin(), states.end(), state) != states.end();
}

bool lost(const WorkerParty& worker) {
    const auto states = worker.states();
    return !states.empty() && (states.back() == "disconnected" || states.back() == "failed");
}

std::uint64_t mediaCount(const WorkerParty& worker, const char* member) {
    const auto media = worker.lastMedia();
    return media ? (*media)[member].get<std::uint64_t>() : 0;
}

std::optional<bool> inputReady(const WorkerParty& worker) {
    const auto configured = worker.last("peer.inputConfigured");
    if (!configured) return std::nullopt;
    return (*configured)["ready"].get<bool>();
}

// The names of a process's threads, the program's own first. A thread
// inherits the name of the one that started it: one that nobody named
// carries the program's name.
std::vector<std::string> threadNames(int processId) {
    const std::filesystem::path process = "/proc/" + std::to_string(processId);
    const auto nameOf = [](const std::filesystem::path& task) {
        std::string name;
        std::getline(std::ifstream(task / "comm"), name);
        return name;
    };
    std::vector<std::string> names{nameOf(process)};
    for (const auto& task : std::filesystem::directory_iterator(process / "task")) names.push_back(nameOf(task));
    return names;
}

TEST(RelayedWorkers, StreamConnectThenNoticeTheControllerVanishAndCloseCleanly) {
    const auto display = testing::VirtualDisplay::start(1280, 720);
    ASSERT_TRUE(display) << "Xvfb did not start";
    WorkerParty host("host", display->name());
    auto controller = std::make_unique<WorkerParty>("controller", display->name());
    const auto trace = [&] { return "host:\n" + describe(host) + "controller:\n" + describe(*controller); };
    const auto relay = [&](const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
        return relayUntil(host, *controller, done, limit);
    };

    host.command("peer.create", hostCreate());
    controller->command("peer.create", {{"role", "controller"}, {"iceServers", json::array()}});
    ASSERT_TRUE(relay([&] { return host.last("peer.created") && controller->last("peer.created"); })) << trace();

    const std::string offer = host.command("peer.offer");
    ASSERT_TRUE(relay([&] { return host.answerTo(offer, "peer.description").has_value(); })) << trace();
    const json offerSdp = (*host.answerTo(offer, "peer.description"))["sdp"];
    const std::string applyOffer =
        controller->command("peer.setDescription", {{"descriptionType", "offer"}, {"sdp", offerSdp}});
    ASSERT_TRUE(relay([&] { return controller->answerTo(applyOffer, "peer.descriptionApplied").has_value(); }))
        << trace();
    const std::string answer = controller->command("peer.answer");
    ASSERT_TRUE(relay([&] { return controller->answerTo(answer, "peer.description").has_value(); })) << trace();
    const json answerSdp = (*controller->answerTo(answer, "peer.description"))["sdp"];
    host.command("peer.setDescription", {{"descriptionType", "answer"}, {"sdp", answerSdp}});

    // Both connected, video decoded on the far side, and the host's two
    // channels open, which is what makes its input ready.
    ASSERT_TRUE(relay(
        [&] {
            return reached(host, "connected") && reached(*controller, "connected") &&
                   mediaCount(*controller, "decodedFrames") > 0 && mediaCount(host, "encodedFrames") > 0 &&
                   inputReady(host) == true;
        },
        30s))
        << trace();
    EXPECT_EQ((*host.lastMedia())["codec"], "video/H264");
    EXPECT_GT(mediaCount(host, "capturedFrames"), 0U);
    EXPECT_EQ(mediaCount(*controller, "capturedFrames"), 0U);
    EXPECT_FALSE(host.last("peer.error")) << trace();
    EXPECT_FALSE(controller->last("peer.error")) << trace();
    // Only the main thread keeps the program's name.
    for (const int processId : {host.process().processId(), controller->process().processId()}) {
        const auto names = threadNames(processId);
        EXPECT_EQ(std::count(names.begin() + 1, names.end(), names.front()), 1) << ::testing::PrintToString(names);
    }

    // The remote party dies without a word: the host must notice by itself.
    controller.reset();
    const auto killed = Clock::now();
    while (!(lost(host) && inputReady(host) == false) && Clock::now() - killed < 10s) host.poll(20ms);
    const auto noticed = Clock::now() - killed;
    EXPECT_TRUE(lost(host)) << describe(host);
    EXPECT_EQ(inputReady(host), false) << describe(host);
    EXPECT_LT(noticed, 10s);
    const auto revoked = host.last("peer.inputConfigured");
    ASSERT_TRUE(revoked);
    EXPECT_TRUE((*revoked)["requestId"].is_null());

    const auto closing = Clock::now();
    const std::string close = host.command("peer.close");
    while (!host.answerTo(close, "peer.closed") && Clock::now() - closing < 5s) host.poll(20ms);
    EXPECT_TRUE(host.answerTo(close, "peer.closed")) << describe(host);
    EXPECT_EQ(host.process().waitForExit(5s), 0);
    EXPECT_LT(Clock::now() - closing, 5s);
    EXPECT_FALSE(host.last("peer.error")) << describe(host);
    std::printf(
        "[ measured ] host noticed the lost controller after %lld ms; closed in %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(noticed).count()),
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing).count()));
}

}  // namespace
}  // namespace native_worker::e2e
