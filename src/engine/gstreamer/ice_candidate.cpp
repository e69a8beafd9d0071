#include "engine/gstreamer/ice_candidate.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::string_view prefix = "candidate:";

bool isIceChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// IPv4, IPv6 (with a zone) or a host name such as a browser's mDNS ".local" name.
bool isAddressChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == ':' ||
           c == '-' || c == '_' || c == '%';
}

bool isTokenChar(char c) {
    return c > ' ' && c < 0x7f;
}

template <typename T>
std::optional<T> number(std::string_view text, std::size_t maximumDigits) {
    if (text.empty() || text.size() > maximumDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitOnSpaces(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        fields.push_back(text.substr(start, space == std::string_view::npos ? space : space - start));
        if (space == std::string_view::npos) return fields;
        start = space + 1;
    }
}

bool all(std::string_view text, bool (*accept)(char)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), accept);
}

}  // namespace

std::optional<CandidateFields> parseCandidate(const std::string& line) {
    const std::string_view text(line);
    if (!text.starts_with(prefix)) return std::nullopt;
    const auto fields = splitOnSpaces(text.substr(prefix.size()));
    // Eight fixed fields, then name/value pairs (raddr, rport, generation...).
    if (fields.size() < 8 || fields.size() % 2 != 0) return std::nullopt;
    CandidateFields candidate;
    if (fields[0].size() > 32 || !all(fields[0], isIceChar)) return std::nullopt;
    candidate.foundation = fields[0];
    const auto component = number<std::uint32_t>(fields[1], 5);
    const auto priority = number<std::uint32_t>(fields[3], 10);
    const auto port = number<std::uint16_t>(fields[5], 5);
    if (!component || *component == 0 || !priority || !port) return std::nullopt;
    candidate.component = *component;
    candidate.priority = *priority;
    candidate.port = *port;
    if (!all(fields[2], isTokenChar) || !all(fields[4], isAddressChar)) return std::nullopt;
    candidate.transport = fields[2];
    candidate.address = fields[4];
    if (fields[6] != "typ" || !all(fields[7], isTokenChar)) return std::nullopt;
    candidate.type = fields[7];
    for (std::size_t i = 8; i < fields.size(); i += 2) {
        const std::string_view name = fields[i];
        const std::string_view value = fields[i + 1];
        if (!all(name, isTokenChar) || !all(value, isTokenChar)) return std::nullopt;
        if (name == "raddr" && !all(value, isAddressChar)) return std::nullopt;
        if (name == "rport" && !number<std::uint16_t>(value, 5)) return std::nullopt;
    }
    return candidate;
}

}  // namespace native_worker::engine::gstreamer
