#include "input_test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using testing::desktop1080;
using testing::display1080;
using testing::key;
using testing::openGate;
using testing::testEpoch;
using testing::testIdentity;

struct ActivationCase {
    const char* name;
    Identity identity = testIdentity();
    std::uint64_t epoch = testEpoch;
    DisplayTarget display = display1080();
    VirtualScreen desktop = desktop1080();
    GateState gate = openGate;
    bool admitted = false;
};

ActivationCase activation(const char* name, bool admitted, auto change) {
    ActivationCase c;
    c.name = name;
    c.admitted = admitted;
    change(c);
    return c;
}

class Activation : public ::testing::TestWithParam<ActivationCase> {};

TEST_P(Activation, AdmitsOnlyValidSettings) {
    const ActivationCase& c = GetParam();
    RecordingSink sink;
    InputInjector injector(c.identity, sink);
    EXPECT_EQ(injector.activate(c.epoch, c.display, c.desktop, c.gate), c.admitted);
    EXPECT_EQ(injector.isActive(), c.admitted);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    InputInjector, Activation,
    ::testing::Values(activation("valid", true, [](auto&) {}),
                      activation("largest_epoch", true, [](auto& c) { c.epoch = 9007199254740991u; }),
                      activation("epoch_too_large", false, [](auto& c) { c.epoch = 9007199254740992u; }),
                      activation("empty_generation", false, [](auto& c) { c.identity.generation.clear(); }),
                      activation("long_generation", false,
                                 [](auto& c) { c.identity.generation = std::string(65, 'g'); }),
                      activation("empty_account", false, [](auto& c) { c.identity.accountId.clear(); }),
                      activation("long_session", false, [](auto& c) { c.identity.sessionId = std::string(257, 's'); }),
                      activation("gate_not_evaluated", false, [](auto& c) { c.gate.evaluated = false; }),
                      activation("gate_not_approved", false, [](auto& c) { c.gate.approved = false; }),
                      activation("gate_capture", false, [](auto& c) { c.gate.captureReady = false; }),
                      activation("gate_desktop", false, [](auto& c) { c.gate.inputDesktop = false; }),
                      activation("display_without_id", false, [](auto& c) { c.display.id.clear(); }),
                      activation("display_long_id", false, [](auto& c) { c.display.id = std::string(257, 'd'); }),
                      activation("display_no_picture", false, [](auto& c) { c.display.pixelWidth = 0; }),
                      activation("display_nan", false, [](auto& c) { c.display.frameY = nan; }),
                      activation("display_far", false,
                                 [](auto& c) {
                                     c.display.frameX = 10000001;
                                     c.desktop = {0, 0, 10000000, 1080};
                                 }),
                      activation("display_one_pixel_out", false, [](auto& c) { c.display.frameX = 1; }),
                      activation("display_inside_negative_desktop", true,
                                 [](auto& c) {
                                     c.display.frameX = -1920;
                                     c.desktop = {-1920, 0, 3840, 1080};
                                 }),
                      activation("desktop_empty", false, [](auto& c) { c.desktop.height = 0; })),
    testing::CaseName{});

TEST(InputInjector, ActivatesOnlyForIncreasingEpochs) {
    RecordingSink sink;
    InputInjector injector(testIdentity(), sink);
    EXPECT_TRUE(injector.activate(5, display1080(), desktop1080(), openGate));
    EXPECT_FALSE(injector.activate(5, display1080(), desktop1080(), openGate));
    EXPECT_FALSE(injector.activate(4, display1080(), desktop1080(), openGate));
    EXPECT_TRUE(injector.activate(6, display1080(), desktop1080(), openGate));
    injector.shutdown();
    EXPECT_FALSE(injector.isActive());
    EXPECT_FALSE(injector.activate(7, display1080(), desktop1080(), openGate));
}

using HeldInput = testing::ActiveInjectorTest;

TEST_F(HeldInput, ModifiersAreReleasedLast) {
    ASSERT_TRUE(apply(key(56, true)).injected);
    ASSERT_TRUE(apply(key(0, true)).injected);
    sink.clear();
    injector.reset();
    EXPECT_EQ(sink.records, (std::vector{keyboardRecord(0, 0x1E, 0xA), keyboardRecord(0, 0x2A, 0xA)}));
    EXPECT_FALSE(injector.holdsInput());
}

TEST_F(HeldInput, ARefusedReleaseBlocksActivationUntilALaterResetSucceeds) {
    ASSERT_TRUE(apply(key(0, true)).injected);
    sink.refuse = [](const InputRecord& r) { return (r.dwFlags & keyeventfKeyUp) != 0; };
    injector.reset();
    EXPECT_TRUE(injector.holdsInput());
    EXPECT_FALSE(injector.activate(testEpoch + 1, display1080(), desktop1080(), openGate));
    sink.refuse = nullptr;
    EXPECT_TRUE(injector.activate(testEpoch + 1, display1080(), desktop1080(), openGate));
    EXPECT_EQ(sink.records.back(), keyboardRecord(0, 0x1E, 0xA));
}

TEST_F(HeldInput, APressRefusedBySinkIsStillReleasedLater) {
    sink.refuse = [](const InputRecord& r) { return (r.dwFlags & keyeventfKeyUp) == 0; };
    EXPECT_FALSE(injector.trackedSend(keyboardRecord(0, 0x1E, 0x8)));
    EXPECT_TRUE(injector.holdsInput());
    EXPECT_TRUE(injector.releaseAll());
    EXPECT_EQ(sink.records.back(), keyboardRecord(0, 0x1E, 0xA));
}

TEST_F(HeldInput, MovesAndWheelTurnsAreNeverHeld) {
    EXPECT_TRUE(injector.trackedSend(mouseRecord(0xC001, 5, 5)));
    EXPECT_TRUE(injector.trackedSend(mouseRecord(mouseeventfWheel, 0, 0, 120)));
    EXPECT_FALSE(injector.holdsInput());
}

TEST_F(HeldInput, ReleasedStateReleasesEverythingAndForgetsPressedKeys) {
    ASSERT_TRUE(apply(key(59, true)).injected);
    ASSERT_TRUE(apply({{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}}).injected);
    sink.clear();
    ASSERT_TRUE(apply({{"kind", "input.releasedState"}, {"generation", "generation-1"}}).injected);
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(mouseeventfLeftUp), keyboardRecord(0, 0x1D, 0xA)}));
    // Nothing is pressed any more, so releasing the key again sends nothing.
    ASSERT_TRUE(apply(key(59, false)).injected);
    EXPECT_EQ(sink.records.size(), 2u);
}

TEST_F(HeldInput, AReleaseLeftHeldByReleasedStateFailsTheEvent) {
    ASSERT_TRUE(apply(key(0, true)).injected);
    sink.refuse = [](const InputRecord&) { return true; };
    EXPECT_EQ(apply({{"kind", "input.releasedState"}, {"generation", "generation-1"}}).code, "injection_failed");
    EXPECT_FALSE(injector.isActive());
}

}  // namespace
}  // namespace native_worker
