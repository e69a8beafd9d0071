#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

// The messages the host sends to the controller on "control", serialised
// compactly with members in key order. Each throws on text that is not UTF-8.
namespace native_worker {

std::string controlReadyMessage(std::uint64_t inputEpoch);
std::string controlUnavailableMessage(std::uint64_t inputEpoch, std::string_view reason);
std::string displayListMessage(const nlohmann::json& displays, std::string_view activeId);

}  // namespace native_worker
