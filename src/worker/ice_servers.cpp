#include "worker/ice_servers.h"

#include "base/field_checks.h"
#include "worker/ice_url.h"

namespace native_worker {
namespace {

constexpr std::size_t maximumUsernameBytes = 512;
constexpr std::size_t maximumCredentialBytes = 2048;

std::string optionalString(const nlohmann::json& server, const char* key, std::size_t maximumBytes) {
    return server.contains(key) ? requireString(server, key, maximumBytes, Empty::allowed) : std::string();
}

}  // namespace

void readIceServers(const nlohmann::json& message, engine::PeerConnectionConfiguration& configuration) {
    const auto servers = message.find("iceServers");
    if (servers == message.end() || !servers->is_array() ||
        servers->size() > engine::PeerConnectionConfiguration::iceServerSlots)
        refuseInvalidMessage();
    std::size_t urlCount = 0;
    for (const auto& server : *servers) {
        if (!server.is_object()) refuseInvalidMessage();
        const auto urls = server.find("urls");
        if (urls == server.end() || !urls->is_array() || urls->empty()) refuseInvalidMessage();
        for (const auto& [key, value] : server.items())
            if (key != "urls" && key != "username" && key != "credential") refuseInvalidMessage();
        const std::string username = optionalString(server, "username", maximumUsernameBytes);
        const std::string credential = optionalString(server, "credential", maximumCredentialBytes);
        for (const auto& url : *urls) {
            if (++urlCount > engine::PeerConnectionConfiguration::iceServerSlots || !url.is_string())
                refuseInvalidMessage();
            const auto& text = url.get_ref<const std::string&>();
            if (!isValidIceUrl(text, username, credential)) refuseInvalidMessage();
            configuration.iceServers[urlCount - 1] = {text, username, credential};
        }
    }
}

}  // namespace native_worker
