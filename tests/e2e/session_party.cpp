#include "session_party.h"

#include <algorithm>
#include <cstdio>

namespace native_worker::e2e {

Party::Party(const std::string& program, harness::LaunchOptions options) : process_(program, std::move(options)) {}

std::vector<json> Party::poll(std::chrono::milliseconds wait) {
    std::vector<json> candidates;
    for (auto line = process_.readLine(wait); line; line = process_.readLine(0ms)) {
        json message = json::parse(*line, nullptr, false);
        if (message.is_discarded()) message = *line;
        if (auto candidate = candidateOf(message)) candidates.push_back(std::move(*candidate));
        received_.push_back(std::move(message));
    }
    return candidates;
}

std::optional<json> Party::last(std::string_view type, const std::function<bool(const json&)>& matches) const {
    for (auto line = received_.rbegin(); line != received_.rend(); ++line)
        if (line->is_object() && line->value("type", "") == type && (!matches || matches(*line))) return *line;
    return std::nullopt;
}

void Party::write(const json& message) {
    process_.writeLine(message.dump());
}

std::optional<json> Party::ask(const std::string& type, Party& other, std::chrono::milliseconds limit) {
    const auto answered = [&] {
        return std::count_if(received_.begin(), received_.end(),
                             [&](const json& line) { return line.is_object() && line.value("type", "") == type; });
    };
    const auto before = answered();
    write({{"type", type}});
    if (!relayUntil(
            *this, other, [&] { return answered() > before; }, limit))
        return std::nullopt;
    return last(type);
}

namespace {

harness::LaunchOptions serve(std::string_view display, const std::vector<std::string>& launcher,
                             const std::string& program) {
    harness::LaunchOptions options;
    if (!launcher.empty()) {
        options.arguments.assign(launcher.begin() + 1, launcher.end());
        options.arguments.push_back(program);
    }
    options.arguments.push_back("--serve");
    options.environment = {{"DISPLAY", std::string(display)}};
    return options;
}

std::string freshSessionId() {
    static unsigned number = 0;
    char id[40];
    std::snprintf(id, sizeof id, "6f1c2d3e-5a7b-4c8d-9e0f-%012x", ++number);
    return id;
}

}  // namespace

WorkerParty::WorkerParty(std::string name, std::string_view display, const std::vector<std::string>& launcher,
                         const std::string& program)
    : Party(launcher.empty() ? program : launcher.front(), serve(display, launcher, program)), name_(std::move(name)) {
    sessionId_ = freshSessionId();
}

std::string WorkerParty::command(std::string_view type, json fields) {
    std::string requestId = name_ + "-" + std::to_string(++nextRequest_);
    json message = {{"version", 1},
                    {"type", type},
                    {"requestId", requestId},
                    {"accountId", "e2e-acct"},
                    {"sessionId", sessionId_},
                    {"generation", name_ + "-gen"}};
    message.update(fields);
    write(message);
    return requestId;
}

void WorkerParty::addCandidate(const json& candidate) {
    command("peer.addCandidate", candidate);
}

std::optional<json> WorkerParty::candidateOf(const json& line) const {
    if (!line.is_object() || line.value("type", "") != "peer.candidate") return std::nullopt;
    return json{{"candidate", line["candidate"]}, {"sdpMid", line["sdpMid"]}, {"sdpMLineIndex", line["sdpMLineIndex"]}};
}

std::vector<std::string> WorkerParty::states() const {
    std::vector<std::string> states;
    for (const json& line : received())
        if (line.is_object() && line.value("type", "") == "peer.state") states.push_back(line["state"]);
    return states;
}

std::optional<json> WorkerParty::answerTo(const std::string& requestId, std::string_view type) const {
    return last(type, [&](const json& line) { return line["requestId"] == requestId; });
}

bool relayUntil(Party& first, Party& second, const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        for (const json& candidate : first.poll(5ms)) second.addCandidate(candidate);
        for (const json& candidate : second.poll(5ms)) first.addCandidate(candidate);
    }
    return true;
}

std::string describe(const Party& party) {
    std::string text;
    for (const json& line : party.received()) {
        // Periodic statistics would bury what matters.
        if (line.is_object() && line.value("type", "") == "peer.media" && &line != &party.received().back()) continue;
        text += line.is_string() ? line.get<std::string>() : line.dump();
        text += '\n';
    }
    return text;
}

bool connectWorkers(WorkerParty& host, WorkerParty& controller, const json& hostCreate, const json& controllerCreate,
                    std::chrono::milliseconds stepLimit) {
    const auto relay = [&](const std::function<bool()>& done) { return relayUntil(host, controller, done, stepLimit); };
    host.command("peer.create", hostCreate);
    controller.command("peer.create", controllerCreate);
    if (!relay([&] { return host.last("peer.created") && controller.last("peer.created"); })) return false;
    const std::string offer = host.command("peer.offer");
    if (!relay([&] { return host.answerTo(offer, "peer.description").has_value(); })) return false;
    const std::string applied =
        controller.command("peer.setDescription",
                           {{"descriptionType", "offer"}, {"sdp", (*host.answerTo(offer, "peer.description"))["sdp"]}});
    if (!relay([&] { return controller.answerTo(applied, "peer.descriptionApplied").has_value(); })) return false;
    const std::string answer = controller.command("peer.answer");
    if (!relay([&] { return controller.answerTo(answer, "peer.description").has_value(); })) return false;
    host.command("peer.setDescription",
                 {{"descriptionType", "answer"}, {"sdp", (*controller.answerTo(answer, "peer.description"))["sdp"]}});
    return relay([&] {
        const auto media = controller.lastMedia();
        return media && (*media)["decodedFrames"].get<std::uint64_t>() > 0;
    });
}

}  // namespace native_worker::e2e
