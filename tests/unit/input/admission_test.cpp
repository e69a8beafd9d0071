#include "input/key_map.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using nlohmann::json;
using testing::ActiveInjectorTest;
using testing::key;

json scroll() {
    return {{"kind", "pointer.scroll"}, {"deltaX", 0}, {"deltaY", 10}};
}

json withMembers(json members, const json& extra) {
    members.update(extra);
    return members;
}

using Admission = ActiveInjectorTest;

TEST_F(Admission, NothingIsAdmittedBeforeActivation) {
    kelvarn::input::RecordingSink idleSink;
    InputInjector idle(testing::testIdentity(), idleSink);
    EXPECT_EQ(idle.apply(events(scroll())).code, "input_scope");
    EXPECT_EQ(idle.apply("not json").code, "input_scope");
    EXPECT_TRUE(idleSink.records.empty());
}

TEST_F(Admission, ParseCodesPassThrough) {
    EXPECT_EQ(injector.apply("").code, "input_size");
    EXPECT_EQ(injector.apply("{").code, "invalid_input");
    EXPECT_EQ(apply({{"kind", "pointer.spin"}}).code, "unsupported_kind");
    EXPECT_EQ(apply({{"kind", "keyboard.text"}, {"text", ""}}).code, "input_fields");
}

TEST_F(Admission, EventsMustNameTheActiveEpochAndGeneration) {
    json withoutEpoch = json::parse(events(scroll()));
    withoutEpoch.erase("inputEpoch");
    EXPECT_EQ(injector.apply(withoutEpoch.dump()).code, "input_scope");
    EXPECT_EQ(apply(withMembers(scroll(), {{"inputEpoch", testing::testEpoch - 1}})).code, "input_scope");
    EXPECT_EQ(apply(withMembers(scroll(), {{"generation", "generation-2"}})).code, "input_scope");
    EXPECT_EQ(apply(withMembers(scroll(), {{"generation", "generation-1"}})).code, "");
}

TEST_F(Admission, EventsMayOnlyNameTheCapturedDisplay) {
    EXPECT_EQ(apply(withMembers(scroll(), {{"displayId", "2"}})).code, "input_display");
    EXPECT_EQ(apply(withMembers(scroll(), {{"displayId", "1"}})).code, "");
    EXPECT_EQ(apply(scroll()).code, "");
}

struct KeyCase {
    const char* name;
    json event;
    const char* expected;
};

class KeyAdmission : public ActiveInjectorTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyAdmission, GivesItsCode) {
    EXPECT_EQ(apply(GetParam().event).code, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Admission, KeyAdmission,
                         ::testing::Values(KeyCase{"unmapped_press", key(52, true), "unsupported_key"},
                                           KeyCase{"unmapped_release", key(52, false), "unsupported_key"},
                                           KeyCase{"beyond_map", key(127, true), "unsupported_key"},
                                           KeyCase{"all_modifier_bits", key(0, true, 0x0F), ""},
                                           KeyCase{"function_bit_on_f5", key(96, true, 0x20), ""},
                                           KeyCase{"function_bit_on_f20", key(90, true, 0x20), ""},
                                           KeyCase{"function_bit_on_a", key(0, true, 0x20), "unsupported_modifiers"},
                                           KeyCase{"bit_0x10", key(0, true, 0x10), "unsupported_modifiers"},
                                           KeyCase{"high_bit", key(96, true, 0x100), "unsupported_modifiers"},
                                           KeyCase{"release_not_checked", key(0, false, 0x10), ""}),
                         testing::CaseName{});

TEST_F(Admission, AtMostThirtyTwoKeysArePressed) {
    std::vector<std::int64_t> codes;
    for (std::int64_t code = 0; codes.size() < 33; ++code)
        if (findKey(code)) codes.push_back(code);
    for (std::size_t i = 0; i < 32; ++i) ASSERT_EQ(apply(key(codes[i], true)).code, "") << codes[i];
    EXPECT_EQ(apply(key(codes.back(), true)).code, "pressed_key_limit");
    EXPECT_EQ(apply(key(codes.front(), true)).code, "");
    EXPECT_EQ(apply(key(codes.front(), false)).code, "");
    EXPECT_EQ(apply(key(codes.back(), true)).code, "");
}

TEST_F(Admission, EachChannelKeepsItsOwnSequence) {
    const json control = key(0, false);
    EXPECT_EQ(apply(withMembers(control, {{"sequence", 5}})).code, "");
    EXPECT_EQ(apply(withMembers(control, {{"sequence", 5}})).code, "input_sequence");
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 1}})).code, "");
    EXPECT_EQ(apply(withMembers(control, {{"sequence", 6}})).code, "");
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 1}})).code, "input_sequence");
    EXPECT_EQ(apply(withMembers(control, {{"sequence", 4}})).code, "input_sequence");
}

