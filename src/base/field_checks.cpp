#include "base/field_checks.h"

#include "base/error_codes.h"
#include "base/protocol_error.h"

#include <algorithm>
#include <array>
#include <limits>

namespace native_worker {
namespace {

constexpr std::array<std::string_view, 6> envelopeFields{"accountId", "generation", "requestId",
                                                         "sessionId", "type",       "version"};

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) refuseInvalidMessage();
    const auto found = object.find(key);
    if (found == object.end()) refuseInvalidMessage();
    return *found;
}

// Signed and unsigned representations alike, as a signed 64-bit value; an
// unsigned value too large for that is refused rather than wrapped.
std::int64_t integerValue(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            refuseInvalidMessage();
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    refuseInvalidMessage();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

void refuseInvalidMessage() {
    throw ProtocolError(codes::invalidMessage);
}

std::string requireString(const nlohmann::json& object, const char* key, std::size_t maximumBytes, Empty empty) {
    const nlohmann::json& value = member(object, key);
    if (!value.is_string()) refuseInvalidMessage();
    const auto& text = value.get_ref<const std::string&>();
    if ((text.empty() && empty == Empty::refused) || text.size() > maximumBytes || text.find('\0') != std::string::npos)
        refuseInvalidMessage();
    return text;
}

std::int32_t requireInteger(const nlohmann::json& object, const char* key, std::int32_t minimum, std::int32_t maximum) {
    const std::int64_t value = integerValue(member(object, key));
    if (value < minimum || value > maximum) refuseInvalidMessage();
    return static_cast<std::int32_t>(value);
}

std::uint64_t requireUnsigned(const nlohmann::json& object, const char* key, std::uint64_t minimum,
                              std::uint64_t maximum) {
    const nlohmann::json& value = member(object, key);
    std::uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<std::uint64_t>();
    } else if (value.is_number_integer()) {
        const auto signedValue = value.get<std::int64_t>();
        if (signedValue < 0) refuseInvalidMessage();
        result = static_cast<std::uint64_t>(signedValue);
    } else {
        refuseInvalidMessage();
    }
    if (result < minimum || result > maximum) refuseInvalidMessage();
    return result;
}

void requireOnlyFields(const nlohmann::json& message, std::initializer_list<std::string_view> extra) {
    for (const auto& [key, value] : message.items()) {
        const auto allowed = [&key = key](std::string_view name) { return name == key; };
        if (std::none_of(envelopeFields.begin(), envelopeFields.end(), allowed) &&
            std::none_of(extra.begin(), extra.end(), allowed))
            refuseInvalidMessage();
    }
}

Identity parseIdentity(const nlohmann::json& message) {
    Identity identity;
    identity.accountId = requireString(message, "accountId", 128, Empty::refused);
    identity.sessionId = requireString(message, "sessionId", 36, Empty::refused);
    identity.generation = requireString(message, "generation", 64, Empty::refused);
    if (!isUuidText(identity.sessionId)) refuseInvalidMessage();
    return identity;
}

bool isUuidText(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPlace ? text[i] != '-' : !isHexDigit(text[i])) return false;
    }
    return true;
}

bool isRequestIdText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.' || c == ':';
    });
}

}  // namespace native_worker
