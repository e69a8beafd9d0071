#include "input/control_messages.h"

namespace native_worker {
namespace {

nlohmann::json controlMessage(const char* type) {
    return {{"protocolVersion", {{"major", 1}, {"minor", 0}}}, {"type", type}};
}

std::string serialise(const nlohmann::json& message) {
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace

std::string controlReadyMessage(std::uint64_t inputEpoch) {
    nlohmann::json message = controlMessage("controlReady");
    message["inputEpoch"] = inputEpoch;
    return serialise(message);
}

std::string controlUnavailableMessage(std::uint64_t inputEpoch, std::string_view reason) {
    nlohmann::json message = controlMessage("controlUnavailable");
    message["inputEpoch"] = inputEpoch;
    message["reason"] = reason;
    return serialise(message);
}

std::string displayListMessage(const nlohmann::json& displays, std::string_view activeId) {
    nlohmann::json message = controlMessage("displayList");
    message["displays"] = displays;
    message["activeId"] = activeId;
    return serialise(message);
}

}  // namespace native_worker
