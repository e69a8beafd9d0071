#include "network_path.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace native_worker::e2e {
namespace {

// libnice gathers no candidates on interfaces named veth*: ours are named otherwise.
constexpr const char* senderInterface = "kvtx";
constexpr const char* receiverInterface = "kvrx";
constexpr const char* receiverAddress = "10.79.0.2";

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

}  // namespace

std::optional<NetworkPath> NetworkPath::create() {
    if (geteuid() != 0 || access("/usr/sbin/ip", X_OK) != 0) return std::nullopt;
    NetworkPath path(std::to_string(getpid()));
    const std::string s = "ip -n " + path.sender_ + " ", r = "ip -n " + path.receiver_ + " ";
    // Each namespace needs a default route, or a browser gathers no candidates.
    const bool made = run("ip netns add " + path.sender_) && run("ip netns add " + path.receiver_) &&
                      run(s + "link add " + senderInterface + " type veth peer name " + receiverInterface + " netns " +
                          path.receiver_) &&
                      run(s + "addr add 10.79.0.1/24 dev " + senderInterface) &&
                      run(r + "addr add " + receiverAddress + "/24 dev " + receiverInterface) &&
                      run(s + "link set " + senderInterface + " up") &&
                      run(r + "link set " + receiverInterface + " up") && run(s + "link set lo up") &&
                      run(r + "link set lo up") && run(s + "route add default dev " + senderInterface) &&
                      run(r + "route add default dev " + receiverInterface);
    if (!made) return std::nullopt;
    return path;
}

NetworkPath::NetworkPath(const std::string& suffix)
    : sender_("kelvarn-tx-" + suffix), receiver_("kelvarn-rx-" + suffix) {}

NetworkPath::NetworkPath(NetworkPath&& other) noexcept
    : sender_(std::move(other.sender_)), receiver_(std::move(other.receiver_)) {
    other.owned_ = false;
}

NetworkPath::~NetworkPath() {
    if (!owned_) return;
    run("ip netns del " + sender_);
    run("ip netns del " + receiver_);
}

bool NetworkPath::shape(std::int64_t kbps, int bufferMs) {
    const std::string qdisc = "ip netns exec " + sender_ + " tc qdisc ";
    run(qdisc + "del dev " + senderInterface + " root");
    if (kbps <= 0) return true;
    return run(qdisc + "add dev " + senderInterface + " root tbf rate " + std::to_string(kbps) +
               "kbit burst 32kbit latency " + std::to_string(bufferMs) + "ms");
}

bool NetworkPath::dropRandomly(int lossPercent) {
    const std::string nft = "ip netns exec " + sender_ + " nft ";
    run(nft + "delete table inet kelvarn_loss");
    if (lossPercent <= 0) return true;
    return run(nft + "add table inet kelvarn_loss") &&
           run(nft + "add chain inet kelvarn_loss output '{ type filter hook output priority 0; }'") &&
           run(nft + "add rule inet kelvarn_loss output meta l4proto udp numgen random mod 100 '<' " +
               std::to_string(lossPercent) + " drop");
}

std::uint64_t NetworkPath::sentBytes() const {
    std::istringstream text(
        output("ip netns exec " + sender_ + " cat /sys/class/net/" + senderInterface + "/statistics/tx_bytes"));
    std::uint64_t bytes = 0;
    text >> bytes;
    return bytes;
}

std::vector<NetworkPath::RoundTrip> NetworkPath::ping(double seconds) const {
    const int count = std::max(1, static_cast<int>(seconds / pingInterval));
    std::istringstream text(output("ip netns exec " + sender_ + " ping -n -i " + std::to_string(pingInterval) + " -c " +
                                   std::to_string(count) + " -W 2 " + receiverAddress + " 2>/dev/null"));
    std::vector<RoundTrip> trips(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) trips[static_cast<std::size_t>(i)].sentAfterSeconds = i * pingInterval;
    for (std::string line; std::getline(text, line);) {
        const auto sequence = line.find("icmp_seq=");
        const auto time = line.find("time=");
        if (sequence == std::string::npos || time == std::string::npos) continue;
        const long number = std::atol(line.c_str() + sequence + 9);
        if (number >= 1 && number <= count)
            trips[static_cast<std::size_t>(number - 1)].milliseconds = std::atof(line.c_str() + time + 5);
    }
    return trips;
}

std::optional<double> NetworkPath::downloadKbps(double seconds) const {
    // The server answers one client and exits; it forks away once listening.
    if (!run("ip netns exec " + receiver_ + " iperf3 -s -1 -D")) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto report = nlohmann::json::parse(output("ip netns exec " + sender_ + " iperf3 -J -c " + receiverAddress +
                                                     " -t " + std::to_string(std::max(1, static_cast<int>(seconds)))),
                                              nullptr, false);
    const auto* received = report.is_object() && report.contains("end") && report["end"].contains("sum_received")
                               ? &report["end"]["sum_received"]
                               : nullptr;
    if (!received || !(*received)["bits_per_second"].is_number()) return std::nullopt;
    return (*received)["bits_per_second"].get<double>() / 1000;
}

}  // namespace native_worker::e2e
