#include "input/input_geometry.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using nlohmann::json;

constexpr std::uint32_t moveFlags = 0xC001;

json absolute(json members) {
    json event{{"kind", "pointer.absolute"}, {"positionX", 0}, {"positionY", 0}};
    event.update(members);
    return event;
}

json move(double dx, double dy) {
    return {{"kind", "pointer.move"}, {"deltaX", dx}, {"deltaY", dy}};
}

json button(const char* name, bool down) {
    return {{"kind", "pointer.button"}, {"button", name}, {"isDown", down}};
}

json scroll(double dx, double dy) {
    return {{"kind", "pointer.scroll"}, {"deltaX", dx}, {"deltaY", dy}};
}

std::int32_t wheelAmount(const InputRecord& record) {
    return static_cast<std::int32_t>(record.mouseData);
}

using PointerInjection = testing::ActiveInjectorTest;

TEST_F(PointerInjection, TheFarCornerOfAFullDesktopIs65535) {
    ASSERT_TRUE(apply(absolute({{"normalizedX", 1}, {"normalizedY", 1}})).injected);
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(moveFlags, 65535, 65535)}));
}

TEST_F(PointerInjection, ASecondDisplayMapsIntoTheWiderDesktop) {
    activate({"2", 1920, 0, 1920, 1080, 1920, 1080}, {0, 0, 3840, 1080});
    ASSERT_TRUE(apply(absolute({{"normalizedX", 0}, {"normalizedY", 0}})).injected);
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(moveFlags, 32776, 0)}));
}

TEST_F(PointerInjection, PicturePositionsAreClampedToTheDisplay) {
    activate({"2", 1920, 0, 1920, 1080, 960, 540}, {0, 0, 3840, 1080});
    ASSERT_TRUE(apply(absolute({{"positionX", -50}, {"positionY", 270}})).injected);
    ASSERT_TRUE(apply(absolute({{"positionX", 1920}, {"positionY", 1e9}})).injected);
    const auto left = absoluteRecord({0, 0, 3840, 1080}, {1920, 540});
    const auto right = absoluteRecord({0, 0, 3840, 1080}, {3839, 1079});
    EXPECT_EQ(sink.records, (std::vector{*left, *right}));
}

TEST(AbsoluteRecord, RoundsHalvesAwayFromZeroAndNeedsAValidDesktop) {
    // 1 x 65535 / 2 = 32767.5
    EXPECT_EQ(absoluteRecord({0, 0, 3, 3}, {1, 1})->dx, 32768);
    EXPECT_EQ(absoluteRecord({-1920, -100, 3840, 1180}, {-1920, -100})->dx, 0);
    EXPECT_EQ(absoluteRecord({0, 0, 1, 1}, {0, 0})->dx, 0);
    EXPECT_FALSE(absoluteRecord({0, 0, 0, 1080}, {0, 0}));
    EXPECT_FALSE(absoluteRecord({0, 0, 1920, 1080}, {std::numeric_limits<double>::quiet_NaN(), 0}));
}

TEST_F(PointerInjection, MovesStartFromTheCursorOrTheDisplayCentre) {
    sink.cursor = Point{100, 100};
    ASSERT_TRUE(apply(move(10, -20)).injected);
    // A cursor off the display, even just past its right or bottom edge, counts from the centre.
    for (const Point outside : {Point{-5, 100}, Point{1920, 100}, Point{100, 1080}}) {
        sink.cursor = outside;
        ASSERT_TRUE(apply(move(10, -20)).injected);
    }
    sink.cursor = Point{0, 0};
    ASSERT_TRUE(apply(move(10, 20)).injected);
    const auto at = [](double x, double y) { return *absoluteRecord(testing::desktop1080(), {x, y}); };
    EXPECT_EQ(sink.records, (std::vector{at(110, 80), at(970, 520), at(970, 520), at(970, 520), at(10, 20)}));
}

