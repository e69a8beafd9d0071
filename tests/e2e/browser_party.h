#pragma once

#include "session_party.h"

namespace native_worker::e2e {

// Headless Chromium as the remote controller, through the Node.js driver
// browser/controller.mjs, which speaks its own small line protocol.
class BrowserParty final : public Party {
public:
    // `environment` reaches the driver: KELVARN_CHROMIUM (a program that runs
    // Chromium, for example inside a network namespace), KELVARN_READ_STAMPS.
    explicit BrowserParty(std::vector<std::pair<std::string, std::string>> environment = {});
    // Asks the browser to close and waits for the driver, so that no browser
    // outlives the test; the harness kills a driver that does not end.
    ~BrowserParty() override;

    void addCandidate(const json& candidate) override;
    // The page's receiving statistics, asked for now and relayed for while waiting.
    std::optional<json> stats(Party& other, std::chrono::milliseconds limit = 5s);
    // The frame stamps read from the pictures presented since the last ask.
    std::optional<json> presented(Party& other, std::chrono::milliseconds limit = 5s);

private:
    std::optional<json> candidateOf(const json& line) const override;
};

// Whether the driver's dependencies were installed (npm ci in tests/e2e/browser).
bool browserDriverInstalled();

// A host application's exchange between a host worker and the browser, from
// peer.create to the first picture the page presents.
bool connectBrowser(WorkerParty& host, BrowserParty& browser, const json& hostCreate,
                    std::chrono::milliseconds stepLimit = 30s);

}  // namespace native_worker::e2e
