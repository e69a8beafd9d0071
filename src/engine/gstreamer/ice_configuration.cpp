#include "engine/gstreamer/ice_configuration.h"

#include "engine/gstreamer/gst_handles.h"

#include <algorithm>
#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

std::string escaped(const std::string& text) {
    const GFreeString escapedText(g_uri_escape_string(text.c_str(), nullptr, FALSE));
    return escapedText.get();
}

// "127.0.0.1,::1" as its addresses; nullopt when an entry is empty or no IP address.
std::optional<std::vector<std::string>> addressList(std::string_view text) {
    std::vector<std::string> addresses;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::string address(text.substr(start, comma - start));
        if (!g_hostname_is_ip_address(address.c_str())) return std::nullopt;
        addresses.push_back(std::move(address));
        start = comma + 1;
    }
    return addresses;
}

}  // namespace

std::optional<std::string> stunServerUri(const IceServer& server) {
    const std::string_view url(server.url);
    if (!url.starts_with("stun:") || url.starts_with("stun://")) return std::nullopt;
    return "stun://" + std::string(url.substr(5));
}

std::optional<std::string> turnServerUri(const IceServer& server) {
    const std::string_view url(server.url);
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || server.username.empty() || server.credential.empty()) return std::nullopt;
    const std::string_view scheme = url.substr(0, colon);
    const std::string_view rest = url.substr(colon + 1);
    if ((scheme != "turn" && scheme != "turns") || rest.starts_with("//")) return std::nullopt;
    return std::string(scheme) + "://" + escaped(server.username) + ":" + escaped(server.credential) + "@" +
           std::string(rest);
}

std::optional<IceSettings> iceSettings(const PeerConnectionConfiguration& configuration,
                                       const char* localAddressesText) {
    IceSettings settings;
    bool anyServer = false;
    for (const IceServer& server : configuration.iceServers) {
        if (server.url.empty()) continue;
        anyServer = true;
        if (auto stun = stunServerUri(server); stun && !settings.stunServer) settings.stunServer = std::move(stun);
        if (auto turn = turnServerUri(server)) settings.turnServers.push_back(std::move(*turn));
    }
    settings.tcpCandidates = configuration.tcpCandidatePolicy == TcpCandidatePolicy::enabled;
    if (localAddressesText && *localAddressesText) {
        auto addresses = addressList(localAddressesText);
        if (!addresses) return std::nullopt;
        settings.localAddresses = std::move(*addresses);
    } else if (!anyServer && !settings.tcpCandidates) {
        settings.localAddresses = {"127.0.0.1"};
    }
    return settings;
}

bool applyIceSettings(GstElement* webrtcbin, const IceSettings& settings) {
    GstObject* ice = nullptr;
    g_object_get(webrtcbin, "ice-agent", &ice, nullptr);
    const GstRef<GstObject> iceAgent(ice);
    if (iceAgent) {
        GObject* agent = nullptr;
        g_object_get(iceAgent.get(), "agent", &agent, nullptr);
        const GRef<GObject> niceAgent(agent);
        if (niceAgent) g_object_set(niceAgent.get(), "upnp", FALSE, nullptr);
        g_object_set(iceAgent.get(), "ice-tcp", settings.tcpCandidates ? TRUE : FALSE, nullptr);
        for (const auto& address : settings.localAddresses) {
            gboolean added = FALSE;
            g_signal_emit_by_name(iceAgent.get(), "add-local-ip-address", address.c_str(), &added);
            if (!added) return false;
        }
    } else if (!settings.localAddresses.empty()) {
        return false;
    }
    if (settings.stunServer) g_object_set(webrtcbin, "stun-server", settings.stunServer->c_str(), nullptr);
    for (const auto& turn : settings.turnServers) {
        gboolean added = FALSE;
        g_signal_emit_by_name(webrtcbin, "add-turn-server", turn.c_str(), &added);
    }
    return true;
}

}  // namespace native_worker::engine::gstreamer
