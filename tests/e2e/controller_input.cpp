#include "controller_input.h"

#include <algorithm>

namespace native_worker::e2e {
namespace {

std::size_t sentCount(const BrowserParty& browser) {
    return static_cast<std::size_t>(
        std::count_if(browser.received().begin(), browser.received().end(),
                      [](const json& line) { return line.is_object() && line.value("type", "") == "sent"; }));
}

}  // namespace

json inputEvent(std::string_view kind, std::uint64_t sequence, json members, int inputEpoch) {
    json event = {{"kind", kind},
                  {"sequence", sequence},
                  {"inputEpoch", inputEpoch},
                  {"modifiers", {{"rawValue", 0}}},
                  {"pressedKeys", json::array()},
                  {"pressedButtons", json::array()}};
    event.update(members);
    return event;
}

std::optional<json> controlMessage(const BrowserParty& browser, std::string_view type) {
    const auto message = browser.last("message", [&](const json& line) {
        const json body = json::parse(line.value("data", ""), nullptr, false);
        return line["label"] == "control" && body.is_object() && body.value("type", "") == type;
    });
    if (!message) return std::nullopt;
    return json::parse((*message)["data"].get<std::string>());
}

bool sendInput(BrowserParty& browser, Party& host, std::string_view label, const json& event) {
    browser.write({{"type", "send"}, {"label", label}, {"data", event.dump()}});
    const std::size_t sent = sentCount(browser) + 1;
    return relayUntil(
               host, browser, [&] { return sentCount(browser) >= sent || browser.last("error"); }, 5s) &&
           !browser.last("error");
}

}  // namespace native_worker::e2e
