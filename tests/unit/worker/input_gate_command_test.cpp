#include "worker/input_gate_command.h"
#include "base/protocol_error.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using nlohmann::json;

json command(json inputEpoch) {
    return {{"version", 1},     {"type", "peer.inputGate"}, {"requestId", "r-1"},      {"accountId", "a"},
            {"sessionId", "s"}, {"generation", "g"},        {"inputEpoch", inputEpoch}};
}

std::string refusal(const json& message, bool hasRemoteControl = true, bool host = true) {
    try {
        checkInputGateCommand(message, hasRemoteControl, host, 6);
    } catch (const ProtocolError& error) {
        return error.code;
    }
    return "";
}

TEST(InputGateCommand, NeedsTheSessionsEpochFromAHostWithRemoteControl) {
    EXPECT_EQ(refusal(command(6)), "");
    EXPECT_EQ(refusal(command(5)), "input_epoch_mismatch");
    EXPECT_EQ(refusal(command(std::uint64_t{1} << 63)), "input_epoch_mismatch");
    EXPECT_EQ(refusal(command("6")), "invalid_message");
    EXPECT_EQ(refusal(command(-6)), "invalid_message");
    EXPECT_EQ(refusal(command(6.0)), "invalid_message");
    json extra = command(6);
    extra["ready"] = true;
    EXPECT_EQ(refusal(extra), "invalid_message");
    json missing = command(6);
    missing.erase("inputEpoch");
    EXPECT_EQ(refusal(missing), "invalid_message");
    EXPECT_EQ(refusal(command(6), false, true), "invalid_message");
    EXPECT_EQ(refusal(command(6), true, false), "invalid_message");
    EXPECT_EQ(refusal(command(5), false, true), "invalid_message");
}

TEST(InputGateCommand, AnswersWithEpochAndReadiness) {
    EXPECT_EQ(inputConfiguredPayload(6, true).dump(), R"({"inputEpoch":6,"ready":true})");
}

}  // namespace
}  // namespace native_worker
