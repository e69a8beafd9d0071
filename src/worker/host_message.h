#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace native_worker {

inline constexpr int maximumNestingDepth = 16;

// Parses one line as a JSON object, refusing duplicate keys at any level and
// anything nested deeper than maximumNestingDepth. Throws ProtocolError.
nlohmann::json parseHostMessage(std::string_view line);

}  // namespace native_worker
