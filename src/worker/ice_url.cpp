#include "worker/ice_url.h"

#include "platform/sockets.h"

#include <algorithm>
#include <string>

namespace native_worker {
namespace {

constexpr std::size_t maximumUrlBytes = 2048;
constexpr std::size_t maximumHostBytes = 253;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isValidPort(std::string_view port) {
    if (port.empty()) return false;
    unsigned value = 0;
    for (char c : port) {
        if (!isDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 65535) return false;
    }
    return value != 0;
}

bool isValidHostName(std::string_view host) {
    if (host.empty() || host.size() > maximumHostBytes) return false;
    if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-' || c == '.';
    });
}

bool isValidBracketedAddress(std::string_view rest) {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return false;
    if (!platform::isIpv6Address(std::string(rest.substr(1, close - 1)))) return false;
    const std::string_view after = rest.substr(close + 1);
    if (after.empty()) return true;
    return after.front() == ':' && isValidPort(after.substr(1));
}

bool isValidQuery(std::string_view scheme, std::string_view query) {
    if (scheme == "turn") return query == "?transport=udp" || query == "?transport=tcp";
    if (scheme == "turns") return query == "?transport=tcp";
    return false;
}

}  // namespace

bool isValidIceUrl(std::string_view url, std::string_view username, std::string_view credential) {
    if (url.size() > maximumUrlBytes || url.find_first_of(std::string_view(" \t\r\n\0", 5)) != std::string_view::npos)
        return false;
    const auto colon = url.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view scheme = url.substr(0, colon);
    const bool turn = scheme == "turn" || scheme == "turns";
    if (!turn && scheme != "stun" && scheme != "stuns") return false;
    if (turn && (username.empty() || credential.empty())) return false;

    std::string_view rest = url.substr(colon + 1);
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        if (!isValidQuery(scheme, rest.substr(question))) return false;
        rest = rest.substr(0, question);
    }
    if (rest.empty()) return false;
    if (rest.front() == '[') return isValidBracketedAddress(rest);

    const auto portColon = rest.find(':');
    if (!isValidHostName(rest.substr(0, portColon))) return false;
    return portColon == std::string_view::npos || isValidPort(rest.substr(portColon + 1));
}

}  // namespace native_worker
