#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

// The host application's side of the input gate: its command and the event
// that answers it.
namespace native_worker {

// Checks a "peer.inputGate" command against the session; throws
// ProtocolError "invalid_message" or "input_epoch_mismatch".
void checkInputGateCommand(const nlohmann::json& message, bool hasRemoteControl, bool host, std::uint64_t sessionEpoch);

// The payload of "peer.inputConfigured".
nlohmann::json inputConfiguredPayload(std::uint64_t inputEpoch, bool ready);

}  // namespace native_worker
