#include "worker/ice_servers.h"

#include "base/error_codes.h"
#include "base/field_checks.h"
#include "base/protocol_error.h"
#include "worker/ice_url.h"

namespace native_worker {
namespace {

constexpr std::size_t maximumUsernameBytes = 512;
constexpr std::size_t maximumCredentialBytes = 2048;

[[noreturn]] void refuse() {
    throw ProtocolError(codes::invalidMessage);
}

std::string optionalString(const nlohmann::json& server, const char* key, std::size_t maximumBytes) {
    return server.contains(key) ? requireString(server, key, maximumBytes, Empty::allowed) : std::string();
}

}  // namespace

void readIceServers(const nlohmann::json& message, engine::PeerConnectionConfiguration& configuration) {
    const auto servers = message.find("iceServers");
    if (servers == message.end() || !servers->is_array() ||
        servers->size() > engine::PeerConnectionConfiguration::iceServerSlots)
        refuse();
    std::size_t urlCount = 0;
    for (const auto& server : *servers) {
        if (!server.is_object()) refuse();
        const auto urls = server.find("urls");
        if (urls == server.end() || !urls->is_array() || urls->empty()) refuse();
        for (const auto& [key, value] : server.items())
            if (key != "urls" && key != "username" && key != "credential") refuse();
        const std::string username = optionalString(server, "username", maximumUsernameBytes);
        const std::string credential = optionalString(server, "credential", maximumCredentialBytes);
        for (const auto& url : *urls) {
            if (++urlCount > engine::PeerConnectionConfiguration::iceServerSlots || !url.is_string()) refuse();
            const auto& text = url.get_ref<const std::string&>();
            if (!isValidIceUrl(text, username, credential)) refuse();
            configuration.iceServers[urlCount - 1] = {text, username, credential};
        }
    }
}

}  // namespace native_worker
