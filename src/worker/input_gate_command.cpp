#include "worker/input_gate_command.h"

#include "base/error_codes.h"
#include "base/field_checks.h"
#include "base/protocol_error.h"

#include <limits>

namespace native_worker {

void checkInputGateCommand(const nlohmann::json& message, bool hasRemoteControl, bool host,
                           std::uint64_t sessionEpoch) {
    requireOnlyFields(message, {"inputEpoch"});
    const std::uint64_t epoch = requireUnsigned(message, "inputEpoch", 0, std::numeric_limits<std::uint64_t>::max());
    if (!hasRemoteControl || !host) throw ProtocolError(codes::invalidMessage);
    if (epoch != sessionEpoch) throw ProtocolError(codes::inputEpochMismatch);
}

nlohmann::json inputConfiguredPayload(std::uint64_t inputEpoch, bool ready) {
    return {{"inputEpoch", inputEpoch}, {"ready", ready}};
}

}  // namespace native_worker
