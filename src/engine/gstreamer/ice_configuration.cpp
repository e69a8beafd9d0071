#include "engine/gstreamer/ice_configuration.h"

#include "engine/gstreamer/gst_handles.h"

#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

std::string escaped(const std::string& text) {
    const GFreeString escapedText(g_uri_escape_string(text.c_str(), nullptr, FALSE));
    return escapedText.get();
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
    if (colon == std::string_view::npos || server.username.empty() || server.credential.empty())
        return std::nullopt;
    const std::string_view scheme = url.substr(0, colon);
    const std::string_view rest = url.substr(colon + 1);
    if ((scheme != "turn" && scheme != "turns") || rest.starts_with("//")) return std::nullopt;
    return std::string(scheme) + "://" + escaped(server.username) + ":" + escaped(server.credential) + "@" +
           std::string(rest);
}

IceSettings iceSettings(const PeerConnectionConfiguration& configuration) {
    IceSettings settings;
    bool anyServer = false;
    for (const IceServer& server : configuration.iceServers) {
        if (server.url.empty()) continue;
        anyServer = true;
        if (auto stun = stunServerUri(server); stun && !settings.stunServer) settings.stunServer = std::move(stun);
        if (auto turn = turnServerUri(server)) settings.turnServers.push_back(std::move(*turn));
    }
    settings.tcpCandidates = configuration.tcpCandidatePolicy == TcpCandidatePolicy::enabled;
    settings.loopbackOnly = !anyServer && !settings.tcpCandidates;
    return settings;
}

void applyIceSettings(GstElement* webrtcbin, const IceSettings& settings) {
    GstObject* ice = nullptr;
    g_object_get(webrtcbin, "ice-agent", &ice, nullptr);
    const GstRef<GstObject> iceAgent(ice);
    if (iceAgent) {
        GObject* agent = nullptr;
        g_object_get(iceAgent.get(), "agent", &agent, nullptr);
        const GRef<GObject> niceAgent(agent);
        if (niceAgent) g_object_set(niceAgent.get(), "upnp", FALSE, nullptr);
        g_object_set(iceAgent.get(), "ice-tcp", settings.tcpCandidates ? TRUE : FALSE, nullptr);
        if (settings.loopbackOnly) {
            gboolean added = FALSE;
            g_signal_emit_by_name(iceAgent.get(), "add-local-ip-address", "127.0.0.1", &added);
        }
    }
    if (settings.stunServer) g_object_set(webrtcbin, "stun-server", settings.stunServer->c_str(), nullptr);
    for (const auto& turn : settings.turnServers) {
        gboolean added = FALSE;
        g_signal_emit_by_name(webrtcbin, "add-turn-server", turn.c_str(), &added);
    }
}

}  // namespace native_worker::engine::gstreamer
