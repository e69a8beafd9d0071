#include "browser_party.h"

#include <algorithm>
#include <filesystem>

namespace native_worker::e2e {
namespace {

harness::LaunchOptions driver() {
    harness::LaunchOptions options;
    options.arguments = {KELVARN_BROWSER_DIR "/controller.mjs"};
    return options;
}

}  // namespace

bool browserDriverInstalled() {
    return std::filesystem::exists(KELVARN_BROWSER_DIR "/node_modules/playwright-core/package.json");
}

BrowserParty::BrowserParty() : Party(KELVARN_NODE, driver()) {}

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
    const auto answered = [this] { return static_cast<std::size_t>(std::count_if(
                                       received().begin(), received().end(), [](const json& line) {
                                           return line.is_object() && line.value("type", "") == "stats";
                                       })); };
    const std::size_t before = answered();
    write({{"type", "stats"}});
    if (!relayUntil(*this, other, [&] { return answered() > before; }, limit)) return std::nullopt;
    return last("stats");
}

std::optional<json> BrowserParty::candidateOf(const json& line) const {
    if (!line.is_object() || line.value("type", "") != "candidate") return std::nullopt;
    return json{{"candidate", line["candidate"]}, {"sdpMid", line["sdpMid"]}, {"sdpMLineIndex", line["sdpMLineIndex"]}};
}

}  // namespace native_worker::e2e
