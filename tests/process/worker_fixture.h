#pragma once

// What every process test needs: the two worker binaries, one session
// identity, command lines to send, the expected lines that recur everywhere,
// and a worker wrapper that reads the host protocol's answers.

#include "process_harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace native_worker::process_tests {

using namespace std::chrono_literals;

inline constexpr char scriptedWorkerPath[] = KELVARN_SCRIPTED_WORKER;
inline constexpr char productWorkerPath[] = KELVARN_PRODUCT_WORKER;

// Long enough for a loaded machine, short enough to fail a hung worker quickly.
inline constexpr auto answerWait = 5s;
inline constexpr auto exitWait = 8s;

// The identity of every session in these tests.
inline constexpr char accountId[] = "acct-1";
inline constexpr char sessionId[] = "0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50";
inline constexpr char generation[] = "gen-1";

// A command with the full envelope; `fields` adds or overrides members.
nlohmann::json command(std::string_view type, std::string_view requestId,
                       nlohmann::json fields = nlohmann::json::object());
nlohmann::json hostCreate(std::string_view requestId);
nlohmann::json controllerCreate(std::string_view requestId);
nlohmann::json candidateCommand(std::string_view requestId, int number);
nlohmann::json answerCommand(std::string_view requestId);
std::string text(const nlohmann::json& message);

// Expected lines, each with its line feed. `requestId` is JSON text: "\"c1\"" or "null".
std::string workerError(std::string_view code);
std::string peerError(std::string_view code, std::string_view requestId);
std::string peerEvent(std::string_view type, std::string_view requestId);
std::string idJson(std::string_view requestId);
// "peer.created" of a scripted host on its one 1920x1080 display, without input.
std::string hostCreated(std::string_view requestId);
std::string controllerCreated(std::string_view requestId);

struct WorkerOptions {
    std::string script;  // KELVARN_SCRIPT for the scripted worker
    harness::Channel channel = harness::Channel::pipe;
    std::size_t outputCapacity = 0;
    std::string display;  // DISPLAY for the worker; none when empty
};

class Worker : public harness::WorkerProcess {
public:
    Worker() : Worker(WorkerOptions{}) {}
    explicit Worker(std::string script);
    explicit Worker(WorkerOptions options, const char* program = scriptedWorkerPath);

    void send(const nlohmann::json& message);
    // The next line that is not an unsolicited event ("peer.media",
    // "peer.candidate", "peer.state", a spontaneous "peer.inputConfigured");
    // nullopt on time-out.
    std::optional<std::string> nextAnswer(Timeout timeout = answerWait);
    // Every line up to and including `lastLine`; stops early on time-out.
    std::vector<std::string> linesUntil(std::string_view lastLine, Timeout timeout = answerWait);

    // A ready host (or controller) session: peer.create "c1" and its peer.created.
    void createHost();
    void createController();
    // The host's offer "o1" and the answer "a1", with "peer.descriptionApplied".
    void negotiateHost();
};

bool isUnsolicited(std::string_view line);

// Checks a refused first message: exactly one worker.error line, exit code 2.
void expectWorkerError(Worker& worker, std::string_view code);
// Checks the end of a created session after a fatal error: the error line
// (after any unsolicited events), then peer.closed with a null requestId, then
// exit code 2.
void expectPeerError(Worker& worker, std::string_view code, std::string_view requestId);
// Checks the remaining output is exactly `rest` and the exit code.
void expectEnd(Worker& worker, std::string_view rest, int exitCode);
// The same, leaving out the periodic events of a ready session.
void expectAnswersToTheEnd(Worker& worker, std::string_view answers, int exitCode);

}  // namespace native_worker::process_tests
