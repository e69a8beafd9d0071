#pragma once

// A real network path between processes on one machine: two network
// namespaces joined by a veth pair, the sending side shaped with tbf (rate
// and router buffer) and losing UDP packets at random through nftables.
// Needs root and iproute2 (nftables for loss).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::e2e {

class NetworkPath {
public:
    // Null when namespaces cannot be made here.
    static std::optional<NetworkPath> create();
    ~NetworkPath();
    NetworkPath(NetworkPath&& other) noexcept;
    NetworkPath(const NetworkPath&) = delete;
    NetworkPath& operator=(const NetworkPath&) = delete;
    NetworkPath& operator=(NetworkPath&&) = delete;

    // What runs a command on the sending or the receiving side.
    std::vector<std::string> senderLauncher() const { return {"/usr/sbin/ip", "netns", "exec", sender_}; }
    std::vector<std::string> receiverLauncher() const { return {"/usr/sbin/ip", "netns", "exec", receiver_}; }

    // Sender to receiver: `kbps` with a buffer of `bufferMs` (0: unshaped), and
    // `lossPercent` of UDP packets dropped at random.
    bool shape(std::int64_t kbps, int bufferMs);
    bool dropRandomly(int lossPercent);
    // Bytes the sender has put on the link so far.
    std::uint64_t sentBytes() const;
    struct RoundTrip {
        double sentAfterSeconds = 0;
        std::optional<double> milliseconds;  // none: no answer within two seconds
    };
    static constexpr double pingInterval = 0.2;
    // Pings through the shaped direction, one every pingInterval for `seconds`.
    std::vector<RoundTrip> ping(double seconds) const;
    // A TCP download through the shaped direction for `seconds` (iperf3), as a
    // competing flow: its mean rate at the receiver, none when it did not run.
    std::optional<double> downloadKbps(double seconds) const;

private:
    explicit NetworkPath(const std::string& suffix);

    std::string sender_;
    std::string receiver_;
    bool owned_ = true;
};

}  // namespace native_worker::e2e
