#include "input/input_event_reader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// The streaming reader against the member rules stated the plain way: the
// whole message parsed into a JSON value under a parser callback that bounds
// the nesting and refuses repeated keys, then each member read from it.
namespace native_worker {
namespace {

using Json = nlohmann::json;

struct Refused {};

class StructureLimits {
public:
    bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
        if (depth > 12) throw Refused{};
        const auto level = static_cast<std::size_t>(depth);
        if (event == Json::parse_event_t::object_start) keys_[level + 1].clear();
        if (event == Json::parse_event_t::key && !keys_[level].insert(parsed.get<std::string>()).second)
            throw Refused{};
        return true;
    }

private:
    std::array<std::set<std::string>, 14> keys_;
};

std::uint64_t integer(const Json& value, std::uint64_t maximum) {
    if (!value.is_number_integer() || (!value.is_number_unsigned() && value.get<std::int64_t>() < 0)) throw Refused{};
    const auto result = value.get<std::uint64_t>();
    if (result > maximum) throw Refused{};
    return result;
}

double number(const Json& value) {
    if (!value.is_number()) throw Refused{};
    const auto result = value.get<double>();
    if (!std::isfinite(result) || std::fabs(result) > 1e9) throw Refused{};
    return result;
}

std::optional<InputEvent> referenceRead(std::string_view text) {
    try {
        StructureLimits limits;
        const Json message = Json::parse(
            text.begin(), text.end(),
            [&limits](int depth, Json::parse_event_t event, Json& parsed) { return limits(depth, event, parsed); },
            true, false);
        if (!message.is_object()) return std::nullopt;
        InputEvent e;
        const auto string = [&](const char* key, std::size_t limit, std::optional<std::string>& target) {
            if (!message.contains(key)) return;
            target = message[key].get<std::string>();
            if (target->size() > limit) throw Refused{};
        };
        e.kind = message.at("kind").get<std::string>();
        e.sequence = integer(message.at("sequence"), std::numeric_limits<std::uint64_t>::max());
        if (message.contains("inputEpoch")) e.inputEpoch = integer(message["inputEpoch"], largestInputEpoch);
        string("generation", 64, e.generation);
        string("button", 32, e.button);
        string("text", 4096, e.text);
        string("displayId", 256, e.displayId);
        for (auto [key, target] : {std::pair{"deltaX", &e.deltaX},
                                   {"deltaY", &e.deltaY},
                                   {"positionX", &e.positionX},
                                   {"positionY", &e.positionY},
                                   {"motionX", &e.motionX},
                                   {"motionY", &e.motionY},
                                   {"normalizedX", &e.normalizedX},
                                   {"normalizedY", &e.normalizedY}})
            if (message.contains(key)) *target = number(message[key]);
        if (message.contains("isDown")) e.isDown = message["isDown"].get<bool>();
        if (message.contains("keyCode")) e.keyCode = static_cast<std::uint32_t>(integer(message["keyCode"], 65535));
        e.modifiers = static_cast<std::uint32_t>(integer(message.at("modifiers").at("rawValue"), 65535));
        for (auto [key, bound] : {std::pair{"pressedKeys", 32u}, {"pressedButtons", 8u}}) {
            const Json& list = message.at(key);
            if (!list.is_array() || list.size() > bound) throw Refused{};
            for (const Json& element : list)
                if (!element.is_string()) throw Refused{};
        }
        const auto fraction = [](const std::optional<double>& v) { return !v || (*v >= 0 && *v <= 1); };
        if (e.motionX.has_value() != e.motionY.has_value() || e.normalizedX.has_value() != e.normalizedY.has_value() ||
            !fraction(e.normalizedX) || !fraction(e.normalizedY))
            return std::nullopt;
        return e;
    } catch (const Refused&) {
        return std::nullopt;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

auto fields(const InputEvent& e) {
    return std::tie(e.kind, e.sequence, e.inputEpoch, e.generation, e.button, e.text, e.displayId, e.deltaX, e.deltaY,
                    e.positionX, e.positionY, e.motionX, e.motionY, e.normalizedX, e.normalizedY, e.isDown, e.keyCode,
                    e.modifiers);
}

std::string quoted(const std::string& s) {
    std::string text(1, '"');
    text.append(s).push_back('"');
    return text;
}

std::string strings(std::size_t count) {
    std::string list = "[";
    for (std::size_t i = 0; i < count; ++i) list += (i ? ",\"k\"" : "\"k\"");
    return list + "]";
}

std::string nested(int levels, const std::string& innermost) {
    std::string value = innermost;
    for (int i = 0; i < levels; ++i) value = std::string("{\"a\":").append(value).append("}");
    return value;
}

// Member values around every type and limit of the rules.
const std::vector<std::string> values = {"null",
                                         "true",
                                         "false",
                                         "0",
                                         "-0",
                                         "-1",
                                         "7",
                                         "1.0",
                                         "-2.5",
                                         "0.5",
                                         "1e9",
                                         "-1000000000",
                                         "1000000000.5",
                                         "1e400",
                                         "65535",
                                         "65536",
                                         "9007199254740991",
                                         "9007199254740992",
                                         "18446744073709551615",
                                         "18446744073709551616",
                                         "\"\"",
                                         "\"left\"",
                                         "\"back\"",
                                         "\"g\"",
                                         "\"\\u00e9\\ud83d\\ude00\"",
                                         quoted(std::string(32, 'b')),
                                         quoted(std::string(33, 'b')),
                                         quoted(std::string(64, 'g')),
                                         quoted(std::string(65, 'g')),
                                         quoted(std::string(256, 'd')),
                                         quoted(std::string(257, 'd')),
                                         quoted(std::string(4096, 't')),
                                         quoted(std::string(4097, 't')),
                                         "[]",
                                         "[\"a\"]",
                                         "[1]",
                                         "[[]]",
                                         "[{}]",
                                         strings(8),
                                         strings(9),
                                         strings(32),
                                         strings(33),
                                         "{}",
                                         "{\"rawValue\":1}",
                                         "{\"rawValue\":65536}",
                                         "{\"rawValue\":-1}",
                                         "{\"rawValue\":1,\"rawValue\":1}",
                                         "{\"rawValue\":1,\"x\":{\"rawValue\":{}}}",
                                         "{\"x\":{\"rawValue\":1}}",
                                         "{\"a\":1,\"b\":{\"a\":2},\"a\":3}",
                                         "{\"\\u0061\":1,\"a\":2}",
                                         nested(11, "0"),
                                         nested(11, "[]"),
                                         nested(12, "0"),
                                         nested(11, "[{}]"),
                                         nested(10, "{\"a\":1,\"a\":1}")};

const std::vector<std::string> names = {
    "kind",    "sequence",  "inputEpoch",  "generation",     "button",   "text",        "displayId",   "deltaX",
    "deltaY",  "positionX", "positionY",   "motionX",        "motionY",  "normalizedX", "normalizedY", "isDown",
    "keyCode", "modifiers", "pressedKeys", "pressedButtons", "rawValue", "other",       "\\u006bind",  "Kind"};

using Members = std::vector<std::pair<std::string, std::string>>;

Members validEvent(const std::string& kind) {
    Members m{{"kind", quoted(kind)}, {"sequence", "1"},
              {"inputEpoch", "7"},    {"modifiers", "{\"rawValue\":1}"},
              {"pressedKeys", "[]"},  {"pressedButtons", "[\"left\"]"}};
    if (kind == "pointer.move" || kind == "pointer.scroll") m.insert(m.end(), {{"deltaX", "1.5"}, {"deltaY", "-2"}});
    if (kind == "pointer.absolute" || kind == "pointer.button")
        m.insert(m.end(), {{"positionX", "3"}, {"positionY", "4"}, {"normalizedX", "0"}, {"normalizedY", "1"}});
    if (kind == "pointer.button") m.insert(m.end(), {{"button", "\"left\""}, {"isDown", "true"}});
    if (kind == "keyboard.key") m.insert(m.end(), {{"keyCode", "0"}, {"isDown", "false"}});
    if (kind == "keyboard.text") m.insert(m.end(), {{"text", "\"h\\u00e9\""}});
    if (kind == "input.releasedState") m.insert(m.end(), {{"generation", "\"g\""}});
    return m;
}

std::string render(const Members& members) {
    std::string text = "{";
    for (const auto& [name, value] : members) {
        if (text.size() > 1) text.push_back(',');
        text.append(quoted(name)).append(":").append(value);
    }
    text.push_back('}');
    return text;
}

TEST(ReadInputEvent, AgreesWithTheDocumentReadingOfTheRules) {
    const std::array<const char*, 8> kinds = {"pointer.move",        "pointer.absolute", "pointer.scroll",
                                              "pointer.button",      "keyboard.key",     "keyboard.text",
                                              "input.releasedState", "pointer.wheel"};
    std::mt19937 random(20240611);
    const auto pick = [&random](std::size_t size) {
        return std::uniform_int_distribution<std::size_t>(0, size - 1)(random);
    };
    std::size_t accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        Members members = validEvent(kinds[pick(kinds.size())]);
        for (std::size_t edits = 1 + pick(3); edits > 0; --edits) {
            const std::string& name = names[pick(names.size())];
            const std::string& value = values[pick(values.size())];
            switch (pick(4)) {
                case 0:
                    members.emplace_back(name, value);
                    break;  // perhaps a repeated key
                case 1:
                    members.erase(members.begin() + static_cast<std::ptrdiff_t>(pick(members.size())));
                    break;
                default:
                    members[pick(members.size())].second = value;
                    break;
            }
            if (members.empty()) members = validEvent("pointer.move");
        }
        std::string text = render(members);
        if (pick(4) == 0) {  // one byte changed, added or lost
            static const std::string bytes = "{}[]\",:-.0123456789aeEtu \\\xC3";
            const std::size_t at = pick(text.size());
            switch (pick(3)) {
                case 0:
                    text[at] = bytes[pick(bytes.size())];
                    break;
                case 1:
                    text.insert(at, 1, bytes[pick(bytes.size())]);
                    break;
                default:
                    text.erase(at, 1);
                    break;
            }
        }
        const std::optional<InputEvent> expected = referenceRead(text);
        const std::optional<InputEvent> read = readInputEvent(text);
        ASSERT_EQ(read.has_value(), expected.has_value()) << text;
        if (expected) {
            ++accepted;
            ASSERT_TRUE(fields(*read) == fields(*expected)) << text;
        }
    }
    EXPECT_GT(accepted, 1000u);  // the mutations leave plenty of events intact
}

TEST(ReadInputEvent, FindsARepeatedKeyAmongThousands) {
    std::string text = R"({"kind":"pointer.move","sequence":1,"deltaX":0,"deltaY":0,"modifiers":{"rawValue":0},)"
                       R"("pressedKeys":[],"pressedButtons":[],"x":{)";
    for (int i = 0; text.size() < 65000; ++i) text += "\"k" + std::to_string(i) + "\":0,";
    EXPECT_TRUE(readInputEvent(text + "\"end\":0}}").has_value());
    EXPECT_FALSE(readInputEvent(text + "\"k7\":0}}").has_value());
}

}  // namespace
}  // namespace native_worker
