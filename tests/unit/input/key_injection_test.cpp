#include "input/key_map.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using testing::key;
using testing::text;

constexpr std::uint32_t down = keyeventfScanCode;
constexpr std::uint32_t up = keyeventfScanCode | keyeventfKeyUp;
const InputRecord shiftDown = keyboardRecord(0, 0x2A, down);
const InputRecord shiftUp = keyboardRecord(0, 0x2A, up);
const InputRecord aDown = keyboardRecord(0, 0x1E, down);
const InputRecord aUp = keyboardRecord(0, 0x1E, up);

using KeyInjection = testing::ActiveInjectorTest;

TEST_F(KeyInjection, ShiftThenAPressesShiftFirstAndKeepsItForA) {
    ASSERT_TRUE(apply(key(56, true)).injected);
    ASSERT_TRUE(apply(key(0, true, 0x01)).injected);
    EXPECT_EQ(sink.records, (std::vector{shiftDown, aDown}));
    ASSERT_TRUE(apply(key(0, false)).injected);
    EXPECT_EQ(sink.records.back(), aUp);
    EXPECT_EQ(sink.records.size(), 3u);
    ASSERT_TRUE(apply(key(56, false)).injected);
    EXPECT_EQ(sink.records.back(), shiftUp);
}

TEST_F(KeyInjection, ModifierBitsPressTheLeftHandKeysForAsLongAsAKeyCarriesThem) {
    ASSERT_TRUE(apply(key(0, true, 0x0F)).injected);
    EXPECT_EQ(sink.records, (std::vector{shiftDown, keyboardRecord(0, 0x1D, down), keyboardRecord(0, 0x38, down),
                                         keyboardRecord(0, 0x5B, down | keyeventfExtendedKey), aDown}));
    sink.clear();
    ASSERT_TRUE(apply(key(0, false)).injected);
    // A first, then the modifiers in the order of their held keys.
    EXPECT_EQ(sink.records, (std::vector{aUp, keyboardRecord(0, 0x1D, up), shiftUp, keyboardRecord(0, 0x38, up),
                                         keyboardRecord(0, 0x5B, up | keyeventfExtendedKey)}));
}

TEST_F(KeyInjection, AReleasedShiftStaysDownWhileAnotherKeyImpliesIt) {
    ASSERT_TRUE(apply(key(56, true)).injected);
    ASSERT_TRUE(apply(key(1, true, 0x01)).injected);
    ASSERT_TRUE(apply(key(56, false)).injected);
    EXPECT_EQ(sink.records, (std::vector{shiftDown, keyboardRecord(0, 0x1F, down)}));
    ASSERT_TRUE(apply(key(1, false)).injected);
    EXPECT_EQ(sink.records,
              (std::vector{shiftDown, keyboardRecord(0, 0x1F, down), keyboardRecord(0, 0x1F, up), shiftUp}));
}

TEST_F(KeyInjection, RepeatedPressesAndStrayReleasesSendNothing) {
    ASSERT_TRUE(apply(key(0, true, 0x01)).injected);
    ASSERT_TRUE(apply(key(0, true)).injected);  // the bits of the first press stay
    ASSERT_TRUE(apply(key(2, false)).injected);
    EXPECT_EQ(sink.records, (std::vector{shiftDown, aDown}));
}

struct KeyRecordCase {
    const char* name;
    std::int64_t keyCode;
    InputRecord press;
};

class KeyRecords : public testing::ActiveInjectorTest, public ::testing::WithParamInterface<KeyRecordCase> {};

TEST_P(KeyRecords, PressAndReleaseCarryTheMappedCodes) {
    ASSERT_TRUE(apply(key(GetParam().keyCode, true)).injected);
    ASSERT_TRUE(apply(key(GetParam().keyCode, false)).injected);
    InputRecord release = GetParam().press;
    release.dwFlags |= keyeventfKeyUp;
    EXPECT_EQ(sink.records, (std::vector{GetParam().press, release}));
}

