#pragma once

#include "media/engine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace native_worker::engine::gstreamer {

// The fields of one ICE candidate line that decide whether it can be used.
struct CandidateFields {
    std::string foundation;
    std::uint32_t component = 0;
    std::string transport;
    std::uint32_t priority = 0;
    std::string address;
    std::uint16_t port = 0;
    std::string type;
};

// Parses "candidate:<foundation> <component> <transport> <priority> <address>
// <port> typ <type> [name value]..." strictly; nullopt for anything else.
std::optional<CandidateFields> parseCandidate(const std::string& line);

// A candidate as the worker handles it: the line and where it belongs.
class Candidate final : public IceCandidate {
public:
    Candidate(std::string candidate, std::string sdpMid, std::int32_t sdpMLineIndex)
        : candidate_(std::move(candidate)), sdpMid_(std::move(sdpMid)), sdpMLineIndex_(sdpMLineIndex) {}

    std::string sdpMid() const override { return sdpMid_; }
    std::int32_t sdpMLineIndex() const override { return sdpMLineIndex_; }
    std::string candidate() const override { return candidate_; }

private:
    std::string candidate_;
    std::string sdpMid_;
    std::int32_t sdpMLineIndex_;
};

}  // namespace native_worker::engine::gstreamer