TEST_F(PointerInjection, MotionCoordinatesReplaceDeltasOnceKnown) {
    // The picture is half the display's size, so picture pixels count twice.
    activate({"1", 0, 0, 1920, 1080, 960, 540}, testing::desktop1080());
    sink.cursorFollowsMoves = true;
    sink.cursor = Point{500, 500};
    json first = move(3, 3);
    first.update({{"motionX", 100}, {"motionY", 100}});
    json second = move(3, 3);
    second.update({{"motionX", 110}, {"motionY", 95}});
    ASSERT_TRUE(apply(first).injected);
    EXPECT_EQ(sink.cursor, (Point{506, 506}));
    ASSERT_TRUE(apply(second).injected);
    EXPECT_EQ(sink.cursor, (Point{526, 496}));
    ASSERT_TRUE(apply(move(1, 1)).injected);  // without motion, the last one is forgotten
    ASSERT_TRUE(apply(second).injected);
    EXPECT_EQ(sink.cursor, (Point{534, 504}));
}

TEST_F(PointerInjection, AnUnreadableCursorFailsTheMove) {
    sink.cursor.reset();
    EXPECT_EQ(apply(move(1, 1)).code, "injection_failed");
    EXPECT_TRUE(sink.records.empty());
}

TEST_F(PointerInjection, AButtonGoesDownWhereItsEventPointsAndUpWithItsOwnMove) {
    sink.cursor = Point{10, 20};
    json press = button("left", true);
    press.update({{"positionX", 960}, {"positionY", 540}});
    json release = button("left", false);
    release.update({{"positionX", 0}, {"positionY", 0}});
    ASSERT_TRUE(apply(press).injected);
    ASSERT_TRUE(apply(release).injected);
    const InputRecord moved = *absoluteRecord(testing::desktop1080(), {960, 540});
    EXPECT_EQ(sink.records,
              (std::vector{moved, mouseRecord(mouseeventfLeftDown), mouseRecord(mouseeventfLeftUp | moveFlags, 0, 0)}));
}

TEST_F(PointerInjection, AButtonWithoutPositionActsAtTheCursor) {
    sink.cursor = Point{10, 20};
    ASSERT_TRUE(apply(button("right", true)).injected);
    ASSERT_TRUE(apply(button("right", true)).injected);
    ASSERT_TRUE(apply(button("middle", false)).injected);
    ASSERT_TRUE(apply(button("right", false)).injected);
    EXPECT_EQ(sink.records, (std::vector{*absoluteRecord(testing::desktop1080(), {10, 20}),
                                         mouseRecord(mouseeventfRightDown), mouseRecord(mouseeventfRightUp)}));
}

TEST_F(PointerInjection, AHeldButtonIsReleasedOnRevocation) {
    ASSERT_TRUE(apply(button("middle", true)).injected);
    sink.clear();
    injector.reset();
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(mouseeventfMiddleUp)}));
}

TEST_F(PointerInjection, ScrollingSendsWholeUnitsAndKeepsTheFraction) {
    ASSERT_TRUE(apply(scroll(0, 10)).injected);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0], mouseRecord(mouseeventfWheel, 0, 0, 60));
    sink.clear();
    ASSERT_TRUE(apply(scroll(0, 0.1)).injected);
    EXPECT_TRUE(sink.records.empty());
    ASSERT_TRUE(apply(scroll(0, 0.1)).injected);
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(mouseeventfWheel, 0, 0, 1)}));
    sink.clear();
    ASSERT_TRUE(apply(scroll(0, 0.1)).injected);  // 0.2 left over, plus 0.6
    EXPECT_TRUE(sink.records.empty());
    ASSERT_TRUE(apply(scroll(0, 0.05)).injected);  // 0.8 + 0.3 = 1.1
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(mouseeventfWheel, 0, 0, 1)}));
    sink.clear();
    ASSERT_TRUE(apply(scroll(0, -0.2)).injected);  // 0.1 - 1.2 = -1.1
    EXPECT_EQ(sink.records, (std::vector{mouseRecord(mouseeventfWheel, 0, 0, static_cast<std::uint32_t>(-1))}));
}

TEST_F(PointerInjection, HorizontalScrollingIsInvertedAndClamped) {
    ASSERT_TRUE(apply(scroll(100000, 0)).injected);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].dwFlags, mouseeventfHWheel);
    EXPECT_EQ(wheelAmount(sink.records[0]), -120000);
    sink.clear();
    ASSERT_TRUE(apply(scroll(-1, -1)).injected);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0], mouseRecord(mouseeventfHWheel, 0, 0, 6));
    EXPECT_EQ(wheelAmount(sink.records[1]), -6);
    EXPECT_EQ(sink.records[1].dwFlags, mouseeventfWheel);
}

}  // namespace
}  // namespace native_worker
