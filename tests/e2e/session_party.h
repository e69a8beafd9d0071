#pragma once

// The parties of a real session as a host application sees them: processes
// that speak one JSON object per line over pipes. The test plays the host
// application: it relays descriptions by hand and ICE candidates as they come.

#include "process_harness.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace native_worker::e2e {

using nlohmann::json;
using namespace std::chrono_literals;

// The worker this build made.
inline std::string productWorker() {
    return KELVARN_PRODUCT_WORKER;
}

class Party {
public:
    Party(const std::string& program, harness::LaunchOptions options);
    virtual ~Party() = default;
    Party(const Party&) = delete;
    Party& operator=(const Party&) = delete;

    // Reads the lines that arrive within `wait`; returns the ICE candidates
    // among them as {"candidate", "sdpMid", "sdpMLineIndex"}.
    std::vector<json> poll(std::chrono::milliseconds wait);
    // Hands over a candidate that the other party gathered.
    virtual void addCandidate(const json& candidate) = 0;

    // Every line read so far, in order; a line that is not JSON is kept as a string.
    const std::vector<json>& received() const { return received_; }
    // The last line read whose "type" is `type` and that `matches`.
    std::optional<json> last(std::string_view type, const std::function<bool(const json&)>& matches = {}) const;

    harness::WorkerProcess& process() { return process_; }
    void write(const json& message);
    // For the drivers' line protocols: writes {"type": type} and returns the
    // next line of that type, relaying with `other` meanwhile.
    std::optional<json> ask(const std::string& type, Party& other, std::chrono::milliseconds limit);

protected:
    virtual std::optional<json> candidateOf(const json& line) const = 0;

private:
    harness::WorkerProcess process_;
    std::vector<json> received_;
};

// kelvarn-remote-native --serve with its own session identity; `launcher`
// (a command and its arguments, e.g. "ip netns exec NS", or Wine and the
// stdio relay for a Windows `program`) runs it elsewhere.
class WorkerParty final : public Party {
public:
    WorkerParty(std::string name, std::string_view display, const std::vector<std::string>& launcher = {},
                const std::string& program = productWorker());

    // A command with the full envelope and a request id never used before; returns the id.
    std::string command(std::string_view type, json fields = json::object());
    void addCandidate(const json& candidate) override;

    // "peer.state" values in the order they were reported.
    std::vector<std::string> states() const;
    std::optional<json> lastMedia() const { return last("peer.media"); }
    std::optional<json> answerTo(const std::string& requestId, std::string_view type) const;

private:
    std::optional<json> candidateOf(const json& line) const override;

    std::string name_;
    std::string sessionId_;
    int nextRequest_ = 0;
};

// Polls both parties, passing each one's candidates to the other, until
// `done` holds or the time is up; returns `done()`.
bool relayUntil(Party& first, Party& second, const std::function<bool()>& done, std::chrono::milliseconds limit);

std::string describe(const Party& party);

// A host application's whole exchange between a host and a controller worker,
// from peer.create to the first decoded frame; false when a step did not come.
bool connectWorkers(WorkerParty& host, WorkerParty& controller, const json& hostCreate, const json& controllerCreate,
                    std::chrono::milliseconds stepLimit = 20s);

}  // namespace native_worker::e2e
