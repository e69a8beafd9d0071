#include "input/input_event.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace native_worker {
namespace {

using nlohmann::json;
using testing::EventTexts;

std::string code(std::string_view text) {
    return parseInputEvent(text).code;
}

std::string code(const char* text) {
    return code(std::string_view(text));
}

std::string code(const std::string& text) {
    return code(std::string_view(text));
}

std::string code(const json& members) {
    EventTexts events;
    return code(events(members));
}

json nested(int levels, json innermost) {
    for (int i = 0; i < levels; ++i) innermost = json{{"a", innermost}};
    return innermost;
}

TEST(ParseInputEvent, ReadsEveryMember) {
    const auto result = parseInputEvent(
        R"({"kind":"pointer.button","sequence":18446744073709551615,"inputEpoch":9007199254740991,)"
        R"("generation":"g","button":"left","text":"t","displayId":"1","deltaX":-1.5,"deltaY":2,)"
        R"("positionX":3,"positionY":4,"motionX":5,"motionY":6,"normalizedX":0,"normalizedY":1,"isDown":true,)"
        R"("keyCode":65535,"modifiers":{"rawValue":65535,"other":[1]},"pressedKeys":["a"],"pressedButtons":[],)"
        R"("unknown":{"x":null}})");
    ASSERT_EQ(result.code, "");
    const InputEvent& e = *result.event;
    EXPECT_EQ(e.kind, "pointer.button");
    EXPECT_EQ(e.sequence, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(e.inputEpoch, 9007199254740991u);
    EXPECT_EQ(e.generation, "g");
    EXPECT_EQ(e.button, "left");
    EXPECT_EQ(e.text, "t");
    EXPECT_EQ(e.displayId, "1");
    EXPECT_EQ(e.deltaX, -1.5);
    EXPECT_EQ(e.deltaY, 2.0);
    EXPECT_EQ(e.positionX, 3.0);
    EXPECT_EQ(e.positionY, 4.0);
    EXPECT_EQ(e.motionX, 5.0);
    EXPECT_EQ(e.motionY, 6.0);
    EXPECT_EQ(e.normalizedX, 0.0);
    EXPECT_EQ(e.normalizedY, 1.0);
    EXPECT_EQ(e.isDown, true);
    EXPECT_EQ(e.keyCode, 65535u);
    EXPECT_EQ(e.modifiers, 65535u);
}

TEST(ParseInputEvent, SizeIsCheckedBeforeParsing) {
    EXPECT_EQ(code(""), "input_size");
    const std::string event = EventTexts{}(json{{"kind", "pointer.scroll"}, {"deltaX", 0}, {"deltaY", 0}});
    const std::string padded = event + std::string(65536 - event.size(), ' ');
    EXPECT_EQ(code(padded), "");
    EXPECT_EQ(code(padded + " "), "input_size");
    EXPECT_EQ(code(std::string(65537, '{')), "input_size");
}

json scrollWith(json extra) {
    json members{{"kind", "pointer.scroll"}, {"deltaX", 0}, {"deltaY", 0}};
    members.update(extra);
    return members;
}

TEST(ParseInputEvent, NestingStopsAtDepthTwelve) {
    // The member "deep" sits at depth 1, so its value nests eleven levels below it.
    EXPECT_EQ(code(scrollWith({{"deep", nested(11, 0)}})), "");
    EXPECT_EQ(code(scrollWith({{"deep", nested(11, json::object())}})), "");
    EXPECT_EQ(code(scrollWith({{"deep", nested(11, json::array())}})), "");
    EXPECT_EQ(code(scrollWith({{"deep", nested(12, 0)}})), "invalid_input");
    EXPECT_EQ(code(scrollWith({{"deep", nested(11, json::array({json::object()}))}})), "invalid_input");
}

TEST(ParseInputEvent, RefusesAKeyRepeatedWithinOneObject) {
    const std::string tail = R"("sequence":1,"inputEpoch":7,"deltaX":0,"deltaY":0,"modifiers":{"rawValue":0},)"
                             R"("pressedKeys":[],"pressedButtons":[])";
    EXPECT_EQ(code(R"({"kind":"pointer.scroll","kind":"pointer.scroll",)" + tail + "}"), "invalid_input");
    EXPECT_EQ(code(R"({"kind":"pointer.scroll","x":{"a":1,"b":{"a":2},"a":3},)" + tail + "}"), "invalid_input");
    EXPECT_EQ(code(R"({"kind":"pointer.scroll","x":{"a":1},"y":{"a":{"a":1}},"z":[{"a":1},{"a":2}],)" + tail + "}"),
              "");
}

TEST(ParseInputEvent, RefusesWhatIsNotOneJsonObject) {
    EXPECT_EQ(code("[]"), "invalid_input");
    EXPECT_EQ(code("7"), "invalid_input");
    EXPECT_EQ(code("{"), "invalid_input");
    const std::string event = EventTexts{}(json{{"kind", "pointer.scroll"}, {"deltaX", 0}, {"deltaY", 0}});
    EXPECT_EQ(code(event + " \n\t"), "");
    EXPECT_EQ(code(event + "{}"), "invalid_input");
    EXPECT_EQ(code(event + "/* comment */"), "invalid_input");
    EXPECT_EQ(code("\"" + event), "invalid_input");
}

struct MemberCase {
    const char* name;
    json members;
    const char* expected;
};

class MemberRules : public ::testing::TestWithParam<MemberCase> {};

TEST_P(MemberRules, GiveTheirCode) {
    EXPECT_EQ(code(GetParam().members), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ParseInputEvent, MemberRules,
    ::testing::Values(
        MemberCase{"sequence_largest", scrollWith({{"sequence", std::numeric_limits<std::uint64_t>::max()}}), ""},
        MemberCase{"sequence_zero", scrollWith({{"sequence", 0}}), ""},
        MemberCase{"sequence_fraction", scrollWith({{"sequence", 1.0}}), "invalid_input"},
        MemberCase{"sequence_negative", scrollWith({{"sequence", -1}}), "invalid_input"},
        MemberCase{"sequence_beyond_64_bits", scrollWith({{"sequence", 18446744073709551616.0}}), "invalid_input"},
        MemberCase{"sequence_text", scrollWith({{"sequence", "1"}}), "invalid_input"},
        MemberCase{"epoch_largest", scrollWith({{"inputEpoch", 9007199254740991u}}), ""},
        MemberCase{"epoch_too_large", scrollWith({{"inputEpoch", 9007199254740992u}}), "invalid_input"},
        MemberCase{"kind_not_text", scrollWith({{"kind", 1}}), "invalid_input"},
        MemberCase{"generation_64", scrollWith({{"generation", std::string(64, 'g')}}), ""},
        MemberCase{"generation_65", scrollWith({{"generation", std::string(65, 'g')}}), "invalid_input"},
        MemberCase{"generation_number", scrollWith({{"generation", 1}}), "invalid_input"},
        MemberCase{"button_33", scrollWith({{"button", std::string(33, 'b')}}), "invalid_input"},
        MemberCase{"text_4096", scrollWith({{"text", std::string(4096, 't')}}), ""},
        MemberCase{"text_4097", scrollWith({{"text", std::string(4097, 't')}}), "invalid_input"},
        MemberCase{"display_256", scrollWith({{"displayId", std::string(256, 'd')}}), ""},
        MemberCase{"display_257", scrollWith({{"displayId", std::string(257, 'd')}}), "invalid_input"},
        MemberCase{"delta_at_limit", scrollWith({{"deltaX", 1e9}, {"deltaY", -1000000000}}), ""},
        MemberCase{"delta_beyond_limit", scrollWith({{"deltaX", 1000000000.5}}), "invalid_input"},
        MemberCase{"delta_text", scrollWith({{"deltaY", "1"}}), "invalid_input"},
        MemberCase{"position_beyond_limit", scrollWith({{"positionX", -1e10}}), "invalid_input"},
        MemberCase{"is_down_number", scrollWith({{"isDown", 1}}), "invalid_input"},
        MemberCase{"key_code_largest", scrollWith({{"keyCode", 65535}}), ""},
        MemberCase{"key_code_too_large", scrollWith({{"keyCode", 65536}}), "invalid_input"},
        MemberCase{"modifiers_too_large", scrollWith({{"modifiers", {{"rawValue", 65536}}}}), "invalid_input"},
        MemberCase{"modifiers_without_raw_value", scrollWith({{"modifiers", json::object()}}), "invalid_input"},
        MemberCase{"modifiers_not_object", scrollWith({{"modifiers", 0}}), "invalid_input"},
        MemberCase{"pressed_keys_32", scrollWith({{"pressedKeys", json(std::vector<std::string>(32, "k"))}}), ""},
        MemberCase{"pressed_keys_33", scrollWith({{"pressedKeys", json(std::vector<std::string>(33, "k"))}}),
                   "invalid_input"},
        MemberCase{"pressed_keys_number", scrollWith({{"pressedKeys", {1}}}), "invalid_input"},
        MemberCase{"pressed_keys_object", scrollWith({{"pressedKeys", json::object()}}), "invalid_input"},
        MemberCase{"pressed_buttons_9", scrollWith({{"pressedButtons", json(std::vector<std::string>(9, "b"))}}),
                   "invalid_input"},
        MemberCase{"motion_unpaired", scrollWith({{"motionX", 1}}), "invalid_input"},
        MemberCase{"normalized_unpaired", scrollWith({{"normalizedX", 0.5}}), "invalid_input"},
        MemberCase{"normalized_outside", scrollWith({{"normalizedX", 1.5}, {"normalizedY", 0}}), "invalid_input"},
        MemberCase{"normalized_edges", scrollWith({{"normalizedX", 0}, {"normalizedY", 1}}), ""}),
    testing::CaseName{});

TEST(ParseInputEvent, RequiresTheCommonMembersOfEveryKind) {
    for (const char* member : {"kind", "sequence", "modifiers", "pressedKeys", "pressedButtons"}) {
        std::string event = EventTexts{}(scrollWith(json::object()));
        json parsed = json::parse(event);
        parsed.erase(member);
        EXPECT_EQ(code(parsed.dump()), "invalid_input") << member;
    }
    json withoutEpoch = json::parse(EventTexts{}(scrollWith(json::object())));
    withoutEpoch.erase("inputEpoch");
    EXPECT_EQ(code(withoutEpoch.dump()), "");
}

class KindRules : public ::testing::TestWithParam<MemberCase> {};

TEST_P(KindRules, GiveTheirCode) {
    EXPECT_EQ(code(GetParam().members), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ParseInputEvent, KindRules,
    ::testing::Values(
        MemberCase{"move", {{"kind", "pointer.move"}, {"deltaX", 1}, {"deltaY", 1}}, ""},
        MemberCase{"move_without_delta_y", {{"kind", "pointer.move"}, {"deltaX", 1}}, "input_fields"},
        MemberCase{"move_normalized",
                   {{"kind", "pointer.move"}, {"deltaX", 1}, {"deltaY", 1}, {"normalizedX", 0}, {"normalizedY", 0}},
                   "input_fields"},
        MemberCase{"absolute", {{"kind", "pointer.absolute"}, {"positionX", 1}, {"positionY", 1}}, ""},
        MemberCase{"absolute_without_position", {{"kind", "pointer.absolute"}, {"positionX", 1}}, "input_fields"},
        MemberCase{"absolute_motion",
                   {{"kind", "pointer.absolute"}, {"positionX", 1}, {"positionY", 1}, {"motionX", 1}, {"motionY", 1}},
                   "input_fields"},
        MemberCase{"scroll_without_delta", {{"kind", "pointer.scroll"}, {"deltaY", 1}}, "input_fields"},
        MemberCase{"button", {{"kind", "pointer.button"}, {"button", "middle"}, {"isDown", false}}, ""},
        MemberCase{"button_back", {{"kind", "pointer.button"}, {"button", "back"}, {"isDown", true}}, "input_fields"},
        MemberCase{"button_without_is_down", {{"kind", "pointer.button"}, {"button", "left"}}, "input_fields"},
        MemberCase{"button_half_position",
                   {{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}, {"positionX", 1}},
                   "input_fields"},
        MemberCase{
            "button_normalized_without_position",
            {{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}, {"normalizedX", 0}, {"normalizedY", 0}},
            "input_fields"},
        MemberCase{"button_normalized_with_position",
                   {{"kind", "pointer.button"},
                    {"button", "left"},
                    {"isDown", true},
                    {"positionX", 1},
                    {"positionY", 1},
                    {"normalizedX", 0},
                    {"normalizedY", 0}},
                   ""},
        MemberCase{"key", {{"kind", "keyboard.key"}, {"keyCode", 0}, {"isDown", true}}, ""},
        MemberCase{"key_without_code", {{"kind", "keyboard.key"}, {"isDown", true}}, "input_fields"},
        MemberCase{"text", {{"kind", "keyboard.text"}, {"text", "a"}}, ""},
        MemberCase{"text_empty", {{"kind", "keyboard.text"}, {"text", ""}}, "input_fields"},
        MemberCase{"released_state", {{"kind", "input.releasedState"}, {"generation", "g"}}, ""},
        MemberCase{"released_state_without_generation", {{"kind", "input.releasedState"}}, "input_fields"},
        MemberCase{"unknown_kind", {{"kind", "pointer.wheel"}}, "unsupported_kind"},
        MemberCase{"unknown_kind_after_member_rules", {{"kind", "pointer.wheel"}, {"motionX", 1}}, "invalid_input"}),
    testing::CaseName{});

}  // namespace
}  // namespace native_worker
