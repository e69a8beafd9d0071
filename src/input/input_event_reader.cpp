#include "input/input_event_reader.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>

namespace native_worker {
namespace {

using Json = nlohmann::json;

constexpr int deepestMember = 12;
constexpr double largestMagnitude = 1'000'000'000;
constexpr std::size_t pressedButtonsBound = 8;
constexpr std::uint64_t largestKeyValue = 65535;

// The top-level members an event is read from; every other name is ignored.
enum class Member : std::uint8_t {
    kind,
    sequence,
    inputEpoch,
    generation,
    button,
    text,
    displayId,
    deltaX,
    deltaY,
    positionX,
    positionY,
    motionX,
    motionY,
    normalizedX,
    normalizedY,
    isDown,
    keyCode,
    modifiers,
    pressedKeys,
    pressedButtons,
    other,
};

constexpr std::array<std::string_view, static_cast<std::size_t>(Member::other)> memberNames{
    "kind",        "sequence", "inputEpoch", "generation", "button",      "text",          "displayId",
    "deltaX",      "deltaY",   "positionX",  "positionY",  "motionX",     "motionY",       "normalizedX",
    "normalizedY", "isDown",   "keyCode",    "modifiers",  "pressedKeys", "pressedButtons"};

// From "generation" to "displayId", in the order of Member.
struct StringMember {
    std::optional<std::string> InputEvent::*target;
    std::size_t maximumBytes;
};
constexpr std::array<StringMember, 4> stringMembers{{{&InputEvent::generation, 64},
                                                     {&InputEvent::button, 32},
                                                     {&InputEvent::text, 4096},
                                                     {&InputEvent::displayId, 256}}};

// From "deltaX" to "normalizedY", in the order of Member.
constexpr std::array<std::optional<double> InputEvent::*, 8> numberMembers{
    &InputEvent::deltaX,  &InputEvent::deltaY,  &InputEvent::positionX,   &InputEvent::positionY,
    &InputEvent::motionX, &InputEvent::motionY, &InputEvent::normalizedX, &InputEvent::normalizedY};

Member memberNamed(std::string_view name) {
    for (std::size_t i = 0; i < memberNames.size(); ++i)
        if (memberNames[i] == name) return static_cast<Member>(i);
    return Member::other;
}

bool isBetween(Member member, Member first, Member last) {
    return member >= first && member <= last;
}

std::size_t offset(Member member, Member first) {
    return static_cast<std::size_t>(member) - static_cast<std::size_t>(first);
}

constexpr std::uint32_t bit(Member member) {
    return std::uint32_t{1} << static_cast<unsigned>(member);
}

constexpr std::uint32_t requiredMembers = bit(Member::kind) | bit(Member::sequence) | bit(Member::modifiers) |
                                          bit(Member::pressedKeys) | bit(Member::pressedButtons);

bool isNumberInRange(double value) {
    return std::isfinite(value) && std::fabs(value) <= largestMagnitude;
}

bool pairedOrAbsent(const std::optional<double>& first, const std::optional<double>& second) {
    return first.has_value() == second.has_value();
}

bool isFraction(const std::optional<double>& value) {
    return !value || (*value >= 0 && *value <= 1);
}

// What the next value at the current depth is for.
enum class Slot : std::uint8_t { message, member, rawValue, pressedElement, ignored };

// What the open container directly inside the message is.
enum class Container : std::uint8_t { modifiers, pressedKeys, pressedButtons, other };

// Handler of the library's SAX events. Depth follows the library's parser
// callback: the message is at depth 0, and a key or value inside a container
// at depth d is at depth d + 1. Returning false ends the parse as refused.
class EventReader {
public:
    bool null() { return slot() == Slot::ignored && withinDepth(); }

    bool boolean(bool value) {
        if (slot() == Slot::ignored) return withinDepth();
        if (slot() != Slot::member || member_ != Member::isDown) return false;
        event_.isDown = value;
        return true;
    }

    bool number_unsigned(std::uint64_t value) { return number(value, static_cast<double>(value)); }

    bool number_integer(std::int64_t value) {
        if (value >= 0) return number(static_cast<std::uint64_t>(value), static_cast<double>(value));
        return number(std::nullopt, static_cast<double>(value));
    }

    bool number_float(double value, const std::string&) { return number(std::nullopt, value); }

    bool string(std::string& value) {
        switch (slot()) {
            case Slot::ignored:
                return withinDepth();
            case Slot::pressedElement:
                return ++pressedCount_ <= pressedBound();
            case Slot::member:
                break;
            default:
                return false;
        }
        if (member_ == Member::kind) {
            event_.kind = value;
            return true;
        }
        if (!isBetween(member_, Member::generation, Member::displayId)) return false;
        const StringMember& rule = stringMembers[offset(member_, Member::generation)];
        if (value.size() > rule.maximumBytes) return false;
        event_.*rule.target = value;
        return true;
    }

