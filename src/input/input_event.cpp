#include "input/input_event.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <limits>

namespace native_worker {
namespace {

using Json = nlohmann::json;

constexpr int deepestMember = 12;
constexpr double largestMagnitude = 1'000'000'000;
constexpr std::size_t pressedKeysBound = 32;
constexpr std::size_t pressedButtonsBound = 8;

// Any broken member rule; the parser reports all of them as "invalid_input".
struct InvalidInput {};

// Bounds the nesting and refuses a key repeated within one object. The
// library keeps the last of two equal keys, so an object that ends up with
// fewer members than keys were announced for it held a duplicate; counting
// avoids keeping copies of every key.
class StructureLimits {
public:
    bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
        if (depth > deepestMember) throw InvalidInput{};
        const auto level = static_cast<std::size_t>(depth);
        switch (event) {
        case Json::parse_event_t::object_start:
            keysSeen_[level + 1] = 0;
            break;
        case Json::parse_event_t::key:
            ++keysSeen_[level];
            break;
        case Json::parse_event_t::object_end:
            if (parsed.size() != keysSeen_[level + 1]) throw InvalidInput{};
            break;
        default:
            break;
        }
        return true;
    }

private:
    std::array<std::size_t, deepestMember + 2> keysSeen_{};
};

std::uint64_t readInteger(const Json& value, std::uint64_t maximum) {
    std::uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<std::uint64_t>();
    } else if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
        result = static_cast<std::uint64_t>(value.get<std::int64_t>());
    } else {
        throw InvalidInput{};
    }
    if (result > maximum) throw InvalidInput{};
    return result;
}

double readNumber(const Json& value) {
    if (!value.is_number()) throw InvalidInput{};
    const double result = value.get<double>();
    if (!std::isfinite(result) || std::fabs(result) > largestMagnitude) throw InvalidInput{};
    return result;
}

std::string readString(const Json& value, std::size_t maximumBytes) {
    const auto& text = value.get_ref<const std::string&>();  // another type is a library error
    if (text.size() > maximumBytes) throw InvalidInput{};
    return text;
}

const Json* find(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

void readOptionalString(const Json& object, const char* key, std::size_t maximumBytes,
                        std::optional<std::string>& target) {
    if (const Json* value = find(object, key)) target = readString(*value, maximumBytes);
}

void readOptionalNumber(const Json& object, const char* key, std::optional<double>& target) {
    if (const Json* value = find(object, key)) target = readNumber(*value);
}

void checkStringArray(const Json& object, const char* key, std::size_t bound) {
    const Json& array = object.at(key);
    if (!array.is_array() || array.size() > bound) throw InvalidInput{};
    for (const Json& element : array)
        if (!element.is_string()) throw InvalidInput{};
}

bool pairedOrAbsent(const std::optional<double>& first, const std::optional<double>& second) {
    return first.has_value() == second.has_value();
}

bool isFraction(const std::optional<double>& value) {
    return !value || (*value >= 0 && *value <= 1);
}

InputEvent readEvent(const Json& message) {
    if (!message.is_object()) throw InvalidInput{};
    InputEvent event;
    event.kind = message.at("kind").get<std::string>();
    event.sequence = readInteger(message.at("sequence"), std::numeric_limits<std::uint64_t>::max());
    if (const Json* epoch = find(message, "inputEpoch")) event.inputEpoch = readInteger(*epoch, largestInputEpoch);
    readOptionalString(message, "generation", 64, event.generation);
    readOptionalString(message, "button", 32, event.button);
    readOptionalString(message, "text", 4096, event.text);
    readOptionalString(message, "displayId", 256, event.displayId);
    readOptionalNumber(message, "deltaX", event.deltaX);
    readOptionalNumber(message, "deltaY", event.deltaY);
    readOptionalNumber(message, "positionX", event.positionX);
    readOptionalNumber(message, "positionY", event.positionY);
    readOptionalNumber(message, "motionX", event.motionX);
    readOptionalNumber(message, "motionY", event.motionY);
    readOptionalNumber(message, "normalizedX", event.normalizedX);
    readOptionalNumber(message, "normalizedY", event.normalizedY);
    if (const Json* isDown = find(message, "isDown")) event.isDown = isDown->get<bool>();
    if (const Json* keyCode = find(message, "keyCode"))
        event.keyCode = static_cast<std::uint32_t>(readInteger(*keyCode, 65535));
    event.modifiers = static_cast<std::uint32_t>(readInteger(message.at("modifiers").at("rawValue"), 65535));
    checkStringArray(message, "pressedKeys", pressedKeysBound);
    checkStringArray(message, "pressedButtons", pressedButtonsBound);
    if (!pairedOrAbsent(event.motionX, event.motionY) || !pairedOrAbsent(event.normalizedX, event.normalizedY) ||
        !isFraction(event.normalizedX) || !isFraction(event.normalizedY))
        throw InvalidInput{};
    return event;
}

bool isPresentAndNotEmpty(const std::optional<std::string>& value) {
    return value && !value->empty();
}

// Empty when the kind's member rule holds, otherwise its code.
const char* checkKindMembers(const InputEvent& event) {
    const auto rule = [](bool holds) { return holds ? "" : input_codes::inputFields; };
    const std::string& kind = event.kind;
    if (kind == "pointer.move") return rule(event.deltaX && event.deltaY && !event.normalizedX);
    if (kind == "pointer.absolute") return rule(event.positionX && event.positionY && !event.motionX);
    if (kind == "pointer.scroll") return rule(event.deltaX && event.deltaY);
    if (kind == "pointer.button") {
        const bool knownButton =
            event.button && (*event.button == "left" || *event.button == "right" || *event.button == "middle");
        return rule(knownButton && event.isDown.has_value() && pairedOrAbsent(event.positionX, event.positionY) &&
                    (!event.normalizedX || event.positionX));
    }
    if (kind == "keyboard.key") return rule(event.keyCode.has_value() && event.isDown.has_value());
    if (kind == "keyboard.text") return rule(isPresentAndNotEmpty(event.text));
    if (kind == "input.releasedState") return rule(isPresentAndNotEmpty(event.generation));
    return input_codes::unsupportedKind;
}

}  // namespace

bool isMotionKind(std::string_view kind) {
    return kind == "pointer.move" || kind == "pointer.absolute" || kind == "pointer.scroll";
}

InputParseResult parseInputEvent(std::string_view text) {
    if (text.empty() || text.size() > maximumInputBytes) return {input_codes::inputSize, std::nullopt};
    InputEvent event;
    try {
        StructureLimits limits;
        const Json message = Json::parse(
            text.begin(), text.end(),
            [&limits](int depth, Json::parse_event_t parseEvent, Json& parsed) {
                return limits(depth, parseEvent, parsed);
            },
            true, false);
        event = readEvent(message);
    } catch (const InvalidInput&) {
        return {input_codes::invalidInput, std::nullopt};
    } catch (const Json::exception&) {
        return {input_codes::invalidInput, std::nullopt};
    }
    if (const char* code = checkKindMembers(event); *code != '\0') return {code, std::nullopt};
    return {"", std::move(event)};
}

}  // namespace native_worker
