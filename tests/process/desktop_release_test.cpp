// A host application ends a worker whose controller holds Shift, Ctrl, A and
// the left button on a real X server and has just typed a text with lent
// keycodes: whichever way the worker ends, the server is left as it was.
#include "worker_fixture.h"

// After gtest: Xlib's None macro would break gtest's own None.
#include "x11_test_display.h"

#include <csignal>
#include <cstdlib>
#include <thread>

namespace native_worker::process_tests {
namespace {

class DesktopRelease : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::VirtualDisplay::start(1280, 720);
        if (!server_) GTEST_SKIP() << "no Xvfb";
        setenv("DISPLAY", server_->name().c_str(), 1);
        probe_ = std::make_unique<testing::DesktopProbe>();
        ASSERT_TRUE(probe_->connected());
        before_ = probe_->keymap();
    }

    void TearDown() override { unsetenv("DISPLAY"); }

    WorkerOptions onTheDesktop() const {
        WorkerOptions options;
        options.script = "desktop=system,input=hold";
        options.display = server_->name();
        return options;
    }

    // A host session whose controller holds its input down.
    void holdInput(Worker& worker) {
        nlohmann::json create = hostCreate("c1");
        create["input"] = {{"inputEpoch", 7}, {"inputApproved", true}};
        worker.send(create);
        const auto created = worker.nextAnswer();
        ASSERT_TRUE(created && created->find(R"("type":"peer.created")") != std::string::npos)
            << created.value_or("(nothing)");
        worker.negotiateHost();
        const auto holds = [this] { return probe_->anyKeyDown() && (probe_->buttons() & Button1Mask) != 0; };
        for (int i = 0; i < 500 && !holds(); ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(holds());
    }

    // Waits a while for nothing to be held and the map to be what it was.
    bool leftAsBefore() {
        for (int i = 0; i < 200 && (probe_->holdsAnything() || probe_->keymap() != before_); ++i)
            std::this_thread::sleep_for(10ms);
        return !probe_->holdsAnything() && probe_->keymap() == before_;
    }

    std::unique_ptr<testing::VirtualDisplay> server_;
    std::unique_ptr<testing::DesktopProbe> probe_;
    std::vector<unsigned long> before_;
};

class StoppedBy : public DesktopRelease, public ::testing::WithParamInterface<int> {};

TEST_P(StoppedBy, TheSignalEndsTheSessionAndTheDesktopIsLeftAsItWas) {
    Worker worker(onTheDesktop());
    holdInput(worker);
    ::kill(worker.processId(), GetParam());
    ::kill(worker.processId(), GetParam());
    expectAnswersToTheEnd(worker, peerEvent("peer.closed", "null"), 0);
    EXPECT_TRUE(leftAsBefore());
}

INSTANTIATE_TEST_SUITE_P(HostApplications, StoppedBy, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& test) { return std::string(sigabbrev_np(test.param)); });

// The server stops answering just as the host application ends the worker:
// the worker ends by itself within the shutdown's bound, and what it could
// not undo meanwhile the next worker does.
TEST_F(DesktopRelease, AServerStoppedAtTheEndHoldsTheWorkerUpNoLongerThanTheShutdownBound) {
    {
        Worker stalled(onTheDesktop());
        holdInput(stalled);
        server_->stall();
        const auto ending = std::chrono::steady_clock::now();
        stalled.closeInput();
        expectAnswersToTheEnd(stalled, peerEvent("peer.closed", "null"), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - ending, 5s);
        server_->resume();
    }
    Worker next(onTheDesktop());
    EXPECT_TRUE(leftAsBefore());
    next.closeInput();
    expectEnd(next, "", 0);
}

TEST_F(DesktopRelease, WhatAKilledWorkerLeftTheNextWorkerUndoes) {
    {
        Worker killed(onTheDesktop());
        holdInput(killed);
        ::kill(killed.processId(), SIGKILL);
        EXPECT_EQ(killed.waitForExit(exitWait), 128 + SIGKILL);
    }
    ASSERT_TRUE(probe_->holdsAnything());
    Worker next(onTheDesktop());
    EXPECT_TRUE(leftAsBefore());
    next.closeInput();
    expectEnd(next, "", 0);
}

}  // namespace
}  // namespace native_worker::process_tests