TEST_F(Admission, TheFirstEventOfAChannelMayCarryAnySequence) {
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 0}})).code, "");
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 0}})).code, "input_sequence");
}

TEST_F(Admission, ARefusedEventChangesNothing) {
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 10}, {"displayId", "2"}})).code, "input_display");
    EXPECT_EQ(apply(withMembers(key(0, true, 0x10), {{"sequence", 10}})).code, "unsupported_modifiers");
    EXPECT_TRUE(sink.records.empty());
    EXPECT_EQ(apply(withMembers(scroll(), {{"sequence", 5}})).code, "");
    EXPECT_EQ(apply(withMembers(key(0, false), {{"sequence", 5}})).code, "");
}

// Each event breaks every rule from its position on; the first one decides.
TEST_F(Admission, CodesFollowTheOrderOfTheChecks) {
    ASSERT_EQ(apply(withMembers(key(0, false), {{"sequence", 100}})).code, "");
    const json allWrong = withMembers(
        key(52, true, 0x10), {{"sequence", 1}, {"inputEpoch", 1}, {"generation", "other"}, {"displayId", "2"}});
    EXPECT_EQ(apply(allWrong).code, "input_scope");
    EXPECT_EQ(apply(withMembers(allWrong, {{"inputEpoch", testing::testEpoch}})).code, "input_scope");
    EXPECT_EQ(apply(withMembers(allWrong, {{"inputEpoch", testing::testEpoch}, {"generation", "generation-1"}})).code,
              "input_display");
    const json keyWrong =
        withMembers(allWrong, {{"inputEpoch", testing::testEpoch}, {"generation", "generation-1"}, {"displayId", "1"}});
    EXPECT_EQ(apply(keyWrong).code, "unsupported_key");
    EXPECT_EQ(apply(withMembers(keyWrong, {{"keyCode", 0}})).code, "unsupported_modifiers");
    EXPECT_EQ(apply(withMembers(keyWrong, {{"keyCode", 0}, {"modifiers", {{"rawValue", 0}}}})).code, "input_sequence");
    EXPECT_EQ(apply(withMembers(keyWrong, {{"keyCode", 0}, {"modifiers", {{"rawValue", 0}}}, {"sequence", 101}})).code,
              "");
}

TEST_F(Admission, AFailedInjectionRevokesAndReleases) {
    ASSERT_EQ(apply(withMembers(key(0, true), {{"sequence", 50}})).code, "");
    sink.refuse = [](const kelvarn::input::InputRecord& r) { return r.type == kelvarn::input::inputMouse; };
    EXPECT_EQ(apply(scroll()).code, "injection_failed");
    EXPECT_FALSE(injector.isActive());
    EXPECT_FALSE(injector.holdsInput());
    EXPECT_EQ(sink.accepted().back(), kelvarn::input::keyboardRecord(0, 0x1E, 0x8 | 0x2));
    EXPECT_EQ(apply(key(0, true)).code, "input_scope");
    // The counters started over with the next activation.
    ASSERT_TRUE(
        injector.activate(testing::testEpoch + 1, testing::display1080(), testing::desktop1080(), testing::openGate));
    EXPECT_EQ(apply(withMembers(key(0, true), {{"sequence", 1}, {"inputEpoch", testing::testEpoch + 1}})).code, "");
}

}  // namespace
}  // namespace native_worker