INSTANTIATE_TEST_SUITE_P(
    KeyInjection, KeyRecords,
    ::testing::Values(KeyRecordCase{"num_lock_extended", 71, keyboardRecord(0, 0x45, down | keyeventfExtendedKey)},
                      KeyRecordCase{"f13_by_virtual_key", 105, keyboardRecord(0x7C, 0, 0)},
                      KeyRecordCase{"f20_by_virtual_key", 90, keyboardRecord(0x83, 0, 0)},
                      KeyRecordCase{"keypad_enter", 76, keyboardRecord(0, 0x1C, down | keyeventfExtendedKey)},
                      KeyRecordCase{"return", 36, keyboardRecord(0, 0x1C, down)},
                      KeyRecordCase{"right_ctrl", 62, keyboardRecord(0, 0x1D, down | keyeventfExtendedKey)},
                      KeyRecordCase{"escape", 53, keyboardRecord(0, 0x01, down)},
                      KeyRecordCase{"up_arrow", 126, keyboardRecord(0, 0x48, down | keyeventfExtendedKey)},
                      KeyRecordCase{"f12", 111, keyboardRecord(0, 0x58, down)}),
    testing::CaseName{});

TEST(KeyMap, HoldsTheHundredAndEightSupportedCodes) {
    int supported = 0;
    for (std::int64_t code = -1; code <= 200; ++code) supported += findKey(code) != nullptr;
    EXPECT_EQ(supported, 108);
    for (const std::int64_t missing : {10, 52, 63, 66, 68, 70, 72, 73, 74, 77, 81, 93, 94, 95, 102, 104, 108, 110, 112})
        EXPECT_EQ(findKey(missing), nullptr) << missing;
    EXPECT_EQ(findKey(65535), nullptr);
}

const InputRecord unit(char16_t value, bool release) {
    return keyboardRecord(0, value, keyeventfUnicode | (release ? keyeventfKeyUp : 0));
}

TEST_F(KeyInjection, TextIsTypedAsUnicodeUnits) {
    ASSERT_TRUE(apply(text("\xC3\xA9")).injected);
    EXPECT_EQ(sink.records, (std::vector{unit(0xE9, false), unit(0xE9, true)}));
    sink.clear();
    ASSERT_TRUE(apply(text("\xF0\x9F\x98\x80")).injected);
    EXPECT_EQ(sink.records,
              (std::vector{unit(0xD83D, false), unit(0xD83D, true), unit(0xDE00, false), unit(0xDE00, true)}));
    EXPECT_FALSE(injector.holdsInput());
}

TEST_F(KeyInjection, ATextOfMoreThan4096UnitsFailsWhole) {
    // Built here: a message's text holds at most 4096 bytes.
    InputEvent event = *parseInputEvent(events(text("a"))).event;
    event.text = std::string(4096, 'a');
    ASSERT_TRUE(injector.apply(event).injected);
    EXPECT_EQ(sink.records.size(), 8192u);
    ++event.sequence;
    event.text = std::string(4097, 'a');
    EXPECT_EQ(injector.apply(event).code, "injection_failed");
    EXPECT_EQ(sink.records.size(), 8192u);
}

TEST_F(KeyInjection, TextLeavesHeldKeysAlone) {
    ASSERT_TRUE(apply(key(56, true)).injected);
    ASSERT_TRUE(apply(text("ab")).injected);
    ASSERT_TRUE(apply(key(0, true)).injected);
    EXPECT_EQ(sink.records.back(), aDown);
    EXPECT_EQ(sink.records.size(), 6u);
}

TEST_F(KeyInjection, ARefusedUnitEndsTheTextAndReleasesWhatItPressed) {
    sink.refuse = [](const InputRecord& r) { return r.wScan == 'b' && (r.dwFlags & keyeventfKeyUp); };
    EXPECT_EQ(apply(text("abc")).code, "injection_failed");
    // "b" stays held after its refused release, and the reset tries again.
    EXPECT_EQ(sink.records,
              (std::vector{unit('a', false), unit('a', true), unit('b', false), unit('b', true), unit('b', true)}));
    EXPECT_TRUE(injector.holdsInput());
    sink.refuse = nullptr;
    injector.reset();
    EXPECT_FALSE(injector.holdsInput());
}

}  // namespace
}  // namespace native_worker
