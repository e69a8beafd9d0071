#include "browser_party.h"

#include <algorithm>
#include <filesystem>

namespace native_worker::e2e {
namespace {

harness::LaunchOptions driver(std::vector<std::pair<std::string, std::string>> environment) {
    harness::LaunchOptions options;
    options.arguments = {KELVARN_BROWSER_DIR "/controller.mjs"};
    options.environment = std::move(environment);
    return options;
}

}  // namespace

bool browserDriverInstalled() {
    return std::filesystem::exists(KELVARN_BROWSER_DIR "/node_modules/playwright-core/package.json");
}

BrowserParty::BrowserParty(std::vector<std::pair<std::string, std::string>> environment)
    : Party(KELVARN_NODE, driver(std::move(environment))) {}

BrowserParty::~BrowserParty() {
    write({{"type", "close"}});
    process().closeInput();
    process().readRemainingOutput(10s);
    process().waitForExit(5s);
}

void BrowserParty::addCandidate(const json& candidate) {
    json command = candidate;
    command["type"] = "candidate";
    write(command);
}

std::optional<json> BrowserParty::stats(Party& other, std::chrono::milliseconds limit) {
    return ask("stats", other, limit);
}

std::optional<json> BrowserParty::presented(Party& other, std::chrono::milliseconds limit) {
    return ask("presented", other, limit);
}

bool connectBrowser(WorkerParty& host, BrowserParty& browser, const json& hostCreate,
                    std::chrono::milliseconds stepLimit) {
    const auto relay = [&](const std::function<bool()>& done) {
        return relayUntil(host, browser, done, stepLimit) && !browser.last("error");
    };
    host.command("peer.create", hostCreate);
    if (!relay([&] { return host.last("peer.created") && browser.last("ready"); })) return false;
    const std::string offer = host.command("peer.offer");
    if (!relay([&] { return host.answerTo(offer, "peer.description").has_value(); })) return false;
    browser.write({{"type", "offer"}, {"sdp", (*host.answerTo(offer, "peer.description"))["sdp"]}});
    if (!relay([&] { return browser.last("answer").has_value(); })) return false;
    host.command("peer.setDescription", {{"descriptionType", "answer"}, {"sdp", (*browser.last("answer"))["sdp"]}});
    const auto deadline = std::chrono::steady_clock::now() + stepLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto stats = browser.stats(host);
        if (stats && stats->value("presentedFrames", 0) > 0) return true;
    }
    return false;
}

std::optional<json> BrowserParty::candidateOf(const json& line) const {
    if (!line.is_object() || line.value("type", "") != "candidate") return std::nullopt;
    return json{{"candidate", line["candidate"]}, {"sdpMid", line["sdpMid"]}, {"sdpMLineIndex", line["sdpMLineIndex"]}};
}

}  // namespace native_worker::e2e