    bool binary(Json::binary_t&) { return false; }

    bool start_object(std::size_t) {
        switch (slot()) {
            case Slot::message:
            case Slot::ignored:
                break;
            case Slot::member:
                if (member_ != Member::modifiers) return false;
                container_ = Container::modifiers;
                break;
            default:
                return false;
        }
        return open(true);
    }

    bool key(std::string& name) {
        if (!withinDepth()) return false;
        if (depth_ == 1) {
            member_ = memberNamed(name);
            if (member_ != Member::other) return firstOf(bit(member_), seenMembers_);
        } else if (depth_ == 2 && container_ == Container::modifiers) {
            rawValueNext_ = name == "rawValue";
            if (rawValueNext_) return !std::exchange(rawValueSeen_, true);
        }
        return keys_[static_cast<std::size_t>(depth_)].insert(name).second;
    }

    bool end_object() { return close(); }

    bool start_array(std::size_t) {
        switch (slot()) {
            case Slot::ignored:
                break;
            case Slot::member:
                if (member_ == Member::pressedKeys)
                    container_ = Container::pressedKeys;
                else if (member_ == Member::pressedButtons)
                    container_ = Container::pressedButtons;
                else
                    return false;
                pressedCount_ = 0;
                break;
            default:
                return false;
        }
        return open(false);
    }

    bool end_array() { return close(); }

    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

    // After a parse that ended well: the members every event needs, and the
    // rules that span two members.
    std::optional<InputEvent> event() && {
        if ((seenMembers_ & requiredMembers) != requiredMembers || !rawValueSeen_) return std::nullopt;
        if (!pairedOrAbsent(event_.motionX, event_.motionY) ||
            !pairedOrAbsent(event_.normalizedX, event_.normalizedY) || !isFraction(event_.normalizedX) ||
            !isFraction(event_.normalizedY))
            return std::nullopt;
        return std::move(event_);
    }

private:
    Slot slot() const {
        if (depth_ == 0) return Slot::message;
        if (depth_ == 1) return member_ == Member::other ? Slot::ignored : Slot::member;
        if (depth_ == 2 && container_ == Container::modifiers && rawValueNext_) return Slot::rawValue;
        if (depth_ == 2 && (container_ == Container::pressedKeys || container_ == Container::pressedButtons))
            return Slot::pressedElement;
        return Slot::ignored;
    }

    bool withinDepth() const { return depth_ <= deepestMember; }

    std::size_t pressedBound() const {
        return container_ == Container::pressedKeys ? pressedKeysBound : pressedButtonsBound;
    }

    // Integers are JSON integers that are not negative; any number is read as a double.
    bool number(std::optional<std::uint64_t> integer, double value) {
        switch (slot()) {
            case Slot::ignored:
                return withinDepth();
            case Slot::rawValue:
                if (!integer || *integer > largestKeyValue) return false;
                event_.modifiers = static_cast<std::uint32_t>(*integer);
                return true;
            case Slot::member:
                break;
            default:
                return false;
        }
        if (isBetween(member_, Member::deltaX, Member::normalizedY)) {
            if (!isNumberInRange(value)) return false;
            event_.*numberMembers[offset(member_, Member::deltaX)] = value;
            return true;
        }
        if (!integer) return false;
        switch (member_) {
            case Member::sequence:
                event_.sequence = *integer;
                return true;
            case Member::inputEpoch:
                if (*integer > largestInputEpoch) return false;
                event_.inputEpoch = *integer;
                return true;
            case Member::keyCode:
                if (*integer > largestKeyValue) return false;
                event_.keyCode = static_cast<std::uint32_t>(*integer);
                return true;
            default:
                return false;
        }
    }

    bool open(bool object) {
        if (!withinDepth()) return false;
        ++depth_;
        if (object && depth_ <= deepestMember) keys_[static_cast<std::size_t>(depth_)].clear();
        return true;
    }

    bool close() {
        if (--depth_ == 1) container_ = Container::other;
        return true;
    }

    // Marks the flag in seen; false when it was already there.
    static bool firstOf(std::uint32_t flag, std::uint32_t& seen) {
        if (seen & flag) return false;
        seen |= flag;
        return true;
    }

    InputEvent event_;
    int depth_ = 0;
    Member member_ = Member::other;
    Container container_ = Container::other;
    std::size_t pressedCount_ = 0;
    bool rawValueNext_ = false;
    std::uint32_t seenMembers_ = 0;
    bool rawValueSeen_ = false;
    // Names met so far in the open object at each depth, beyond those above.
    std::array<std::set<std::string, std::less<>>, deepestMember + 1> keys_;
};

}  // namespace

std::optional<InputEvent> readInputEvent(std::string_view text) {
    EventReader reader;
    if (!Json::sax_parse(text.begin(), text.end(), &reader, Json::input_format_t::json, true, false))
        return std::nullopt;
    return std::move(reader).event();
}

}  // namespace native_worker
