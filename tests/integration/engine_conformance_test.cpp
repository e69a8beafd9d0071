// What teardown relies on, held against both engines: detaching an observer or
// renderer waits for its running callback, every operation ends in exactly one
// callback, and nothing reaches the worker's objects once the engine session
// closed.

#include "engine/gstreamer/gstreamer_engine.h"
#include "media/engine_session.h"
#include "media/media_settings.h"
#include "media/peer.h"
#include "peer_pair.h"
#include "scripted_engine.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace native_worker::integration {
namespace {

struct EngineKind {
    const char* name;
    std::unique_ptr<engine::Engine> (*make)(platform::DisplayServices& displays);
};

void PrintTo(const EngineKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::unique_ptr<engine::Engine> scriptedEngine(platform::DisplayServices&) {
    // As a real engine may be: an offer after the first answers late, statistics only when closed.
    scripted::Script script;
    script.createOffer = scripted::Reply::late;
    script.stats = scripted::Reply::never;
    script.lateDelay = 50ms;
    return std::make_unique<scripted::ScriptedEngine>(script);
}

// Stands in for a callback: counts its calls, those that begin once it was
// detached apart, and when asked holds the first one until released.
class HeldCallback {
public:
    explicit HeldCallback(bool holdFirst) : released_(!holdFirst) {}

    void run() {
        std::unique_lock lock(mutex_);
        if (detached_) ++afterDetach_;
        ++calls_;
        if (entered_) return;
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    bool waitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return entered_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    void markDetached() {
        std::lock_guard lock(mutex_);
        detached_ = true;
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int afterDetach() {
        std::lock_guard lock(mutex_);
        return afterDetach_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_;
    bool detached_ = false;
    int calls_ = 0;
    int afterDetach_ = 0;
};

class HeldObserver final : public engine::PeerConnectionObserver,
                           public engine::DesktopCapturerObserver,
                           public engine::VideoRenderer {
public:
    explicit HeldObserver(bool holdFirst) : callback(holdFirst) {}
    void onConnectionState(engine::PeerConnectionState) override { callback.run(); }
    void onIceCandidate(const std::shared_ptr<engine::IceCandidate>&) override { callback.run(); }
    void onDataChannel(const std::shared_ptr<engine::DataChannel>&) override { callback.run(); }
    void onTrack(const std::shared_ptr<engine::RtpTransceiver>&) override { callback.run(); }
    void onCaptureStarted() override { callback.run(); }
    void onCapturePaused() override { callback.run(); }
    void onCaptureStopped() override { callback.run(); }
    void onCaptureFailed() override { callback.run(); }
    void onFrame(const engine::VideoFrame*) override { callback.run(); }

    HeldCallback callback;
};

// While the observer's callback runs, detaching it must wait; once detaching
// returned, nothing may reach it.
void expectDetachingWaitsForTheCallback(HeldCallback& callback, const std::function<void()>& detach) {
    const bool entered = callback.waitEntered();
    if (!entered) callback.release();  // a callback coming after all must not hang the engine
    ASSERT_TRUE(entered) << "no callback arrived";
    auto detaching = std::async(std::launch::async, [&] {
        detach();
        callback.markDetached();
    });
    EXPECT_EQ(detaching.wait_for(200ms), std::future_status::timeout) << "detached while its callback ran";
    callback.release();
    detaching.get();
    std::this_thread::sleep_for(100ms);  // room for a delivery that must not come
    EXPECT_EQ(callback.afterDetach(), 0);
}

// Operation callbacks may outlive the caller's frame: what they count is shared.
std::shared_ptr<HeldCallback> answerCounter() {
    return std::make_shared<HeldCallback>(false);
}
engine::Failure failure(const std::shared_ptr<HeldCallback>& counter) {
    return [counter](std::string) { counter->run(); };
}

class EngineConformance : public ::testing::TestWithParam<EngineKind> {
protected:
    void SetUp() override { engine_ = GetParam().make(*displays_); }
    void TearDown() override {
        if (!factory_) return;
        factory_->terminate();
        factory_.reset();
        engine_->terminate();
    }

    engine::PeerConnectionFactory& factory() {
        if (!factory_ && engine_->initialize()) {
            factory_ = engine_->createPeerConnectionFactory();
            if (factory_) factory_->initialize();
        }
        if (!factory_) throw std::runtime_error("the engine did not start");
        return *factory_;
    }
    std::shared_ptr<engine::PeerConnection> connection() {
        auto made = factory().createPeerConnection(workerConfiguration(), nullptr);
        if (!made) throw std::runtime_error("no peer connection");
        return made;
    }
    std::shared_ptr<engine::DesktopCapturer> firstScreenCapturer() {
        const auto device = factory().desktopDevice();
        const auto sources = device->screenSources();
        if (sources->refresh(false, false) < 1) throw std::runtime_error("no screen");
        return device->createCapturer(sources->source(0), false);
    }

    const std::unique_ptr<platform::DisplayServices> displays_ = platform::createSystemDisplayServices();
    std::unique_ptr<engine::Engine> engine_;

private:
    std::shared_ptr<engine::PeerConnectionFactory> factory_;
};

TEST_P(EngineConformance, UnregisteringAConnectionObserverWaitsForItsRunningCallback) {
    const auto pc = connection();
    HeldObserver observer(true);
    pc->registerObserver(&observer);
    // Gathering for the offer's channel line makes candidates to report.
    pc->createDataChannel("control", controlChannelOptions());
    pc->setLocalDescription(
        createdDescription(*pc, true), "offer", [] {}, [](std::string) {});
    expectDetachingWaitsForTheCallback(observer.callback, [&] { pc->unregisterObserver(); });
    pc->close();
}

TEST_P(EngineConformance, UnregisteringACapturerObserverWaitsForItsRunningCallback) {
    const auto capturer = firstScreenCapturer();
    HeldObserver observer(true);
    capturer->registerObserver(&observer);
    ASSERT_EQ(capturer->start(15), engine::DesktopCapturer::StartResult::running);
    expectDetachingWaitsForTheCallback(observer.callback, [&] { capturer->unregisterObserver(); });
    capturer->stop();
}

TEST_P(EngineConformance, RemovingARendererWaitsForItsRunningFrame) {
    const auto capturer = firstScreenCapturer();
    const auto track =
        factory().createVideoTrack(factory().createDesktopSource(capturer, "desktop", nullptr), "desktop-video");
    HeldObserver renderer(true);
    track->addRenderer(&renderer);
    ASSERT_EQ(capturer->start(15), engine::DesktopCapturer::StartResult::running);
    expectDetachingWaitsForTheCallback(renderer.callback, [&] { track->removeRenderer(&renderer); });
    capturer->stop();
}

TEST_P(EngineConformance, EveryOperationEndsInOneCallbackAlsoWhenTheConnectionClosesUnderIt) {
    const auto pc = connection();
    const auto offer = answerCounter();
    const auto statistics = answerCounter();
    const auto afterClose = answerCounter();
    pc->createOffer([offer](std::string, std::string) { offer->run(); }, failure(offer), nullptr);
    pc->getStats([statistics](std::vector<engine::StatsReport>) { statistics->run(); }, failure(statistics));
    pc->close();
    pc->setRemoteDescription(
        "v=0\r\n", "offer", [afterClose] { afterClose->run(); }, failure(afterClose));
    for (const auto& counter : {offer, statistics, afterClose}) EXPECT_TRUE(counter->waitEntered());
    std::this_thread::sleep_for(100ms);  // past a late answer
    for (const auto& counter : {offer, statistics, afterClose}) EXPECT_EQ(counter->calls(), 1);
}

bool bothConnected(Peer& host, Peer& controller) {
    for (int pass = 0; pass < 500; ++pass) {
        for (const auto& candidate : host.takeCandidates())
            controller.connection()->addCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate);
        for (const auto& candidate : controller.takeCandidates())
            host.connection()->addCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate);
        for (Channel* channel : host.allChannels()) channel->sendGreetingOnce("host");
        for (Channel* channel : controller.allChannels()) channel->sendGreetingOnce("controller");
        if (host.connection()->connectionState() == engine::stateConnected &&
            controller.connection()->connectionState() == engine::stateConnected &&
            controller.countGreetings("control") != 0)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// As serve mode and the self-test do: the session closes while media, channel
// traffic and operations are under way, and the observers die right after.
TEST_P(EngineConformance, AfterTheEngineSessionClosedNothingReachesTheDestroyedObservers) {
    auto captured = std::make_unique<FrameCounter>();
    auto decoded = std::make_unique<FrameCounter>();
    auto host = std::make_unique<Peer>(decoded.get(), "controller");
    auto controller = std::make_unique<Peer>(decoded.get(), "host");
    auto captureObserver = std::make_unique<HeldObserver>(false);
    const auto answers = answerCounter();
    {
        EngineSession session(*engine_);
        session.start();
        session.connect(*host, workerConfiguration());
        session.connect(*controller, workerConfiguration());
        session.addHostMedia(*host, *captured, captureObserver.get());
        const std::string offer = createdDescription(*host->connection(), true);
        ASSERT_TRUE(applied(*host->connection(), offer, "offer", false));
        ASSERT_TRUE(applied(*controller->connection(), offer, "offer", true));
        const std::string answer = createdDescription(*controller->connection(), false);
        ASSERT_TRUE(applied(*controller->connection(), answer, "answer", false));
        ASSERT_TRUE(applied(*host->connection(), answer, "answer", true));
        session.startCapture(15);
        ASSERT_TRUE(bothConnected(*host, *controller));

        // Each answer takes its time, so that one after the other is still due
        // well after the connections closed.
        const auto slowly = [answers] {
            answers->run();
            std::this_thread::sleep_for(50ms);
        };
        host->connection()->createOffer([slowly](std::string, std::string) { slowly(); },
                                        [slowly](std::string) { slowly(); }, nullptr);
        host->connection()->getStats([slowly](std::vector<engine::StatsReport>) { slowly(); },
                                     [slowly](std::string) { slowly(); });
        session.close();
    }
    answers->markDetached();
    captureObserver.reset();
    controller.reset();
    host.reset();
    decoded.reset();
    captured.reset();
    std::this_thread::sleep_for(100ms);  // past a late answer
    EXPECT_EQ(answers->calls(), 2);
    EXPECT_EQ(answers->afterDetach(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, EngineConformance,
                         ::testing::Values(EngineKind{"scripted", &scriptedEngine},
                                           EngineKind{"gstreamer", &engine::createGStreamerEngine}),
                         [](const ::testing::TestParamInfo<EngineKind>& kind) { return std::string(kind.param.name); });

}  // namespace
}  // namespace native_worker::integration
