#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace native_worker {

// The three envelope strings that bind every message to one session.
struct Identity {
    std::string accountId;
    std::string sessionId;
    std::string generation;

    bool operator==(const Identity&) const = default;
};

enum class Empty { refused, allowed };

// Throws ProtocolError "invalid_message": how every broken rule of a message
// is refused.
[[noreturn]] void refuseInvalidMessage();

// Each check throws ProtocolError "invalid_message" when its rule is broken.
std::string requireString(const nlohmann::json& object, const char* key, std::size_t maximumBytes, Empty empty);
std::int32_t requireInteger(const nlohmann::json& object, const char* key, std::int32_t minimum, std::int32_t maximum);
// A JSON integer (never a floating-point number) within minimum..maximum.
std::uint64_t requireUnsigned(const nlohmann::json& object, const char* key, std::uint64_t minimum,
                              std::uint64_t maximum);
// Only the six envelope members and the given ones may be present.
void requireOnlyFields(const nlohmann::json& message, std::initializer_list<std::string_view> extra);
Identity parseIdentity(const nlohmann::json& message);

bool isUuidText(std::string_view text);
bool isRequestIdText(std::string_view text);

}  // namespace native_worker
