#include "base/protocol_error.h"
#include "fixed_source_list.h"
#include "media/displays.h"
#include "scripted_displays.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using platform::Monitor;

// Primary in the middle, one monitor left of it and one above it.
std::vector<Monitor> threeMonitorLayout() {
    return {{11, {-1280, 0, 0, 1024}, false, "\\\\.\\DISPLAY2"},
            {22, {0, 0, 1920, 1080}, true, "\\\\.\\DISPLAY1"},
            {33, {0, -900, 1600, 0}, false, "\\\\.\\DISPLAY3"}};
}

class ThreeMonitors : public ::testing::Test {
protected:
    ThreeMonitors() { displays.setMonitors(threeMonitorLayout()); }
    scripted::ScriptedDisplays displays;
};

TEST_F(ThreeMonitors, ResolveNumbersDeviceNamesAndHandles) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases{
        {"0", 22},
        {"00", 22},
        {"0x0", 22},
        {"1", 22},
        {"2", 11},
        {"3", 33},
        {"\\\\.\\DISPLAY3", 33},
        {"33", 33},  // no \\.\DISPLAY33, but a monitor handle
        {"65", std::nullopt},
        {"12abc", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"\\\\.\\display3", std::nullopt},
        {"4", std::nullopt},
        {std::string(33, '1'), std::nullopt},
        {"0x16", 22}};
    for (const auto& [id, expected] : cases) EXPECT_EQ(resolveMonitor(displays, id), expected) << id;
}

TEST(ResolveMonitor, PrimaryFallsBackToTheFirstMonitor) {
    scripted::ScriptedDisplays displays;
    displays.setMonitors(
        {{5, {0, 0, 800, 600}, false, "\\\\.\\DISPLAY1"}, {6, {800, 0, 1600, 600}, false, "\\\\.\\DISPLAY2"}});
    EXPECT_EQ(resolveMonitor(displays, "0"), 5u);
}

TEST_F(ThreeMonitors, EntriesInSourceOrderWithNegativeOrigins) {
    testing::FixedSourceList sources({"2", "1", "3"});
    const DisplayList list = buildDisplayList(displays, &sources);
    EXPECT_EQ(list.entries.dump(),
              "[{\"frameHeight\":1024,\"frameWidth\":1280,\"frameX\":-1280,\"frameY\":0,\"id\":\"2\",\"isMain\":false,"
              "\"pixelHeight\":1024,\"pixelWidth\":1280},"
              "{\"frameHeight\":1080,\"frameWidth\":1920,\"frameX\":0,\"frameY\":0,\"id\":\"1\",\"isMain\":true,"
              "\"pixelHeight\":1080,\"pixelWidth\":1920},"
              "{\"frameHeight\":900,\"frameWidth\":1600,\"frameX\":0,\"frameY\":-900,\"id\":\"3\",\"isMain\":false,"
              "\"pixelHeight\":900,\"pixelWidth\":1600}]");
    EXPECT_EQ(list.capturedMonitor, 11u);
    const CaptureTarget target = recordCaptureTarget(displays, "2", list.capturedMonitor);
    EXPECT_EQ(target.display.frameX, -1280);
    EXPECT_EQ(target.display.pixelWidth, 1280);
    EXPECT_EQ(target.desktop.x, -1280);
    EXPECT_EQ(target.desktop.y, -900);
    EXPECT_EQ(target.desktop.width, 3200);
    EXPECT_EQ(target.desktop.height, 1980);
}

TEST_F(ThreeMonitors, OnlyALaterSourceResolves) {
    testing::FixedSourceList sources({"nope", "3"});
    const DisplayList list = buildDisplayList(displays, &sources);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0]["id"], "3");
    EXPECT_EQ(list.capturedMonitor, 0u);
    // The capture target then spans the whole desktop, under source 0's id.
    const CaptureTarget target = recordCaptureTarget(displays, "nope", list.capturedMonitor);
    EXPECT_EQ(target.display.id, "nope");
    EXPECT_EQ(target.display.frameWidth, 3200);
}

TEST_F(ThreeMonitors, NoSourceResolvesGivesTheVirtualDesktop) {
    testing::FixedSourceList sources({"x", "y"});
    const DisplayList list = buildDisplayList(displays, &sources);
    EXPECT_EQ(
        list.entries.dump(),
        "[{\"frameHeight\":1980,\"frameWidth\":3200,\"frameX\":-1280,\"frameY\":-900,\"id\":\"x\",\"isMain\":true,"
        "\"pixelHeight\":1980,\"pixelWidth\":3200}]");
    EXPECT_EQ(list.capturedMonitor, 22u);
}

TEST(DisplayList, NothingToCaptureIsCaptureUnavailable) {
    scripted::ScriptedDisplays none;
    none.setMonitors({});
    testing::FixedSourceList sources({"1"});
    EXPECT_THROW(buildDisplayList(none, &sources), ProtocolError);
    EXPECT_THROW(buildDisplayList(none, nullptr), ProtocolError);
    testing::FixedSourceList empty({});
    scripted::ScriptedDisplays displays;
    EXPECT_THROW(buildDisplayList(displays, &empty), ProtocolError);
    EXPECT_THROW(recordCaptureTarget(none, "1", 0), ProtocolError);
}

}  // namespace
}  // namespace native_worker
